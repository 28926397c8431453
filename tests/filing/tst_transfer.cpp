// Copying CD pictures and moving stock-yard pictures into the vault through the chooser.
#include "BrowseProgressLog.h"
#include "FilingTestUtil.h"
#include "filing/FilingPaths.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailCache.h"
#include "imaging/ThumbnailList.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <atomic>
#include <utime.h>

using namespace ztv;
using namespace ztv::test;
using faults::Op;

namespace {

const QString kFileExists = QStringLiteral("すでに同名のファイルが保管されています");
const QString kFilingError = QStringLiteral("保管エラー");

// A main window whose CD drive holds a disc: a temporary folder mounted as sr0.
struct TransferFixture : MainFormFixture {
    TransferFixture()
    {
        home.fillSample();
        drives.devices = { QStringLiteral("/dev/sr0") };
        drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
        discPicture = disc.filePath(QStringLiteral("p1.jpg"));
        QFile f(discPicture);
        if (f.open(QIODevice::WriteOnly))
            f.write(pictures::jpeg({ 120, 90 }, Qt::darkRed));
        f.close();
        load();
        form->show();
    }
    // The disc's root clicked and its picture chosen on the CD tab.
    bool chooseDiscPicture()
    {
        form->SSTab1()->setCurrentIndex(0);
        QTreeWidgetItem* root = form->area(Area::Cd).TreeView1()->topLevelItem(0);
        form->area(Area::Cd).TreeView1_NodeClick(root);
        return selectPicture(*form, 0, discPicture);
    }
    SetFolder* chooser() { return form->vaultTransfer().chooser(); }
    // Clicks the chooser's node with that tree path; false when there is none.
    bool pick(const QString& treePath)
    {
        QTreeWidgetItem* node = nodeAt(chooser()->TreeView1, treePath);
        if (!node)
            return false;
        chooser()->TreeView1->setCurrentItem(node);
        chooser()->TreeView1_NodeClick(node);
        return chooser()->Label1->text() == treePath;
    }
    QString vault(const QString& rel) const { return home.vault() + u'/' + rel; }
    QTemporaryDir disc;
    QString discPicture;
};

} // namespace

class TstTransfer : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { faults::reset(); }
    void cleanup() { faults::reset(); }
    void nothingSelectedOpensNothing();
    void copyCdPictureIntoBoxThenAgain();
    void copyIntoTheVaultItselfAndCaseVariants();
    void failedCopyLeavesNothingAndSaysWhat();
    void escStopsALargeCopy();
    void closingStopsALargeCopy();
    void moveIntoNestedBox();
    void moveOntoExistingName();
    void moveAcrossFileSystems();
    void secondRequestWhileOpen();
    void cancelAndCloseBox();
    void keyboardChoosesAndFiles();
    void refreshRunsCountTheirOwnFiles();
    void dupCheck();
    void boxButtonsActOnTheBoxShownAfterAMove();
    void thumbnailFollowsItsFile();
};

