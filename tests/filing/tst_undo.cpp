// Undo and redo of filing steps through the journal, and the box keys 1-9.
#include "FilingTestUtil.h"
#include "display/PreviewForm.h"
#include "filing/BoxKeys.h"
#include "filing/History.h"
#include "filing/Journal.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FilingCommands.h"
#include "platform/WorkAside.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QSemaphore>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>

using namespace ztv;
using namespace ztv::test;
using faults::Op;

namespace {

const QString kTaken = QStringLiteral("元の場所に同名のファイルがあります");
const QString kChanged = QStringLiteral("操作の後に移動、削除または変更されています");

// A stock yard of three pictures, a vault with two boxes and one picture, a disc of two;
// the real window on it. restart() closes the window and starts a new one on the same home.
struct Fixture : MainFormFixture {
    Fixture()
    {
        for (const char* name : { "a.jpg", "b.jpg", "c.jpg" })
            home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/") + QLatin1String(name),
                pictures::jpeg({ 16, 16 }, QColor(name[0] * 2, 90, 40)));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A"));
        home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱B"));
        home.write(
            QStringLiteral("My Documents/ZTV_DATA/保管庫/v.jpg"), pictures::jpeg({ 16, 16 }, Qt::blue));
        for (const char* name : { "d1.jpg", "d2.jpg" }) {
            QFile file(disc.filePath(QLatin1String(name)));
            if (file.open(QIODevice::WriteOnly))
                file.write(pictures::jpeg({ 12, 12 }, QColor(name[1] * 3, 10, 200)));
        }
        drives.devices = { QStringLiteral("/dev/sr0") };
        drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
        start();
    }
    void start()
    {
        load();
        form->show();
        // The undo and redo keys are the window's shortcuts, which act in the active window.
        form->activateWindow();
        static_cast<void>(QTest::qWaitForWindowActive(form.get()));
    }
    void restart()
    {
        form.reset();
        start();
    }
    QString stock(const QString& name) const { return home.stockYard() + u'/' + name; }
    QString box(const QString& box, const QString& name = QString()) const
    {
        return home.vault() + u'/' + box + (name.isEmpty() ? QString() : u'/' + name);
    }
    QString trash(const QString& name) const
    {
        return home.home() + QStringLiteral("/.local/share/Trash/") + name;
    }
    bool chooseOn(int tab, const QString& file) { return selectPicture(*form, tab, file); }
    void listCd()
    {
        form->SSTab1()->setCurrentIndex(0);
        BrowsingArea& cd = form->area(Area::Cd);
        cd.TreeView1_NodeClick(cd.TreeView1()->topLevelItem(0));
    }
    QStringList history()
    {
        form->filingCommands().History()->trigger();
        QStringList out;
        QListWidget* list = form->filingCommands().undoRedo().historyList();
        for (int i = 0; list && i < list->count(); ++i)
            out << list->item(i)->text();
        return out;
    }
    QTemporaryDir disc;
};

bool exists(const QString& path)
{
    return QFileInfo::exists(path);
}

} // namespace

class TstUndo : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void moveUndoneAndRedoneAcrossRestart();
    void copyUndoneToTheTrash();
    void renameAndDeleteUndone();
    void batchIsOneStep();
    void droppedPicturesAreOneStep();
    void boxStepsUndone();
    void takenPlaceAndChangedFileAreLeft();
    void redoAfterANewStepRedoesIt();
    void historyFollowsTheJournal();
    void refusedBoxStepsWriteNothing();
    void refusedBatchWritesNothing();
    void brokenJournalToldOnce();
    void interruptedStepReportedOnceNeverReplayed();
    void journalKeepsTheLastSteps();
    void unwritableJournalSaidOnce();
    void keysFileFromEachTab();
    void keysFollowBoxesAndSurviveRestart();
    void keysGoOnOnEveryTab();
    void twoWindowsEachWithItsOwnKeys();
    void nothingElseFilesInsideALargeCopy();
    void chooserActsNotInsideADroppedCopy();
    void historyButtonsFromAnotherTabThenKeys();
};

