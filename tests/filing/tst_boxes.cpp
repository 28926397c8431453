// Adding, deleting and renaming organizer boxes on the main window's vault tab.
#include "BrowseProgressLog.h"
#include "FilingTestUtil.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <QToolButton>

using namespace ztv;
using namespace ztv::test;

namespace {

const QString kBoxExists = QStringLiteral("すでに同名の整理箱が存在します");
const QString kNotEmpty = QStringLiteral(
    "ファイルが保管されているため削除できません\r先に整理箱に保管されているファイルを削除してください");

QString addPrompt()
{
    return input(QStringLiteral("整理箱の名称を入力して下さい。"), QStringLiteral("整理箱の追加"));
}
QString renamePrompt()
{
    return input(QStringLiteral("変更後の名称を入力して下さい。"), QStringLiteral("整理箱の名称変更"));
}
QString deleteAsk(const QString& name)
{
    return message(
        QStringLiteral("選択された整理箱　「") + name + QStringLiteral("」　を削除します\rよろしいですか？"),
        QStringLiteral("整理箱の削除"), "none", "okcancel");
}
QString topNotDeletable()
{
    return critical(QStringLiteral("「保管庫」は削除できません"), QStringLiteral("削除エラー"));
}
QString topNotRenamable()
{
    return critical(QStringLiteral("「保管庫」の名称は変更できません"), QStringLiteral("変更エラー"));
}

// After an operation the box buttons act on the folder the tree was opened at, which it marks.
bool actsOnMarked(const MainForm& form, const QString& treePath)
{
    const BrowsingArea& vault = form.area(Area::Vault);
    return vault.CurrentNodePath() == treePath && vault.TreeView1()->markedPath() == treePath;
}

struct VaultFixture : MainFormFixture {
    VaultFixture()
    {
        home.fillSample();
        load();
        form->show();
        form->SSTab1()->setCurrentIndex(2);
    }
    QString vault(const QString& rel = QString()) const
    {
        return home.vault() + (rel.isEmpty() ? QString() : u'/' + rel);
    }
};

} // namespace

class TstBoxes : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { faults::reset(); }
    void cleanup() { faults::reset(); }
    void addAtTopAndInsideABox();
    void addRefusalsChangeNothing();
    void addNeverLeavesTheSelectedFolder();
    void deleteRefusedOnTopAndOnABoxWithAPicture();
    void deleteEmptyNestedBoxReopensOuterBox();
    void renameKeepsPicturesAndReopensAtTheBox();
    void renameRefusals();
    void hiddenBoxNamesRefused();
    void progressLineCountsEachRunAndEscStopsIt();
    void menuOperationLeavesTheHighlightItSet();
    void boxOperationEndsThePictureSelection();
    void renameBrowseCancelKeepsWindowShown();
};

void TstBoxes::addAtTopAndInsideABox()
{
    VaultFixture f;
    MainForm& form = *f.form;
    FolderTree* tree = form.area(Area::Vault).TreeView1();

    // The vault's top folder is selected by default; the vault tab's first button adds.
    f.prompts.answerInput(QStringLiteral("新しい箱"));
    form.Command4(0)->click();
    QCOMPARE(recorded(f.prompts), (QStringList { addPrompt() }));
    QVERIFY(QFileInfo(f.vault(QStringLiteral("新しい箱"))).isDir());
    QCOMPARE(childTexts(tree->topLevelItem(0)), (QStringList { "新しい箱", "旅行", "空箱" }));
    QCOMPARE(tree->treePath(tree->currentItem()), kVault);
    QVERIFY(tree->topLevelItem(0)->isExpanded());
    QVERIFY(actsOnMarked(form, kVault));
    f.prompts.clear();

    // Inside a box, reached by a right click on its node and the tree's menu.
    form.area(Area::Vault).ReopenTreePath(kVault);
    QTreeWidgetItem* trip = nodeAt(tree, QStringLiteral("保管庫/旅行"));
    QVERIFY(trip);
    QStringList menus;
    form.setMenuOpener([&](QMenu* menu) {
        menus << menu->objectName();
        form.dirpopup_new()->trigger();
    });
    f.prompts.answerInput(QStringLiteral("中の箱"));
    QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(trip).center());
    QCOMPARE(menus, (QStringList { "menu_L" }));
    QCOMPARE(recorded(f.prompts), (QStringList { addPrompt() }));
    QVERIFY(QFileInfo(f.vault(QStringLiteral("旅行/中の箱"))).isDir());
    // The tree is opened down to the folder that received the box.
    QTreeWidgetItem* newTrip = nodeAt(tree, QStringLiteral("保管庫/旅行"));
    QCOMPARE(tree->currentItem(), newTrip);
    QVERIFY(newTrip->isExpanded());
    QCOMPARE(childTexts(newTrip), (QStringList { "中の箱", "京都" }));
    QVERIFY(actsOnMarked(form, QStringLiteral("保管庫/旅行")));
}

