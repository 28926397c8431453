// Thumbnails dragged onto a vault box, files dropped from another program, pictures dropped
// onto the paste tab. QTest has no drag: the events a drag makes are sent to the target.
#include "DelayFsMount.h"
#include "FilingTestUtil.h"
#include "display/PictureDrag.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/ContentIndex.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDrag>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QSignalSpy>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidgetItemIterator>
#include <QUrl>

using namespace ztv;
using namespace ztv::test;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// What the target made of a drag: the pointer's last move taken, the row highlighted then,
// the drop taken.
struct DragSeen {
    bool moveAccepted = false;
    QTreeWidgetItem* highlighted = nullptr;
    bool dropAccepted = false;
};

// Enter, move and drop at a point of a widget, then the queued filing run.
DragSeen dragTo(QWidget* target, QPoint at, const QMimeData& data, Qt::KeyboardModifiers keys,
    const std::function<QTreeWidgetItem*()>& highlight = {})
{
    DragSeen seen;
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, keys);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, keys);
    QApplication::sendEvent(target, &move);
    seen.moveAccepted = move.isAccepted();
    if (highlight)
        seen.highlighted = highlight();
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, keys);
    QApplication::sendEvent(target, &drop);
    seen.dropAccepted = drop.isAccepted();
    QCoreApplication::processEvents();
    return seen;
}

// The same onto a node of a folder tree (the tree path), at its row.
DragSeen dropOnNode(FolderTree* tree, const QString& treePath, const QMimeData& data,
    Qt::KeyboardModifiers keys = Qt::NoModifier)
{
    QTreeWidgetItem* node = nodeAt(tree, treePath);
    if (!node)
        return {};
    tree->scrollToItem(node);
    return dragTo(tree->viewport(), tree->visualItemRect(node).center(), data, keys,
        [tree] { return tree->dropHighlight(); });
}

// Presses the left button on an item of the tab's thumbnails and moves the pointer far enough
// to start a drag: what the drag carried (copied while it ran, the drag then cancelled); null
// when no drag started.
std::unique_ptr<QMimeData> dragFromThumbnail(BrowsingArea& tab, int item, Qt::KeyboardModifiers keys = {})
{
    QAbstractItemView* view = tab.LEADImgList1()->view();
    QWidget* viewport = view->viewport();
    const QPoint at = view->visualRect(view->model()->index(item, 0)).center();
    std::unique_ptr<QMimeData> carried;
    bool ran = false;
    QTimer::singleShot(0, view, [&] {
        ran = true;
        const QList<QDrag*> drags = view->findChildren<QDrag*>();
        if (drags.isEmpty() || !drags.last()->mimeData())
            return;
        carried = std::make_unique<QMimeData>();
        for (const QString& format : drags.last()->mimeData()->formats())
            carried->setData(format, drags.last()->mimeData()->data(format));
        QDrag::cancel();
    });
    QTest::mousePress(viewport, Qt::LeftButton, keys, at);
    const QPoint to = at + QPoint(QApplication::startDragDistance() + 4, 0);
    for (const QPoint& p : { to, to + QPoint(4, 0) }) {
        QMouseEvent move(QEvent::MouseMove, p, viewport->mapToGlobal(p), Qt::NoButton, Qt::LeftButton, keys);
        QApplication::sendEvent(viewport, &move);
    }
    QTest::mouseRelease(viewport, Qt::LeftButton, keys, to);
    // When no drag ran, the copy is still to come; a hang guard only.
    QDeadlineTimer guard(30000);
    while (!ran && !guard.hasExpired())
        QTest::qWait(5);
    return carried;
}

QStringList pathsOf(const QList<PictureChoice>& files)
{
    QStringList paths;
    for (const PictureChoice& c : files)
        paths << c.path;
    return paths;
}