void TstUndo::moveUndoneAndRedoneAcrossRestart()
{
    Fixture f;
    const QByteArray bytes = contents(f.stock(QStringLiteral("a.jpg")));
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    QVERIFY(exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));

    f.restart();
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(f.history().value(0), QStringLiteral("a.jpg を 箱A へ移動"));
    f.form->SSTab1()->setCurrentIndex(1);
    QTest::keyClick(f.form->area(Area::StockYard).LEADImgList1()->view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(contents(f.stock(QStringLiteral("a.jpg"))), bytes);
    QVERIFY(!exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    // The stock yard's page shows the file back.
    QVERIFY(f.form->area(Area::StockYard).HiddenList().contains(f.stock(QStringLiteral("a.jpg"))));
    QCOMPARE(f.history().value(0), QStringLiteral("a.jpg を 箱A へ移動（取り消し済み）"));

    f.restart();
    QTest::keyClick(f.form.get(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(contents(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))), bytes);
    QVERIFY(!exists(f.stock(QStringLiteral("a.jpg"))));
    f.form->filingCommands().Redo()->trigger();
    QCOMPARE(recorded(f.prompts), QStringList { message(QStringLiteral("やり直す操作がありません")) });
}

void TstUndo::copyUndoneToTheTrash()
{
    Fixture f;
    f.listCd();
    const QString source = f.disc.filePath(QStringLiteral("d1.jpg"));
    QVERIFY(f.chooseOn(0, source));
    QVERIFY(fileThroughChooser(*f.form, f.form->RCD_Fav_Copy(), QStringLiteral("保管庫/箱B")));
    const QString copy = f.box(QStringLiteral("箱B"), QStringLiteral("d1.jpg"));
    QCOMPARE(contents(copy), contents(source));
    QCOMPARE(f.history().value(0), QStringLiteral("d1.jpg を 箱B へコピー"));

    f.form->filingCommands().Undo()->trigger();
    QVERIFY(!exists(copy));
    // Not deleted for good: the copy waits in the trash, the disc's file is untouched.
    QCOMPARE(contents(f.trash(QStringLiteral("files/d1.jpg"))), contents(source));
    QVERIFY(exists(f.trash(QStringLiteral("info/d1.jpg.trashinfo"))));

    f.form->filingCommands().Redo()->trigger();
    QCOMPARE(contents(copy), contents(source));
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::renameAndDeleteUndone()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(2);
    const QString v = f.box(QStringLiteral("v.jpg"));
    const QByteArray bytes = contents(v);
    QVERIFY(f.chooseOn(2, v));
    f.prompts.answerInput(QStringLiteral("新"));
    f.form->RF_Mod()->trigger();
    const QString renamed = f.box(QStringLiteral("新.jpg"));
    QCOMPARE(contents(renamed), bytes);
    f.form->filingCommands().Undo()->trigger();
    QCOMPARE(contents(v), bytes);
    QVERIFY(!exists(renamed));
    f.form->filingCommands().Redo()->trigger();
    QCOMPARE(contents(renamed), bytes);

    QVERIFY(f.chooseOn(2, renamed));
    f.form->RF_Del()->trigger();
    QVERIFY(!exists(renamed));
    QVERIFY(exists(f.trash(QStringLiteral("info/新.jpg.trashinfo"))));
    f.prompts.clear();
    QCOMPARE(f.history().mid(0, 2),
        (QStringList { QStringLiteral("新.jpg を削除"), QStringLiteral("v.jpg の名前を 新.jpg に変更") }));
    f.restart();
    f.form->filingCommands().Undo()->trigger();
    // Back from the trash, and its record gone with it.
    QCOMPARE(contents(renamed), bytes);
    QVERIFY(!exists(f.trash(QStringLiteral("files/新.jpg"))));
    QVERIFY(!exists(f.trash(QStringLiteral("info/新.jpg.trashinfo"))));
    QVERIFY(f.form->area(Area::Vault).HiddenList().contains(renamed));
    f.form->filingCommands().Undo()->trigger();
    QCOMPARE(contents(v), bytes);
    f.form->filingCommands().Redo()->trigger();
    f.form->filingCommands().Redo()->trigger();
    QVERIFY(!exists(renamed));
    QCOMPARE(contents(f.trash(QStringLiteral("files/新.jpg"))), bytes);
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::batchIsOneStep()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(1);
    BrowsingArea& stock = f.form->area(Area::StockYard);
    stock.LEADImgList1_Click(0);
    stock.chooseAll();
    QCOMPARE(stock.chosenCount(), 3);
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    QCOMPARE(QDir(f.box(QStringLiteral("箱A"))).entryList(QDir::Files).size(), 3);
    QCOMPARE(f.history().value(0), QStringLiteral("3 個のファイルを 箱A へ移動"));
    QCOMPARE(f.form->journal()->steps().size(), 1);

    f.form->filingCommands().Undo()->trigger();
    for (const char* name : { "a.jpg", "b.jpg", "c.jpg" })
        QVERIFY(exists(f.stock(QLatin1String(name))));
    QCOMPARE(QDir(f.box(QStringLiteral("箱A"))).entryList(QDir::Files).size(), 0);
    QCOMPARE(stock.HiddenList().size(), 3);
    f.form->filingCommands().Redo()->trigger();
    QCOMPARE(QDir(f.box(QStringLiteral("箱A"))).entryList(QDir::Files).size(), 3);
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::droppedPicturesAreOneStep()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(1);
    BrowsingArea& stock = f.form->area(Area::StockYard);
    stock.LEADImgList1_Click(0);
    stock.LEADImgList1_ClickWith(1, Qt::ShiftModifier);
    std::unique_ptr<QMimeData> data(stock.LEADImgList1()->dragData());
    QVERIFY(data);
    FolderTree* tree = f.form->area(Area::Vault).TreeView1();
    f.form->SSTab1()->setCurrentIndex(2);
    QTreeWidgetItem* node = nodeAt(tree, QStringLiteral("保管庫/箱B"));
    QVERIFY(node);
    tree->scrollToItem(node);
    const QPoint at = tree->visualItemRect(node).center();
    QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &move);
    QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &drop);
    QCoreApplication::processEvents();
    QVERIFY(exists(f.box(QStringLiteral("箱B"), QStringLiteral("b.jpg"))));
    QCOMPARE(f.history().value(0), QStringLiteral("2 個のファイルを 箱B へ移動"));

    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(f.stock(QStringLiteral("a.jpg"))));
    QVERIFY(exists(f.stock(QStringLiteral("b.jpg"))));
    QCOMPARE(QDir(f.box(QStringLiteral("箱B"))).entryList(QDir::Files).size(), 0);
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::boxStepsUndone()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, kVault));
    f.prompts.answerInput(QStringLiteral("新箱"));
    f.form->dirpopup_new()->trigger();
    QVERIFY(QFileInfo(f.box(QStringLiteral("新箱"))).isDir());
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱B")));
    f.prompts.answerInput(QStringLiteral("箱C"));
    f.form->dirpopup_mod()->trigger();
    QVERIFY(QFileInfo(f.box(QStringLiteral("箱C"))).isDir());
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱A")));
    f.form->dirpopup_del()->trigger();
    QVERIFY(!exists(f.box(QStringLiteral("箱A"))));
    QCOMPARE(f.history().mid(0, 3),
        (QStringList { QStringLiteral("整理箱 箱A を削除"), QStringLiteral("整理箱 箱B の名称を 箱C に変更"),
            QStringLiteral("整理箱 新箱 を追加") }));
    f.prompts.clear();

    f.form->filingCommands().Undo()->trigger();
    QVERIFY(QFileInfo(f.box(QStringLiteral("箱A"))).isDir());
    // The tree shows the box again.
    QVERIFY(nodeAt(f.form->area(Area::Vault).TreeView1(), QStringLiteral("保管庫/箱A")));
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(QFileInfo(f.box(QStringLiteral("箱B"))).isDir());
    QVERIFY(!exists(f.box(QStringLiteral("箱C"))));
    // A box that holds a picture since is not taken away.
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/新箱/x.jpg"), pictures::jpeg({ 8, 8 }));
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(f.box(QStringLiteral("新箱"), QStringLiteral("x.jpg"))));
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(QStringLiteral("次のものは元に戻せませんでした（そのまま残しています）：\r"
                                              "新箱（整理箱が空ではありません）"),
            QStringLiteral("取り消しエラー")) });
    f.prompts.clear();
    // Said once, marked, and passed over from then on.
    QCOMPARE(f.history().value(2), QStringLiteral("整理箱 新箱 を追加（元に戻せません）"));
    QFile::remove(f.box(QStringLiteral("新箱"), QStringLiteral("x.jpg")));
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(f.box(QStringLiteral("新箱"))));
    QCOMPARE(recorded(f.prompts), QStringList { message(QStringLiteral("元に戻す操作がありません")) });
    f.prompts.clear();
    // Redone last undo first: the rename, then the delete.
    f.form->filingCommands().Redo()->trigger();
    QVERIFY(exists(f.box(QStringLiteral("箱C"))));
    QVERIFY(exists(f.box(QStringLiteral("箱A"))));
    f.form->filingCommands().Redo()->trigger();
    QVERIFY(!exists(f.box(QStringLiteral("箱A"))));
    QVERIFY(exists(f.box(QStringLiteral("新箱"))));
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::takenPlaceAndChangedFileAreLeft()
{
    Fixture f;
    const QString a = f.stock(QStringLiteral("a.jpg"));
    const QString filedA = f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"));
    const QString b = f.stock(QStringLiteral("b.jpg"));
    const QString filedB = f.box(QStringLiteral("箱A"), QStringLiteral("b.jpg"));
    QVERIFY(f.chooseOn(1, a));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    QVERIFY(f.chooseOn(1, b));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    const QByteArray filedBytes = contents(filedB);
    // Another file took the original place: both stay.
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/b.jpg"), "new");
    f.form->filingCommands().Undo()->trigger();
    QCOMPARE(contents(b), QByteArray("new"));
    QCOMPARE(contents(filedB), filedBytes);
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(QStringLiteral("次のものは元に戻せませんでした（そのまま残しています）：\r"
                                              "b.jpg（")
                + kTaken + u'）',
            QStringLiteral("取り消しエラー")) });
    f.prompts.clear();
    QFile::remove(b);
    // The refused step is passed over: the next undo reaches the one before it.

    // The filed file was changed since: it is not moved back.
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/a.jpg"), "edited");
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(!exists(a));
    QCOMPARE(contents(filedA), QByteArray("edited"));
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(QStringLiteral("次のものは元に戻せませんでした（そのまま残しています）：\r"
                                              "a.jpg（")
                + kChanged + u'）',
            QStringLiteral("取り消しエラー")) });
}

