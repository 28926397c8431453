// One operation at a time, with the storage root on a slow share (tests/fs/delayfs.py, 20 ms a
// call): while a command's disk call waits aside, the window's timers run, and whatever they
// bring (a drop from another program or from a tab, a box key, a changed disc) is refused or
// waits until the operation has ended. Each nested event is started by a timer set just before
// the operation, so it fires inside that operation's wait. Either legal outcome is accepted; in
// both the journal holds whole steps, one after the other, and the disk holds what they say.
#include "DelayFsMount.h"
#include "FileTestUtil.h"
#include "FilingTestUtil.h"
#include "filing/BoxKeys.h"
#include "filing/Journal.h"
#include "filing/SetFolder.h"
#include "filing/VaultTransfer.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FilingCommands.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDropEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

using namespace ztv;
using namespace ztv::test;

namespace {

constexpr int kDelayMs = 20;

// A drop sent to a tree's node, as a drag makes it: whether the pointer said yes, whether the
// drop was taken.
struct Dropped {
    bool ran = false;
    bool moveAccepted = false;
    bool dropAccepted = false;
};

Dropped dropOnNode(FolderTree* tree, const QString& treePath, const QMimeData& data)
{
    Dropped seen;
    QTreeWidgetItem* node = nodeAt(tree, treePath);
    if (!node)
        return seen;
    seen.ran = true;
    const QPoint at = tree->visualItemRect(node).center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &enter);
    QDragMoveEvent move(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &move);
    seen.moveAccepted = move.isAccepted();
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(tree->viewport(), &drop);
    seen.dropAccepted = drop.isAccepted();
    return seen;
}

// The journal's records in file order: each step's begin (or undo) and its end with nothing of
// another step between them. Gives what is wrong, or "" for whole, separate steps.
QString interleaving(const QString& journalFile)
{
    QFile file(journalFile);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("no journal");
    qint64 open = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        const QString op = o.value(QLatin1String("op")).toString();
        const qint64 step = o.value(QLatin1String("step")).toInteger();
        if (op == QLatin1String("begin") || op == QLatin1String("undo") || op == QLatin1String("redo")) {
            if (open)
                return QStringLiteral("step %1 began inside step %2").arg(step).arg(open);
            open = step;
        } else if (op == QLatin1String("done") || op == QLatin1String("undone")
            || op == QLatin1String("redone")) {
            if (open != step)
                return QStringLiteral("step %1 ended while step %2 was open").arg(step).arg(open);
            open = 0;
        }
    }
    return open ? QStringLiteral("step %1 never ended").arg(open) : QString();
}

// The window with its storage root on the slow share and a disc in the drive.
struct Fixture : MainFormFixture {
    Fixture()
    {
        const QString root = home.home() + QStringLiteral("/My Documents/ZTV_DATA");
        home.fillSample();
        backing = home.home() + QStringLiteral("/.server");
        if (!QDir().rename(root, backing) || !QDir().mkdir(root)) {
            why = QStringLiteral("cannot prepare the folders");
            return;
        }
        why = share.start(QStringLiteral(ZTV_DELAYFS), backing, root, kDelayMs);
        if (!why.isEmpty())
            return;
        drives.devices = { QStringLiteral("/dev/sr0") };
        drives.media = { QStringLiteral("/dev/sr0") };
        drives.mountTable = { { QStringLiteral("/dev/sr0"), disc.path(), QStringLiteral("iso9660") } };
        discPicture = disc.filePath(QStringLiteral("p1.jpg"));
        writeRaw(discPicture, pictures::jpeg({ 60, 40 }, Qt::darkRed));
        load();
        form->show();
        outsidePicture = outside.filePath(QStringLiteral("fresh.png"));
        outsideBytes = pictures::png({ 12, 9 }, Qt::darkCyan);
        writeRaw(outsidePicture, outsideBytes);
        outsideDrop.setUrls({ QUrl::fromLocalFile(outsidePicture) });
        // The vault's tree laid out, so its nodes have places to drop onto.
        form->SSTab1()->setCurrentIndex(2);
        QCoreApplication::processEvents();
    }
    ~Fixture()
    {
        form.reset(); // before its folders go away
        share.stop();
    }
    QString vault(const QString& rel) const { return home.vault() + u'/' + rel; }
    QString stock(const QString& name) const { return home.stockYard() + u'/' + name; }
    FolderTree* vaultTree() { return form->area(Area::Vault).TreeView1(); }
    FilingJournal& journal() { return *form->journal(); }
    qsizetype steps() { return journal().steps().size(); }
    // Opens the chooser with the command and points it at the box; its button is pressed by
    // the caller, after setting what happens during the wait.
    SetFolder* chooserAt(QAction* command, const QString& treePath)
    {
        command->trigger();
        SetFolder* chooser = form->vaultTransfer().chooser();
        QTreeWidgetItem* node = chooser ? nodeAt(chooser->TreeView1, treePath) : nullptr;
        if (!node)
            return nullptr;
        chooser->TreeView1->setCurrentItem(node);
        return chooser;
    }
    // A drop onto the vault's node from a timer set now: it fires inside the operation started
    // next.
    void dropDuringNext(const QString& treePath, const QMimeData& data)
    {
        QTimer::singleShot(
            0, form.get(), [this, treePath, &data] { seen = dropOnNode(vaultTree(), treePath, data); });
    }
    // Once the operation has ended: a drop seen inside it was refused (the pointer said no,
    // nothing filed, the source as it was) or filed afterwards as a step of its own.
    void checkDrop(qsizetype stepsBefore, const QString& source, const QByteArray& bytes,
        const QString& filed, bool moves)
    {
        QVERIFY(seen.ran);
        if (!seen.dropAccepted) {
            QVERIFY(!seen.moveAccepted);
            QCoreApplication::processEvents();
            QVERIFY(!QFileInfo::exists(filed));
            QCOMPARE(contents(source), bytes);
            QCOMPARE(steps(), stepsBefore + 1);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(filed), 30000);
            QCOMPARE(contents(filed), bytes);
            if (moves)
                QVERIFY(!QFileInfo::exists(source));
            QCOMPARE(steps(), stepsBefore + 2);
        }
        QCOMPARE(interleaving(journal().filePath()), QString());
    }
    void checkOutsideDrop(qsizetype stepsBefore)
    {
        checkDrop(stepsBefore, outsidePicture, outsideBytes, vault(QStringLiteral("旅行/fresh.png")), false);
    }

    DelayFsMount share;
    QString backing;
    QString why;
    QTemporaryDir disc, outside;
    QString discPicture, outsidePicture;
    QByteArray outsideBytes;
    QMimeData outsideDrop;
    Dropped seen;
};

} // namespace

