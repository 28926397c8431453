#include "BrowseProgressLog.h"
#include "MainFormFixture.h"
#include "display/PreviewForm.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"

#include "widgets/FolderTree.h"
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
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
    void listingCountsEveryFile();
    void rightClickOnThumbnailAndOnEmptySpace();
    void deletedFileEmptiesListOnChoice();
    void previewWithAndWithoutSelection();
    void failedPreviewEmptiesTheTabItCameFrom();
    void clickOnTheCaptionOpensThePreview();
    void escCancelsRun();
    void runStartedInsideAPlainRunLeavesItsCountAndEsc();
    void unreadableFolderGivesError();
};

void TstDisplay::listingCountsEveryFile()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    QCOMPARE(form.area(Area::StockYard).list(f.home.stockYard(), BrowsingArea::ListHow::Show).code(), 0);
    // Six files: four pictures listed; the corrupt one and the text file counted, not listed.
    QCOMPARE(form.browseRun().gBrowseIndex(), 6);
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), 4);
    QCOMPARE(form.area(Area::StockYard).LEADImgList1()->ThumbnailCount(), 4);
    // Each thumbnail carries the counter at the time it was added, and the names come in
    // the order a file manager shows them.
    QCOMPARE(form.area(Area::StockYard).LEADImgList1()->counter(0), 0);
    QVERIFY(form.area(Area::StockYard).LEADImgList1()->counter(3)
        > form.area(Area::StockYard).LEADImgList1()->counter(2));
    QVERIFY(form.area(Area::StockYard).HiddenList().indexOf(f.home.stockYard() + "/anim.gif")
        < form.area(Area::StockYard).HiddenList().indexOf(f.home.stockYard() + "/camera.jpg"));
}

void TstDisplay::rightClickOnThumbnailAndOnEmptySpace()
{
    MainFormFixture f;
    writeFiles(f, QStringLiteral("My Documents/ZTV_DATA/ストックヤード"), 3);
    MainForm& form = f.load();
    form.show();
    form.SSTab1()->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ThumbnailList* list = form.area(Area::StockYard).LEADImgList1();
    QCOMPARE(list->ThumbnailCount(), 3);

    const QPoint onSecond = pointFor(list, 1);
    QVERIFY(onSecond.x() >= 0);
    form.area(Area::StockYard).LEADImgList1_MouseButton(Qt::RightButton, onSecond);
    QCOMPARE(f.openedMenus, (QStringList { "menu_R" }));
    QCOMPARE(chosenIndex(form, Area(1)), 1);
    QVERIFY(isChosen(form, Area(1)));
    QVERIFY(chosenOnCurrentTab(form));
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());

    // Empty space: menu_EX, and the selection and display stay as they are.
    const QImage shown = form.area(Area::StockYard).LEAD1()->picture();
    const QPoint empty = pointFor(list, -1);
    QVERIFY(empty.x() >= 0);
    form.area(Area::StockYard).LEADImgList1_MouseButton(Qt::RightButton, empty);
    QCOMPARE(f.openedMenus, (QStringList { "menu_R", "menu_EX" }));
    QCOMPARE(chosenIndex(form, Area(1)), 1);
    QCOMPARE(form.area(Area::StockYard).LEAD1()->picture(), shown);

    // A left button does nothing here; the other tabs open their own file menus.
    form.area(Area::StockYard).LEADImgList1_MouseButton(Qt::LeftButton, onSecond);
    QCOMPARE(f.openedMenus.size(), 2);
    writeFiles(f, QStringLiteral("My Documents/ZTV_DATA/保管庫"), 1);
    QCOMPARE(form.area(Area::Vault).list(f.home.vault(), BrowsingArea::ListHow::Show).code(), 0);
    form.SSTab1()->setCurrentIndex(2);
    const QPoint onVault = pointFor(form.area(Area::Vault).LEADImgList1(), 0);
    form.area(Area::Vault).LEADImgList1_MouseButton(Qt::RightButton, onVault);
    QCOMPARE(f.openedMenus.last(), QStringLiteral("menu_RF"));
}