void TstUndo::redoAfterANewStepRedoesIt()
{
    Fixture f;
    const QString a = f.stock(QStringLiteral("a.jpg")), b = f.stock(QStringLiteral("b.jpg"));
    QVERIFY(f.chooseOn(1, a));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(a));
    QVERIFY(f.chooseOn(1, b));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱B")));
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(b));
    // Ctrl+Y takes back the last undo (b's), never the step the new one replaced.
    f.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(f.form.get()));
    QTest::keyClick(f.form.get(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(recorded(f.prompts), QStringList());
    QVERIFY(exists(f.box(QStringLiteral("箱B"), QStringLiteral("b.jpg"))));
    QVERIFY(exists(a));
    QVERIFY(!exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    f.form->filingCommands().Redo()->trigger();
    QVERIFY(exists(a));
    QCOMPARE(recorded(f.prompts), QStringList { message(QStringLiteral("やり直す操作がありません")) });
}

void TstUndo::historyFollowsTheJournal()
{
    Fixture f;
    UndoRedo& undoRedo = f.form->filingCommands().undoRedo();
    f.form->filingCommands().History()->trigger();
    QListWidget* list = undoRedo.historyList();
    QVERIFY(list);
    QCOMPARE(list->count(), 0);
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    // The open window lists the new step without being opened again.
    QCOMPARE(list->item(0)->text(), QStringLiteral("a.jpg を 箱A へ移動"));

    // Another window on the same home adds a box. 元に戻す, pressed before this list looked
    // again, takes back nothing it does not show: the list is brought up to date instead.
    FilingJournal other(realFileOps(), FilingJournal::defaultFolder());
    other.setStorageRoot(f.home.storageRoot());
    const auto addBox = [&](const QString& box) {
        const qint64 id = other.begin(JournalStep::Kind::BoxAdd, { { box, {}, {}, {}, {}, false } });
        QDir().mkdir(box);
        other.finish(id, { { box, {}, {}, FilingJournal::folderIdentityAt(box), {}, true } });
    };
    const QString box = f.box(QStringLiteral("他の箱"));
    addBox(box);
    QPushButton* undoButton
        = undoRedo.historyWindow()->findChild<QPushButton*>(QStringLiteral("HistoryUndo"));
    QVERIFY(undoButton);
    undoButton->click();
    QVERIFY(QFileInfo(box).isDir());
    QVERIFY(exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    QCOMPARE(list->item(0)->text(), QStringLiteral("整理箱 他の箱 を追加"));
    QCOMPARE(recorded(f.prompts),
        QStringList { message(QStringLiteral("ほかのウィンドウで操作の履歴が変わりました\r"
                                             "一覧を確かめてから、もう一度操作してください"),
            QStringLiteral("履歴")) });
    f.prompts.clear();
    undoButton->click();
    QVERIFY(!exists(box));
    QCOMPARE(list->item(0)->text(), QStringLiteral("整理箱 他の箱 を追加（取り消し済み）"));
    // The other window's next step shows while the window is open, with no press at all.
    addBox(f.box(QStringLiteral("箱Z")));
    QTRY_COMPARE_WITH_TIMEOUT(list->item(0)->text(), QStringLiteral("整理箱 箱Z を追加"), 30000);
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::refusedBoxStepsWriteNothing()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, kVault));
    const QString journal = FilingJournal::defaultFolder() + QStringLiteral("/journal");
    const QByteArray before = contents(journal);
    const auto storage = snapshot(f.home.home() + QStringLiteral("/My Documents"));
    f.prompts.answerInput(QStringLiteral("../逃げ"));
    f.form->dirpopup_new()->trigger();
    // Names taken already, and a box that holds a picture.
    f.prompts.answerInput(QStringLiteral("箱B"));
    f.form->dirpopup_new()->trigger();
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱A")));
    f.prompts.answerInput(QStringLiteral("箱B"));
    f.form->dirpopup_mod()->trigger();
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/x.jpg"), "x");
    const auto withPicture = snapshot(f.home.home() + QStringLiteral("/My Documents"));
    f.form->dirpopup_del()->trigger();
    // Three names asked and the delete's question, each answered by a refusal.
    QCOMPARE(f.prompts.calls.size(), 8);
    for (int i = 1; i < 8; i += 2)
        QCOMPARE(f.prompts.calls[i].icon, PromptIcon::Critical);
    QCOMPARE(contents(journal), before);
    QVERIFY(f.form->journal()->steps().isEmpty());
    QCOMPARE(snapshot(f.home.home() + QStringLiteral("/My Documents")), withPicture);
    QVERIFY(withPicture.size() == storage.size() + 1);
}

void TstUndo::refusedBatchWritesNothing()
{
    Fixture f;
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    // Other pictures under the names of the other two: each file of the batch clashes.
    for (const char* name : { "b.jpg", "c.jpg" })
        f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/") + QLatin1String(name),
            pictures::jpeg({ 8, 8 }, Qt::green));
    const QString journal = FilingJournal::defaultFolder() + QStringLiteral("/journal");
    const QByteArray before = contents(journal);
    QVERIFY(!before.isEmpty());
    const auto storage = snapshot(f.home.home() + QStringLiteral("/My Documents"));
    f.form->SSTab1()->setCurrentIndex(1);
    BrowsingArea& stock = f.form->area(Area::StockYard);
    stock.LEADImgList1_Click(0);
    stock.chooseAll();
    QCOMPARE(stock.chosenCount(), 2);
    f.prompts.calls.clear();
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    QCOMPARE(snapshot(f.home.home() + QStringLiteral("/My Documents")), storage);
    QVERIFY(!f.prompts.calls.isEmpty());
    QCOMPARE(f.prompts.calls.last().icon, PromptIcon::Critical);
    QCOMPARE(contents(journal), before);
    QCOMPARE(f.form->journal()->steps().size(), 1);
    // The step before it is still the one undone.
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(f.stock(QStringLiteral("a.jpg"))));
}