// A stock yard of six pictures, a vault with the boxes 箱 and 箱/小箱 and 別箱, a disc of three.
struct Fixture {
    Fixture()
    {
        drives.envHome = home.home();
        for (int i = 0; i < 6; ++i)
            home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/p%1.jpg").arg(i),
                pictures::jpeg({ 24, 16 }, QColor::fromHsv(i * 40, 200, 200)));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/小箱"));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/別箱"));
        for (int i = 0; i < 3; ++i) {
            QFile f(disc.filePath(QStringLiteral("d%1.jpg").arg(i)));
            if (f.open(QIODevice::WriteOnly))
                f.write(pictures::jpeg({ 20, 20 }, QColor::fromHsv(i * 80, 255, 150)));
        }
        drives.devices = { QStringLiteral("/dev/sr0") };
        drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
        form = std::make_unique<MainForm>(services);
        form->setMenuOpener([](QMenu*) {});
        form->setQuitHandler([] {});
        form->Form_Load();
        form->show();
        clickNode(*form, 1, QStringLiteral("ストックヤード"));
    }
    BrowsingArea& stock() { return form->area(Area::StockYard); }
    BrowsingArea& vault() { return form->area(Area::Vault); }
    QString stockFile(int i) const { return home.stockYard() + QStringLiteral("/p%1.jpg").arg(i); }
    QString inBox(const QString& name) const { return home.vault() + QStringLiteral("/箱/") + name; }
    // What a drag of the tab's chosen thumbnails carries.
    std::unique_ptr<QMimeData> dragOf(BrowsingArea& tab)
    {
        return std::unique_ptr<QMimeData>(tab.LEADImgList1()->dragData());
    }
    FolderTree* vaultTree()
    {
        form->SSTab1()->setCurrentIndex(2);
        return vault().TreeView1();
    }

    TestHome home;
    QTemporaryDir disc;
    RecordingPrompts prompts;
    FakeShell shell;
    FakeDrives drives;
    FakeSpreadsheet spreadsheet;
    Services services { prompts, shell, drives, spreadsheet, realFileOps() };
    std::unique_ptr<MainForm> form;
};

} // namespace

class TstDragDrop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stockYardOntoVaultTabMovesOrCopiesWithCtrl();
    void dragCarriesWhatItStartsOn();
    void dragWithCtrlOrShiftFromOutsideTheChoice();
    void discOntoBoxCopiesAndChooserTreeMoves();
    void refusedDrops();
    void changedFileFilesNothing();
    void filesOfAnotherProgramAreCopied();
    void restingOpensBoxAndBringsVaultForward();
    void pictureOntoPasteTab();
    void vaultPictureFromFileManagerAsks();
    void dropFromSlowShareKeepsWindowRunning();
};

