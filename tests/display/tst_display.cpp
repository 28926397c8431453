#include "MainFormFixture.h"
#include "display/PreviewForm.h"
#include "display/SelectionState.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"

#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
#include "mainwindow/FolderTree.h"
#include <QTest>

using namespace ztv;
using ztv::test::MainFormFixture;

namespace {

// A point of the list's view that hits the given item (-1: a point that hits none).
QPoint pointFor(ThumbnailList* list, int item)
{
    for (int y = list->height() - 2; y >= 0; y -= 4) {
        for (int x = list->width() - 2; x >= 0; x -= 4) {
            const int hit = list->HitTest(x, y);
            if (item < 0 ? (hit < 0 || hit >= list->ThumbnailCount()) : hit == item)
                return QPoint(x, y);
        }
    }
    return QPoint(-1, -1);
}

void writeFiles(MainFormFixture& f, const QString& folder, int n)
{
    for (int i = 0; i < n; ++i)
        f.home.write(folder + QStringLiteral("/p%1.png").arg(i, 3, 10, QLatin1Char('0')),
                     test::pictures::png({ 40, 30 }, QColor::fromHsv(i * 7 % 360, 200, 200)));
}

} // namespace

class TstDisplay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { PictureSelected = 0; PreviewPath.clear(); }
    void listingCountsEveryFile();
    void rightClickOnThumbnailAndOnEmptySpace();
    void deletedFileEmptiesListOnChoice();
    void previewWithAndWithoutSelection();
    void failedPreviewEmptiesTheTabItCameFrom();
    void escCancelsRun();
    void unreadableFolderGivesError();
};

void TstDisplay::listingCountsEveryFile()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    QCOMPARE(form.ShowFolderThumbnails(1, f.home.stockYard()), 0);
    // Six files: four pictures listed; the corrupt one and the text file counted, not listed.
    QCOMPARE(form.gBrowseIndex, 6);
    QCOMPARE(form.HiddenList[1].size(), 4);
    QCOMPARE(form.LEADImgList1[1]->ThumbnailCount(), 4);
    // Each thumbnail carries the counter at the time it was added, and the names come in
    // the order a file manager shows them.
    QCOMPARE(form.LEADImgList1[1]->counter(0), 0);
    QVERIFY(form.LEADImgList1[1]->counter(3) > form.LEADImgList1[1]->counter(2));
    QVERIFY(form.HiddenList[1].indexOf(f.home.stockYard() + "/anim.gif")
            < form.HiddenList[1].indexOf(f.home.stockYard() + "/camera.jpg"));
}

void TstDisplay::rightClickOnThumbnailAndOnEmptySpace()
{
    MainFormFixture f;
    writeFiles(f, QStringLiteral("My Documents/ZTV_DATA/ストックヤード"), 3);
    MainForm& form = f.load();
    form.show();
    form.SSTab1->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ThumbnailList* list = form.LEADImgList1[1];
    QCOMPARE(list->ThumbnailCount(), 3);

    const QPoint onSecond = pointFor(list, 1);
    QVERIFY(onSecond.x() >= 0);
    form.LEADImgList1_MouseButton(1, 2, 0, onSecond.x(), onSecond.y());
    QCOMPARE(f.openedMenus, (QStringList { "menu_R" }));
    QCOMPARE(form.TabSelectedIndex[1], 1);
    QCOMPARE(form.TabHasSelection[1], qint16(1));
    QCOMPARE(PictureSelected, qint16(1));
    QVERIFY(form.LEAD1[1]->hasPicture());

    // Empty space: menu_EX, and the selection and display stay as they are.
    const QImage shown = form.LEAD1[1]->picture();
    const QPoint empty = pointFor(list, -1);
    QVERIFY(empty.x() >= 0);
    form.LEADImgList1_MouseButton(1, 2, 0, empty.x(), empty.y());
    QCOMPARE(f.openedMenus, (QStringList { "menu_R", "menu_EX" }));
    QCOMPARE(form.TabSelectedIndex[1], 1);
    QCOMPARE(form.LEAD1[1]->picture(), shown);

    // A left button does nothing here; the other tabs open their own file menus.
    form.LEADImgList1_MouseButton(1, 1, 0, onSecond.x(), onSecond.y());
    QCOMPARE(f.openedMenus.size(), 2);
    writeFiles(f, QStringLiteral("My Documents/ZTV_DATA/保管庫"), 1);
    QCOMPARE(form.ShowFolderThumbnails(2, f.home.vault()), 0);
    form.SSTab1->setCurrentIndex(2);
    const QPoint onVault = pointFor(form.LEADImgList1[2], 0);
    form.LEADImgList1_MouseButton(2, 2, 0, onVault.x(), onVault.y());
    QCOMPARE(f.openedMenus.last(), QStringLiteral("menu_RF"));
}