void TstTransfer::nothingSelectedOpensNothing()
{
    TransferFixture f;
    f.form->SSTab1()->setCurrentIndex(0);
    f.form->Command5(0)->click();
    f.form->SSTab1()->setCurrentIndex(1);
    f.form->R_Fav_Copy()->trigger();
    QVERIFY(!f.chooser());
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstTransfer::copyCdPictureIntoBoxThenAgain()
{
    TransferFixture f;
    MainForm& form = *f.form;
    QVERIFY(f.chooseDiscPicture());
    const QByteArray original = contents(f.discPicture);
    const QStringList cdPage = form.area(Area::Cd).HiddenList();

    form.RCD_Fav_Copy()->trigger();
    SetFolder* chooser = f.chooser();
    QVERIFY(chooser);
    QVERIFY(chooser->isVisible());
    QVERIFY(form.isEnabled()); // modeless: the main window stays usable
    QCOMPARE(chooser->windowTitle(), QStringLiteral("ゼントヴィVer1.0"));
    QCOMPARE(chooser->Label3->text(), QStringLiteral("ファイルのコピー"));
    QCOMPARE(chooser->Command1[0]->text(), QStringLiteral("コピー"));
    QCOMPARE(chooser->Command1[1]->text(), QStringLiteral("キャンセル"));
    QCOMPARE(chooser->Label1->text(), kVault);
    QTreeWidgetItem* root = chooser->TreeView1->topLevelItem(0);
    QCOMPARE(root->text(0), kVault);
    QCOMPARE(FolderTree::nodeKey(root), f.home.vault());
    QCOMPARE(childTexts(root), (QStringList { "旅行", "空箱" }));

    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    QTest::mouseClick(chooser->Command1[0], Qt::LeftButton);
    QVERIFY(!f.chooser());
    QVERIFY(f.prompts.calls.isEmpty());
    QCOMPARE(contents(f.vault(QStringLiteral("旅行/p1.jpg"))), original);
    QCOMPARE(contents(f.discPicture), original);
    // The vault tree is opened at the box and its page lists the box.
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QCOMPARE(tree->treePath(tree->currentItem()), QStringLiteral("保管庫/旅行"));
    QCOMPARE(form.area(Area::Vault).HiddenList(),
        (QStringList { f.vault(QStringLiteral("旅行/a.jpg")), f.vault(QStringLiteral("旅行/p1.jpg")) }));
    QCOMPARE(form.area(Area::Vault).Label3()->text(), QStringLiteral("1"));
    // The CD tab keeps its page and its selection.
    QCOMPARE(form.area(Area::Cd).HiddenList(), cdPage);
    QVERIFY(chosenOnCurrentTab(form));
    QVERIFY(form.area(Area::Cd).LEAD1()->hasPicture());

    // The same picture again, now changed on the disc: refused, the stored file untouched.
    QFile disc(f.discPicture);
    QVERIFY(disc.open(QIODevice::WriteOnly | QIODevice::Truncate));
    disc.write(pictures::jpeg({ 10, 10 }, Qt::white));
    disc.close();
    QVERIFY(selectPicture(form, 0, f.discPicture));
    form.Command5(0)->click();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    const auto before = snapshot(f.home.storageRoot());
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts), (QStringList { critical(kFileExists, kFilingError) }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(contents(f.vault(QStringLiteral("旅行/p1.jpg"))), original);
}

void TstTransfer::copyIntoTheVaultItselfAndCaseVariants()
{
    TransferFixture f;
    MainForm& form = *f.form;
    QVERIFY(f.chooseDiscPicture());
    // Pressed without clicking a node: filed in the vault folder itself.
    form.RCD_Fav_Copy()->trigger();
    f.chooser()->Command1_Click(0);
    QCOMPARE(contents(f.vault(QStringLiteral("p1.jpg"))), contents(f.discPicture));
    QCOMPARE(form.area(Area::Vault).HiddenList(),
        (QStringList { f.vault(QStringLiteral("p1.jpg")), f.vault(QStringLiteral("top.png")) }));
    QCOMPARE(form.area(Area::Vault).TreeView1()->currentItem(),
        form.area(Area::Vault).TreeView1()->topLevelItem(0));

    // A stored "P1.JPG" where letter case does not count: the exact-name check lets it
    // through, the exclusive copy refuses it, and the stored file stays as it was.
    const QByteArray stored = pictures::png({ 7, 7 });
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/空箱/P1.JPG"), stored);
    faults::forceCaseInsensitive(true);
    form.RCD_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/空箱")));
    f.chooser()->Command1_Click(0);
    // The vault holds the picture already: asked (and answered "file it anyway") first.
    QCOMPARE(recorded(f.prompts),
        (QStringList { inVaultAsk(QStringLiteral("保管庫/p1.jpg")), critical(kFileExists, kFilingError) }));
    QCOMPARE(QDir(f.vault(QStringLiteral("空箱"))).entryList(QDir::Files | QDir::Hidden),
        (QStringList { "P1.JPG" }));
    QCOMPARE(contents(f.vault(QStringLiteral("空箱/P1.JPG"))), stored);

    // Where case counts, both names may stand side by side.
    faults::forceCaseInsensitive(false);
    f.prompts.clear();
    form.RCD_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/空箱")));
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts), (QStringList { inVaultAsk(QStringLiteral("保管庫/p1.jpg")) }));
    QCOMPARE(contents(f.vault(QStringLiteral("空箱/P1.JPG"))), stored);
    QCOMPARE(contents(f.vault(QStringLiteral("空箱/p1.jpg"))), contents(f.discPicture));
}