class TstOneOperation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void outsideDropDuringCopy();
    void tabDropDuringDelete();
    void boxKeyDuringRename();
    void discChangeDuringMove();
    void outsideDropDuringUndoOfLongJournal();
};

void TstOneOperation::outsideDropDuringCopy()
{
    Fixture f;
    if (!f.why.isEmpty())
        QSKIP(qPrintable(f.why));
    MainForm& form = *f.form;
    form.SSTab1()->setCurrentIndex(0);
    form.area(Area::Cd).TreeView1_NodeClick(form.area(Area::Cd).TreeView1()->topLevelItem(0));
    QVERIFY(selectPicture(form, 0, f.discPicture));
    SetFolder* chooser = f.chooserAt(form.RCD_Fav_Copy(), QStringLiteral("保管庫/空箱"));
    QVERIFY(chooser);
    const qsizetype before = f.steps();
    f.dropDuringNext(QStringLiteral("保管庫/旅行"), f.outsideDrop);
    chooser->Command1_Click(0);
    QCOMPARE(contents(f.vault(QStringLiteral("空箱/p1.jpg"))), contents(f.discPicture));
    f.checkOutsideDrop(before);
    if (!f.seen.dropAccepted)
        QCOMPARE(recorded(f.prompts), QStringList());
}

void TstOneOperation::tabDropDuringDelete()
{
    Fixture f;
    if (!f.why.isEmpty())
        QSKIP(qPrintable(f.why));
    MainForm& form = *f.form;
    const QByteArray a = contents(f.vault(QStringLiteral("旅行/a.jpg")));
    const QByteArray camera = contents(f.stock(QStringLiteral("camera.jpg")));
    // The stock yard's picture dragged; the vault's deleted while the drag is dropped on a box.
    QVERIFY(selectPicture(form, 1, f.stock(QStringLiteral("camera.jpg"))));
    std::unique_ptr<QMimeData> drag(form.area(Area::StockYard).LEADImgList1()->dragData());
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    QVERIFY(selectPicture(form, 2, f.vault(QStringLiteral("旅行/a.jpg"))));
    const qsizetype before = f.steps();
    f.dropDuringNext(QStringLiteral("保管庫/空箱"), *drag);
    form.RF_Del()->trigger();
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行/a.jpg"))));
    f.checkDrop(before, f.stock(QStringLiteral("camera.jpg")), camera,
        f.vault(QStringLiteral("空箱/camera.jpg")), true);
    QCOMPARE(f.journal().steps().at(before).kind, JournalStep::Kind::Delete);
    QCOMPARE(f.journal().steps().at(before).entries.size(), 1);
    QCOMPARE(contents(f.journal().steps().at(before).entries.first().to), a);
    QCOMPARE(recorded(f.prompts).size(), 1); // the delete's question alone
}

