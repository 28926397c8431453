#include "tst_saving.h"

#include "CaptureFixture.h"
#include "SavingHelpers.h"
#include "capture/SaveTargets.h"
#include "imaging/PictureEncoder.h"
#include "imaging/PictureFormats.h"
#include "imaging/ThumbnailList.h"
#include "platform/FaultInjection.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <cmath>

using namespace ztv;
using namespace ztv::test;

namespace {

// Mean absolute difference per colour channel, 0..255.
double meanError(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    return sum / (3.0 * x.width() * x.height());
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
}

// Remembers whether the main window took input while the dialog was open.
class WatchingDialog : public ScriptedSaveDialog {
public:
    QWidget* window = nullptr;
    QList<bool> windowEnabled;

protected:
    SaveRequest askUser(QWidget* owner) override
    {
        windowEnabled << window->isEnabled();
        return ScriptedSaveDialog::askUser(owner);
    }
};

} // namespace

void TstSaving::gifSave_data()
{
    QTest::addColumn<bool>("extended");
    QTest::addColumn<int>("option");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("plain") << false << 0 << QSize(180, 120);
    QTest::newRow("extended, smaller") << true << 0 << QSize(90, 60);
    QTest::newRow("extended, interlaced") << true << int(PictureDisplay::SaveInterlaced) << QSize(120, 80);
}