void TstDragDrop::stockYardOntoVaultTabMovesOrCopiesWithCtrl()
{
    Fixture f;
    const QByteArray p1 = contents(f.stockFile(1)), p2 = contents(f.stockFile(2)),
                     p4 = contents(f.stockFile(4));
    f.stock().LEADImgList1_Click(1);
    f.stock().LEADImgList1_ClickWith(2, Qt::ShiftModifier);
    // A press and a move start a drag only from items the model lets be dragged.
    QAbstractItemModel* model = f.stock().LEADImgList1()->model();
    QVERIFY(model->flags(model->index(1, 0)).testFlag(Qt::ItemIsDragEnabled));
    std::unique_ptr<QMimeData> data = f.dragOf(f.stock());
    QVERIFY(data);
    QVERIFY(data->hasUrls()); // other programs still get the files
    QSignalSpy stockListings(f.stock().LEADThumb1(), &ThumbnailBrowser::BrowseStarted);
    QSignalSpy vaultListings(f.vault().LEADThumb1(), &ThumbnailBrowser::BrowseStarted);

    FolderTree* tree = f.vaultTree();
    const DragSeen seen = dropOnNode(tree, QStringLiteral("保管庫/箱"), *data);
    QVERIFY(seen.moveAccepted);
    QCOMPARE(seen.highlighted, nodeAt(tree, QStringLiteral("保管庫/箱")));
    QVERIFY(seen.dropAccepted);
    QCOMPARE(tree->dropHighlight(), nullptr);
    QCOMPARE(recorded(f.prompts), QStringList());
    // Moved: gone from the stock yard, the same bytes in the box, each side listed once.
    QVERIFY(!QFileInfo::exists(f.stockFile(1)));
    QVERIFY(!QFileInfo::exists(f.stockFile(2)));
    QCOMPARE(contents(f.inBox(QStringLiteral("p1.jpg"))), p1);
    QCOMPARE(contents(f.inBox(QStringLiteral("p2.jpg"))), p2);
    QCOMPARE(stockListings.size(), 1);
    QCOMPARE(vaultListings.size(), 1);
    QCOMPARE(f.vault().CurrentNodePath(), QStringLiteral("保管庫/箱"));
    QCOMPARE(f.vault().HiddenList().size(), 2);
    QCOMPARE(f.stock().HiddenList().size(), 4);
    QCOMPARE(f.stock().chosenCount(), 0);

    // Ctrl held at the drop copies: the stock yard keeps its file.
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(4)));
    data = f.dragOf(f.stock());
    QVERIFY(
        dropOnNode(f.vaultTree(), QStringLiteral("保管庫/別箱"), *data, Qt::ControlModifier).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(contents(f.stockFile(4)), p4);
    QCOMPARE(contents(f.home.vault() + QStringLiteral("/別箱/p4.jpg")), p4);

    // Within the vault: the box's pictures moved on into another box.
    f.vault().LEADImgList1_Click(0);
    f.vault().chooseAll();
    QCOMPARE(f.vault().chosenCount(), 1);
    data = f.dragOf(f.vault());
    // Onto the box they lie in, nothing would be filed: refused.
    const DragSeen same = dropOnNode(f.vaultTree(), QStringLiteral("保管庫/別箱"), *data);
    QVERIFY(!same.moveAccepted);
    QVERIFY(!same.dropAccepted);
    QCOMPARE(contents(f.home.vault() + QStringLiteral("/別箱/p4.jpg")), p4);
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫"), *data).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList());
    QVERIFY(!QFileInfo::exists(f.home.vault() + QStringLiteral("/別箱/p4.jpg")));
    QCOMPARE(contents(f.home.vault() + QStringLiteral("/p4.jpg")), p4);
    QCOMPARE(f.vault().invariantViolation(), QString());
}