void TstTransfer::failedCopyLeavesNothingAndSaysWhat()
{
    TransferFixture f;
    MainForm& form = *f.form;
    QVERIFY(f.chooseDiscPicture());
    const auto before = snapshot(f.home.storageRoot());
    const QStringList vaultPage = form.area(Area::Vault).HiddenList();

    // The disk fills up halfway through the copy.
    faults::arm(Op::Write, 1, ENOSPC);
    form.RCD_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts),
        (QStringList {
            critical(QStringLiteral("書き込みに失敗しました（ディスクがいっぱいです）"), kFilingError) }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(form.area(Area::Vault).HiddenList(), vaultPage);

    // The disc is removed while it is read.
    faults::reset();
    faults::arm(Op::Read, 1, EIO);
    f.prompts.clear();
    form.RCD_Fav_Copy()->trigger();
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts),
        (QStringList { critical(QStringLiteral("コピー元の読み込みに失敗しました（入出力エラーです。ディスク"
                                               "が取り出されたか壊れている可能性があります）"),
            kFilingError) }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);

    // The chosen box was removed while the chooser was open.
    faults::reset();
    f.prompts.clear();
    form.RCD_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/空箱")));
    QVERIFY(QDir(f.vault(QStringLiteral("空箱"))).removeRecursively());
    const auto without = snapshot(f.home.storageRoot());
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts),
        (QStringList {
            critical(QStringLiteral("フォルダを開けませんでした（見つかりません）"), kFilingError) }));
    QCOMPARE(snapshot(f.home.storageRoot()), without);
}

// A large file shows its copy's progress, and Esc stops the copy between two blocks: nothing
// is left in the box, not even the partial copy. The Esc comes once the first block is
// written, and the copy waits until the window has taken it: gated, not timed.
void TstTransfer::escStopsALargeCopy()
{
    TransferFixture f;
    MainForm& form = *f.form;
    const QString big = f.disc.filePath(QStringLiteral("big.jpg"));
    QVERIFY(writeLargeSparsePicture(big, Qt::darkBlue));
    form.SSTab1()->setCurrentIndex(0);
    form.area(Area::Cd).TreeView1_NodeClick(form.area(Area::Cd).TreeView1()->topLevelItem(0));
    QVERIFY(selectPicture(form, 0, big));
    const auto before = snapshot(f.home.storageRoot());
    form.RCD_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));

    QString lineAtEsc;
    {
        CopyGate gate(&form, [&] {
            lineAtEsc = form.BrowseStatus()->text();
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QCoreApplication::sendEvent(&form, &esc);
        });
        f.chooser()->Command1_Click(0);
        QVERIFY(gate.ran());
        QCOMPARE(gate.writes(), 2); // the block under way when the Esc came, and no other
    }
    QCOMPARE(lineAtEsc, QStringLiteral("コピー中：big.jpg　1 / 84 MB（Escキーで中止）"));
    QCOMPARE(recorded(f.prompts),
        QStringList { message(QStringLiteral("Escキーで中止しました\rファイルは保管されていません")) });
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QVERIFY(form.isEnabled());
    QVERIFY(form.BrowseStatus()->isHidden());
}

// Closing the window in the middle of a large copy stops it at its next block, as Esc does,
// and no listing runs after it.
void TstTransfer::closingStopsALargeCopy()
{
    TransferFixture f;
    MainForm& form = *f.form;
    const QString big = f.disc.filePath(QStringLiteral("big.jpg"));
    QVERIFY(writeLargeSparsePicture(big, Qt::darkBlue));
    form.SSTab1()->setCurrentIndex(0);
    form.area(Area::Cd).TreeView1_NodeClick(form.area(Area::Cd).TreeView1()->topLevelItem(0));
    QVERIFY(selectPicture(form, 0, big));
    const auto before = snapshot(f.home.storageRoot());
    const QStringList vaultPage = form.area(Area::Vault).HiddenList();
    form.RCD_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));

    {
        CopyGate gate(&form, [&] { form.close(); });
        f.chooser()->Command1_Click(0);
        QVERIFY(gate.ran());
        QCOMPARE(gate.writes(), 2);
    }
    QCOMPARE(f.quits, 1);
    // Nobody is left to read that the copy stopped.
    QVERIFY(f.prompts.calls.isEmpty());
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    // The box's page was not listed again on the way out.
    QCOMPARE(form.area(Area::Vault).HiddenList(), vaultPage);
}