void TstBoxes::addRefusalsChangeNothing()
{
    VaultFixture f;
    MainForm& form = *f.form;
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    const auto before = snapshot(f.home.storageRoot());
    QTreeWidgetItem* root = tree->topLevelItem(0);
    root->setData(0, Qt::UserRole + 7, QStringLiteral("not rebuilt"));

    // A name taken in the selected folder.
    f.prompts.answerInput(QStringLiteral("京都"));
    form.dirpopup_new()->trigger();
    QCOMPARE(recorded(f.prompts),
        (QStringList { addPrompt(), critical(kBoxExists, QStringLiteral("追加エラー")) }));
    QCOMPARE(tree->topLevelItem(0)->data(0, Qt::UserRole + 7).toString(), QStringLiteral("not rebuilt"));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行")); // nothing was reset

    // An empty answer and Cancel (the recording prompts answer Cancel with "").
    f.prompts.clear();
    f.prompts.answerInput(QString());
    form.dirpopup_new()->trigger();
    form.dirpopup_new()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { addPrompt(), addPrompt() }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(tree->topLevelItem(0)->data(0, Qt::UserRole + 7).toString(), QStringLiteral("not rebuilt"));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行"));

    // No folder selected: the CD tab has none until a node is clicked.
    f.prompts.clear();
    form.SSTab1()->setCurrentIndex(0);
    form.dirpopup_new()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { message(QStringLiteral("フォルダを選択してください")) }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
}