void TstUndo::brokenJournalToldOnce()
{
    Fixture f;
    f.form.reset();
    QDir().mkpath(FilingJournal::defaultFolder());
    const QString journal = FilingJournal::defaultFolder() + QStringLiteral("/journal");
    QFile file(journal);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("\x7f\x45garbage, not a journal\n");
    file.close();
    f.start();
    QCOMPARE(f.prompts.calls.size(), 1);
    QCOMPARE(f.prompts.calls.first().icon, PromptIcon::Critical);
    QVERIFY(f.prompts.calls.first().text.contains(QStringLiteral("journal.broken")));
    QCOMPARE(contents(journal + QStringLiteral(".broken")), QByteArray("\x7f\x45garbage, not a journal\n"));
    f.prompts.clear();
    // A new journal: filing is recorded and undone as before, and nothing more is said.
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    f.restart();
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(f.stock(QStringLiteral("a.jpg"))));
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::interruptedStepReportedOnceNeverReplayed()
{
    Fixture f;
    const QString a = f.stock(QStringLiteral("a.jpg"));
    const QString planned = f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"));
    f.form.reset();
    // A move begun and never marked done, as a crash leaves it (with a half-written line after).
    QDir().mkpath(FilingJournal::defaultFolder());
    QFile journal(FilingJournal::defaultFolder() + QStringLiteral("/journal"));
    QVERIFY(journal.open(QIODevice::WriteOnly));
    journal.write("{\"op\":\"begin\",\"step\":7,\"kind\":\"move\",\"time\":1,\"entries\":[{\"from\":\""
        + a.toUtf8().toPercentEncoding("/") + "\",\"to\":\"" + planned.toUtf8().toPercentEncoding("/")
        + "\",\"id\":[],\"applied\":false}]}\n{\"op\":\"done\",\"st");
    journal.close();
    const auto before = snapshot(f.home.storageRoot());

    f.start();
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(QStringLiteral("前回、次の操作が途中で終了しました\r元に戻すことはできません。"
                                              "ファイルを確認してください：\ra.jpg を 箱A へ移動"),
            QStringLiteral("保管エラー")) });
    f.prompts.clear();
    f.form->filingCommands().Undo()->trigger();
    f.form->filingCommands().Redo()->trigger();
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(recorded(f.prompts),
        (QStringList { message(QStringLiteral("元に戻す操作がありません")),
            message(QStringLiteral("やり直す操作がありません")) }));
    QCOMPARE(f.history().value(0), QStringLiteral("a.jpg を 箱A へ移動（途中で終了）"));
    f.prompts.clear();
    // Told once only; new steps go on after it.
    f.restart();
    QCOMPARE(recorded(f.prompts), QStringList());
    QVERIFY(f.chooseOn(1, a));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    f.restart();
    f.form->filingCommands().Undo()->trigger();
    QVERIFY(exists(a));
    QCOMPARE(recorded(f.prompts), QStringList());
}

void TstUndo::journalKeepsTheLastSteps()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("保管庫"));
    {
        FilingJournal journal(realFileOps(), dir.path());
        journal.setStorageRoot(dir.path());
        for (int i = 0; i < 2 * FilingJournal::kKept + 10; ++i) {
            const QString box = dir.path() + QStringLiteral("/保管庫/b%1").arg(i);
            const qint64 id = journal.begin(JournalStep::Kind::BoxAdd, { { box, {}, {}, {}, {}, false } });
            QVERIFY(realFileOps().makeDirectory(box).ok());
            journal.finish(id, { { box, {}, {}, FilingJournal::folderIdentityAt(box), {}, true } });
        }
        QVERIFY(journal.steps().size() >= FilingJournal::kKept);
        QVERIFY(journal.steps().size() <= 2 * FilingJournal::kKept);
    }
    FilingJournal again(realFileOps(), dir.path());
    again.setStorageRoot(dir.path());
    QVERIFY(again.steps().size() >= FilingJournal::kKept);
    // The oldest kept step can still be taken back, in order, after the newer ones.
    const qsizetype kept = again.steps().size();
    for (qsizetype i = 0; i < kept; ++i)
        QCOMPARE(again.undo().done, 1);
    QVERIFY(!again.canUndo());
    QCOMPARE(QDir(dir.path() + QStringLiteral("/保管庫")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
        2 * FilingJournal::kKept + 10 - int(kept));
}

void TstUndo::unwritableJournalSaidOnce()
{
    Fixture f;
    f.form.reset();
    // A folder where the journal's file should be: nothing can be written to it.
    QVERIFY(QDir().mkpath(FilingJournal::defaultFolder() + QStringLiteral("/journal")));
    f.start();
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("b.jpg"))));
    QVERIFY(fileThroughChooser(*f.form, f.form->R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    // Filing goes on; the user is told once that it may not be undoable.
    QVERIFY(exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    QVERIFY(exists(f.box(QStringLiteral("箱A"), QStringLiteral("b.jpg"))));
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(QStringLiteral("操作の記録を書き込めませんでした\r元に戻せない場合があります"),
            QStringLiteral("保管エラー")) });
}