void TstDragDrop::dragCarriesWhatItStartsOn()
{
    Fixture f;
    const QByteArray p0 = contents(f.stockFile(0)), p2 = contents(f.stockFile(2));
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(1)));
    QSignalSpy shown(f.stock().LEAD1(), &PictureDisplay::pictureChanged);

    // Started on a thumbnail outside the choice: that one becomes the choice, shown as a click
    // shows it, and is what the drag carries and the drop moves.
    std::unique_ptr<QMimeData> data = dragFromThumbnail(f.stock(), 2);
    QVERIFY(data);
    QCOMPARE(pathsOf(f.stock().Chosen()), QStringList { f.stockFile(2) });
    QCOMPARE(f.stock().LEAD1()->sourcePath(), f.stockFile(2));
    QVERIFY(f.form->pictureSelected());
    QCOMPARE(f.stock().invariantViolation(), QString());
    const std::optional<PictureDrag> drag = PictureDrag::readFrom(*data);
    QVERIFY(drag);
    QCOMPARE(pathsOf(drag->files), QStringList { f.stockFile(2) });
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/箱"), *data).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(contents(f.inBox(QStringLiteral("p2.jpg"))), p2);
    QVERIFY(!QFileInfo::exists(f.stockFile(2)));
    QVERIFY(QFileInfo::exists(f.stockFile(1)));
    QVERIFY(!QFileInfo::exists(f.inBox(QStringLiteral("p1.jpg"))));

    // Started on one of several chosen: the whole choice, unchanged.
    f.form->SSTab1()->setCurrentIndex(1);
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(0)));
    const int p3 = int(f.stock().HiddenList().indexOf(f.stockFile(3)));
    f.stock().LEADImgList1_ClickWith(p3, Qt::ControlModifier);
    data = dragFromThumbnail(f.stock(), p3);
    QVERIFY(data);
    QCOMPARE(f.stock().chosenCount(), 2);
    QCOMPARE(f.stock().chosenCountLabel()->isVisible(), true);
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/別箱"), *data).dropAccepted);
    QCOMPARE(contents(f.home.vault() + QStringLiteral("/別箱/p0.jpg")), p0);
    QVERIFY(QFileInfo::exists(f.home.vault() + QStringLiteral("/別箱/p3.jpg")));

    // With nothing chosen, the drag chooses the thumbnail it starts on too.
    f.form->SSTab1()->setCurrentIndex(1);
    QCOMPARE(f.stock().chosenCount(), 0);
    const int p5 = int(f.stock().HiddenList().indexOf(f.stockFile(5)));
    data = dragFromThumbnail(f.stock(), p5);
    QVERIFY(data);
    QCOMPARE(pathsOf(PictureDrag::readFrom(*data)->files), QStringList { f.stockFile(5) });
    QCOMPARE(f.stock().TabSelection()->path, f.stockFile(5));
    QVERIFY(shown.size() >= 3);
    QCOMPARE(recorded(f.prompts), QStringList());
}

// Ctrl or Shift held through a drag started outside the choice: the thumbnail is chosen as a
// plain click chooses it, and the keys held at the drop decide copy (Ctrl) or move.
void TstDragDrop::dragWithCtrlOrShiftFromOutsideTheChoice()
{
    Fixture f;
    const QByteArray p2 = contents(f.stockFile(2)), p4 = contents(f.stockFile(4));
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(0)));
    f.stock().LEADImgList1_ClickWith(
        int(f.stock().HiddenList().indexOf(f.stockFile(1))), Qt::ControlModifier);
    QCOMPARE(f.stock().chosenCount(), 2);

    std::unique_ptr<QMimeData> data = dragFromThumbnail(
        f.stock(), int(f.stock().HiddenList().indexOf(f.stockFile(2))), Qt::ControlModifier);
    QVERIFY(data);
    QCOMPARE(pathsOf(f.stock().Chosen()), QStringList { f.stockFile(2) });
    QCOMPARE(pathsOf(PictureDrag::readFrom(*data)->files), QStringList { f.stockFile(2) });
    QCOMPARE(f.stock().invariantViolation(), QString());
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/箱"), *data, Qt::ControlModifier).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(contents(f.inBox(QStringLiteral("p2.jpg"))), p2);
    QCOMPARE(contents(f.stockFile(2)), p2);
    for (const char* name : { "p0.jpg", "p1.jpg" })
        QVERIFY(!QFileInfo::exists(f.inBox(QLatin1String(name))));

    // Shift: a range is no part of a drag; the one thumbnail is chosen and moved.
    f.form->SSTab1()->setCurrentIndex(1);
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(0)));
    data = dragFromThumbnail(
        f.stock(), int(f.stock().HiddenList().indexOf(f.stockFile(4))), Qt::ShiftModifier);
    QVERIFY(data);
    QCOMPARE(pathsOf(f.stock().Chosen()), QStringList { f.stockFile(4) });
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/箱"), *data, Qt::ShiftModifier).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(contents(f.inBox(QStringLiteral("p4.jpg"))), p4);
    QVERIFY(!QFileInfo::exists(f.stockFile(4)));
    for (int i : { 0, 1, 3 })
        QVERIFY(QFileInfo::exists(f.stockFile(i)));
}

