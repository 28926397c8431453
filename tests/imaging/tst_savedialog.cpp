#include "ScriptedSaveDialog.h"
#include "imaging/PictureDisplay.h"
#include "imaging/SaveDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

using namespace ztv;
using ztv::test::ScriptedSaveDialog;

namespace {

// The set-up the saving handlers make before showing the dialog.
void setUpAsTheCallerDoes(SaveDialog& dialog, const QString& folder, int format)
{
    dialog.setFileName(QString());
    dialog.setInitialFolder(folder);
    dialog.setFilter(QStringLiteral("JPEG|*.jpg|*.jpg|*.jpg"));
    dialog.setFlags(4096);
    dialog.setTitle(QStringLiteral("ﾌｧｲﾙの保存"));
    dialog.setFormatOptions(2);
    dialog.setExtendedOptions(32);
    dialog.setFormatListSize(1);
    dialog.setFormatListEntry(0, format);
}

// Runs the real dialog and lets act drive it once it is up.
SaveRequest runRealDialog(SaveDialog& dialog, std::function<void(QFileDialog*)> act)
{
    bool acted = false;
    QTimer::singleShot(0, [&] {
        auto* fd = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!fd)
            return;
        acted = true;
        act(fd);
    });
    const SaveRequest request = dialog.ShowSaveDialog(nullptr);
    if (!acted)
        qWarning("the file dialog never came up");
    return request;
}

} // namespace

class TestSaveDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void reportsTheOfferedFormatWithItsExtension_data()
    {
        QTest::addColumn<int>("offered");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("saved");
        QTest::newRow("png, no extension")
            << formats::Png << QStringLiteral("/tmp/shot") << QStringLiteral("/tmp/shot.png");
        QTest::newRow("bmp, no extension")
            << formats::Bmp << QStringLiteral("/tmp/写真") << QStringLiteral("/tmp/写真.bmp");
        QTest::newRow("gif, dotted name")
            << formats::Gif << QStringLiteral("/tmp/v1.2") << QStringLiteral("/tmp/v1.2.gif");
        QTest::newRow("jpeg, own extension")
            << formats::Jpeg << QStringLiteral("/tmp/a.JPEG") << QStringLiteral("/tmp/a.JPEG");
        QTest::newRow("jpeg, jpg") << formats::Jpeg << QStringLiteral("/tmp/a.jpg")
                                   << QStringLiteral("/tmp/a.jpg");
        QTest::newRow("png named .jpg")
            << formats::Png << QStringLiteral("/tmp/a.jpg") << QStringLiteral("/tmp/a.jpg.png");
    }
    void reportsTheOfferedFormatWithItsExtension()
    {
        QFETCH(int, offered);
        QFETCH(QString, typed);
        QFETCH(QString, saved);
        ScriptedSaveDialog dialog;
        setUpAsTheCallerDoes(dialog, QStringLiteral("/v"), offered);
        SaveRequest answer;
        answer.path = typed;
        answer.format = formats::Jpeg == offered ? formats::Png : formats::Jpeg; // a wrong format never leaks
        answer.bits = 16; // nor a depth it cannot hold
        dialog.answer(answer);
        const SaveRequest r = dialog.ShowSaveDialog(nullptr);
        QCOMPARE(r.path, saved);
        QCOMPARE(r.format, offered);
        QCOMPARE(r.bits, formats::formatInfo(offered)->defaultBits);
        QCOMPARE(dialog.request().path, saved);
    }

    void recordsItsSetUpAndCancels()
    {
        ScriptedSaveDialog dialog;
        setUpAsTheCallerDoes(dialog, QStringLiteral("/home/u/My Documents/ZTV_DATA/保管庫"), formats::Gif);
        QWidget owner;
        dialog.answerCancel();
        const SaveRequest r = dialog.ShowSaveDialog(&owner);
        QVERIFY(r.path.isEmpty());
        QCOMPARE(r.format, 0);
        QCOMPARE(dialog.shown.size(), 1);
        const ScriptedSaveDialog::Shown& s = dialog.shown.first();
        QCOMPARE(s.owner, &owner);
        QCOMPARE(s.initialFolder, QStringLiteral("/home/u/My Documents/ZTV_DATA/保管庫"));
        QCOMPARE(s.filter, QStringLiteral("JPEG|*.jpg|*.jpg|*.jpg"));
        QCOMPARE(s.title, QStringLiteral("ﾌｧｲﾙの保存"));
        QCOMPARE(s.flags, 4096);
        QCOMPARE(s.formatList, QList<int> { formats::Gif });
    }

    void formatEntryKeepsItsValueUntilWritten()
    {
        SaveDialog dialog;
        QCOMPARE(dialog.offeredFormat(), formats::Jpeg);
        dialog.setFormatListEntry(0, formats::Png);
        dialog.setFormatListSize(1); // the chooser with no option set writes no entry
        QCOMPARE(dialog.offeredFormat(), formats::Png);
    }

    void realDialogShowsTheFormatAndItsOptions()
    {
        QTemporaryDir dir;
        SaveDialog dialog;
        setUpAsTheCallerDoes(dialog, dir.path(), formats::Png);
        const SaveRequest r = runRealDialog(dialog, [&](QFileDialog* fd) {
            QCOMPARE(fd->windowTitle(), QStringLiteral("ﾌｧｲﾙの保存"));
            QCOMPARE(fd->nameFilters(), QStringList { QStringLiteral("PNG (*.png)") });
            QCOMPARE(QDir(fd->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
            QVERIFY(!fd->findChild<QSpinBox*>(QStringLiteral("quality"))); // PNG has no quality
            auto* bits = fd->findChild<QComboBox*>(QStringLiteral("bits"));
            QVERIFY(bits);
            QCOMPARE(bits->count(), 3);
            QCOMPARE(bits->currentData().toInt(), 32);
            bits->setCurrentIndex(bits->findData(8));
            fd->findChild<QGroupBox*>(QStringLiteral("extended"))->setChecked(true);
            fd->findChild<QSpinBox*>(QStringLiteral("extendedSize"))->setValue(300);
            fd->selectFile(QStringLiteral("画面"));
            QMetaObject::invokeMethod(fd, "accept");
        });
        QCOMPARE(r.path, dir.filePath(QStringLiteral("画面.png")));
        QCOMPARE(r.format, formats::Png);
        QCOMPARE(r.bits, 8);
        QCOMPARE(r.quality, 0);
        QVERIFY(r.saveFlag);
        QVERIFY(r.extended);
        QCOMPARE(r.extendedSize, 300);
        // The extended save gets "透明部分を保持" through its option bits.
        QCOMPARE(r.extendedInteger, PictureDisplay::SaveKeepTransparency);
    }

    void realDialogJpegQualityAndProgressive()
    {
        QTemporaryDir dir;
        SaveDialog dialog;
        setUpAsTheCallerDoes(dialog, dir.path(), formats::Jpeg);
        const SaveRequest r = runRealDialog(dialog, [&](QFileDialog* fd) {
            QCOMPARE(fd->nameFilters(), QStringList { QStringLiteral("JPEG (*.jpg *.jpeg)") });
            QVERIFY(!fd->findChild<QComboBox*>(QStringLiteral("bits"))); // one depth only
            auto* quality = fd->findChild<QSpinBox*>(QStringLiteral("quality"));
            QCOMPARE(quality->value(), 85);
            quality->setValue(60);
            fd->findChild<QGroupBox*>(QStringLiteral("extended"))->setChecked(true);
            fd->findChild<QCheckBox*>(QStringLiteral("interlaced"))->setChecked(true);
            fd->selectFile(QStringLiteral("photo"));
            QMetaObject::invokeMethod(fd, "accept");
        });
        QCOMPARE(r.path, dir.filePath(QStringLiteral("photo.jpg")));
        QCOMPARE(r.bits, 24);
        QCOMPARE(r.quality, 60);
        QVERIFY(!r.saveFlag);
        QCOMPARE(r.extendedInteger, PictureDisplay::SaveInterlaced);
    }

    // A GIF keeps its transparency only when asked: left as it comes up, the dialog's request
    // flattens the picture onto white, as GIF saves always did.
    void realDialogGifFlattensUnlessAsked()
    {
        QTemporaryDir dir;
        SaveDialog dialog;
        setUpAsTheCallerDoes(dialog, dir.path(), formats::Gif);
        dialog.setFormatOptions(0); // the GIF save sets no format options
        bool offered = false;
        const SaveRequest r = runRealDialog(dialog, [&](QFileDialog* fd) {
            auto* keep = fd->findChild<QCheckBox*>(QStringLiteral("keepTransparency"));
            offered = keep && !keep->isChecked();
            fd->findChild<QGroupBox*>(QStringLiteral("extended"))->setChecked(true);
            fd->selectFile(QStringLiteral("絵"));
            QMetaObject::invokeMethod(fd, "accept");
        });
        QVERIFY(offered);
        QCOMPARE(r.path, dir.filePath(QStringLiteral("絵.gif")));
        QVERIFY(!r.saveFlag);
        QCOMPARE(r.extendedInteger & PictureDisplay::SaveKeepTransparency, 0);

        // Saved as the GIF save does, with the colour option on white.
        QImage picture(40, 20, QImage::Format_ARGB32);
        picture.fill(Qt::transparent);
        for (int y = 0; y < 20; ++y)
            for (int x = 20; x < 40; ++x)
                picture.setPixel(x, y, qRgb(200, 0, 0));
        PictureDisplay display;
        display.setPicture(picture);
        display.setColourOption(Qt::white);
        display.setColourOptionEnabled(true);
        display.ApplyColourOption();
        QVERIFY(display.SavePicture(r.path, r.format, r.bits, r.quality, r.saveFlag));
        const QImage back(r.path);
        QVERIFY(!back.isNull());
        QCOMPARE(qAlpha(back.pixel(5, 10)), 255);
        QCOMPARE(QColor(back.pixel(5, 10)), QColor(Qt::white));
        QVERIFY(qRed(back.pixel(30, 10)) > 150 && qBlue(back.pixel(30, 10)) < 60);

        // Ticked, the transparent half stays transparent.
        const SaveRequest kept = runRealDialog(dialog, [&](QFileDialog* fd) {
            fd->findChild<QCheckBox*>(QStringLiteral("keepTransparency"))->setChecked(true);
            fd->selectFile(QStringLiteral("透明"));
            QMetaObject::invokeMethod(fd, "accept");
        });
        QVERIFY(kept.saveFlag);
        QVERIFY(display.SavePicture(kept.path, kept.format, kept.bits, kept.quality, kept.saveFlag));
        QCOMPARE(qAlpha(QImage(kept.path).pixel(5, 10)), 0);
    }

    void realDialogCancelled()
    {
        QTemporaryDir dir;
        SaveDialog dialog;
        setUpAsTheCallerDoes(dialog, dir.path(), formats::Bmp);
        const SaveRequest r = runRealDialog(dialog, [](QFileDialog* fd) { fd->reject(); });
        QVERIFY(r.path.isEmpty());
        QVERIFY(!r.extended);
    }
};

QTEST_MAIN(TestSaveDialog)
#include "tst_savedialog.moc"
