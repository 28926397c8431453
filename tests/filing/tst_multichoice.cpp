// Choosing several pictures on a tab and filing, copying and deleting them in one run.
#include "FilingTestUtil.h"
#include "display/BrowseRun.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailCache.h"
#include "imaging/ThumbnailList.h"
#include "platform/PathCodec.h"

#include <QAbstractItemView>
#include <QAction>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <cstdio>
#include <functional>

using namespace ztv;
using namespace ztv::test;
using faults::Op;

namespace {

// The real file operations, with a look at each move or copy before it runs.
class WatchedFileOps : public FileOps {
public:
    std::function<void(const QString& from)> before;
    FileResult makeDirectory(const QString& p) override { return realFileOps().makeDirectory(p); }
    FileResult removeEmptyDirectory(const QString& p) override
    {
        return realFileOps().removeEmptyDirectory(p);
    }
    FileResult removeFile(const QString& p) override { return realFileOps().removeFile(p); }
    FileResult moveNoReplace(const QString& from, const QString& to) override
    {
        if (before)
            before(from);
        return realFileOps().moveNoReplace(from, to);
    }
    FileResult moveNoReplace(const QString& from, const QString& to, FolderFlushes& later) override
    {
        if (before)
            before(from);
        return realFileOps().moveNoReplace(from, to, later);
    }
    FileResult copyNoReplace(const QString& from, const QString& to) override
    {
        if (before)
            before(from);
        return realFileOps().copyNoReplace(from, to);
    }
    FileResult writeFile(const QString& p, const QByteArray& b, bool replace) override
    {
        return realFileOps().writeFile(p, b, replace);
    }
    FileResult moveToTrash(const QString& p) override { return realFileOps().moveToTrash(p); }
};

// Each of the stock yard's first count pictures has its shared cache entry where the file
// is now, showing that file, and none is left under a name the file left.
void checkCacheFollows(const QString& cacheRoot, const QString& stockYard, const QString& box, int count)
{
    const ThumbnailCache cache(cacheRoot);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
        const bool stayed = QFileInfo::exists(stockYard + u'/' + name);
        const QString now = (stayed ? stockYard : box) + u'/' + name;
        const QFileInfo file(now);
        const QImage entry = cache.lookup(now, file.lastModified().toSecsSinceEpoch(), file.size());
        QVERIFY2(!entry.isNull(), qPrintable(now));
        const QColor shown = entry.pixelColor(entry.width() / 2, entry.height() / 2);
        const QColor real = QImage(now).pixelColor(12, 8);
        // Neighbouring pictures differ by 12 degrees of hue.
        const int apart = qAbs(shown.hue() - real.hue());
        QVERIFY2(qMin(apart, 360 - apart) < 6, qPrintable(now));
        if (!stayed)
            QVERIFY2(!QFileInfo::exists(cache.entryPath(stockYard + u'/' + name)), qPrintable(name));
    }
}

// A stock yard of 30 pictures (two pages), a disc of four, the real window.
struct Fixture {
    Fixture()
    {
        drives.envHome = home.home();
        for (int i = 0; i < 30; ++i)
            home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/p%1.jpg")
                           .arg(i, 2, 10, QLatin1Char('0')),
                pictures::jpeg({ 24, 16 }, QColor::fromHsv(i * 12, 200, 200)));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱"));
        for (int i = 0; i < 4; ++i) {
            QFile f(disc.filePath(QStringLiteral("d%1.jpg").arg(i)));
            if (f.open(QIODevice::WriteOnly))
                f.write(pictures::jpeg({ 20, 20 }, QColor::fromHsv(i * 80, 255, 150)));
        }
        drives.devices = { QStringLiteral("/dev/sr0") };
        drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
        form = std::make_unique<MainForm>(services);
        form->setMenuOpener([this](QMenu* menu) { openedMenus << menu->objectName(); });
        form->setQuitHandler([] {});
        form->Form_Load();
        form->show();
        form->SSTab1()->setCurrentIndex(1);
        clickNode(*form, 1, QStringLiteral("ストックヤード"));
    }
    BrowsingArea& stock() { return form->area(Area::StockYard); }
    QString stockFile(int i) const
    {
        return home.stockYard() + QStringLiteral("/p%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    }
    QString box(const QString& name) const { return home.vault() + QStringLiteral("/箱/") + name; }
    // Chooses items first .. last of the stock yard: a click, then Shift.
    void chooseRange(int first, int last)
    {
        stock().LEADImgList1_Click(first);
        stock().LEADImgList1_ClickWith(last, Qt::ShiftModifier);
    }
    void clickItem(int item, Qt::KeyboardModifiers held)
    {
        QAbstractItemView* view = stock().LEADImgList1()->view();
        const QRect r = view->visualRect(view->model()->index(item, 0));
        QTest::mouseClick(view->viewport(), Qt::LeftButton, held, r.center());
    }
    // The chooser opened by action, its box picked and its action button pressed.
    bool fileInto(QAction* action, const QString& treePath)
    {
        return fileThroughChooser(*form, action, treePath);
    }
    QStringList chosenPaths()
    {
        QStringList out;
        for (const PictureChoice& c : stock().Chosen())
            out << c.path;
        out.sort();
        return out;
    }

    TestHome home;
    QTemporaryDir disc;
    RecordingPrompts prompts;
    FakeShell shell;
    FakeDrives drives;
    FakeSpreadsheet spreadsheet;
    WatchedFileOps ops;
    Services services { prompts, shell, drives, spreadsheet, ops };
    std::unique_ptr<MainForm> form;
    QStringList openedMenus;
};

} // namespace