// What an escaping name could reach: the home folder's own entries (the thumbnail cache, a
// hidden folder, left out) and all of "My Documents".
static QPair<QStringList, QMap<QString, QByteArray>> outsideStorage(const test::TestHome& home)
{
    return { QDir(home.home()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
        snapshot(home.home() + QStringLiteral("/My Documents")) };
}

void TstBoxes::addNeverLeavesTheSelectedFolder()
{
    VaultFixture f;
    MainForm& form = *f.form;
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    // The whole home folder, not its parent: other tests create folders beside it meanwhile.
    const auto before = snapshot(f.home.storageRoot());
    const auto homeBefore = outsideStorage(f.home);
    for (const QString& name : { QStringLiteral("../逃げた箱"), QStringLiteral("../../../../逃げた箱"),
             QStringLiteral("京都/奥"), QStringLiteral(".."), QStringLiteral("."),
             QStringLiteral("/tmp/逃げた箱"), QString::fromUtf16(u"箱\0名", 3) }) {
        f.prompts.clear();
        f.prompts.answerInput(name);
        form.dirpopup_new()->trigger();
        QCOMPARE(recorded(f.prompts),
            (QStringList { addPrompt(), critical(kBoxExists, QStringLiteral("追加エラー")) }));
        QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行"));
    }
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(outsideStorage(f.home), homeBefore);
    QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/逃げた箱")));
}

void TstBoxes::deleteRefusedOnTopAndOnABoxWithAPicture()
{
    VaultFixture f;
    MainForm& form = *f.form;
    const auto before = snapshot(f.home.storageRoot());

    // The top folder, by the vault tab's button.
    form.Command4(1)->click();
    QCOMPARE(recorded(f.prompts), (QStringList { topNotDeletable() }));

    // A box holding a picture: asked, then refused by the file system; box and picture stay.
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行/京都")));
    f.prompts.clear();
    form.dirpopup_del()->trigger();
    QCOMPARE(recorded(f.prompts),
        (QStringList {
            deleteAsk(QStringLiteral("京都")), critical(kNotEmpty, QStringLiteral("削除エラー")) }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行/京都"));

    // Cancel in the confirmation: nothing at all.
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/空箱")));
    f.prompts.clear();
    f.prompts.answerMessage(PromptAnswer::Cancel);
    form.dirpopup_del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(QStringLiteral("空箱")) }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/空箱"));

    // A removal the file system refuses for another reason gets the same message.
    faults::arm(faults::Op::Rmdir, 1, EBUSY);
    f.prompts.clear();
    form.dirpopup_del()->trigger();
    QCOMPARE(recorded(f.prompts),
        (QStringList {
            deleteAsk(QStringLiteral("空箱")), critical(kNotEmpty, QStringLiteral("削除エラー")) }));
    QVERIFY(QFileInfo(f.vault(QStringLiteral("空箱"))).isDir());
}

void TstBoxes::deleteEmptyNestedBoxReopensOuterBox()
{
    VaultFixture f;
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/空の中箱"));
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/c.png"), pictures::png({ 30, 30 }));
    MainForm& form = *f.form;
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行/空の中箱")));

    form.dirpopup_del()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(QStringLiteral("空の中箱")) }));
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行/空の中箱"))));
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("旅行/c.png"))));
    QTreeWidgetItem* trip = nodeAt(tree, QStringLiteral("保管庫/旅行"));
    QCOMPARE(tree->currentItem(), trip);
    QVERIFY(trip->isExpanded());
    QCOMPARE(childTexts(trip), (QStringList { "京都" }));
    // The outer box's pictures, and nothing else, on the page.
    QCOMPARE(form.area(Area::Vault).HiddenList(),
        (QStringList { f.vault(QStringLiteral("旅行/a.jpg")), f.vault(QStringLiteral("旅行/c.png")) }));
    QCOMPARE(form.area(Area::Vault).LEADImgList1()->ThumbnailCount(), 2);
    QVERIFY(form.isEnabled());
    QVERIFY(actsOnMarked(form, QStringLiteral("保管庫/旅行")));

    // A box directly in the vault: the vault's own pictures are listed.
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/空箱")));
    form.dirpopup_del()->trigger();
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("空箱"))));
    QCOMPARE(form.area(Area::Vault).HiddenList(), (QStringList { f.vault(QStringLiteral("top.png")) }));
    QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
    QCOMPARE(childTexts(tree->topLevelItem(0)), (QStringList { "旅行" }));
}

void TstBoxes::renameKeepsPicturesAndReopensAtTheBox()
{
    VaultFixture f;
    MainForm& form = *f.form;
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    const QByteArray a = contents(f.vault(QStringLiteral("旅行/a.jpg")));
    const QByteArray b = contents(f.vault(QStringLiteral("旅行/京都/b.jpg")));
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));

    f.prompts.answerInput(QStringLiteral("旅の記録"));
    form.Command4(2)->click();
    QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt() }));
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行"))));
    QCOMPARE(contents(f.vault(QStringLiteral("旅の記録/a.jpg"))), a);
    QCOMPARE(contents(f.vault(QStringLiteral("旅の記録/京都/b.jpg"))), b);
    // Opened down to the renamed box; the page lists the box's parent, the vault itself,
    // once (the first run's pictures are replaced).
    QTreeWidgetItem* renamed = nodeAt(tree, QStringLiteral("保管庫/旅の記録"));
    QVERIFY(renamed);
    QCOMPARE(tree->currentItem(), renamed);
    QVERIFY(renamed->isExpanded());
    QCOMPARE(childTexts(renamed), (QStringList { "京都" }));
    QCOMPARE(form.area(Area::Vault).HiddenList(), (QStringList { f.vault(QStringLiteral("top.png")) }));
    QCOMPARE(form.area(Area::Vault).LEADImgList1()->ThumbnailCount(), 1);
    QVERIFY(form.isEnabled());
    QVERIFY(!form.browseRun().gbBrowsing());
    QVERIFY(actsOnMarked(form, QStringLiteral("保管庫/旅の記録")));

    // A nested box: the page lists the outer box.
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅の記録/京都")));
    f.prompts.answerInput(QStringLiteral("奈良"));
    form.dirpopup_mod()->trigger();
    QCOMPARE(contents(f.vault(QStringLiteral("旅の記録/奈良/b.jpg"))), b);
    QCOMPARE(tree->treePath(tree->currentItem()), QStringLiteral("保管庫/旅の記録/奈良"));
    QCOMPARE(
        form.area(Area::Vault).HiddenList(), (QStringList { f.vault(QStringLiteral("旅の記録/a.jpg")) }));
}