void TstTransfer::moveIntoNestedBox()
{
    TransferFixture f;
    MainForm& form = *f.form;
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/京都/寺"));
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    const QByteArray bytes = contents(camera);
    QVERIFY(selectPicture(form, 1, camera));
    const int listed = int(form.area(Area::StockYard).HiddenList().size());

    form.Command3(0)->click();
    SetFolder* chooser = f.chooser();
    QVERIFY(chooser);
    QCOMPARE(chooser->Label3->text(), QStringLiteral("移動先を選択して「移動」ボタンをクリックしてください"));
    QCOMPARE(chooser->Command1[0]->text(), QStringLiteral("移動"));

    // One level ahead: opening 旅行 brings 京都's own box; opening it again adds nothing.
    FolderTree* tree = chooser->TreeView1;
    tree->expandItem(tree->topLevelItem(0));
    QCOMPARE(FolderTree::imageKey(tree->topLevelItem(0)),
        QStringLiteral("FoldClose")); // the root keeps its picture
    QTreeWidgetItem* trip = nodeAt(tree, QStringLiteral("保管庫/旅行"));
    QCOMPARE(childTexts(trip), (QStringList { "京都" }));
    QCOMPARE(childTexts(trip->child(0)), QStringList());
    tree->expandItem(trip);
    QCOMPARE(FolderTree::imageKey(trip), QStringLiteral("FoldOpen"));
    QCOMPARE(childTexts(trip->child(0)), (QStringList { "寺" }));
    const int nodes = int(tree->allNodes().size());
    tree->collapseItem(trip);
    QCOMPARE(FolderTree::imageKey(trip), QStringLiteral("FoldClose"));
    tree->expandItem(trip);
    QCOMPARE(int(tree->allNodes().size()), nodes);
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), listed); // the chooser's tree lists nothing

    QVERIFY(f.pick(QStringLiteral("保管庫/旅行/京都")));
    QTest::mouseClick(chooser->Command1[0], Qt::LeftButton);
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(!QFileInfo::exists(camera));
    QCOMPARE(contents(f.vault(QStringLiteral("旅行/京都/camera.jpg"))), bytes);
    // Stock yard: the page without it, the display empty, no selection.
    QCOMPARE(form.area(Area::StockYard).HiddenList().size(), listed - 1);
    QVERIFY(!form.area(Area::StockYard).HiddenList().contains(camera));
    QVERIFY(!form.area(Area::StockYard).LEAD1()->hasPicture());
    QVERIFY(!chosenOnCurrentTab(form));
    // Vault: the tree opened at the box, the page listing it.
    FolderTree* vaultTree = form.area(Area::Vault).TreeView1();
    QCOMPARE(vaultTree->treePath(vaultTree->currentItem()), QStringLiteral("保管庫/旅行/京都"));
    QVERIFY(nodeAt(vaultTree, QStringLiteral("保管庫/旅行"))->isExpanded());
    QCOMPARE(form.area(Area::Vault).HiddenList(),
        (QStringList {
            f.vault(QStringLiteral("旅行/京都/b.jpg")), f.vault(QStringLiteral("旅行/京都/camera.jpg")) }));
    QVERIFY(form.isEnabled());
    QVERIFY(!form.browseRun().gbBrowsing());

    // With the selection gone, a further request opens nothing.
    form.R_Fav_Copy()->trigger();
    QVERIFY(!f.chooser());
}