void TstDisplay::deletedFileEmptiesListOnChoice()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.area(Area::StockYard).LEADImgList1_Click(0);
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());
    QVERIFY(QFile::remove(form.area(Area::StockYard).HiddenList().at(1)));
    form.area(Area::StockYard).LEADImgList1_Click(1);
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), 0);
    QCOMPARE(form.area(Area::StockYard).LEADImgList1()->ThumbnailCount(), 0);
    QVERIFY(!form.area(Area::StockYard).LEAD1()->hasPicture());
    QVERIFY(!isChosen(form, Area::StockYard)); // nothing shown, nothing to act on
    QCOMPARE(form.area(Area::Vault).HiddenList().size(), 1); // other tabs are untouched
    QVERIFY(f.prompts.calls.isEmpty());
}

// The caption lies over the empty display; a click on it, delivered to the window as the
// pointer would deliver it, reaches the display beneath.
void TstDisplay::clickOnTheCaptionOpensThePreview()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    for (Area area : { Area::Cd, Area::StockYard, Area::Vault }) {
        form.SSTab1()->setCurrentIndex(tabIndex(area));
        const BrowsingArea& a = form.area(area);
        QVERIFY(a.Label2()->isVisible());
        QVERIFY(!isChosen(form, area));
        const QPoint onCaption = a.Label2()->mapTo(&form, a.Label2()->rect().center());
        QCOMPARE(form.childAt(onCaption), static_cast<QWidget*>(a.LEAD1()));
        QTest::mouseClick(form.windowHandle(), Qt::LeftButton, {}, onCaption);
        PreviewForm* preview = form.previewForm();
        QVERIFY2(preview, qPrintable(QString::number(tabIndex(area))));
        QVERIFY(!preview->LEAD1->hasPicture());
        QCOMPARE(a.PreviewPath(), QString());
        preview->close();
        QTRY_VERIFY_WITH_TIMEOUT(!form.previewForm(), 30000);
    }
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstDisplay::previewWithAndWithoutSelection()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.area(Area::StockYard).LEAD1_Click();
    PreviewForm* preview = form.previewForm();
    QVERIFY(preview);
    QCOMPARE(preview->windowTitle(), QStringLiteral("プレビュー"));
    QCOMPARE(preview->size(), QSize(803, 561));
    QVERIFY(!preview->LEAD1->hasPicture());
    QVERIFY(!preview->parentWidget());
    preview->close();
    QTRY_VERIFY_WITH_TIMEOUT(!form.previewForm(), 30000);

    form.area(Area::StockYard).LEADImgList1_Click(1);
    const QString chosen = form.area(Area::StockYard).HiddenList().at(1);
    form.area(Area::StockYard).LEAD1_Click();
    preview = form.previewForm();
    QCOMPARE(preview->windowTitle(), chosen);
    QVERIFY(preview->LEAD1->hasPicture());

    // While it is open it keeps its picture.
    form.area(Area::StockYard).LEADImgList1_Click(2);
    form.area(Area::StockYard).LEAD1_Click();
    QCOMPARE(form.previewForm(), preview);
    QCOMPARE(preview->windowTitle(), chosen);
    QCOMPARE(form.area(Area::StockYard).PreviewPath(), form.area(Area::StockYard).HiddenList().at(2));

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
    form.area(Area::Cd).TreeView1_NodeClick(form.area(Area::Cd).TreeView1()->topLevelItem(0));
    QCOMPARE(form.area(Area::Cd).HiddenList().size(), 1);

    form.area(Area::StockYard).LEADImgList1_Click(0);
    QVERIFY(QFile::remove(form.area(Area::StockYard).HiddenList().at(0)));
    // The chosen file went away after it was chosen: said so, and no preview opens.
    form.area(Area::StockYard).LEAD1_Click();
    QVERIFY(!form.previewForm());
    QCOMPARE(f.prompts.calls.size(), 1);
    QVERIFY(f.prompts.calls.at(0).text.startsWith(
        QStringLiteral("選択中の画像ファイルは移動、削除または変更されています")));
    QVERIFY(!isChosen(form, Area::StockYard));
    QVERIFY(!form.area(Area::StockYard).LEAD1()->hasPicture());
    QCOMPARE(form.area(Area::Cd).HiddenList().size(), 1); // the CD tab keeps its list
    QCOMPARE(form.area(Area::Cd).LEADImgList1()->ThumbnailCount(), 1);
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
    connect(form.area(Area::StockYard).LEADThumb1(), &ThumbnailBrowser::ThumbnailReady, &form, [&] {
        ++events;
        disabledDuringRun = disabledDuringRun && !form.isEnabled() && form.browseRun().gbBrowsing();
        if (events == 3) {
            progress = form.BrowseStatus()->text();
            // Esc goes to the disabled window as a real key press would.
            QCoreApplication::postEvent(
                &form, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        }
    });
    const int r = form.area(Area::StockYard)
                      .list(f.home.stockYard() + QStringLiteral("/多い"), BrowsingArea::ListHow::Show)
                      .code();
    QCOMPARE(r, ThumbnailBrowser::ResultCancelled);
    QVERIFY(disabledDuringRun);
    QVERIFY(form.isEnabled());
    QVERIFY(!form.browseRun().gbBrowsing());
    QVERIFY(form.browseRun().gBrowseQuit());
    QVERIFY(form.area(Area::StockYard).HiddenList().size() < 40);
    QVERIFY(form.area(Area::StockYard).HiddenList().size() >= 3);
    QVERIFY2(progress.contains(QStringLiteral("/ 40")), qPrintable(progress));
    QVERIFY(progress.contains(QStringLiteral("Esc")));
    QVERIFY(!form.BrowseStatus()->isVisible());

    // Esc outside a run does nothing to the next one.
    QTest::keyClick(&form, Qt::Key_Escape);
    events = 100;
    QCOMPARE(form.area(Area::StockYard)
                 .list(f.home.stockYard() + QStringLiteral("/多い"), BrowsingArea::ListHow::Show)
                 .code(),
        0);
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), 40);
}