void TstDragDrop::discOntoBoxCopiesAndChooserTreeMoves()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(0);
    BrowsingArea& cd = f.form->area(Area::Cd);
    cd.TreeView1_NodeClick(cd.TreeView1()->topLevelItem(0));
    QCOMPARE(cd.HiddenList().size(), 3);
    const auto discBefore = snapshot(f.disc.path());
    cd.LEADImgList1_Click(0);
    cd.chooseAll();
    std::unique_ptr<QMimeData> data = f.dragOf(cd);
    QVERIFY(data);
    // From a disc always a copy, Ctrl or not.
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/箱"), *data).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(snapshot(f.disc.path()), discBefore);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(contents(f.inBox(QStringLiteral("d%1.jpg").arg(i))),
            discBefore.value(QStringLiteral("/d%1.jpg").arg(i)));

    // The chooser's tree takes the stock yard's thumbnails as its action button would.
    const QByteArray p0 = contents(f.stockFile(0)), p3 = contents(f.stockFile(3));
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(0)));
    f.stock().LEADImgList1_ClickWith(3, Qt::ControlModifier);
    f.form->R_Fav_Copy()->trigger();
    SetFolder* chooser = f.form->vaultTransfer().chooser();
    QVERIFY(chooser);
    // One box at a time, as a user opens them (a tree opened whole at once is refused).
    for (QTreeWidgetItemIterator it(chooser->TreeView1); *it; ++it)
        (*it)->setExpanded(true);
    data = f.dragOf(f.stock());
    QSignalSpy stockListings(f.stock().LEADThumb1(), &ThumbnailBrowser::BrowseStarted);
    const DragSeen seen = dropOnNode(chooser->TreeView1, QStringLiteral("保管庫/箱/小箱"), *data);
    QVERIFY(seen.moveAccepted);
    QCOMPARE(seen.highlighted, nodeAt(chooser->TreeView1, QStringLiteral("保管庫/箱/小箱")));
    QVERIFY(seen.dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList());
    QVERIFY(!QFileInfo::exists(f.stockFile(0)));
    QVERIFY(!QFileInfo::exists(f.stockFile(3)));
    QCOMPARE(contents(f.inBox(QStringLiteral("小箱/p0.jpg"))), p0);
    QCOMPARE(contents(f.inBox(QStringLiteral("小箱/p3.jpg"))), p3);
    QCOMPARE(stockListings.size(), 1);
    // The request the chooser still holds is spent: its button files nothing more.
    chooser->Command1_Click(0);
    QCOMPARE(recorded(f.prompts).size(), 1);
    QCOMPARE(snapshot(f.home.vault() + QStringLiteral("/箱/小箱")).size(), 2);
}

