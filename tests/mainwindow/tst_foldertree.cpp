#include "tst_mainwindow.h"

#include "MainFormFixture.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailList.h"
#include "platform/FolderList.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using namespace ztv;
using ztv::test::MainFormFixture;

namespace {

QTreeWidgetItem* child(QTreeWidgetItem* parent, const QString& text)
{
    for (int i = 0; i < parent->childCount(); ++i) {
        if (parent->child(i)->text(0) == text)
            return parent->child(i);
    }
    return nullptr;
}

QStringList childTexts(QTreeWidgetItem* parent)
{
    QStringList out;
    for (int i = 0; i < parent->childCount(); ++i)
        out << parent->child(i)->text(0);
    return out;
}

// A "disc" mounted at a temporary folder, seen as the only optical drive.
void mountDisc(MainFormFixture& f, const QString& mountPoint)
{
    f.drives.devices = { QStringLiteral("/dev/sr0") };
    f.drives.mountTable = { { QStringLiteral("/dev/sr0"), mountPoint, QStringLiteral("iso9660") } };
}

} // namespace

void TstMainWindow::folderList()
{
    QTemporaryDir dir;
    for (const char* name : { "beta", "Alpha", "gamma", ".hidden", "写真", "Beta2" })
        QVERIFY(QDir(dir.path()).mkdir(QString::fromUtf8(name)));
    QFile file(dir.filePath(QStringLiteral("a-file")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    FolderList list;
    QVERIFY(list.setPath(dir.path() + QLatin1Char('/')));
    QCOMPARE(list.path(), dir.path());
    const QString p = dir.path() + QLatin1Char('/');
    QCOMPARE(list.folders(), (QStringList { p + "Alpha", p + "beta", p + "Beta2", p + "gamma", p + "写真" }));
    QCOMPARE(list.count(), 5);

    // A folder that cannot be read is an error and leaves the list as it was.
    QVERIFY(!list.setPath(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(!list.setPath(dir.filePath(QStringLiteral("a-file"))));
    QCOMPARE(list.path(), dir.path());
    QCOMPARE(list.count(), 5);

    QVERIFY(QDir(dir.path()).rmdir(QStringLiteral("gamma")));
    QVERIFY(list.refresh());
    QCOMPARE(list.count(), 4);
}

void TstMainWindow::cdTreeFromDrive()
{
    QTemporaryDir disc;
    QDir(disc.path()).mkpath(QStringLiteral("DCIM/100CAMERA"));
    QDir(disc.path()).mkpath(QStringLiteral("MISC"));
    {
        MainFormFixture f;
        mountDisc(f, disc.path());
        MainForm& form = f.load();
        QTreeWidgetItem* root = form.area(Area::Cd).TreeView1()->topLevelItem(0);
        QCOMPARE(root->text(0), disc.path());
        QCOMPARE(FolderTree::nodeKey(root), disc.path());
        QCOMPARE(form.area(Area::Cd).RootName(), disc.path());
        QCOMPARE(childTexts(root), (QStringList { "DCIM", "MISC" }));
        QCOMPARE(FolderTree::nodeKey(root->child(0)), disc.path() + QStringLiteral("/DCIM"));
        form.area(Area::Cd).TreeView1()->expandItem(root);
        QCOMPARE(FolderTree::imageKey(root), QStringLiteral("Drive")); // the drive keeps its picture
        QCOMPARE(childTexts(root->child(0)), (QStringList { "100CAMERA" }));
        QCOMPARE(form.area(Area::Cd).TreeView1()->treePath(root->child(0)->child(0)),
            disc.path() + QStringLiteral("/DCIM/100CAMERA"));
        QVERIFY(f.prompts.calls.isEmpty());
    }
    {
        // A drive without a disc shows its root, without children, and no message.
        MainFormFixture f;
        f.drives.devices = { QStringLiteral("/dev/sr0") };
        MainForm& form = f.load();
        QTreeWidgetItem* root = form.area(Area::Cd).TreeView1()->topLevelItem(0);
        QCOMPARE(root->text(0), QStringLiteral("/dev/sr0"));
        QCOMPARE(root->childCount(), 0);
        QVERIFY(f.prompts.calls.isEmpty());
    }
}

void TstMainWindow::oneLevelAheadAndRepeatedExpansion()
{
    MainFormFixture f;
    f.home.fillSample();
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/旅行/京都/寺"));
    MainForm& form = f.load();
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QTreeWidgetItem* root = tree->topLevelItem(0);
    QTreeWidgetItem* trip = child(root, QStringLiteral("旅行"));
    QVERIFY(trip);
    QCOMPARE(trip->childCount(), 0);

    tree->expandItem(root);
    QCOMPARE(FolderTree::imageKey(root), QStringLiteral("FoldOpen"));
    QCOMPARE(childTexts(trip), (QStringList { "京都" })); // known before 旅行 is opened
    QCOMPARE(child(root, QStringLiteral("空箱"))->childCount(), 0);
    QCOMPARE(trip->child(0)->childCount(), 0);

    tree->expandItem(trip);
    QCOMPARE(childTexts(trip->child(0)), (QStringList { "寺" }));
    const int counted = form.area(Area::Vault).NodeCount();
    const int nodes = tree->allNodes().size();

    // Opening it again repeats the additions: they fail, only the counter moves.
    tree->collapseItem(trip);
    QCOMPARE(FolderTree::imageKey(trip), QStringLiteral("FoldClose"));
    tree->expandItem(trip);
    QCOMPARE(tree->allNodes().size(), nodes);
    QCOMPARE(childTexts(trip->child(0)), (QStringList { "寺" }));
    QCOMPARE(form.area(Area::Vault).NodeCount(), counted + 1);
}

void TstMainWindow::nodeExpReachesLastFirstLevelNode()
{
    MainFormFixture f;
    f.home.fillSample();
    f.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/空箱/中"));
    MainForm& form = f.load();
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    // Right after start-up 空箱 is the last node, beyond the node counter's reach.
    QCOMPARE(tree->allNodes().size(), int(form.area(Area::Vault).NodeCount()) + 1);
    QCOMPARE(tree->allNodes().last()->text(0), QStringLiteral("空箱"));

    form.area(Area::Vault).Node_Exp(QStringLiteral("保管庫/空箱"));
    QTreeWidgetItem* empty = child(tree->topLevelItem(0), QStringLiteral("空箱"));
    QCOMPARE(tree->currentItem(), empty);
    QVERIFY(empty->isExpanded());

    const int nodes = tree->allNodes().size();
    form.area(Area::Vault).Node_Exp(QStringLiteral("保管庫/無い箱"));
    QCOMPARE(tree->currentItem(), empty);
    QCOMPARE(tree->allNodes().size(), nodes);
}

void TstMainWindow::reopenTreePathOpensDownToBox()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.area(Area::Vault).ReopenTreePath(QStringLiteral("保管庫/旅行/京都"));
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    QCOMPARE(tree->treePath(tree->currentItem()), QStringLiteral("保管庫/旅行/京都"));
    QVERIFY(tree->topLevelItem(0)->isExpanded());
    QVERIFY(child(tree->topLevelItem(0), QStringLiteral("旅行"))->isExpanded());
}

void TstMainWindow::expansionErrorRebuildsOnlyTheCdTree()
{
    QTemporaryDir disc;
    QDir(disc.path()).mkpath(QStringLiteral("A/B"));
    QDir(disc.path()).mkpath(QStringLiteral("C"));
    MainFormFixture f;
    f.home.fillSample();
    mountDisc(f, disc.path());
    MainForm& form = f.load();

    // The stock yard or vault tree keeps its nodes when a folder vanished under it, and
    // the CD tree is not touched.
    FolderTree* vaultTree = form.area(Area::Vault).TreeView1();
    QTreeWidgetItem* vaultRoot = vaultTree->topLevelItem(0);
    vaultTree->expandItem(vaultRoot);
    QTreeWidgetItem* trip = child(vaultRoot, QStringLiteral("旅行"));
    QVERIFY(QDir(f.home.vault() + QStringLiteral("/旅行")).removeRecursively());
    QTreeWidgetItem* cdRoot = form.area(Area::Cd).TreeView1()->topLevelItem(0);
    vaultTree->expandItem(trip);
    QCoreApplication::processEvents();
    QCOMPARE(form.area(Area::Cd).TreeView1()->topLevelItem(0), cdRoot);
    QCOMPARE(childTexts(cdRoot), (QStringList { "A", "C" }));
    QCOMPARE(child(vaultRoot, QStringLiteral("旅行")), trip);

    // On the CD tab the disc is read again.
    FolderTree* cd = form.area(Area::Cd).TreeView1();
    cd->expandItem(cdRoot);
    QTreeWidgetItem* a = child(cdRoot, QStringLiteral("A"));
    QCOMPARE(a->childCount(), 1);
    QVERIFY(QDir(disc.path() + QStringLiteral("/A")).removeRecursively());
    QDir(disc.path()).mkpath(QStringLiteral("D"));
    cd->expandItem(a);
    QCoreApplication::processEvents();
    QCOMPARE(cd->topLevelItemCount(), 1);
    QCOMPARE(childTexts(cd->topLevelItem(0)), (QStringList { "C", "D" }));
    QVERIFY(f.prompts.calls.isEmpty());
}

void TstMainWindow::nodeClickListsFolder()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    FolderTree* tree = form.area(Area::Vault).TreeView1();
    tree->expandItem(tree->topLevelItem(0));
    form.area(Area::Vault).LEADImgList1_Click(0);
    QVERIFY(isChosen(form, Area(2)));
    QVERIFY(form.area(Area::Vault).LEAD1()->hasPicture());

    QTreeWidgetItem* trip = child(tree->topLevelItem(0), QStringLiteral("旅行"));
    form.area(Area::Vault).TreeView1_NodeClick(trip);
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/旅行"));
    QCOMPARE(form.area(Area::Vault).HiddenList(),
        (QStringList { f.home.vault() + QStringLiteral("/旅行/a.jpg") }));
    QVERIFY(!isChosen(form, Area(2)));
    QVERIFY(!form.area(Area::Vault).LEAD1()->hasPicture());
    QCOMPARE(form.area(Area::Vault).Label3()->text(), QStringLiteral("1"));

    // Collapsing lists the collapsed folder but keeps the current folder.
    tree->expandItem(trip);
    form.area(Area::Vault).TreeView1_NodeClick(tree->topLevelItem(0));
    QCOMPARE(form.area(Area::Vault).HiddenList().size(), 1);
    tree->collapseItem(trip);
    QCOMPARE(form.area(Area::Vault).HiddenList(),
        (QStringList { f.home.vault() + QStringLiteral("/旅行/a.jpg") }));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫"));
}

void TstMainWindow::cdRootClickReloadsDisc()
{
    QTemporaryDir disc;
    QDir(disc.path()).mkpath(QStringLiteral("A"));
    QFile pic(disc.filePath(QStringLiteral("root.png")));
    QVERIFY(pic.open(QIODevice::WriteOnly));
    pic.write(test::pictures::png({ 30, 30 }));
    pic.close();
    MainFormFixture f;
    mountDisc(f, disc.path());
    MainForm& form = f.load();
    QCOMPARE(form.area(Area::Cd).HiddenList().size(), 0);

    // Another disc goes in: clicking the drive's root reads it afresh and lists its root.
    QDir(disc.path()).mkpath(QStringLiteral("B"));
    form.area(Area::Cd).TreeView1_NodeClick(form.area(Area::Cd).TreeView1()->topLevelItem(0));
    QCOMPARE(childTexts(form.area(Area::Cd).TreeView1()->topLevelItem(0)), (QStringList { "A", "B" }));
    QCOMPARE(form.area(Area::Cd).HiddenList(), (QStringList { disc.filePath(QStringLiteral("root.png")) }));
    QCOMPARE(form.area(Area::Cd).CurrentNodePath(), disc.path());
    QCOMPARE(form.area(Area::Cd).Combo1()->count(), 1);
}

void TstMainWindow::treeMouseButtons()
{
    MainFormFixture f;
    f.home.fillSample();
    MainForm& form = f.load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1()->setCurrentIndex(2);
    FolderTree* vault = form.area(Area::Vault).TreeView1();
    vault->expandItem(vault->topLevelItem(0));
    QTreeWidgetItem* box = child(vault->topLevelItem(0), QStringLiteral("空箱"));
    const QPoint onBox = vault->visualItemRect(box).center();

    form.area(form.currentArea().value()).LEADImgList1_Click(0);
    QVERIFY(chosenOnCurrentTab(form));
    QTest::mouseClick(vault->viewport(), Qt::RightButton, {}, onBox);
    QCOMPARE(f.openedMenus, (QStringList { "menu_L" }));
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/空箱"));
    QCOMPARE(vault->currentItem(), box);
    QCOMPARE(vault->dropHighlight(), nullptr);
    // The flag goes; the display keeps the picture until a click lists another folder.
    QVERIFY(!form.pictureSelected());
    QVERIFY(chosenOnCurrentTab(form));

    // Empty space of the vault tree, and any button over the other trees: no menu, but the
    // selection flag still goes.
    form.area(form.currentArea().value()).LEADImgList1_Click(0);
    QVERIFY(chosenOnCurrentTab(form));
    QTest::mouseClick(vault->viewport(), Qt::RightButton, {}, QPoint(5, vault->viewport()->height() - 5));
    QCOMPARE(f.openedMenus.size(), 1);
    QCOMPARE(form.area(Area::Vault).CurrentNodePath(), QStringLiteral("保管庫/空箱"));
    QVERIFY(!form.pictureSelected());
    form.SSTab1()->setCurrentIndex(1);
    form.area(form.currentArea().value()).LEADImgList1_Click(0);
    QVERIFY(form.pictureSelected());
    FolderTree* stock = form.area(Area::StockYard).TreeView1();
    QTest::mouseClick(
        stock->viewport(), Qt::RightButton, {}, stock->visualItemRect(stock->topLevelItem(0)).center());
    QCOMPARE(f.openedMenus.size(), 1);
    QVERIFY(!form.pictureSelected());
    // A left click that lists the node's folder ends the tab's choice too.
    stock->setCurrentItem(nullptr);
    QTest::mouseClick(
        stock->viewport(), Qt::LeftButton, {}, stock->visualItemRect(stock->topLevelItem(0)).center());
    QVERIFY(!chosenOnCurrentTab(form));
    QVERIFY(!form.area(Area::StockYard).LEAD1()->hasPicture());
}