class TstMultiChoice : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { faults::reset(); }
    void cleanup() { faults::reset(); }
    void ctrlShiftAndAllAcrossPages();
    void batchMoveListsEachSideOnce();
    void batchCopyFromDisc();
    void batchDeleteAsksOnce();
    void clashesAndAnUnreadableFileInOneMessage();
    void escStopsBetweenTwoFiles();
    void changedChoiceFilesNothing();
    void dragOutOffersTheChosenFiles();
};

void TstMultiChoice::ctrlShiftAndAllAcrossPages()
{
    Fixture f;
    BrowsingArea& tab = f.stock();
    QCOMPARE(tab.HiddenList().size(), 30);
    QLabel* count = tab.chosenCountLabel();

    f.clickItem(1, Qt::NoModifier);
    QCOMPARE(tab.chosenCount(), 1);
    QVERIFY(count->isHidden());
    f.clickItem(3, Qt::ControlModifier);
    QCOMPARE(f.chosenPaths(), (QStringList { f.stockFile(1), f.stockFile(3) }));
    QCOMPARE(tab.LEAD1()->sourcePath(), f.stockFile(3)); // the one chosen last is shown
    QCOMPARE(count->text(), QStringLiteral("2 枚の画像を選択中"));
    QVERIFY(count->isVisible());
    QCOMPARE(tab.LEADImgList1()->view()->accessibleDescription(), count->text());
    QCOMPARE(tab.invariantViolation(), QString());
    QVERIFY(f.form->pictureSelected());

    // Ctrl on a chosen one takes it out; the other stays shown.
    f.clickItem(1, Qt::ControlModifier);
    QCOMPARE(f.chosenPaths(), QStringList { f.stockFile(3) });
    QVERIFY(count->isHidden());
    QCOMPARE(tab.invariantViolation(), QString());

    // Shift reaches into the second page: 3 to 27.
    tab.LEADImgList1_ClickWith(27, Qt::ShiftModifier);
    QCOMPARE(tab.chosenCount(), 25);
    QCOMPARE(tab.LEADImgList1()->selectedItems().first(), 3);
    QCOMPARE(tab.LEADImgList1()->selectedItems().last(), 27);
    QCOMPARE(tab.LEAD1()->sourcePath(), f.stockFile(27));
    QCOMPARE(tab.invariantViolation(), QString());
    // A second Shift starts from the same place: 3 to 5 only.
    tab.LEADImgList1_ClickWith(5, Qt::ShiftModifier);
    QCOMPARE(tab.LEADImgList1()->selectedItems(), (QList<int> { 3, 4, 5 }));
    QCOMPARE(tab.invariantViolation(), QString());
    QCOMPARE(tab.LEAD1()->sourcePath(), f.stockFile(5));

    // Ctrl+A: every picture of both pages; the one shown stays shown.
    QWidget* view = tab.LEADImgList1()->view();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(tab.chosenCount(), 30);
    QCOMPARE(tab.LEADImgList1()->selectedItems().size(), 30);
    QCOMPARE(tab.LEAD1()->sourcePath(), f.stockFile(5));
    QCOMPARE(count->text(), QStringLiteral("30 枚の画像を選択中"));
    QCOMPARE(tab.invariantViolation(), QString());

    // The menu over one of them keeps them all; over another picture it chooses that one.
    const QRect r = tab.LEADImgList1()->view()->visualRect(tab.LEADImgList1()->view()->model()->index(7, 0));
    QTest::mouseClick(tab.LEADImgList1()->view()->viewport(), Qt::RightButton, {}, r.center());
    QCOMPARE(f.openedMenus, QStringList { "menu_R" });
    QCOMPARE(tab.chosenCount(), 30);

    // Esc goes back to the one shown; Shift with an arrow extends from the focus frame.
    QTest::keyClick(view, Qt::Key_Escape);
    QCOMPARE(f.chosenPaths(), QStringList { f.stockFile(5) });
    QCOMPARE(tab.invariantViolation(), QString());
    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(view, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(f.chosenPaths(), (QStringList { f.stockFile(5), f.stockFile(6), f.stockFile(7) }));
    QCOMPARE(tab.LEAD1()->sourcePath(), f.stockFile(7));
    // The menu key opens the menu for all of them.
    f.openedMenus.clear();
    QTest::keyClick(view, Qt::Key_Menu);
    QCOMPARE(f.openedMenus, QStringList { "menu_R" });
    QCOMPARE(tab.chosenCount(), 3);

    // A plain click returns to one, exactly as always.
    f.clickItem(2, Qt::NoModifier);
    QCOMPARE(f.chosenPaths(), QStringList { f.stockFile(2) });
    QCOMPARE(tab.LEADImgList1()->selectedItems(), QList<int> { 2 });
    QVERIFY(count->isHidden());

    // A Ctrl choice of a file that went since the listing empties the page, as a click does.
    QVERIFY(QFile::remove(f.stockFile(9)));
    tab.LEADImgList1_ClickWith(9, Qt::ControlModifier);
    QCOMPARE(tab.chosenCount(), 0);
    QCOMPARE(tab.invariantViolation(), QString());
}

void TstMultiChoice::batchMoveListsEachSideOnce()
{
    Fixture f;
    QMap<int, QByteArray> bytes;
    for (int i = 0; i < 30; ++i)
        bytes[i] = contents(f.stockFile(i));
    f.chooseRange(4, 28);
    QCOMPARE(f.stock().chosenCount(), 25);
    QSignalSpy stockListings(f.stock().LEADThumb1(), &ThumbnailBrowser::BrowseStarted);
    QSignalSpy vaultListings(f.form->area(Area::Vault).LEADThumb1(), &ThumbnailBrowser::BrowseStarted);

    QVERIFY(f.fileInto(f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱")));
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(stockListings.size(), 1);
    QCOMPARE(vaultListings.size(), 1);
    for (int i = 0; i < 30; ++i) {
        const QString name = QFileInfo(f.stockFile(i)).fileName();
        const bool moved = i >= 4 && i <= 28;
        QCOMPARE(QFileInfo::exists(f.stockFile(i)), !moved);
        QCOMPARE(contents(moved ? f.box(name) : f.stockFile(i)), bytes[i]);
    }
    QCOMPARE(f.stock().HiddenList().size(), 5);
    QCOMPARE(f.form->area(Area::Vault).HiddenList().size(), 25);
    QCOMPARE(f.stock().chosenCount(), 0);
    QVERIFY(!f.form->pictureSelected());
    QVERIFY(f.form->isEnabled());
    QVERIFY(f.stock().chosenCountLabel()->isHidden());
}

void TstMultiChoice::batchCopyFromDisc()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(0);
    BrowsingArea& cd = f.form->area(Area::Cd);
    cd.TreeView1_NodeClick(cd.TreeView1()->topLevelItem(0));
    QCOMPARE(cd.HiddenList().size(), 4);
    const auto discBefore = snapshot(f.disc.path());
    cd.LEADImgList1_Click(0);
    cd.chooseAll();
    QCOMPARE(cd.chosenCount(), 4);
    QSignalSpy vaultListings(f.form->area(Area::Vault).LEADThumb1(), &ThumbnailBrowser::BrowseStarted);

    QVERIFY(f.fileInto(f.form->RCD_Fav_Copy(), QStringLiteral("保管庫/箱")));
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(snapshot(f.disc.path()), discBefore); // a disc is only read
    for (int i = 0; i < 4; ++i)
        QCOMPARE(contents(f.box(QStringLiteral("d%1.jpg").arg(i))),
            discBefore.value(QStringLiteral("/d%1.jpg").arg(i)));
    QCOMPARE(vaultListings.size(), 1);
    QCOMPARE(f.form->area(Area::Vault).HiddenList().size(), 4);
}

void TstMultiChoice::batchDeleteAsksOnce()
{
    Fixture f;
    f.stock().LEADImgList1_Click(2);
    f.stock().LEADImgList1_ClickWith(7, Qt::ControlModifier);
    f.stock().LEADImgList1_ClickWith(26, Qt::ControlModifier);
    QSignalSpy listings(f.stock().LEADThumb1(), &ThumbnailBrowser::BrowseStarted);

    // Cancelled: nothing goes.
    f.prompts.answerMessage(PromptAnswer::Cancel);
    f.form->R_Del()->trigger();
    QCOMPARE(recorded(f.prompts),
        QStringList { message(QStringLiteral("3 個のファイルを削除します。よろしいですか？"),
            QStringLiteral("ファイルの削除"), "none", "okcancel") });
    QVERIFY(QFileInfo::exists(f.stockFile(7)));
    QCOMPARE(f.stock().chosenCount(), 3);

    f.prompts.clear();
    f.form->R_Del()->trigger();
    QCOMPARE(f.prompts.calls.size(), 1);
    for (int i : { 2, 7, 26 })
        QVERIFY(!QFileInfo::exists(f.stockFile(i)));
    QCOMPARE(
        QDir(f.home.home() + QStringLiteral("/.local/share/Trash/files")).entryList(QDir::Files).size(), 3);
    QCOMPARE(f.stock().HiddenList().size(), 27);
    QCOMPARE(listings.size(), 1);
    QVERIFY(QFileInfo::exists(f.stockFile(3)));
}

void TstMultiChoice::clashesAndAnUnreadableFileInOneMessage()
{
    Fixture f;
    // Two names taken in the box, and the sixth file fails to read part way across disks.
    const QByteArray stored = pictures::jpeg({ 9, 9 }, Qt::black);
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/p01.jpg"), stored);
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/p03.jpg"), stored);
    QMap<int, QByteArray> bytes;
    for (int i = 0; i < 8; ++i)
        bytes[i] = contents(f.stockFile(i));
    f.chooseRange(0, 7);
    f.ops.before = [&](const QString& from) {
        // Every move crosses file systems here; the sixth one's source cannot be read.
        faults::disarm();
        faults::arm(Op::Rename, 1, EXDEV);
        if (from == f.stockFile(5))
            faults::arm(Op::Read, 1, EIO);
    };
    QVERIFY(f.fileInto(f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱")));
    f.ops.before = nullptr;
    faults::disarm();

    QCOMPARE(f.prompts.calls.size(), 1);
    const QStringList lines = f.prompts.calls.first().text.split(u'\r');
    QCOMPARE(f.prompts.calls.first().title, QStringLiteral("保管エラー"));
    QCOMPARE(lines.value(0), QStringLiteral("5 / 8 個のファイルを保管しました"));
    QCOMPARE(lines.value(1), QStringLiteral("次のファイルは処理できませんでした："));
    QCOMPARE(lines.value(2), QStringLiteral("p01.jpg（すでに同名のファイルが保管されています）"));
    QCOMPARE(lines.value(3), QStringLiteral("p03.jpg（すでに同名のファイルが保管されています）"));
    QVERIFY2(lines.value(4).startsWith(QStringLiteral("p05.jpg（")) && lines.value(4).contains(u'読'),
        qPrintable(lines.value(4)));
    QCOMPARE(lines.size(), 5);
    for (int i = 0; i < 8; ++i) {
        const QString name = QFileInfo(f.stockFile(i)).fileName();
        const bool stays = i == 1 || i == 3 || i == 5;
        QCOMPARE(contents(f.stockFile(i)), stays ? bytes[i] : QByteArray());
        QCOMPARE(contents(f.box(name)), stays ? (i == 5 ? QByteArray() : stored) : bytes[i]);
    }
    QCOMPARE(QDir(f.home.vault() + QStringLiteral("/箱")).entryList(QDir::Files | QDir::Hidden).size(), 7);
    QCOMPARE(f.stock().HiddenList().size(), 25);
    checkCacheFollows(
        f.stock().LEADThumb1()->cacheFolder(), f.home.stockYard(), f.home.vault() + QStringLiteral("/箱"), 8);
}

void TstMultiChoice::escStopsBetweenTwoFiles()
{
    Fixture f;
    f.chooseRange(0, 9);
    int moves = 0;
    f.ops.before = [&](const QString&) {
        // Esc while the fourth file is under way: it is filed whole, the fifth is not begun.
        if (++moves == 4)
            QCoreApplication::postEvent(
                f.form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    };
    QVERIFY(f.fileInto(f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱")));
    f.ops.before = nullptr;
    QCOMPARE(moves, 4);
    QCOMPARE(recorded(f.prompts),
        QStringList { message(QStringLiteral("4 / 10 個のファイルを保管しました\rEscキーで中止しました")) });
    QCOMPARE(QDir(f.home.vault() + QStringLiteral("/箱")).entryList(QDir::Files | QDir::Hidden).size(), 4);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(QFileInfo::exists(f.stockFile(i)), i >= 4);
    QCOMPARE(f.stock().HiddenList().size(), 26);
    checkCacheFollows(f.stock().LEADThumb1()->cacheFolder(), f.home.stockYard(),
        f.home.vault() + QStringLiteral("/箱"), 10);
    QVERIFY(f.form->isEnabled());
    QVERIFY(!f.form->browseRun().gbBrowsing());
}

void TstMultiChoice::changedChoiceFilesNothing()
{
    Fixture f;
    f.chooseRange(0, 3);
    const auto before = snapshot(f.home.storageRoot());
    f.form->R_Fav_Copy()->trigger();
    // One of them is rewritten while the chooser is open: nothing at all is filed.
    QFile file(f.stockFile(2));
    QVERIFY(file.open(QIODevice::Append));
    file.write("x");
    file.close();
    const auto rewritten = snapshot(f.home.storageRoot());
    SetFolder* chooser = f.form->vaultTransfer().chooser();
    QVERIFY(chooser);
    QTreeWidgetItem* node = nodeAt(chooser->TreeView1, QStringLiteral("保管庫/箱"));
    chooser->TreeView1->setCurrentItem(node);
    chooser->TreeView1_NodeClick(node);
    chooser->Command1_Click(0);
    QCOMPARE(snapshot(f.home.storageRoot()), rewritten);
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls.first().title, QStringLiteral("保管エラー"));
    QCOMPARE(f.stock().chosenCount(), 0);
    Q_UNUSED(before);

    // The choice changed on the tab while the chooser was open: nothing is filed either.
    f.prompts.clear();
    f.chooseRange(4, 6);
    f.form->R_Fav_Copy()->trigger();
    f.stock().LEADImgList1_ClickWith(8, Qt::ControlModifier);
    QVERIFY(f.form->vaultTransfer().chooser());
    f.form->vaultTransfer().fileInto(*f.form, QStringLiteral("保管庫/箱"));
    QCOMPARE(snapshot(f.home.storageRoot()), rewritten);
    QCOMPARE(f.prompts.calls.size(), 1);
}

void TstMultiChoice::dragOutOffersTheChosenFiles()
{
    Fixture f;
    ThumbnailList* list = f.stock().LEADImgList1();
    QVERIFY(!std::unique_ptr<QMimeData>(list->dragData())); // nothing chosen, nothing offered
    // A name that is not UTF-8 goes as its own bytes.
    const QString odd = decodePath(QByteArray(QFile::encodeName(f.home.stockYard())) + "/\xff\xfe.jpg");
    const QByteArray picture = pictures::jpeg({ 10, 10 }, Qt::blue);
    FILE* out = std::fopen(encodePath(odd).constData(), "wb");
    QVERIFY(out);
    QCOMPARE(std::fwrite(picture.constData(), 1, size_t(picture.size()), out), size_t(picture.size()));
    std::fclose(out);
    f.stock().list(f.home.stockYard(), BrowsingArea::ListHow::Show);
    const int oddAt = int(f.stock().HiddenList().indexOf(odd));
    QVERIFY(oddAt >= 0);
    f.stock().LEADImgList1_Click(3);
    f.stock().LEADImgList1_ClickWith(oddAt, Qt::ControlModifier);
    std::unique_ptr<QMimeData> data(list->dragData());
    QVERIFY(data);
    QVERIFY(data->hasFormat(QStringLiteral("text/uri-list")));
    QCOMPARE(data->urls(),
        (QList<QUrl> { QUrl::fromLocalFile(f.stockFile(3)),
            QUrl::fromEncoded(QByteArray("file://")
                + QUrl::toPercentEncoding(QFile::encodeName(f.home.stockYard()), "/") + "/%FF%FE.jpg") }));
    // One of them rewritten since it was chosen: nothing is offered.
    QFile file(f.stockFile(3));
    QVERIFY(file.open(QIODevice::Append));
    file.write("x");
    file.close();
    QVERIFY(!std::unique_ptr<QMimeData>(list->dragData()));
}

QTEST_MAIN(TstMultiChoice)
#include "tst_multichoice.moc"