void TstBoxes::renameRefusals()
{
    VaultFixture f;
    MainForm& form = *f.form;
    const auto before = snapshot(f.home.storageRoot());
    const auto homeBefore = outsideStorage(f.home);
    const QString renameError = critical(kBoxExists, QStringLiteral("変更エラー"));

    form.dirpopup_mod()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { topNotRenamable() }));

    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    // Its own name, a sibling's name (the sibling is empty: a plain rename would replace it),
    // and names that would move the box elsewhere.
    for (const QString& name : { QStringLiteral("旅行"), QStringLiteral("空箱"), QStringLiteral("../旅行"),
             QStringLiteral("空箱/旅行"), QStringLiteral(".."), QStringLiteral(".") }) {
        f.prompts.clear();
        f.prompts.answerInput(name);
        form.dirpopup_mod()->trigger();
        QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt(), renameError }));
        QCOMPARE(snapshot(f.home.storageRoot()), before);
        QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行"));
    }
    QCOMPARE(outsideStorage(f.home), homeBefore);

    // Empty answer or Cancel: nothing but the question.
    f.prompts.clear();
    form.dirpopup_mod()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt() }));
    QCOMPARE(snapshot(f.home.storageRoot()), before);
}

void TstBoxes::hiddenBoxNamesRefused()
{
    VaultFixture f;
    // An existing hidden folder stays out of the tree.
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/.隠し"));
    MainForm& form = *f.form;
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    QCOMPARE(childTexts(nodeAt(tree, QStringLiteral("保管庫/旅行"))), (QStringList { "京都" }));
    const auto before = snapshot(f.home.storageRoot());
    const QString why = QStringLiteral(
        "名前の先頭に「.」は使えません\r「.」で始まる整理箱は隠しフォルダとなり、表示されません");

    for (const QString& name : { QStringLiteral(".旅行"), QStringLiteral(".a"), QStringLiteral(".隠し") }) {
        f.prompts.clear();
        f.prompts.answerInput(name);
        form.dirpopup_new()->trigger();
        QCOMPARE(
            recorded(f.prompts), (QStringList { addPrompt(), critical(why, QStringLiteral("追加エラー")) }));
        QCOMPARE(snapshot(f.home.storageRoot()), before);
        QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行"));

        f.prompts.clear();
        f.prompts.answerInput(name);
        form.dirpopup_mod()->trigger();
        QCOMPARE(recorded(f.prompts),
            (QStringList { renamePrompt(), critical(why, QStringLiteral("変更エラー")) }));
        QCOMPARE(snapshot(f.home.storageRoot()), before);
        QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行"));
    }
    // A "." later in the name is fine.
    f.prompts.clear();
    f.prompts.answerInput(QStringLiteral("旅.2"));
    form.dirpopup_new()->trigger();
    QCOMPARE(recorded(f.prompts), (QStringList { addPrompt() }));
    QVERIFY(QFileInfo(f.vault(QStringLiteral("旅行/旅.2"))).isDir());
}