void TstOneOperation::boxKeyDuringRename()
{
    Fixture f;
    if (!f.why.isEmpty())
        QSKIP(qPrintable(f.why));
    MainForm& form = *f.form;
    QVERIFY(form.boxKeys()->assign(1, QStringLiteral("空箱")));
    const QByteArray a = contents(f.vault(QStringLiteral("旅行/a.jpg")));
    QVERIFY(clickNode(form, 2, QStringLiteral("保管庫/旅行")));
    QVERIFY(selectPicture(form, 2, f.vault(QStringLiteral("旅行/a.jpg"))));
    const qsizetype before = f.steps();
    f.prompts.answerInput(QStringLiteral("寺"));
    bool pressed = false;
    QTimer::singleShot(0, &form, [&] {
        QTest::keyClick(form.area(Area::Vault).LEADImgList1()->view(), Qt::Key_1);
        pressed = true;
    });
    form.RF_Mod()->trigger();
    QVERIFY(pressed);
    QCoreApplication::processEvents();
    // The key did nothing, during the rename or after it (the rename ended the choice).
    QCOMPARE(contents(f.vault(QStringLiteral("旅行/寺.jpg"))), a);
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("旅行/a.jpg"))));
    QCOMPARE(entries(f.vault(QStringLiteral("空箱"))), QStringList());
    QCOMPARE(f.steps(), before + 1);
    QCOMPARE(f.journal().steps().last().kind, JournalStep::Kind::Rename);
    QCOMPARE(interleaving(f.journal().filePath()), QString());
    QCOMPARE(recorded(f.prompts).size(), 1); // the name asked, nothing else said
}

void TstOneOperation::discChangeDuringMove()
{
    Fixture f;
    if (!f.why.isEmpty())
        QSKIP(qPrintable(f.why));
    MainForm& form = *f.form;
    auto cdRoot = [](MainForm& w) { return w.area(Area::Cd).TreeView1()->topLevelItem(0); };
    QCOMPARE(cdRoot(form)->text(0), f.disc.path());
    const QByteArray camera = contents(f.stock(QStringLiteral("camera.jpg")));
    QVERIFY(selectPicture(form, 1, f.stock(QStringLiteral("camera.jpg"))));
    SetFolder* chooser = f.chooserAt(form.R_Fav_Copy(), QStringLiteral("保管庫/空箱"));
    QVERIFY(chooser);
    const qsizetype before = f.steps();
    QString cdDuringMove;
    QTimer::singleShot(0, &form, [&] {
        // The disc taken out.
        f.drives.media.clear();
        f.drives.mountTable.clear();
        f.drives.notify();
        cdDuringMove = cdRoot(form)->text(0);
    });
    chooser->Command1_Click(0);
    // The tree kept the disc while the move ran, and follows the drive once it has ended.
    QCOMPARE(cdDuringMove, f.disc.path());
    QCOMPARE(cdRoot(form)->text(0), f.disc.path());
    QTRY_COMPARE_WITH_TIMEOUT(cdRoot(form)->text(0), QStringLiteral("/dev/sr0"), 30000);
    QCOMPARE(contents(f.vault(QStringLiteral("空箱/camera.jpg"))), camera);
    QVERIFY(!QFileInfo::exists(f.stock(QStringLiteral("camera.jpg"))));
    QCOMPARE(f.steps(), before + 1);
    QCOMPARE(interleaving(f.journal().filePath()), QString());
    QCOMPARE(recorded(f.prompts), QStringList());
}

// A long journal: a step filed inside the undo would grow and trim the list of steps the undo
// works on.
void TstOneOperation::outsideDropDuringUndoOfLongJournal()
{
    Fixture f;
    if (!f.why.isEmpty())
        QSKIP(qPrintable(f.why));
    MainForm& form = *f.form;
    FilingJournal& journal = f.journal();
    journal.setStorageRoot(form.storagePaths().AreaBasePath[Area::Vault]);
    for (int i = 0; i < 199; ++i) {
        const QList<JournalEntry> plan { { f.vault(QStringLiteral("箱%1").arg(i)), {}, {}, {}, {}, true } };
        const qint64 id = journal.begin(JournalStep::Kind::BoxAdd, plan);
        QVERIFY(id > 0);
        journal.finish(id, plan);
    }
    const QByteArray camera = contents(f.stock(QStringLiteral("camera.jpg")));
    QVERIFY(selectPicture(form, 1, f.stock(QStringLiteral("camera.jpg"))));
    QVERIFY(fileThroughChooser(form, form.R_Fav_Copy(), QStringLiteral("保管庫/空箱")));
    QCOMPARE(f.steps(), 200);
    const qint64 move = journal.steps().last().id;
    QCOMPARE(journal.undoStep(), move);

    f.dropDuringNext(QStringLiteral("保管庫/旅行"), f.outsideDrop);
    form.filingCommands().Undo()->trigger();
    QCOMPARE(contents(f.stock(QStringLiteral("camera.jpg"))), camera);
    QVERIFY(!QFileInfo::exists(f.vault(QStringLiteral("空箱/camera.jpg"))));
    f.checkOutsideDrop(199);
    // The move stands undone, and the next undo reaches the step before it (a filed drop's
    // own step comes first).
    const JournalStep* undone = stepWithId(journal, move);
    QVERIFY(undone);
    QCOMPARE(undone->state, JournalStep::State::Undone);
    QCOMPARE(undone->entries.size(), 1);
    QVERIFY(journal.undoStep() != 0 && journal.undoStep() != move);
    if (!f.seen.dropAccepted)
        QCOMPARE(recorded(f.prompts), QStringList());
}

QTEST_MAIN(TstOneOperation)
#include "tst_oneoperation.moc"