void TstTransfer::moveOntoExistingName()
{
    TransferFixture f;
    MainForm& form = *f.form;
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    const QByteArray moving = contents(camera);
    const QByteArray stored = pictures::jpeg({ 33, 33 }, Qt::black);
    const QString storedPath
        = f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/camera.jpg"), stored);
    QVERIFY(selectPicture(form, 1, camera));
    const QStringList stockPage = form.area(Area::StockYard).HiddenList();

    form.R_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts), (QStringList { critical(kFileExists, kFilingError) }));
    QCOMPARE(contents(camera), moving);
    QCOMPARE(contents(storedPath), stored);
    QCOMPARE(form.area(Area::StockYard).HiddenList(), stockPage);
    QVERIFY(form.area(Area::StockYard).LEAD1()->hasPicture());

    // Also where letter case does not count and only the case differs.
    QVERIFY(QFile::rename(storedPath, f.vault(QStringLiteral("旅行/CAMERA.jpg"))));
    faults::forceCaseInsensitive(true);
    f.prompts.clear();
    form.R_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts), (QStringList { critical(kFileExists, kFilingError) }));
    QCOMPARE(contents(camera), moving);
    QCOMPARE(contents(f.vault(QStringLiteral("旅行/CAMERA.jpg"))), stored);
}

void TstTransfer::moveAcrossFileSystems()
{
    TransferFixture f;
    MainForm& form = *f.form;
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    const QString screen = f.home.stockYard() + QStringLiteral("/screen.png");
    const QByteArray cameraBytes = contents(camera);
    const QByteArray screenBytes = contents(screen);

    // The copy fails part way: the source stays, nothing is left in the box.
    QVERIFY(selectPicture(form, 1, screen));
    const auto before = snapshot(f.home.storageRoot());
    faults::arm(Op::Rename, 1, EXDEV);
    faults::arm(Op::Write, 1, EIO);
    form.R_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/空箱")));
    f.chooser()->Command1_Click(0);
    QCOMPARE(recorded(f.prompts),
        (QStringList { critical(QStringLiteral("書き込みに失敗しました（入出力エラーです。ディスクが取り出さ"
                                               "れたか壊れている可能性があります）"),
            kFilingError) }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(contents(screen), screenBytes);

    // The vault on another file system: copied, flushed, checked, then the source removed.
    faults::reset();
    faults::arm(Op::Rename, 1, EXDEV);
    QVERIFY(selectPicture(form, 1, camera));
    f.prompts.clear();
    form.R_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/空箱")));
    f.chooser()->Command1_Click(0);
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(faults::calls(Op::Fsync) >= 1);
    QVERIFY(!QFileInfo::exists(camera));
    QCOMPARE(contents(f.vault(QStringLiteral("空箱/camera.jpg"))), cameraBytes);
    QCOMPARE(QDir(f.vault(QStringLiteral("空箱"))).entryList(QDir::Files | QDir::Hidden),
        (QStringList { "camera.jpg" }));
    QCOMPARE(
        form.area(Area::Vault).HiddenList(), (QStringList { f.vault(QStringLiteral("空箱/camera.jpg")) }));
}

void TstTransfer::secondRequestWhileOpen()
{
    TransferFixture f;
    MainForm& form = *f.form;
    QVERIFY(f.chooseDiscPicture());
    form.RCD_Fav_Copy()->trigger();
    SetFolder* chooser = f.chooser();
    QVERIFY(chooser);
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));

    // While it is open, a move request from the stock yard: the same chooser, its captions
    // from the first request, its button acting on the second.
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    QVERIFY(selectPicture(form, 1, camera));
    form.Command3(0)->click();
    QCOMPARE(f.chooser(), chooser);
    QCOMPARE(chooser->Label3->text(), QStringLiteral("ファイルのコピー"));
    QCOMPARE(chooser->Command1[0]->text(), QStringLiteral("コピー"));
    QCOMPARE(chooser->Label1->text(), QStringLiteral("保管庫/旅行"));
    const std::optional<FilingRequest>& asked = form.vaultTransfer().chooserRequest();
    QVERIFY(asked);
    QVERIFY(asked->mode == VaultTransfer::Mode::Move);
    QCOMPARE(asked->files.size(), 1);
    QCOMPARE(asked->files.first().path, camera);
    QCOMPARE(asked->sourceFolder, QStringLiteral("ストックヤード"));

    chooser->Command1_Click(0);
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(!QFileInfo::exists(camera));
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("旅行/camera.jpg"))));
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行/p1.jpg"))));
    QVERIFY(QFileInfo::exists(f.discPicture));
}