void TstUndo::keysFileFromEachTab()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱A")));
    f.form->filingCommands().BoxKey(1)->trigger();
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱B")));
    f.form->filingCommands().BoxKey(2)->trigger();
    QCOMPARE(nodeAt(f.form->area(Area::Vault).TreeView1(), QStringLiteral("保管庫/箱A"))->text(0),
        QStringLiteral("箱A　［1］"));

    // Stock yard: moved, and the next picture of the page chosen.
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    QTest::keyClick(f.form->area(Area::StockYard).LEADImgList1()->view(), Qt::Key_1);
    QVERIFY(exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    QVERIFY(!exists(f.stock(QStringLiteral("a.jpg"))));
    QCOMPARE(f.form->area(Area::StockYard).TabSelection()->path, f.stock(QStringLiteral("b.jpg")));
    QVERIFY(f.form->pictureSelected());
    QTest::keyClick(f.form->area(Area::StockYard).LEADImgList1()->view(), Qt::Key_2);
    QVERIFY(exists(f.box(QStringLiteral("箱B"), QStringLiteral("b.jpg"))));
    QCOMPARE(f.form->area(Area::StockYard).TabSelection()->path, f.stock(QStringLiteral("c.jpg")));

    // CD: copied, the disc untouched.
    f.listCd();
    const QString d1 = f.disc.filePath(QStringLiteral("d1.jpg"));
    QVERIFY(f.chooseOn(0, d1));
    QTest::keyClick(f.form->area(Area::Cd).LEADImgList1()->view(), Qt::Key_2);
    QCOMPARE(contents(f.box(QStringLiteral("箱B"), QStringLiteral("d1.jpg"))), contents(d1));
    QCOMPARE(f.form->area(Area::Cd).TabSelection()->path, f.disc.filePath(QStringLiteral("d2.jpg")));

    // Vault: moved within it, and the page the user looked at stays listed.
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, kVault));
    QVERIFY(f.chooseOn(2, f.box(QStringLiteral("v.jpg"))));
    QTest::keyClick(f.form->area(Area::Vault).LEADImgList1()->view(), Qt::Key_1);
    QVERIFY(exists(f.box(QStringLiteral("箱A"), QStringLiteral("v.jpg"))));
    QVERIFY(!f.form->area(Area::Vault)
                 .HiddenList()
                 .contains(f.box(QStringLiteral("箱A"), QStringLiteral("v.jpg"))));
    QVERIFY(f.form->area(Area::Vault).currentFolder().startsWith(f.home.vault()));
    QVERIFY(f.form->area(Area::Vault).HiddenList().isEmpty());
    // A key given to no box does nothing; the keys file nothing with no choice.
    QTest::keyClick(f.form->area(Area::Vault).LEADImgList1()->view(), Qt::Key_5);
    QCOMPARE(recorded(f.prompts), QStringList());
    // Each press is one step of its own.
    QCOMPARE(f.history().mid(0, 4),
        (QStringList { QStringLiteral("v.jpg を 箱A へ移動"), QStringLiteral("d1.jpg を 箱B へコピー"),
            QStringLiteral("b.jpg を 箱B へ移動"), QStringLiteral("a.jpg を 箱A へ移動") }));
}

void TstUndo::keysFollowBoxesAndSurviveRestart()
{
    Fixture f;
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱A")));
    f.form->filingCommands().BoxKey(3)->trigger();
    f.prompts.answerInput(QStringLiteral("旅行"));
    f.form->dirpopup_mod()->trigger();
    QCOMPARE(f.form->boxKeys()->boxOf(3), std::optional(QStringLiteral("旅行")));
    f.prompts.clear();

    f.restart();
    QCOMPARE(f.form->boxKeys()->boxOf(3), std::optional(QStringLiteral("旅行")));
    QCOMPARE(nodeAt(f.form->area(Area::Vault).TreeView1(), QStringLiteral("保管庫/旅行"))->text(0),
        QStringLiteral("旅行　［3］"));
    // The chooser's tree shows it too.
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("c.jpg"))));
    f.form->R_Fav_Copy()->trigger();
    QVERIFY(f.form->vaultTransfer().chooser());
    QCOMPARE(nodeAt(f.form->vaultTransfer().chooser()->TreeView1, QStringLiteral("保管庫/旅行"))->text(0),
        QStringLiteral("旅行　［3］"));
    f.form->vaultTransfer().chooser()->close();
    // An undo of the rename takes the key back with the box.
    f.form->filingCommands().Undo()->trigger();
    QCOMPARE(f.form->boxKeys()->boxOf(3), std::optional(QStringLiteral("箱A")));

    // A box gone outside the program: its key says so and files nothing.
    QVERIFY(QDir(f.box(QStringLiteral("箱A"))).removeRecursively());
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("c.jpg"))));
    f.form->area(Area::StockYard).LEADImgList1()->view()->setFocus();
    QTest::keyClick(f.form->area(Area::StockYard).LEADImgList1()->view(), Qt::Key_3);
    QVERIFY(exists(f.stock(QStringLiteral("c.jpg"))));
    QCOMPARE(recorded(f.prompts),
        QStringList {
            critical(QStringLiteral("キー3の整理箱「保管庫/箱A」が見つかりません\r何も保管していません"),
                QStringLiteral("保管エラー")) });
    QCOMPARE(f.form->filingCommands().BoxKey(3)->text(), QStringLiteral("キー3に割り当て"));
    Q_EMIT f.form->findChild<QMenu*>(QStringLiteral("menu_L"))->aboutToShow();
    QCOMPARE(f.form->filingCommands().BoxKey(3)->text(),
        QStringLiteral("キー3に割り当て（保管庫/箱A：見つかりません）"));

    // A box deleted in the program loses its key; the freeing item frees a key too.
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱B")));
    f.form->filingCommands().BoxKey(4)->trigger();
    f.form->dirpopup_del()->trigger();
    QCOMPARE(f.form->boxKeys()->boxOf(4), std::nullopt);
    QVERIFY(clickNode(*f.form, 2, kVault));
    f.form->filingCommands().BoxKey(5)->trigger();
    QCOMPARE(f.form->boxKeys()->boxOf(5), std::optional(QString()));
    f.form->filingCommands().BoxKey(0)->trigger();
    QCOMPARE(f.form->boxKeys()->boxOf(5), std::nullopt);
    f.restart();
    QCOMPARE(f.form->boxKeys()->all(), (QMap<int, QString> { { 3, QStringLiteral("箱A") } }));

    // Keys edited by hand to lead out of the vault file nothing anywhere.
    const QString outside = f.home.makeDir(QStringLiteral("outside"));
    QVERIFY(QFile::link(outside, f.box(QStringLiteral("抜け道"))));
    QFile keys(f.home.home() + QStringLiteral("/.config/zentovi/boxkeys"));
    QVERIFY(keys.open(QIODevice::WriteOnly | QIODevice::Truncate));
    keys.write("4\t../../../outside\n6\t" + QByteArray("../ストックヤード").toPercentEncoding("/") + "\n5\t"
        + QByteArray("抜け道").toPercentEncoding("/") + '\n');
    keys.close();
    f.prompts.clear();
    f.restart();
    // The lines that lead out are dropped, said once, the file kept aside.
    QCOMPARE(recorded(f.prompts),
        QStringList { critical(QStringLiteral("キーの割り当てのファイルが壊れていました\r") + keys.fileName()
                + QStringLiteral(".broken に移し、読めた割り当てだけを残しました"),
            QStringLiteral("保管エラー")) });
    QCOMPARE(f.form->boxKeys()->all(), (QMap<int, QString> { { 5, QStringLiteral("抜け道") } }));
    f.prompts.clear();
    const auto before = snapshot(f.home.storageRoot());
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("c.jpg"))));
    f.form->area(Area::StockYard).LEADImgList1()->view()->setFocus();
    for (Qt::Key key : { Qt::Key_4, Qt::Key_6, Qt::Key_5 })
        QTest::keyClick(QApplication::focusWidget(), key);
    QCOMPARE(snapshot(f.home.storageRoot()), before);
    QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    QCOMPARE(recorded(f.prompts),
        QStringList {
            critical(QStringLiteral("キー5の整理箱「保管庫/抜け道」が見つかりません\r何も保管していません"),
                QStringLiteral("保管エラー")) });
}