// A plain run leaves the window usable, so a listing can start inside it (a click on a
// tree); after that one the outer run goes on with its own count and Esc still stops it.
void TstDisplay::runStartedInsideAPlainRunLeavesItsCountAndEsc()
{
    MainFormFixture f;
    f.home.fillSample();
    writeFiles(f, QStringLiteral("My Documents/ZTV_DATA/ストックヤード/多い"), 8);
    MainForm& form = f.load();
    form.show();
    test::BrowseProgressLog log(form);
    bool innerDone = false;
    int innerResult = -1;
    const auto inner = connect(
        form.area(Area::StockYard).LEADThumb1(), &ThumbnailBrowser::ThumbnailReady, &form, [&] {
            if (!innerDone) {
                innerDone = true;
                innerResult = form.area(Area::Vault).list(f.home.vault(), BrowsingArea::ListHow::Show).code();
            }
        });
    log.escAt(1, 4);
    const int r = form.area(Area::StockYard)
                      .list(f.home.stockYard() + QStringLiteral("/多い"), BrowsingArea::ListHow::Quietly)
                      .code();
    disconnect(inner);
    QCOMPARE(innerResult, 0);
    QCOMPARE(log.runs.size(), 2);
    QCOMPARE(log.runs[1].area, Area::Vault);
    QCOMPARE(log.runs[1].lines, test::BrowseProgressLog::whole(1));
    // The outer run's lines, before and after the inner run, count its own 8 files; Esc at
    // its fourth file stops it there or at the fifth.
    QVERIFY2(test::BrowseProgressLog::stoppedAt(log.runs[0].lines, 4, 8),
        qPrintable(log.runs[0].lines.join(u'\n')));
    QCOMPARE(r, ThumbnailBrowser::ResultCancelled);
    QVERIFY(form.BrowseStatus()->isHidden());
    QCOMPARE(
        form.area(Area::Vault).HiddenList(), (QStringList { f.home.vault() + QStringLiteral("/top.png") }));
}

void TstDisplay::unreadableFolderGivesError()
{
    MainFormFixture f;
    MainForm& form = f.load();
    const int r = form.area(Area::StockYard)
                      .list(f.home.stockYard() + QStringLiteral("/無い"), BrowsingArea::ListHow::Show)
                      .code();
    QVERIFY(r != 0 && r != ThumbnailBrowser::ResultCancelled);
    QVERIFY(form.isEnabled());
    QVERIFY(!form.browseRun().gbBrowsing());
}

QTEST_MAIN(TstDisplay)
#include "tst_display.moc"