void TstTransfer::cancelAndCloseBox()
{
    TransferFixture f;
    MainForm& form = *f.form;
    QVERIFY(f.chooseDiscPicture());
    const auto before = snapshot(f.home.storageRoot());
    const QStringList vaultPage = form.area(Area::Vault).HiddenList();

    form.RCD_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    QPointer<SetFolder> first = f.chooser();
    QTest::mouseClick(first->Command1[1], Qt::LeftButton);
    QVERIFY(!f.chooser());
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 30000); // unloaded

    // The close box does nothing else either; the next request loads a fresh chooser.
    form.RCD_Fav_Copy()->trigger();
    QPointer<SetFolder> second = f.chooser();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    QVERIFY(second->close());
    QVERIFY(!f.chooser());
    QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), 30000);
    form.RCD_Fav_Copy()->trigger();
    QCOMPARE(f.chooser()->Label1->text(), kVault);

    QVERIFY(f.prompts.calls.isEmpty());
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(form.area(Area::Vault).HiddenList(), vaultPage);
}

void TstTransfer::keyboardChoosesAndFiles()
{
    TransferFixture f;
    MainForm& form = *f.form;
    QVERIFY(f.chooseDiscPicture());
    const QByteArray original = contents(f.discPicture);

    form.RCD_Fav_Copy()->trigger();
    SetFolder* chooser = f.chooser();
    QVERIFY(chooser);
    FolderTree* tree = chooser->TreeView1;
    // What is highlighted is what the label shows, from the start.
    QCOMPARE(tree->treePath(tree->currentItem()), kVault);
    QCOMPARE(chooser->Label1->text(), kVault);
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Right); // opens the vault
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(tree->treePath(tree->currentItem()), QStringLiteral("保管庫/旅行"));
    QCOMPARE(chooser->Label1->text(), QStringLiteral("保管庫/旅行"));
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(chooser->Label1->text(), QStringLiteral("保管庫/空箱"));
    QTest::keyClick(tree, Qt::Key_Up);
    QCOMPARE(chooser->Label1->text(), QStringLiteral("保管庫/旅行"));
    // Enter in the tree presses the action button: filed into the highlighted box.
    QTest::keyClick(tree, Qt::Key_Return);
    QVERIFY(!f.chooser());
    QCOMPARE(contents(f.vault(QStringLiteral("旅行/p1.jpg"))), original);
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("空箱/p1.jpg"))));
    QVERIFY(f.prompts.calls.isEmpty());

    // Esc is the cancel button; so is Enter on the focused cancel button.
    const auto before = snapshot(f.home.storageRoot());
    QVERIFY(f.chooseDiscPicture());
    form.RCD_Fav_Copy()->trigger();
    QPointer<SetFolder> second = f.chooser();
    second->TreeView1->setFocus();
    QTest::keyClick(second->TreeView1, Qt::Key_Escape);
    QVERIFY(!f.chooser());
    QTRY_VERIFY_WITH_TIMEOUT(second.isNull(), 30000);
    form.RCD_Fav_Copy()->trigger();
    QPointer<SetFolder> third = f.chooser();
    third->Command1[1]->setFocus();
    QTest::keyClick(third->Command1[1], Qt::Key_Return);
    QVERIFY(!f.chooser());
    QTRY_VERIFY_WITH_TIMEOUT(third.isNull(), 30000);
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstTransfer::refreshRunsCountTheirOwnFiles()
{
    TransferFixture f;
    MainForm& form = *f.form;
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    QVERIFY(selectPicture(form, 1, camera));
    QVERIFY(form.browseRun().gBrowseIndex() > 0);
    form.Command3(0)->click();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));

    BrowseProgressLog log(form);
    QTest::mouseClick(f.chooser()->Command1[0], Qt::LeftButton);
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("旅行/camera.jpg"))));
    // The stock yard without the moved file (the rows of the files left are kept: none is read
    // again), then the box with it and a.jpg.
    QCOMPARE(log.runs.size(), 2);
    QCOMPARE(log.runs[0].area, Area::StockYard);
    QCOMPARE(log.runs[0].files, 0);
    QCOMPARE(log.runs[0].lines, BrowseProgressLog::whole(log.runs[0].files));
    QCOMPARE(log.runs[1].area, Area::Vault);
    QCOMPARE(log.runs[1].lines, BrowseProgressLog::whole(2));
    QVERIFY(!log.lineHiddenDuringRun);
    QVERIFY(form.BrowseStatus()->isHidden());
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstTransfer::dupCheck()
{
    QTemporaryDir dir;
    const QString d = dir.path();
    QFile(d + QStringLiteral("/a.jpg")).open(QIODevice::WriteOnly);
    QFile(d + QStringLiteral("/.hidden.jpg")).open(QIODevice::WriteOnly);
    QDir(d).mkdir(QStringLiteral("box.jpg"));
    QVERIFY(Dup_Check(d + QStringLiteral("/a.jpg")));
    QVERIFY(!Dup_Check(d + QStringLiteral("/A.jpg"))); // exact, letter case included
    QVERIFY(!Dup_Check(d + QStringLiteral("/.hidden.jpg"))); // hidden files are not listed
    QVERIFY(!Dup_Check(d + QStringLiteral("/box.jpg"))); // nor folders
    QVERIFY(!Dup_Check(d + QStringLiteral("/b.jpg")));
    QVERIFY(!Dup_Check(d + QStringLiteral("/missing/a.jpg")));
}