void TstUndo::keysGoOnOnEveryTab()
{
    Fixture f;
    for (const char* name : { "w.jpg", "x.jpg" })
        f.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/") + QLatin1String(name),
            pictures::jpeg({ 16, 16 }, QColor(name[0], 20, 20)));
    f.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱A")));
    f.form->filingCommands().BoxKey(1)->trigger();
    QVERIFY(clickNode(*f.form, 2, QStringLiteral("保管庫/箱B")));
    f.form->filingCommands().BoxKey(2)->trigger();
    // Typed as a user types: to whatever has the focus after the last press.
    const auto typeKeys = [](BrowsingArea& tab, Qt::Key key, int times) {
        tab.LEADImgList1()->view()->setFocus();
        for (int i = 0; i < times; ++i)
            QTest::keyClick(QApplication::focusWidget(), key);
    };

    // The vault: each press moves the picture chosen and chooses the next of the same page.
    QVERIFY(clickNode(*f.form, 2, kVault));
    QVERIFY(f.chooseOn(2, f.box(QStringLiteral("v.jpg"))));
    typeKeys(f.form->area(Area::Vault), Qt::Key_1, 3);
    for (const char* name : { "v.jpg", "w.jpg", "x.jpg" }) {
        QVERIFY(exists(f.box(QStringLiteral("箱A"), QLatin1String(name))));
        QVERIFY(!exists(f.box(QLatin1String(name))));
    }
    QCOMPARE(f.form->area(Area::Vault).CurrentNodePath(), kVault);

    // The stock yard and the CD alike.
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    typeKeys(f.form->area(Area::StockYard), Qt::Key_2, 3);
    QCOMPARE(QDir(f.home.stockYard()).entryList(QDir::Files), QStringList());
    f.listCd();
    QVERIFY(f.chooseOn(0, f.disc.filePath(QStringLiteral("d1.jpg"))));
    typeKeys(f.form->area(Area::Cd), Qt::Key_2, 2);
    QCOMPARE(QDir(f.box(QStringLiteral("箱B"))).entryList(QDir::Files),
        (QStringList { QStringLiteral("a.jpg"), QStringLiteral("b.jpg"), QStringLiteral("c.jpg"),
            QStringLiteral("d1.jpg"), QStringLiteral("d2.jpg") }));
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(f.history().size(), 8);
}