void TstDisplay::deletedFileEmptiesListOnChoice()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.LEADImgList1_Click(1, 0);
    QVERIFY(form.LEAD1[1]->hasPicture());
    PreviewPath = form.HiddenList[1].at(1);
    QVERIFY(QFile::remove(form.HiddenList[1].at(1)));
    form.LEADImgList1_Click(1, 1);
    QCOMPARE(form.HiddenList[1].size(), 0);
    QCOMPARE(form.LEADImgList1[1]->ThumbnailCount(), 0);
    QVERIFY(!form.LEAD1[1]->hasPicture());
    QCOMPARE(PreviewPath, QString());
    QCOMPARE(form.TabHasSelection[1], qint16(1));
    QCOMPARE(form.HiddenList[2].size(), 1); // other tabs are untouched
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstDisplay::previewWithAndWithoutSelection()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.LEAD1_Click(1);
    PreviewForm* preview = form.previewForm();
    QVERIFY(preview);
    QCOMPARE(preview->windowTitle(), QStringLiteral("プレビュー"));
    QCOMPARE(preview->size(), QSize(803, 561));
    QVERIFY(!preview->LEAD1->hasPicture());
    QVERIFY(!preview->parentWidget());
    preview->close();
    QTRY_VERIFY(!form.previewForm());

    form.LEADImgList1_Click(1, 1);
    const QString chosen = form.HiddenList[1].at(1);
    form.LEAD1_Click(1);
    preview = form.previewForm();
    QCOMPARE(preview->windowTitle(), chosen);
    QVERIFY(preview->LEAD1->hasPicture());

    // While it is open it keeps its picture.
    form.LEADImgList1_Click(1, 2);
    form.LEAD1_Click(1);
    QCOMPARE(form.previewForm(), preview);
    QCOMPARE(preview->windowTitle(), chosen);
    QCOMPARE(PreviewPath, form.HiddenList[1].at(2));

    // Closing the main window closes the preview too.
    form.close();
    QCOMPARE(f.quits, 1);
    QVERIFY(!form.previewForm());
}

void TstDisplay::failedPreviewEmptiesTheTabItCameFrom()
{
    QTemporaryDir disc;
    QFile pic(disc.filePath(QStringLiteral("cd.png")));
    QVERIFY(pic.open(QIODevice::WriteOnly));
    pic.write(test::pictures::png({ 30, 30 }));
    pic.close();
    MainFormFixture f;
    f.home.fillSample();
    f.drives.devices = { QStringLiteral("/dev/sr0") };
    f.drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
    MainForm& form = f.load();
    form.TreeView1_NodeClick(0, form.TreeView1[0]->topLevelItem(0));
    QCOMPARE(form.HiddenList[0].size(), 1);

    form.LEADImgList1_Click(1, 0);
    QVERIFY(QFile::remove(form.HiddenList[1].at(0)));
    form.LEAD1_Click(1);
    PreviewForm* preview = form.previewForm();
    QCOMPARE(preview->windowTitle(), QStringLiteral("プレビュー"));
    QVERIFY(!preview->LEAD1->hasPicture());
    QCOMPARE(PreviewPath, QString());
    QCOMPARE(form.HiddenList[1].size(), 0);
    QCOMPARE(form.LEADImgList1[1]->ThumbnailCount(), 0);
    QCOMPARE(form.HiddenList[0].size(), 1); // the CD tab keeps its list
    QCOMPARE(form.LEADImgList1[0]->ThumbnailCount(), 1);
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstDisplay::escCancelsRun()
{
    MainFormFixture f;
    writeFiles(f, QStringLiteral("My Documents/ZTV_DATA/ストックヤード/多い"), 40);
    MainForm& form = f.load();
    form.show();

    bool disabledDuringRun = true;
    QString progress;
    int events = 0;
    connect(form.LEADThumb1[1], &ThumbnailBrowser::ThumbnailReady, &form, [&] {
        ++events;
        disabledDuringRun = disabledDuringRun && !form.isEnabled() && form.gbBrowsing;
        if (events == 3) {
            progress = form.BrowseStatus->text();
            // Esc goes to the disabled window as a real key press would.
            QCoreApplication::postEvent(&form, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        }
    });
    const int r = form.ShowFolderThumbnails(1, f.home.stockYard() + QStringLiteral("/多い"));
    QCOMPARE(r, ThumbnailBrowser::ResultCancelled);
    QVERIFY(disabledDuringRun);
    QVERIFY(form.isEnabled());
    QVERIFY(!form.gbBrowsing);
    QVERIFY(form.gBrowseQuit != 0);
    QVERIFY(form.HiddenList[1].size() < 40);
    QVERIFY(form.HiddenList[1].size() >= 3);
    QVERIFY2(progress.contains(QStringLiteral("/ 40")), qPrintable(progress));
    QVERIFY(progress.contains(QStringLiteral("Esc")));
    QVERIFY(!form.BrowseStatus->isVisible());

    // Esc outside a run does nothing to the next one.
    QTest::keyClick(&form, Qt::Key_Escape);
    events = 100;
    QCOMPARE(form.ShowFolderThumbnails(1, f.home.stockYard() + QStringLiteral("/多い")), 0);
    QCOMPARE(form.HiddenList[1].size(), 40);
}

void TstDisplay::unreadableFolderGivesError()
{
    MainFormFixture f;
    MainForm& form = f.load();
    const int r = form.ShowFolderThumbnails(1, f.home.stockYard() + QStringLiteral("/無い"));
    QVERIFY(r != 0 && r != ThumbnailBrowser::ResultCancelled);
    QVERIFY(form.isEnabled());
    QVERIFY(!form.gbBrowsing);
}

QTEST_MAIN(TstDisplay)
#include "tst_display.moc"