void TstDragDrop::refusedDrops()
{
    Fixture f;
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(2)));
    std::unique_ptr<QMimeData> data = f.dragOf(f.stock());
    const auto before = snapshot(f.home.storageRoot());
    // The CD and stock-yard trees, the thumbnails, the vault tree's empty space: nothing
    // can be filed there, and the pointer says so.
    f.form->SSTab1()->setCurrentIndex(0);
    const DragSeen cd
        = dropOnNode(f.form->area(Area::Cd).TreeView1(), f.form->area(Area::Cd).RootName(), *data);
    QVERIFY(!cd.moveAccepted);
    QVERIFY(!cd.dropAccepted);
    f.form->SSTab1()->setCurrentIndex(1);
    const DragSeen stock = dropOnNode(f.stock().TreeView1(), QStringLiteral("ストックヤード"), *data);
    QVERIFY(!stock.moveAccepted);
    QVERIFY(!stock.dropAccepted);
    QAbstractItemView* thumbs = f.stock().LEADImgList1()->view();
    const DragSeen onThumbs = dragTo(thumbs->viewport(), thumbs->viewport()->rect().center(), *data, {});
    QVERIFY(!onThumbs.moveAccepted);
    QVERIFY(!onThumbs.dropAccepted);
    FolderTree* tree = f.vaultTree();
    const QPoint below(5, tree->viewport()->height() - 3);
    QCOMPARE(tree->itemAt(below), nullptr);
    const DragSeen empty = dragTo(tree->viewport(), below, *data, {});
    QVERIFY(!empty.moveAccepted);
    QVERIFY(!empty.dropAccepted);
    // Text that names no file is refused over a box too.
    QMimeData text;
    text.setText(QStringLiteral("p2.jpg"));
    QVERIFY(!dropOnNode(tree, QStringLiteral("保管庫/箱"), text).moveAccepted);
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstDragDrop::changedFileFilesNothing()
{
    Fixture f;
    f.stock().LEADImgList1_Click(0);
    f.stock().LEADImgList1_ClickWith(1, Qt::ControlModifier);
    std::unique_ptr<QMimeData> data = f.dragOf(f.stock());
    // Rewritten after the drag began: not the file chosen, so nothing at all is filed.
    QFile file(f.stockFile(1));
    QVERIFY(file.open(QIODevice::Append));
    file.write("x");
    file.close();
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/箱"), *data).dropAccepted);
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls.first().title, QStringLiteral("保管エラー"));
    QVERIFY(QFileInfo::exists(f.stockFile(0)));
    QVERIFY(QFileInfo::exists(f.stockFile(1)));
    QCOMPARE(snapshot(f.home.vault() + QStringLiteral("/箱")).size(), 1); // 小箱 alone
    QCOMPARE(f.stock().chosenCount(), 0);
}

void TstDragDrop::filesOfAnotherProgramAreCopied()
{
    Fixture f;
    QTemporaryDir outside;
    const QByteArray fresh = pictures::png({ 12, 9 }, Qt::darkCyan);
    const QByteArray clash = pictures::jpeg({ 8, 8 }, Qt::yellow);
    const QByteArray stored = pictures::jpeg({ 8, 8 }, Qt::magenta);
    QVERIFY(writeFile(outside.filePath(QStringLiteral("fresh.png")), fresh));
    QVERIFY(writeFile(outside.filePath(QStringLiteral("p9.jpg")), clash));
    QVERIFY(writeFile(outside.filePath(QStringLiteral("note.jpg")), "not a picture at all"));
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/p9.jpg"), stored);
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(outside.filePath(QStringLiteral("fresh.png"))),
        QUrl::fromLocalFile(outside.filePath(QStringLiteral("p9.jpg"))),
        QUrl::fromLocalFile(outside.filePath(QStringLiteral("note.jpg"))) });

    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/箱"), data).dropAccepted);
    // Copied, never moved; the clash kept as it was; one message names the two not filed.
    QCOMPARE(contents(f.inBox(QStringLiteral("fresh.png"))), fresh);
    QCOMPARE(contents(f.inBox(QStringLiteral("p9.jpg"))), stored);
    QVERIFY(!QFileInfo::exists(f.inBox(QStringLiteral("note.jpg"))));
    QCOMPARE(contents(outside.filePath(QStringLiteral("fresh.png"))), fresh);
    QCOMPARE(contents(outside.filePath(QStringLiteral("p9.jpg"))), clash);
    QCOMPARE(recorded(f.prompts),
        QStringList {
            critical(QStringLiteral("1 / 3 個のファイルを保管しました\r次のファイルは処理できませんでした："
                                    "\rnote.jpg（画像ファイルではありません）"
                                    "\rp9.jpg（すでに同名のファイルが保管されています）"),
                QStringLiteral("保管エラー")) });
    QCOMPARE(f.vault().HiddenList().size(), 2);
}