// While a large copy waits with the window's input let through (so Esc can stop it), nothing
// but Esc may act: not the history window's buttons, nor the undo and redo keys, a box key, the
// tab bar or the chooser. The attempts come once the first block is written; the copy waits
// until they are made.
void TstUndo::nothingElseFilesInsideALargeCopy()
{
    Fixture f;
    MainForm& form = *f.form;
    // A step to take back, a key for 箱B and the history window open.
    QVERIFY(f.chooseOn(1, f.stock(QStringLiteral("a.jpg"))));
    QVERIFY(fileThroughChooser(form, form.R_Fav_Copy(), QStringLiteral("保管庫/箱A")));
    form.SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/箱B")));
    form.filingCommands().BoxKey(1)->trigger();
    QCOMPARE(f.history().value(0), QStringLiteral("a.jpg を 箱A へ移動"));
    QDialog* history = form.filingCommands().undoRedo().historyWindow();
    QVERIFY(history && history->isVisible());
    const QString big = f.disc.filePath(QStringLiteral("big.jpg"));
    QVERIFY(writeLargeSparsePicture(big, Qt::darkBlue));
    f.listCd();
    QVERIFY(f.chooseOn(0, big));
    // The preview is a window of its own, not disabled with the main one.
    form.showPreview(Area::Cd, f.disc.filePath(QStringLiteral("d2.jpg")));
    QWidget* preview = form.previewForm();
    QVERIFY(preview);
    ThumbnailList* cdList = form.area(Area::Cd).LEADImgList1();
    QTabBar* tabs = form.SSTab1()->findChild<QTabBar*>();
    QVERIFY(tabs);
    const QByteArray moved = contents(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg")));

    QStringList enabled;
    CopyGate gate(&form, [&] {
        if (form.isEnabled())
            enabled << QStringLiteral("main window");
        if (history->isEnabled())
            enabled << QStringLiteral("history");
        QTest::mouseClick(history->findChild<QPushButton*>(QStringLiteral("HistoryUndo")), Qt::LeftButton);
        QTest::mouseClick(history->findChild<QPushButton*>(QStringLiteral("HistoryRedo")), Qt::LeftButton);
        QTest::keyClick(cdList->view(), Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(history, Qt::Key_Z, Qt::ControlModifier);
        QTest::keyClick(cdList->view(), Qt::Key_Y, Qt::ControlModifier);
        QTest::keyClick(cdList->view(), Qt::Key_1);
        if (QWidget* focus = QApplication::focusWidget())
            QTest::keyClick(focus, Qt::Key_1);
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        // Named: a range over "list << item" would outlive the list it refers to.
        QList<QWidget*> previewWidgets = preview->findChildren<QWidget*>();
        previewWidgets << preview;
        for (QWidget* w : previewWidgets) {
            QTest::keyClick(w, Qt::Key_1);
            QTest::keyClick(w, Qt::Key_Z, Qt::ControlModifier);
            QTest::keyClick(w, Qt::Key_Return);
        }
        // A drag resting on a tab's label would bring that tab forward.
        const QPoint label = tabs->mapTo(&form, tabs->tabRect(1).center());
        QMimeData dragged;
        dragged.setText(QStringLiteral("x"));
        QDragEnterEvent enter(label, Qt::CopyAction, &dragged, Qt::LeftButton, {});
        QCoreApplication::sendEvent(form.windowHandle(), &enter);
        QDragMoveEvent move(label, Qt::CopyAction, &dragged, Qt::LeftButton, {});
        QCoreApplication::sendEvent(form.windowHandle(), &move);
        if (enter.isAccepted())
            enabled << QStringLiteral("tab label under a drag");
        QDragLeaveEvent leave;
        QCoreApplication::sendEvent(form.windowHandle(), &leave);
    });
    QVERIFY(fileThroughChooser(form, form.RCD_Fav_Copy(), QStringLiteral("保管庫/箱B")));
    QVERIFY(gate.ran());
    QCOMPARE(enabled, QStringList());
    // The copy alone was done: the earlier step stands, the box key filed nothing, the tab
    // stayed, no chooser was opened.
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(QFileInfo(f.box(QStringLiteral("箱B"), QStringLiteral("big.jpg"))).size(), 80LL * 1024 * 1024);
    QCOMPARE(contents(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))), moved);
    QVERIFY(!exists(f.stock(QStringLiteral("a.jpg"))));
    QCOMPARE(QDir(f.box(QStringLiteral("箱B"))).entryList(QDir::Files), QStringList { "big.jpg" });
    QCOMPARE(form.SSTab1()->currentIndex(), 0);
    QVERIFY(!form.vaultTransfer().chooser());
    QCOMPARE(f.history().mid(0, 2),
        (QStringList { QStringLiteral("big.jpg を 箱B へコピー"), QStringLiteral("a.jpg を 箱A へ移動") }));
    QVERIFY(form.isEnabled());
    QVERIFY(history->isEnabled());
}