void TstSaving::gifSave()
{
    QFETCH(bool, extended);
    QFETCH(int, option);
    QFETCH(QSize, expected);
    CaptureFixture f;
    f.paste(samplePicture(QSize(180, 120), true));
    // The visible display would flatten onto red: the file left must be the hidden copy's.
    f.form->LEAD2().setColourOption(Qt::red);
    QStringList writes;
    LoggingFileOps visible(writes, QStringLiteral("LEAD2")), hidden(writes, QStringLiteral("LEAD3"));
    f.form->LEAD2().setFileOps(&visible);
    f.form->LEAD3().setFileOps(&hidden);
    TreeWatch yard(*f.form->area(Area::StockYard).TreeView1());

    const QString path = f.home.stockYard() + QStringLiteral("/貼り付け.gif");
    SaveRequest r = answerFor(path, 8);
    r.extended = extended;
    r.extendedSize = expected.width();
    r.extendedInteger = option;
    f.dialog->answer(r);
    f.form->Command1(4)->click();

    QCOMPARE(f.prompts.calls.size(), 0);
    QCOMPARE(writes,
        extended ? (QStringList { QStringLiteral("LEAD2"), QStringLiteral("LEAD3") })
                 : QStringList { QStringLiteral("LEAD3") });
    QCOMPARE(formatOf(path), QByteArray("gif"));
    QImageReader reader(path);
    const QImage back = reader.read();
    QVERIFY2(!back.isNull(), qPrintable(reader.errorString()));
    QCOMPARE(back.size(), expected);
    const QRgb corner = back.pixel(2, 2);
    QVERIFY2(qRed(corner) > 240 && qGreen(corner) > 240 && qBlue(corner) > 240, "transparent part is white");

    // The hidden copy keeps its alpha; without "透明部分を保持" the GIF has white there.
    const QImage reference = flattenOnto(f.form->LEAD3().picture(), Qt::white)
                                 .scaled(expected, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double error = meanError(back, reference);
    qInfo("GIF %dx%d: mean error %.2f of 255 per channel", expected.width(), expected.height(), error);
    QVERIFY2(error < 6.0, qPrintable(QString::number(error)));

    // Both ways refresh the stock yard's page.
    QCOMPARE(yard.expanded, QStringList { QStringLiteral("ストックヤード") });
    QCOMPARE(f.form->area(Area::StockYard).HiddenList(), QStringList { path });
}

// "透明部分を保持" reaches the files: the GIF gets its transparent entry from the hidden
// copy (white only when it is not ticked), the PNG keeps its alpha, plain or extended.
void TstSaving::transparencyKeptWhenAsked_data()
{
    QTest::addColumn<bool>("gif");
    QTest::addColumn<bool>("extended");
    QTest::newRow("GIF") << true << false;
    QTest::newRow("GIF, extended") << true << true;
    QTest::newRow("PNG") << false << false;
    QTest::newRow("PNG, extended") << false << true;
}

void TstSaving::transparencyKeptWhenAsked()
{
    QFETCH(bool, gif);
    QFETCH(bool, extended);
    CaptureFixture f;
    f.paste(samplePicture(QSize(200, 100), true));
    for (const bool keep : { true, false }) {
        const QString path = f.home.stockYard() + (keep ? QStringLiteral("/透明") : QStringLiteral("/白"))
            + (gif ? QStringLiteral(".gif") : QStringLiteral(".png"));
        SaveRequest r = answerFor(path, gif ? 8 : 32, 0, keep);
        r.extended = extended;
        r.extendedSize = 800; // larger than the picture: it keeps its size
        r.extendedInteger = keep ? PictureDisplay::SaveKeepTransparency : 0;
        if (gif) {
            f.dialog->answer(r);
            f.form->Command1(4)->click();
        } else {
            saveThroughChooser(f, 2, r);
        }
        QCOMPARE(f.prompts.calls.size(), 0);
        const QImage back(path);
        QCOMPARE(back.size(), QSize(200, 100));
        const QRgb corner = back.pixel(5, 5);
        if (keep)
            QCOMPARE(qAlpha(corner), 0);
        else
            QCOMPARE(corner, qRgb(255, 255, 255));
        QCOMPARE(qAlpha(back.pixel(150, 80)), 255);
    }
}

void TstSaving::gifKeepsTheWindowEnabled()
{
    CaptureFixture f;
    auto owned = std::make_unique<WatchingDialog>();
    WatchingDialog* dialog = owned.get();
    dialog->window = f.form.get();
    f.form->setSaveDialog(std::move(owned));
    f.dialog = dialog;
    f.paste(samplePicture());

    dialog->answer(answerFor(f.home.stockYard() + QStringLiteral("/g.gif")));
    f.form->Command1(4)->click();
    saveThroughChooser(f, 2, answerFor(f.home.stockYard() + QStringLiteral("/p.png")));
    QCOMPARE(dialog->windowEnabled, (QList<bool> { true, false }));
    QVERIFY(f.form->isEnabled());
    QCOMPARE(f.form->area(Area::StockYard).HiddenList().size(), 2);
}

// Nothing pasted, or cleared: every save runs its chooser and dialog as usual, and the save
// itself fails with a report. Nothing is written, not even over a file the user agreed to
// replace, and no view is refreshed.
void TstSaving::nothingPastedReportsTheFailedSave()
{
    CaptureFixture f;
    const QString existing = f.home.write(
        QStringLiteral("My Documents/ZTV_DATA/ストックヤード/前から.png"), pictures::png(QSize(4, 4)));
    const QByteArray before = readAll(existing);
    const QString fresh = f.home.stockYard() + QStringLiteral("/空.png");
    const QString freshGif = f.home.stockYard() + QStringLiteral("/空.gif");
    const QStringList yard = entries(f.home.stockYard());
    TreeWatch watch(*f.form->area(Area::StockYard).TreeView1());
    auto checkFailed = [&f](const char* how, int overwriteQuestions) {
        QCOMPARE(f.prompts.calls.size(), overwriteQuestions + 1);
        if (overwriteQuestions)
            QCOMPARE(f.prompts.calls.takeFirst().title, QStringLiteral("上書き保存"));
        const RecordingPrompts::Call call = f.prompts.calls.takeFirst();
        QVERIFY2(call.text == QStringLiteral("ファイルを保存できませんでした。\n保存する画像がありません。"),
            qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(how), call.text)));
        QCOMPARE(call.title, QStringLiteral("ﾌｧｲﾙ保存時のｴﾗｰ"));
        QCOMPARE(call.icon, PromptIcon::Critical);
        QVERIFY(f.form->isEnabled());
    };
    for (int round = 0; round < 2; ++round) {
        const int shownBefore = int(f.dialog->shown.size());
        saveThroughChooser(f, 0, answerFor(fresh));
        checkFailed("chooser button", 0);
        f.form->Clip_Save1()->trigger();
        SaveSelect* select = f.form->pictureSaving().saveSelect();
        QVERIFY(select && select->isVisible());
        QVERIFY(!f.form->isEnabled());
        select->Option1[2]->setChecked(true);
        f.dialog->answer(answerFor(existing));
        f.prompts.answerMessage(PromptAnswer::Ok); // replace it
        select->Command1[0]->click();
        checkFailed("chooser menu item, onto a file", 1);

        f.dialog->answer(answerFor(freshGif));
        f.form->Command1(4)->click();
        checkFailed("GIF button", 0);
        SaveRequest extended = answerFor(freshGif);
        extended.extended = true;
        extended.extendedSize = 100;
        f.dialog->answer(extended);
        f.form->Clip_Save2()->trigger();
        checkFailed("GIF menu item, extended", 0); // one report, not one per display
        QCOMPARE(f.dialog->shown.size(), shownBefore + 4);

        QCOMPARE(entries(f.home.stockYard()), yard);
        QCOMPARE(readAll(existing), before);
        QCOMPARE(watch.expanded, QStringList());
        // Second round: pasted, then cleared.
        f.paste(samplePicture());
        f.form->Command1(0)->click();
    }
}