void TstDragDrop::restingOpensBoxAndBringsVaultForward()
{
    Fixture f;
    QVERIFY(selectPicture(*f.form, 1, f.stockFile(0)));
    std::unique_ptr<QMimeData> data = f.dragOf(f.stock());
    // Resting on the vault tab's label brings it forward.
    QTabBar* bar = f.form->SSTab1()->tabBar();
    const QPoint label = bar->tabRect(2).center();
    QDragEnterEvent enter(label, Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(bar, &enter);
    QDragMoveEvent move(label, Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(bar, &move);
    QTRY_COMPARE(f.form->SSTab1()->currentIndex(), 2);
    QDragLeaveEvent leave;
    QApplication::sendEvent(bar, &leave);

    // Resting on a closed box opens it; the box is not listed for it.
    FolderTree* tree = f.vault().TreeView1();
    QTreeWidgetItem* box = nodeAt(tree, QStringLiteral("保管庫/箱"));
    QVERIFY(box);
    tree->topLevelItem(0)->setExpanded(true); // the tree holds one level below what it shows
    box->setExpanded(false);
    QCOMPARE(box->childCount(), 1);
    QSignalSpy listings(f.vault().LEADThumb1(), &ThumbnailBrowser::BrowseStarted);
    const QPoint at = tree->visualItemRect(box).center();
    QDragEnterEvent onBox(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(tree->viewport(), &onBox);
    QDragMoveEvent rest(at, Qt::CopyAction, data.get(), Qt::LeftButton, {});
    QApplication::sendEvent(tree->viewport(), &rest);
    QVERIFY(rest.isAccepted());
    QTRY_VERIFY(box->isExpanded());
    QVERIFY(nodeAt(tree, QStringLiteral("保管庫/箱/小箱")));
    QDragLeaveEvent away;
    QApplication::sendEvent(tree->viewport(), &away);
    QCOMPARE(tree->dropHighlight(), nullptr);
    QCOMPARE(listings.size(), 0);
    QVERIFY(QFileInfo::exists(f.stockFile(0)));
}

void TstDragDrop::pictureOntoPasteTab()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(3);
    QWidget* page = f.form->SSTab1()->widget(3);
    const QPoint at = page->rect().center();
    QTemporaryDir outside;
    const QString file = outside.filePath(QStringLiteral("dropped.png"));
    QVERIFY(writeFile(file, pictures::png({ 30, 20 }, Qt::darkRed)));
    const QByteArray bytes = contents(file);

    QMimeData byFile;
    byFile.setUrls({ QUrl::fromLocalFile(file) });
    const DragSeen seen = dragTo(page, at, byFile, {});
    QVERIFY(seen.moveAccepted);
    QVERIFY(seen.dropAccepted);
    QCOMPARE(f.form->LEAD2().picture().size(), QSize(30, 20));
    QCOMPARE(f.form->LEAD2().picture().pixelColor(3, 3), QColor(Qt::darkRed));
    QCOMPARE(f.form->LEAD2().sourcePath(), QString()); // pasted, not opened
    QCOMPARE(f.form->LEAD3().picture(), f.form->LEAD2().picture());
    QCOMPARE(contents(file), bytes);

    QImage image(7, 5, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QMimeData byImage;
    byImage.setImageData(image);
    QVERIFY(dragTo(page, at, byImage, {}).dropAccepted);
    QCOMPARE(f.form->LEAD2().picture().size(), QSize(7, 5));

    // A drag naming a file is taken from its data alone (no file is read while the pointer
    // passes); a file that is no picture is refused when dropped, and what was pasted stays.
    const QString text = outside.filePath(QStringLiteral("note.txt"));
    QVERIFY(writeFile(text, "words"));
    QMimeData notPicture;
    notPicture.setUrls({ QUrl::fromLocalFile(text) });
    const DragSeen refused = dragTo(page, at, notPicture, {});
    QVERIFY(refused.moveAccepted);
    QCOMPARE(f.form->LEAD2().picture().size(), QSize(7, 5));
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(
            QStringLiteral("画像として読み込めません: ") + text, QStringLiteral("貼り付けエラー")) });
    // Text that names no file is refused as the pointer passes.
    QMimeData words;
    words.setText(QStringLiteral("dropped.png"));
    QVERIFY(!dragTo(page, at, words, {}).moveAccepted);
}

void TstDragDrop::vaultPictureFromFileManagerAsks()
{
    Fixture f;
    const QString stored = f.inBox(QStringLiteral("保管.jpg"));
    f.home.write(
        QStringLiteral("My Documents/ZTV_DATA/保管庫/箱/保管.jpg"), pictures::jpeg({ 9, 9 }, Qt::blue));
    QVERIFY(QTest::qWaitFor([&] { return f.form->contentIndex()->idle(); }, 30000));
    // A file manager's drag of a vault picture: not the program's own drag, so filed as a copy
    // from outside, and asked about first as any filing of a picture the vault holds.
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(stored) });
    const QString copy = f.home.vault() + QStringLiteral("/別箱/保管.jpg");
    f.prompts.answerMessage(PromptAnswer::Cancel);
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/別箱"), data).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList { inVaultAsk(QStringLiteral("保管庫/箱/保管.jpg")) });
    QVERIFY(!QFileInfo::exists(copy));
    f.prompts.clear();
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/別箱"), data).dropAccepted);
    QCOMPARE(recorded(f.prompts), QStringList { inVaultAsk(QStringLiteral("保管庫/箱/保管.jpg")) });
    QCOMPARE(contents(copy), contents(stored));
}