// 空箱 clicked in the vault tree, then a stock-yard picture moved into 旅行: the tree marks 旅行
// and the page lists it, so the box buttons and the next re-listing act on 旅行, never on 空箱.
void TstTransfer::boxButtonsActOnTheBoxShownAfterAMove()
{
    TransferFixture f;
    MainForm& form = *f.form;
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/空箱")));
    const QString camera = f.home.stockYard() + QStringLiteral("/camera.jpg");
    QVERIFY(selectPicture(form, 1, camera));
    form.R_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/旅行")));
    f.chooser()->Command1[0]->click();
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("旅行/camera.jpg"))));

    BrowsingArea& vault = form.area(Area::Vault);
    QCOMPARE(vault.CurrentNodePath(), QStringLiteral("保管庫/旅行"));
    QCOMPARE(vault.TreeView1()->markedPath(), QStringLiteral("保管庫/旅行"));
    QCOMPARE(vault.ListedFolder(), f.vault(QStringLiteral("旅行")));

    // A delete on the vault's page lists 旅行 again.
    QVERIFY(selectPicture(form, 2, f.vault(QStringLiteral("旅行/a.jpg"))));
    form.Command4(3)->click();
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行/a.jpg"))));
    QCOMPARE(vault.HiddenList(), (QStringList { f.vault(QStringLiteral("旅行/camera.jpg")) }));

    // A box added goes into 旅行; the rename renames 旅行.
    f.prompts.clear();
    f.prompts.answerInput(QStringLiteral("中"));
    form.Command4(0)->click();
    QVERIFY(QFileInfo(f.vault(QStringLiteral("旅行/中"))).isDir());
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("空箱/中"))));
    f.prompts.answerInput(QStringLiteral("旅"));
    form.Command4(2)->click();
    QVERIFY(QFileInfo(f.vault(QStringLiteral("旅/camera.jpg"))).isFile());
    QVERIFY(QFileInfo(f.vault(QStringLiteral("空箱"))).isDir());
    QCOMPARE(vault.CurrentNodePath(), QStringLiteral("保管庫/旅"));

    // The arrow keys move the mark without choosing a folder: the buttons then ask for one
    // and change nothing.
    form.SSTab1()->setCurrentIndex(2);
    vault.TreeView1()->setFocus();
    QTest::keyClick(vault.TreeView1(), Qt::Key_Up);
    QVERIFY(vault.TreeView1()->markedPath() != vault.CurrentNodePath());
    const auto before = snapshot(f.home.storageRoot());
    for (int i = 0; i < 3; ++i) {
        f.prompts.clear();
        form.Command4(i)->click();
        QCOMPARE(
            recorded(f.prompts), (QStringList { message(QStringLiteral("フォルダを選択してください")) }));
    }
    QCOMPARE(snapshot(f.home.storageRoot()), before);
}

namespace {

// The colour at the centre of the page's thumbnail of that file; invalid when not listed.
QColor thumbnailColour(MainForm& form, Area area, const QString& file)
{
    const int index = int(form.area(area).HiddenList().indexOf(file));
    if (index < 0)
        return {};
    ThumbnailList* list = form.area(area).LEADImgList1();
    list->commitAdded();
    const QImage image = list->model()->index(index, 0).data(Qt::DecorationRole).value<QImage>();
    return image.isNull() ? QColor() : QColor(image.pixel(image.width() / 2, image.height() / 2));
}

bool isBlue(const QColor& c)
{
    return c.isValid() && c.blue() > 180 && c.red() < 80;
}

} // namespace