void TstSaving::failedSaveIsReported_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("gif");
    for (const char* fault : { "missing folder", "folder not writable", "disk full", "name too long" }) {
        QTest::newRow(qPrintable(QStringLiteral("%1, PNG").arg(QLatin1String(fault))))
            << QString::fromLatin1(fault) << false;
        QTest::newRow(qPrintable(QStringLiteral("%1, GIF").arg(QLatin1String(fault))))
            << QString::fromLatin1(fault) << true;
    }
}

void TstSaving::failedSaveIsReported()
{
    QFETCH(QString, fault);
    QFETCH(bool, gif);
    CaptureFixture f;
    f.paste(samplePicture());
    const QString existing = f.home.write(
        QStringLiteral("My Documents/ZTV_DATA/ストックヤード/前から.png"), pictures::png(QSize(4, 4)));
    f.form->area(Area::StockYard).list(f.home.stockYard(), BrowsingArea::ListHow::Show);
    const QStringList before = entries(f.home.stockYard());
    TreeWatch yard(*f.form->area(Area::StockYard).TreeView1());

    QString path = f.home.stockYard() + (gif ? QStringLiteral("/保存.gif") : QStringLiteral("/保存.png"));
    if (fault == QLatin1String("missing folder"))
        path = f.home.stockYard() + QStringLiteral("/無い箱/保存.png");
    else if (fault == QLatin1String("name too long"))
        path = f.home.stockYard() + QLatin1Char('/') + QString(120, QChar(u'長')) + QStringLiteral(".png");
    else if (fault == QLatin1String("folder not writable"))
        faults::arm(faults::Op::Open, 1, EACCES);
    else
        faults::arm(faults::Op::Write, 1, ENOSPC);

    if (gif) {
        f.dialog->answer(answerFor(path));
        f.form->Command1(4)->click();
    } else {
        saveThroughChooser(f, 2, answerFor(path));
    }
    faults::reset();

    QCOMPARE(f.prompts.calls.size(), 1);
    const RecordingPrompts::Call call = f.prompts.calls.first();
    QVERIFY2(
        call.text.startsWith(QStringLiteral("ファイルを保存できませんでした。\n")), qPrintable(call.text));
    QVERIFY(call.text.size() > QStringLiteral("ファイルを保存できませんでした。\n").size()); // says why
    QCOMPARE(call.title, QStringLiteral("ﾌｧｲﾙ保存時のｴﾗｰ"));
    QCOMPARE(call.icon, PromptIcon::Critical);
    QCOMPARE(entries(f.home.stockYard()), before); // nothing, not even a temporary file
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(f.form->area(Area::StockYard).HiddenList(), QStringList { existing });
    QCOMPARE(yard.expanded, QStringList());
    QVERIFY(f.form->isEnabled());
}

// The file is written, but its folder cannot be listed afterwards: the chooser save says so
// in the box with the empty text, the GIF save says nothing.
void TstSaving::refreshListingFailure()
{
    for (const bool gif : { false, true }) {
        CaptureFixture f;
        f.paste(samplePicture());
        const QString box = f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/消える箱"));
        QStringList writes;
        LoggingFileOps ops(writes, QStringLiteral("write"));
        ops.afterWrite = [box](const QString&) { QDir().rename(box, box + QStringLiteral("-移動")); };
        f.form->LEAD2().setFileOps(&ops);
        f.form->LEAD3().setFileOps(&ops);
        const QString path = box + (gif ? QStringLiteral("/x.gif") : QStringLiteral("/x.png"));
        if (gif) {
            f.dialog->answer(answerFor(path));
            f.form->Command1(4)->click();
        } else {
            saveThroughChooser(f, 2, answerFor(path));
        }
        QVERIFY(QFileInfo::exists(box + QStringLiteral("-移動/") + QFileInfo(path).fileName()));
        QVERIFY(f.form->area(Area::StockYard).HiddenList().isEmpty());
        if (gif) {
            QCOMPARE(f.prompts.calls.size(), 0);
        } else {
            QCOMPARE(f.prompts.calls.size(), 1);
            const RecordingPrompts::Call call = f.prompts.calls.first();
            QCOMPARE(call.text, QString());
            QCOMPARE(call.title, QStringLiteral("ﾌｧｲﾙ保存時のｴﾗｰ"));
            QCOMPARE(call.icon, PromptIcon::None);
            QCOMPARE(call.buttons, PromptButtons::Ok);
        }
        QVERIFY(f.form->isEnabled());
    }
}