// The history window's buttons pressed while another tab is in front, box keys after an undo
// of what a key filed, and an undo after the tab was listed again.
void TstUndo::historyButtonsFromAnotherTabThenKeys()
{
    Fixture f;
    MainForm& form = *f.form;
    const QString a = f.stock(QStringLiteral("a.jpg"));
    const QByteArray aBytes = contents(a);
    form.SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/箱A")));
    form.filingCommands().BoxKey(1)->trigger();
    QVERIFY(f.chooseOn(1, a));
    QTest::keyClick(form.area(Area::StockYard).LEADImgList1()->view(), Qt::Key_1);
    QVERIFY(exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    QCOMPARE(form.area(Area::StockYard).TabSelection()->path, f.stock(QStringLiteral("b.jpg")));

    // Undone from the history window while the CD tab is in front: the CD's choice stays.
    f.listCd();
    const QString d1 = f.disc.filePath(QStringLiteral("d1.jpg"));
    QVERIFY(f.chooseOn(0, d1));
    QCOMPARE(f.history().value(0), QStringLiteral("a.jpg を 箱A へ移動"));
    QDialog* history = form.filingCommands().undoRedo().historyWindow();
    QTest::mouseClick(history->findChild<QPushButton*>(QStringLiteral("HistoryUndo")), Qt::LeftButton);
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(contents(a), aBytes);
    QVERIFY(!exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    QCOMPARE(form.SSTab1()->currentIndex(), 0);
    QCOMPARE(form.area(Area::Cd).TabSelection()->path, d1);
    QVERIFY(form.pictureSelected());
    // The stock yard's choice went with its listing; the CD's key files the CD's picture.
    QVERIFY(form.area(Area::StockYard).Chosen().isEmpty());
    QCOMPARE(form.area(Area::StockYard).invariantViolation(), QString());
    QTest::keyClick(form.area(Area::Cd).LEADImgList1()->view(), Qt::Key_1);
    QCOMPARE(contents(f.box(QStringLiteral("箱A"), QStringLiteral("d1.jpg"))), contents(d1));
    QVERIFY(exists(a));
    // The new step took the place of what could be redone.
    QTest::mouseClick(history->findChild<QPushButton*>(QStringLiteral("HistoryRedo")), Qt::LeftButton);
    QVERIFY(exists(a));
    QVERIFY(!exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    f.prompts.clear();

    // On the stock yard again: nothing chosen, the key files nothing.
    form.SSTab1()->setCurrentIndex(1);
    QTest::keyClick(form.area(Area::StockYard).LEADImgList1()->view(), Qt::Key_1);
    QVERIFY(exists(a));
    // Chosen, then changed outside: the key refuses it.
    QVERIFY(f.chooseOn(1, a));
    f.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/a.jpg"), "edited");
    QTest::keyClick(form.area(Area::StockYard).LEADImgList1()->view(), Qt::Key_1);
    QCOMPARE(contents(a), QByteArray("edited"));
    QVERIFY(!exists(f.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    QCOMPARE(recorded(f.prompts).size(), 1);
    f.prompts.clear();

    // Listed again, then Ctrl+Z: the CD copy goes to the trash, the disc untouched.
    QVERIFY(clickNode(form, 1, QStringLiteral("ストックヤード")));
    const QByteArray discBytes = contents(d1);
    QTest::keyClick(form.area(Area::StockYard).LEADImgList1()->view(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(recorded(f.prompts), QStringList());
    QVERIFY(!exists(f.box(QStringLiteral("箱A"), QStringLiteral("d1.jpg"))));
    QCOMPARE(contents(d1), discBytes);
    QCOMPARE(contents(a), QByteArray("edited"));
    QCOMPARE(f.history().mid(0, 2),
        (QStringList { QStringLiteral("d1.jpg を 箱A へコピー（取り消し済み）"),
            QStringLiteral("a.jpg を 箱A へ移動（取り消し済み）") }));
}

// A drop onto the open chooser's tree copies a large file while the chooser stays open: its
// button and Enter file nothing inside the copy.
void TstUndo::chooserActsNotInsideADroppedCopy()
{
    Fixture f;
    MainForm& form = *f.form;
    const QString big = f.disc.filePath(QStringLiteral("big.jpg"));
    QVERIFY(writeLargeSparsePicture(big, Qt::darkGreen));
    f.listCd();
    QVERIFY(f.chooseOn(0, big));
    form.RCD_Fav_Copy()->trigger();
    SetFolder* chooser = form.vaultTransfer().chooser();
    QVERIFY(chooser);
    QTreeWidgetItem* boxA = nodeAt(chooser->TreeView1, QStringLiteral("保管庫/箱A"));
    QVERIFY(boxA);
    chooser->TreeView1->setCurrentItem(boxA);
    chooser->TreeView1_NodeClick(boxA);
    std::unique_ptr<QMimeData> data(form.area(Area::Cd).LEADImgList1()->dragData());
    QVERIFY(data);

    bool chooserEnabled = true;
    CopyGate gate(&form, [&] {
        chooserEnabled = chooser->isEnabled();
        QTest::mouseClick(chooser->Command1[0], Qt::LeftButton);
        QTest::keyClick(chooser->TreeView1, Qt::Key_Return);
    });
    QTreeWidgetItem* boxB = nodeAt(chooser->TreeView1, QStringLiteral("保管庫/箱B"));
    QVERIFY(boxB);
    const QPoint at = chooser->TreeView1->visualItemRect(boxB).center();
    QWidget* viewport = chooser->TreeView1->viewport();
    QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &enter);
    QDragMoveEvent move(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &move);
    QDropEvent drop(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(viewport, &drop);
    QVERIFY(drop.isAccepted());
    QTRY_VERIFY_WITH_TIMEOUT(gate.ran(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(form.isEnabled(), 30000);
    QVERIFY(!chooserEnabled);
    QCOMPARE(recorded(f.prompts), QStringList());
    QCOMPARE(QFileInfo(f.box(QStringLiteral("箱B"), QStringLiteral("big.jpg"))).size(), 80LL * 1024 * 1024);
    QVERIFY(!exists(f.box(QStringLiteral("箱A"), QStringLiteral("big.jpg"))));
    QCOMPARE(f.history().value(0), QStringLiteral("big.jpg を 箱B へコピー"));
}

void TstUndo::twoWindowsEachWithItsOwnKeys()
{
    // Two windows on two homes, each with its own keys file: key 1 is 箱A's in the first and
    // 箱B's in the second.
    Fixture first;
    first.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*first.form, 2, QStringLiteral("保管庫/箱A")));
    first.form->filingCommands().BoxKey(1)->trigger();
    Fixture second;
    second.form->SSTab1()->setCurrentIndex(2);
    QVERIFY(clickNode(*second.form, 2, QStringLiteral("保管庫/箱B")));
    second.form->filingCommands().BoxKey(1)->trigger();

    // Each window's trees show its own keys, the second window's never the first's.
    const auto text = [](FolderTree* tree, const char16_t* box) {
        QTreeWidgetItem* node = nodeAt(tree, QStringLiteral("保管庫/") + QString::fromUtf16(box));
        return node ? node->text(0) : QString();
    };
    QCOMPARE(text(first.form->area(Area::Vault).TreeView1(), u"箱A"), QStringLiteral("箱A　［1］"));
    QCOMPARE(text(first.form->area(Area::Vault).TreeView1(), u"箱B"), QStringLiteral("箱B"));
    QCOMPARE(text(second.form->area(Area::Vault).TreeView1(), u"箱A"), QStringLiteral("箱A"));
    QCOMPARE(text(second.form->area(Area::Vault).TreeView1(), u"箱B"), QStringLiteral("箱B　［1］"));
    QVERIFY(first.chooseOn(1, first.stock(QStringLiteral("c.jpg"))));
    first.form->R_Fav_Copy()->trigger();
    QVERIFY(first.form->vaultTransfer().chooser());
    QCOMPARE(text(first.form->vaultTransfer().chooser()->TreeView1, u"箱A"), QStringLiteral("箱A　［1］"));
    first.form->vaultTransfer().chooser()->close();
    // A key given in one window shows at once in its trees, and only there.
    second.form->filingCommands().BoxKey(2)->trigger();
    QCOMPARE(text(second.form->area(Area::Vault).TreeView1(), u"箱B"), QStringLiteral("箱B　［2］"));
    QCOMPARE(text(first.form->area(Area::Vault).TreeView1(), u"箱A"), QStringLiteral("箱A　［1］"));
    second.form->filingCommands().BoxKey(1)->trigger();

    // A digit on the second window files into the second window's box.
    QVERIFY(second.chooseOn(1, second.stock(QStringLiteral("a.jpg"))));
    second.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(second.form.get()));
    QTest::keyClick(second.form->area(Area::StockYard).LEADImgList1()->view(), Qt::Key_1);
    QVERIFY(exists(second.box(QStringLiteral("箱B"), QStringLiteral("a.jpg"))));
    QVERIFY(!exists(second.stock(QStringLiteral("a.jpg"))));
    QVERIFY(exists(first.stock(QStringLiteral("a.jpg"))));
    QVERIFY(!exists(first.box(QStringLiteral("箱A"), QStringLiteral("a.jpg"))));
    // And one on the first window into the first's.
    QVERIFY(first.chooseOn(1, first.stock(QStringLiteral("b.jpg"))));
    first.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(first.form.get()));
    QTest::keyClick(first.form->area(Area::StockYard).LEADImgList1()->view(), Qt::Key_1);
    QVERIFY(exists(first.box(QStringLiteral("箱A"), QStringLiteral("b.jpg"))));
    QVERIFY(exists(second.stock(QStringLiteral("b.jpg"))));
    QCOMPARE(recorded(first.prompts), QStringList());
    QCOMPARE(recorded(second.prompts), QStringList());
}

QTEST_MAIN(TstUndo)
#include "tst_undo.moc"