// A red picture deleted from a box and a blue one of the same name, size and modification
// second moved in: the box's page shows the blue one. A rename carries the entry along.
void TstTransfer::thumbnailFollowsItsFile()
{
    TransferFixture f;
    MainForm& form = *f.form;
    const QString root = f.home.home() + QStringLiteral("/thumbnails");
    for (Area a : { Area::Cd, Area::StockYard, Area::Vault })
        form.area(a).LEADThumb1()->setCacheFolder(root);
    const ThumbnailCache cache(root);

    QByteArray red = pictures::jpeg({ 160, 120 }, Qt::red);
    QByteArray blue = pictures::jpeg({ 160, 120 }, Qt::blue);
    // Equal sizes (bytes after the end of a JPEG are ignored), so only the program's own
    // bookkeeping can tell the two apart.
    red.append(qMax<qsizetype>(0, blue.size() - red.size()), '\0');
    blue.append(qMax<qsizetype>(0, red.size() - blue.size()), '\0');
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱"));
    const QString inBox = f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/写真1.jpg"), red);
    const QString inYard
        = f.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/写真1.jpg"), blue);
    const struct utimbuf sameSecond {
        1700000000, 1700000000
    };
    QVERIFY(::utime(QFile::encodeName(inBox).constData(), &sameSecond) == 0);
    QVERIFY(::utime(QFile::encodeName(inYard).constData(), &sameSecond) == 0);

    form.area(Area::Vault).rebuildTree(); // the box is new to the tree
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/箱")));
    QCOMPARE(thumbnailColour(form, Area::Vault, inBox).red() > 180, true);
    QVERIFY(QFileInfo::exists(cache.entryPath(inBox)));
    QVERIFY(clickNode(form, 1, QStringLiteral("ストックヤード")));
    QVERIFY(isBlue(thumbnailColour(form, Area::StockYard, inYard)));

    QVERIFY(selectPicture(form, 2, inBox));
    form.RF_Del()->trigger();
    QVERIFY(!QFileInfo::exists(inBox));
    QVERIFY(!QFileInfo::exists(cache.entryPath(inBox)));

    QVERIFY(selectPicture(form, 1, inYard));
    form.R_Fav_Copy()->trigger();
    QVERIFY(f.pick(QStringLiteral("保管庫/箱")));
    f.chooser()->Command1_Click(0);
    QCOMPARE(contents(inBox), blue);
    QCOMPARE(form.area(Area::Vault).HiddenList(), QStringList { inBox });
    QVERIFY(isBlue(thumbnailColour(form, Area::Vault, inBox)));
    // The stock yard's entry moved with the file.
    QVERIFY(!QFileInfo::exists(cache.entryPath(inYard)));
    QCOMPARE(QImage(cache.entryPath(inBox)).text(QStringLiteral("Thumb::URI")),
        QString::fromLatin1(ThumbnailCache::fileUri(inBox)));

    // Renamed, the file keeps its entry under its new name; the old name has none.
    const QString renamed = f.vault(QStringLiteral("箱/青.jpg"));
    QVERIFY(selectPicture(form, 2, inBox));
    f.prompts.answerInput(QStringLiteral("青"));
    form.RF_Mod()->trigger();
    QVERIFY(QFileInfo::exists(renamed));
    QVERIFY(!QFileInfo::exists(cache.entryPath(inBox)));
    const QImage entry(cache.entryPath(renamed));
    QCOMPARE(entry.text(QStringLiteral("Thumb::URI")), QString::fromLatin1(ThumbnailCache::fileUri(renamed)));
    QVERIFY(isBlue(QColor(entry.pixel(entry.width() / 2, entry.height() / 2))));
    QVERIFY(isBlue(thumbnailColour(form, Area::Vault, renamed)));
    QCOMPARE(f.prompts.messages().size(), 1); // the delete's question only
}

QTEST_MAIN(TstTransfer)
#include "tst_transfer.moc"