void TstSaving::fileCheck()
{
    QTemporaryDir dir;
    const QString d = dir.path() + QLatin1Char('/');
    for (const char* name : { "a.png", "B.jpg", ".hidden.png", "写真.bmp", "no-extension" }) {
        QFile file(d + QString::fromUtf8(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.png")));
    QVERIFY(QFile::link(d + QStringLiteral("a.png"), d + QStringLiteral("link.png")));

    QVERIFY(File_Check(d + QStringLiteral("a.png")));
    QVERIFY(File_Check(d + QStringLiteral("写真.bmp")));
    QVERIFY(File_Check(d + QStringLiteral("no-extension")));
    QVERIFY(File_Check(d + QStringLiteral(".hidden.png")));
    QVERIFY(File_Check(d + QStringLiteral("link.png")));
    QVERIFY(!File_Check(d + QStringLiteral("A.png")));
    QVERIFY(!File_Check(d + QStringLiteral("b.jpg")));
    QVERIFY(!File_Check(d + QStringLiteral("a.PNG")));
    QVERIFY(!File_Check(d + QStringLiteral("folder.png")));
    QVERIFY(!File_Check(d + QStringLiteral("missing.png")));
    QVERIFY(!File_Check(d + QStringLiteral("missing/a.png")));
    QVERIFY(!File_Check(d));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("empty")));
    QVERIFY(!File_Check(d + QStringLiteral("empty/a.png")));
}

void TstSaving::locateSavedFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("area");
    QTest::addColumn<QStringList>("treePaths");
    QTest::addColumn<QString>("folder");
    const QString root = QStringLiteral("/home/u/My Documents/ZTV_DATA/");
    QTest::newRow("stock yard") << root + "ストックヤード/a.png" << true << 1
                                << QStringList { "ストックヤード" } << root + "ストックヤード/";
    QTest::newRow("box") << root + "保管庫/箱A/a.jpg" << true << 2 << QStringList { "保管庫", "保管庫/箱A" }
                         << root + "保管庫/箱A/";
    QTest::newRow("nested box") << root + "保管庫/箱A/内箱/a.jpg" << true << 2
                                << QStringList { "保管庫", "保管庫/箱A", "保管庫/箱A/内箱" }
                                << root + "保管庫/箱A/内箱/";
    QTest::newRow("storage root") << root + "a.png" << true << 0 << QStringList() << root;
    QTest::newRow("other folder") << root + "その他/a.png" << true << 0 << QStringList() << root + "その他/";
    QTest::newRow("first ZTV_DATA decides")
        << QStringLiteral("/x/ZTV_DATA/y/ZTV_DATA/保管庫/a.png") << true << 0 << QStringList()
        << QStringLiteral("/x/ZTV_DATA/y/ZTV_DATA/保管庫/");
    QTest::newRow("outside") << QStringLiteral("/tmp/a.png") << false << 0 << QStringList() << QString();
    QTest::newRow("letter case") << QStringLiteral("/home/u/ztv_data/保管庫/a.png") << false << 0
                                 << QStringList() << QString();
    QTest::newRow("area name in other case")
        << root + "保管庫/../ストックヤード/a.png" << true << 2
        << QStringList { "保管庫", "保管庫/..", "保管庫/../ストックヤード" }
        << root + "保管庫/../ストックヤード/";
    QTest::newRow("file named ZTV_DATA")
        << QStringLiteral("/tmp/ZTV_DATA") << false << 0 << QStringList() << QString();
    QTest::newRow("first component skipped")
        << QStringLiteral("ZTV_DATA/保管庫/a.png") << false << 0 << QStringList() << QString();
}

void TstSaving::locateSavedFile()
{
    QFETCH(QString, path);
    QFETCH(bool, found);
    QFETCH(int, area);
    QFETCH(QStringList, treePaths);
    QFETCH(QString, folder);
    const SavedLocation where = LocateSavedFile(path);
    QCOMPARE(where.underStorageName, found);
    QCOMPARE(where.area, area);
    QCOMPARE(where.treePaths, treePaths);
    QCOMPARE(where.folder, folder);
}