void TstDragDrop::dropFromSlowShareKeepsWindowRunning()
{
    Fixture f;
    QTemporaryDir backing, mountPoint;
    // Files that are no pictures: before this, the files were read on the window's thread and
    // nothing else ran, as nothing of them is filed.
    QVERIFY(writeFile(backing.filePath(QStringLiteral("a.jpg")), "not a picture"));
    QVERIFY(writeFile(backing.filePath(QStringLiteral("b.jpg")), "nor this one"));
    DelayFsMount share;
    const QString why = share.start(QStringLiteral(ZTV_DELAYFS), backing.path(), mountPoint.path(), 400);
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    QMimeData data;
    data.setUrls({ QUrl::fromLocalFile(mountPoint.filePath(QStringLiteral("a.jpg"))),
        QUrl::fromLocalFile(mountPoint.filePath(QStringLiteral("b.jpg"))) });
    // The window's timers run while the share is slow to answer the drop's checks.
    int ticks = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start();
    QVERIFY(dropOnNode(f.vaultTree(), QStringLiteral("保管庫/箱"), data).dropAccepted);
    QVERIFY(ticks > 0);
    QCOMPARE(recorded(f.prompts),
        QStringList {
            critical(QStringLiteral("0 / 2 個のファイルを保管しました\r次のファイルは処理できませんでした："
                                    "\ra.jpg（画像ファイルではありません）"
                                    "\rb.jpg（画像ファイルではありません）"),
                QStringLiteral("保管エラー")) });
    QVERIFY(!QFileInfo::exists(f.inBox(QStringLiteral("a.jpg"))));

    // The paste tab the same: taken at once from its data, the file read aside.
    f.prompts.clear();
    f.form->SSTab1()->setCurrentIndex(3);
    QWidget* page = f.form->SSTab1()->widget(3);
    ticks = 0;
    const DragSeen pasted = dragTo(page, page->rect().center(), data, {});
    QVERIFY(pasted.moveAccepted);
    QVERIFY(ticks > 0);
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(
            QStringLiteral("画像として読み込めません: ") + mountPoint.filePath(QStringLiteral("a.jpg")),
            QStringLiteral("貼り付けエラー")) });
    QVERIFY(f.form->LEAD2().picture().isNull());
}

QTEST_MAIN(TstDragDrop)
#include "tst_dragdrop.moc"