void TstBoxes::progressLineCountsEachRunAndEscStopsIt()
{
    VaultFixture f;
    for (const char* name : { "t2.png", "t3.png" })
        f.home.write(
            QStringLiteral("My Documents/ZTV_DATA/保管庫/") + QLatin1String(name), pictures::png({ 20, 20 }));
    for (const char* name : { "x1.png", "x2.png", "x3.png" })
        f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/") + QLatin1String(name),
            pictures::png({ 20, 20 }));
    MainForm& form = *f.form;
    // Earlier runs have examined files: the line must not go on counting from them.
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行/京都")));
    QVERIFY(form.browseRun().gBrowseIndex() > 0);

    {
        // A rename lists the vault's top folder (3 files), then the renamed box's parent (4).
        BrowseProgressLog log(form);
        f.prompts.answerInput(QStringLiteral("奈良"));
        form.dirpopup_mod()->trigger();
        QCOMPARE(log.runs.size(), 2);
        QCOMPARE(log.runs[0].files, 3);
        QCOMPARE(log.runs[0].lines, BrowseProgressLog::whole(3));
        QCOMPARE(log.runs[1].area, Area::Vault);
        QCOMPARE(log.runs[1].files, 4);
        QCOMPARE(log.runs[1].lines, BrowseProgressLog::whole(4));
        QVERIFY(!log.lineHiddenDuringRun);
        QVERIFY(form.BrowseStatus()->isHidden());
        QCOMPARE(form.area(Area::Vault).HiddenList().size(), 4);
    }
    {
        // Esc in the second run, which leaves the window enabled, stops it at the file being
        // made when the key came: the next one, if its decode had started, else this one.
        QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行/奈良")));
        BrowseProgressLog log(form);
        log.escAt(2, 1);
        f.prompts.clear();
        f.prompts.answerInput(QStringLiteral("京都"));
        form.dirpopup_mod()->trigger();
        QCOMPARE(log.runs.size(), 2);
        QCOMPARE(log.runs[0].lines, BrowseProgressLog::whole(3));
        const QStringList& lines = log.runs[1].lines;
        QVERIFY2(lines.size() == 1 || lines.size() == 2, qPrintable(lines.join(u'\n')));
        QCOMPARE(lines, BrowseProgressLog::whole(4).mid(0, lines.size()));
        QCOMPARE(form.area(Area::Vault).HiddenList().size(), lines.size());
        QVERIFY(QFileInfo(f.vault(QStringLiteral("旅行/京都"))).isDir()); // the rename itself is done
        QVERIFY(form.isEnabled());
        QVERIFY(form.BrowseStatus()->isHidden());
    }
    // Esc after the runs is not watched any more: it reaches the window and no later run
    // is stopped by it.
    QTest::keyClick(&form, Qt::Key_Escape);
    BrowseProgressLog log(form);
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    QCOMPARE(log.runs.size(), 1);
    QCOMPARE(log.runs[0].lines, BrowseProgressLog::whole(4));
}

// A right click opens the box menu from inside the tree's press; the operation rebuilds the
// tree, and the press must not then select whatever node now lies under the pointer.
void TstBoxes::menuOperationLeavesTheHighlightItSet()
{
    VaultFixture f;
    for (const char* name : { "箱1", "箱2", "箱3" })
        f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/") + QString::fromUtf8(name));
    MainForm& form = *f.form;
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    form.area(Area::Vault).ReopenTreePath(kVault);
    QAction* chosen = nullptr;
    form.setMenuOpener([&](QMenu*) { chosen->trigger(); });
    auto rightClick = [&](const QString& treePath) {
        QTreeWidgetItem* node = nodeAt(tree, treePath);
        QVERIFY(node);
        QTest::mouseClick(tree->viewport(), Qt::RightButton, {}, tree->visualItemRect(node).center());
    };
    auto highlighted = [&] {
        const QList<QTreeWidgetItem*> selected = tree->selectedItems();
        return selected.size() == 1 && selected.first() == tree->currentItem()
            ? tree->treePath(tree->currentItem())
            : QStringLiteral("(none or several)");
    };

    // Delete: the vault's top folder is reopened and listed, and stays highlighted.
    chosen = form.dirpopup_del();
    rightClick(QStringLiteral("保管庫/空箱"));
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(QStringLiteral("空箱")) }));
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("空箱"))));
    QCOMPARE(highlighted(), kVault);
    QCOMPARE(form.area(Area::Vault).HiddenList(), (QStringList { f.vault(QStringLiteral("top.png")) }));

    // Rename: the renamed box is highlighted, wherever its new name sorts.
    f.prompts.clear();
    chosen = form.dirpopup_mod();
    f.prompts.answerInput(QStringLiteral("zz"));
    rightClick(QStringLiteral("保管庫/箱1"));
    QCOMPARE(recorded(f.prompts), (QStringList { renamePrompt() }));
    QVERIFY(QFileInfo(f.vault(QStringLiteral("zz"))).isDir());
    QCOMPARE(highlighted(), QStringLiteral("保管庫/zz"));

    // A right click whose menu changes nothing still highlights the node clicked.
    form.setMenuOpener([](QMenu*) {});
    rightClick(QStringLiteral("保管庫/箱2"));
    QCOMPARE(highlighted(), QStringLiteral("保管庫/箱2"));
}

void TstBoxes::boxOperationEndsThePictureSelection()
{
    VaultFixture f;
    MainForm& form = *f.form;
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/空"));
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/z.png"), pictures::png({ 20, 20 }));
    // A box clicked, then a thumbnail of it, then the vault's rename-box button: the page
    // is re-listed, so index 0 now names another file, which a delete must not reach.
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行/京都")));
    QVERIFY(selectPicture(form, 2, f.vault(QStringLiteral("旅行/京都/b.jpg"))));
    f.prompts.answerInput(QStringLiteral("奈良"));
    form.Command4(2)->click();
    QCOMPARE(form.area(Area::Vault).HiddenList().value(0), f.vault(QStringLiteral("旅行/a.jpg")));
    QVERIFY(!chosenOnCurrentTab(form));
    QVERIFY(!isChosen(form, Area(2)));
    f.prompts.clear();
    form.Command4(3)->click();
    QVERIFY(f.prompts.calls.isEmpty());
    QVERIFY(QFileInfo::exists(f.vault(QStringLiteral("旅行/a.jpg"))));

    // The same after a delete: an empty box clicked, then the outer box collapsed, which
    // lists the outer box's pictures and leaves the empty box current.
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行/空")));
    form.area(Area::Vault)
        .TreeView1()
        ->collapseItem(nodeAt(form.area(Area::Vault).TreeView1(), QStringLiteral("保管庫/旅行")));
    QVERIFY(selectPicture(form, 2, f.vault(QStringLiteral("旅行/z.png"))));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行/空"));
    f.prompts.clear();
    form.Command4(1)->click();
    QCOMPARE(recorded(f.prompts), (QStringList { deleteAsk(QStringLiteral("空")) }));
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行/空"))));
    QVERIFY(!chosenOnCurrentTab(form));
    QVERIFY(!isChosen(form, Area(2)));
}

void TstBoxes::renameBrowseCancelKeepsWindowShown()
{
    VaultFixture f;
    MainForm& form = *f.form;
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/second.png"), pictures::png({ 20, 20 }));
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/空箱")));
    // Stops the first run (over the vault's top folder) after its first picture.
    bool stopped = false;
    const auto stop
        = connect(form.area(Area::Vault).LEADThumb1(), &ThumbnailBrowser::ThumbnailReady, &form, [&] {
              if (!stopped) {
                  stopped = true;
                  form.area(Area::Vault).LEADThumb1()->setContinueBrowsing(false);
              }
          });
    f.prompts.answerInput(QStringLiteral("箱"));
    form.dirpopup_mod()->trigger();
    disconnect(stop);
    QCOMPARE(recorded(f.prompts),
        (QStringList { renamePrompt(), message(QStringLiteral("ﾌﾞﾗｳｼﾞﾝｸﾞをｷｬﾝｾﾙしました")) }));
    QVERIFY(form.isVisible());
    QVERIFY(form.isEnabled());
    // The handler went on: tree opened at the box, the page lists the vault in full.
    QCOMPARE(form.area(Area::Vault).TreeView1()->treePath(form.area(Area::Vault).TreeView1()->currentItem()),
        QStringLiteral("保管庫/箱"));
    QCOMPARE(form.area(Area::Vault).HiddenList(),
        (QStringList { f.vault(QStringLiteral("second.png")), f.vault(QStringLiteral("top.png")) }));
}

QTEST_MAIN(TstBoxes)
#include "tst_boxes.moc"
