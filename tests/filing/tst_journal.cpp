// The journal of filing steps on a temporary home, without a window: the order of undo and
// redo, a refused step passed over, hand-edited entries refused, unusable files moved aside,
// the file kept short, two journals (as two windows) on one file, and a step that did nothing
// taken out of the file again.
#include "FileTestUtil.h"
#include "FilingTestUtil.h"
#include "filing/Journal.h"
#include "filing/texts.h"
#include "platform/FaultInjection.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ztv;
using namespace ztv::test;
using Kind = JournalStep::Kind;
using State = JournalStep::State;

namespace {

QByteArray field(const QString& path)
{
    return path.toUtf8().toPercentEncoding("/");
}

QByteArray idField(const FileIdentity& id)
{
    return "[\"" + QByteArray::number(id.device) + "\",\"" + QByteArray::number(id.inode) + "\",\""
        + QByteArray::number(id.size) + "\",\"" + QByteArray::number(id.modifiedNs) + "\"]";
}

// A step as a journal on disk holds it: begun, then done with one entry.
QByteArray handStep(int id, const char* kind, const QString& from, const QString& to,
    const FileIdentity& identity, const QByteArray& extra = {})
{
    const QByteArray entry = "[{\"from\":\"" + field(from) + "\",\"to\":\"" + field(to)
        + "\",\"id\":" + idField(identity) + extra + ",\"applied\":true}]";
    return "{\"op\":\"begin\",\"step\":" + QByteArray::number(id) + ",\"kind\":\"" + kind
        + "\",\"time\":1,\"entries\":[]}\n{\"op\":\"done\",\"step\":" + QByteArray::number(id)
        + ",\"entries\":" + entry + "}\n";
}

struct Home {
    Home()
    {
        QDir().mkpath(folder);
        QDir().mkpath(home.vault() + QStringLiteral("/箱A"));
    }
    QString box(const QString& name) const { return home.vault() + u'/' + name; }
    // A box added as the program adds one: made, and its step written around it.
    qint64 addBox(FilingJournal& journal, const QString& name)
    {
        const QString path = box(name);
        const qint64 id = journal.begin(Kind::BoxAdd, { { path, {}, {}, {}, {}, false } });
        if (!QDir().mkdir(path))
            return 0;
        JournalEntry e(path, {}, {}, FilingJournal::folderIdentityAt(path), {}, true);
        e.fromFolder = FilingJournal::folderIdentityAt(home.vault(), true);
        journal.finish(id, { e });
        return id;
    }
    std::unique_ptr<FilingJournal> open()
    {
        auto j = std::make_unique<FilingJournal>(realFileOps(), folder);
        j->setStorageRoot(home.storageRoot());
        return j;
    }
    TestHome home;
    const QString folder = home.home() + QStringLiteral("/.local/share/zentovi");
    const QString file = folder + QStringLiteral("/journal");
};

} // namespace

class TstJournal : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void redoTakesTheLastUndo();
    void refusedUndoPassedOverAndMarked();
    void handEditedEntriesAreSkipped();
    void deleteUndoneFromTheDisksOwnTrash();
    void mediumDeleteOnlyThroughItsOwnTrash();
    void unusableJournalMovedAside_data();
    void unusableJournalMovedAside();
    void longJournalWrittenShorter();
    void twoJournalsOnOneFile();
    void stepThatDidNothingLeavesNoRecord();
};

void TstJournal::redoTakesTheLastUndo()
{
    Home h;
    auto j = h.open();
    const qint64 a = h.addBox(*j, QStringLiteral("A"));
    QCOMPARE(j->undo().done, 1);
    // A new step after an undo: the undone one can no longer be redone.
    const qint64 b = h.addBox(*j, QStringLiteral("B"));
    QVERIFY(!j->canRedo());
    QCOMPARE(j->undo().step.id, b);
    QCOMPARE(j->redoStep(), b);
    const JournalOutcome redone = j->redo();
    QCOMPARE(redone.step.id, b);
    QVERIFY(QFileInfo(h.box(QStringLiteral("B"))).isDir());
    QVERIFY(!QFileInfo::exists(h.box(QStringLiteral("A"))));
    QVERIFY(j->redo().none);

    // Undone C then B: redone B, then C; the same after a restart.
    const qint64 c = h.addBox(*j, QStringLiteral("C"));
    QCOMPARE(j->undo().step.id, c);
    QCOMPARE(j->undo().step.id, b);
    j = h.open();
    QCOMPARE(j->redo().step.id, b);
    QCOMPARE(j->redo().step.id, c);
    QVERIFY(!j->canRedo());
    QCOMPARE(j->undoStep(), c);
    QVERIFY(a < b && b < c);
}

void TstJournal::refusedUndoPassedOverAndMarked()
{
    Home h;
    const QString a = h.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/a.jpg"), "a");
    const QString b = h.home.write(QStringLiteral("My Documents/ZTV_DATA/ストックヤード/b.jpg"), "b");
    auto j = h.open();
    for (const QString& file : { a, b }) {
        const QString to = h.box(QStringLiteral("箱A/")) + QFileInfo(file).fileName();
        const qint64 id = j->begin(Kind::Move, { { file, to, {}, {}, {}, false } });
        QVERIFY(QFile::rename(file, to));
        JournalEntry e(file, to, {}, FilingJournal::identityAt(to), {}, true);
        e.fromFolder = FilingJournal::folderIdentityAt(h.home.stockYard(), true);
        e.toFolder = FilingJournal::folderIdentityAt(h.box(QStringLiteral("箱A")), true);
        j->finish(id, { e });
    }
    // b renamed outside the program: its step cannot be undone, and says so once.
    QVERIFY(QFile::rename(h.box(QStringLiteral("箱A/b.jpg")), h.box(QStringLiteral("箱A/b2.jpg"))));
    const qint64 stepB = j->steps().last().id;
    const JournalOutcome refused = j->undo();
    QCOMPARE(refused.step.id, stepB);
    QCOMPARE(refused.done, 0);
    QCOMPARE(refused.problems.size(), 1);
    QVERIFY(refused.step.blocked);
    // The next undo reaches the step before it, and the mark survives a restart.
    j = h.open();
    QVERIFY(j->steps().last().blocked);
    const JournalOutcome next = j->undo();
    QVERIFY(next.step.id != stepB);
    QCOMPARE(next.done, 1);
    QVERIFY(next.problems.isEmpty());
    QCOMPARE(contents(a), QByteArray("a"));
    QVERIFY(j->undo().none);
    QCOMPARE(contents(h.box(QStringLiteral("箱A/b2.jpg"))), QByteArray("b"));
}

void TstJournal::handEditedEntriesAreSkipped()
{
    Home h;
    const QString root = h.home.storageRoot();
    const QString outside = h.home.home() + QStringLiteral("/outside");
    const QString victim = h.home.write(QStringLiteral("outside/victim.txt"), "keep me");
    h.home.makeDir(QStringLiteral("outside/empty"));
    const QString v = h.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/v.jpg"), "v");
    const QString w = h.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/w.jpg"), "w");
    const QString x = h.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/x.jpg"), "x");
    const QString q = h.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/q.jpg"), "q");
    const QString s = h.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/s.jpg"), "s");
    h.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱B"));
    h.home.makeDir(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱C"));
    QVERIFY(QFile::link(outside, h.box(QStringLiteral("link"))));
    // Two files in the home trash: t with the record of its own path, u with a record naming
    // another file than the entry's.
    const QString trash = h.home.home() + QStringLiteral("/.local/share/Trash");
    const QString t = h.home.write(QStringLiteral(".local/share/Trash/files/t.jpg"), "t");
    h.home.write(QStringLiteral(".local/share/Trash/info/t.jpg.trashinfo"),
        "[Trash Info]\nPath=" + field(h.box(QStringLiteral("t.jpg")))
            + "\nDeletionDate=2026-01-01T00:00:00\n");
    const QString u = h.home.write(QStringLiteral(".local/share/Trash/files/u.jpg"), "u");
    h.home.write(QStringLiteral(".local/share/Trash/info/u.jpg.trashinfo"),
        "[Trash Info]\nPath=" + field(outside + QStringLiteral("/u.jpg"))
            + "\nDeletionDate=2026-01-01T00:00:00\n");

    const QByteArray otherFolder
        = ",\"ff\":" + idField(FilingJournal::folderIdentityAt(h.box(QStringLiteral("箱B")), true));
    QByteArray lines;
    // 1: back to a place named through "..": out of the storage root.
    lines += handStep(
        1, "move", root + QStringLiteral("保管庫/../../outside/v.jpg"), v, FilingJournal::identityAt(v));
    // 2: back to a place outside the root.
    lines += handStep(2, "move", outside + QStringLiteral("/w.jpg"), w, FilingJournal::identityAt(w));
    // 3: a delete whose record is an unrelated file.
    lines += handStep(3, "delete", h.box(QStringLiteral("t.jpg")), t, FilingJournal::identityAt(t),
        ",\"record\":\"" + field(victim) + "\"");
    // 4: a delete whose record names another file.
    lines += handStep(4, "delete", h.box(QStringLiteral("u.jpg")), u, FilingJournal::identityAt(u),
        ",\"record\":\"" + field(trash + QStringLiteral("/info/u.jpg.trashinfo")) + "\"");
    // 5: a rename back of a box that is not the one renamed.
    lines += handStep(5, "boxrename", h.box(QStringLiteral("箱X")), h.box(QStringLiteral("箱B")),
        FilingJournal::folderIdentityAt(h.box(QStringLiteral("箱C"))));
    // 6: an added box outside the root, to be removed.
    lines += handStep(6, "boxadd", outside + QStringLiteral("/empty"), QString(),
        FilingJournal::folderIdentityAt(outside + QStringLiteral("/empty")));
    // 7: back through a link in the vault that leads out of it.
    lines += handStep(7, "move", h.box(QStringLiteral("link/x.jpg")), x, FilingJournal::identityAt(x));
    // 8: a move out of another folder than the one it names.
    lines += handStep(8, "move", h.home.stockYard() + QStringLiteral("/q.jpg"), q,
        FilingJournal::identityAt(q), otherFolder);
    // 9: an older journal's move, without folder identities: still taken back.
    lines += handStep(
        9, "move", h.home.stockYard() + QStringLiteral("/s.jpg"), s, FilingJournal::identityAt(s));
    QFile file(h.file);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size());
    file.close();

    const auto outsideBefore = snapshot(outside);
    const auto trashBefore = snapshot(trash);
    auto j = h.open();
    QCOMPARE(j->steps().size(), 9);
    QMap<qint64, JournalOutcome> outcomes;
    for (int i = 0; i < 9; ++i) {
        const JournalOutcome out = j->undo();
        QVERIFY(!out.none);
        outcomes.insert(out.step.id, out);
    }
    QVERIFY(j->undo().none);
    QCOMPARE(outcomes.value(9).done, 1);
    QCOMPARE(contents(h.home.stockYard() + QStringLiteral("/s.jpg")), QByteArray("s"));
    const QString outsideText = QString::fromUtf16(filingtexts::PlaceNotAllowed);
    const QString recordText = QString::fromUtf16(filingtexts::TrashRecordWrong);
    const QString changedText = QString::fromUtf16(filingtexts::ChangedSinceStep);
    const QMap<qint64, QString> reasons { { 1, outsideText }, { 2, outsideText }, { 3, recordText },
        { 4, recordText }, { 5, changedText }, { 6, outsideText }, { 7, outsideText }, { 8, changedText } };
    for (auto it = reasons.cbegin(); it != reasons.cend(); ++it) {
        const JournalOutcome& out = outcomes[it.key()];
        QCOMPARE(out.done, 0);
        QCOMPARE(out.problems.size(), 1);
        QVERIFY2(out.problems.first().contains(it.value()), qPrintable(out.problems.first()));
        QVERIFY(out.step.blocked);
    }
    // Nothing outside the storage root changed, nothing left the trash, nothing entered the vault.
    QCOMPARE(snapshot(outside), outsideBefore);
    QCOMPARE(snapshot(trash), trashBefore);
    for (const QString& f : { v, w, x, q })
        QVERIFY(QFileInfo::exists(f));
    QVERIFY(QFileInfo(h.box(QStringLiteral("箱B"))).isDir());
    QVERIFY(!QFileInfo::exists(h.box(QStringLiteral("箱X"))));
}

// A storage root on another disk than the home (the trash is told where that disk's top is):
// the file comes back from that disk's trash, whose record must name it.
void TstJournal::deleteUndoneFromTheDisksOwnTrash()
{
    Home h;
    const QString top = QFileInfo(h.home.home()).canonicalFilePath();
    faults::forceTrashTop(QFile::encodeName(top).toStdString());
    auto j = h.open();
    const auto trashed = [&](const QString& file) {
        const qint64 id = j->begin(Kind::Delete, { { file, {}, {}, {}, {}, false } });
        TrashedFile where;
        if (!realFileOps().trashFile(file, where).ok())
            return where;
        JournalEntry e(file, where.file, where.record, FilingJournal::identityAt(where.file), {}, true);
        e.fromFolder = FilingJournal::folderIdentityAt(FilingJournal::folderOf(file), true);
        e.toFolder = FilingJournal::folderIdentityAt(FilingJournal::folderOf(where.file), true);
        j->finish(id, { e });
        return where;
    };
    const QString v = h.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/v.jpg"), "v");
    const QString w = h.home.write(QStringLiteral("My Documents/ZTV_DATA/保管庫/箱A/w.jpg"), "w");
    const TrashedFile wentV = trashed(v);
    const TrashedFile wentW = trashed(w);
    QVERIFY(wentW.file.startsWith(top + QStringLiteral("/.Trash-")));
    // w's record rewritten to name another file: w stays in the trash, its record too.
    QFile record(wentW.record);
    QVERIFY(record.open(QIODevice::WriteOnly));
    record.write("[Trash Info]\nPath=elsewhere/w.jpg\nDeletionDate=2026-01-01T00:00:00\n");
    record.close();
    const JournalOutcome refused = j->undo();
    QCOMPARE(refused.done, 0);
    QVERIFY(QFileInfo::exists(wentW.file) && QFileInfo::exists(wentW.record));
    QCOMPARE(j->undo().done, 1);
    QCOMPARE(contents(v), QByteArray("v"));
    QVERIFY(!QFileInfo::exists(wentV.file));
    QVERIFY(!QFileInfo::exists(wentV.record));
    faults::reset();
}

// A file deleted from a removable medium (another disk: the trash is told where its top is)
// comes back from the medium's own trash; an entry naming any other trash for it is refused, and
// a delete outside the storage root on the root's own disk is never written.
void TstJournal::mediumDeleteOnlyThroughItsOwnTrash()
{
    Home h;
    QTemporaryDir card;
    QVERIFY(QDir().mkpath(card.filePath(QStringLiteral("DCIM"))));
    faults::forceTrashTop(QFile::encodeName(QFileInfo(card.path()).canonicalFilePath()).toStdString());
    auto j = h.open();
    const auto deleted = [&](const QString& file, const QString& to, const QString& record) {
        const qint64 id = j->begin(Kind::Delete, { { file, {}, {}, {}, {}, false } });
        JournalEntry e(file, to, record, FilingJournal::identityAt(to), {}, true);
        e.fromFolder = FilingJournal::folderIdentityAt(FilingJournal::folderOf(file), true);
        e.toFolder = FilingJournal::folderIdentityAt(FilingJournal::folderOf(to), true);
        j->finish(id, { e });
        return id;
    };
    const QString x = card.filePath(QStringLiteral("DCIM/x.jpg"));
    QVERIFY(writeRaw(x, "x"));
    TrashedFile where;
    QVERIFY(realFileOps().trashFile(x, where).ok());
    QVERIFY(deleted(x, where.file, where.record) > 0);
    QCOMPARE(j->undo().done, 1);
    QCOMPARE(contents(x), QByteArray("x"));

    // The same file said to lie in a trash that is not the medium's: left where it is.
    const QString elsewhere = h.home.home() + QStringLiteral("/.local/share/Trash/files/x.jpg");
    QVERIFY(QDir().mkpath(FilingJournal::folderOf(elsewhere)));
    QVERIFY(writeRaw(elsewhere, "x"));
    QVERIFY(QFile::remove(x));
    QVERIFY(deleted(x, elsewhere, QString()) > 0);
    const JournalOutcome refused = j->undo();
    QCOMPARE(refused.done, 0);
    QVERIFY2(refused.problems.value(0).contains(QString::fromUtf16(filingtexts::PlaceNotAllowed)),
        qPrintable(refused.problems.value(0)));
    QVERIFY(!QFileInfo::exists(x));
    faults::reset();

    // Outside the storage root on its own disk: no step at all.
    QTemporaryDir plain;
    const QString y = plain.filePath(QStringLiteral("y.jpg"));
    QVERIFY(writeRaw(y, "y"));
    QCOMPARE(j->begin(Kind::Delete, { { y, {}, {}, {}, {}, false } }), 0);
}

void TstJournal::unusableJournalMovedAside_data()
{
    QTest::addColumn<QString>("kind");
    for (const char* k : { "fifo", "symlink", "oversized", "corrupted", "unended" })
        QTest::newRow(k) << QString::fromLatin1(k);
}

void TstJournal::unusableJournalMovedAside()
{
    QFETCH(QString, kind);
    Home h;
    const QString target = h.home.write(QStringLiteral("elsewhere.txt"), "not a journal\n");
    const QByteArray path = QFile::encodeName(h.file);
    if (kind == u"fifo") {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (kind == u"symlink") {
        QVERIFY(QFile::link(target, h.file));
    } else {
        QFile f(h.file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        if (kind == u"oversized")
            QVERIFY(f.resize(FilingJournal::kMaxBytes + 1));
        else if (kind == u"corrupted")
            f.write("{\"op\":\"begin\",\"step\":1,\"kind\":\"move\"}\n\x01\x02 garbage\n");
        else // no line ended: not a record cut short either
            f.write(QByteArray(4096, 'x'));
    }
    // Opened without waiting on a FIFO, without following a link.
    auto j = h.open();
    QCOMPARE(j->takeMovedAside(), h.file + QStringLiteral(".broken"));
    QCOMPARE(j->takeMovedAside(), QString());
    QVERIFY(j->steps().isEmpty());
    QVERIFY(j->writing());
    struct stat st;
    QCOMPARE(::lstat(QFile::encodeName(h.file + QStringLiteral(".broken")).constData(), &st), 0);
    if (kind == u"fifo")
        QVERIFY(S_ISFIFO(st.st_mode));
    if (kind == u"symlink")
        QVERIFY(S_ISLNK(st.st_mode));
    // A new journal is begun, a regular file of its own; the link's target was never written.
    QVERIFY(h.addBox(*j, QStringLiteral("new")) > 0);
    QCOMPARE(::lstat(path.constData(), &st), 0);
    QVERIFY(S_ISREG(st.st_mode));
    QCOMPARE(contents(target), QByteArray("not a journal\n"));
    auto again = h.open();
    QCOMPARE(again->takeMovedAside(), QString());
    QCOMPARE(again->steps().size(), 1);
}

void TstJournal::longJournalWrittenShorter()
{
    Home h;
    const int total = 2 * FilingJournal::kKept + 20;
    auto j = h.open();
    for (int i = 0; i < total; ++i)
        QVERIFY(h.addBox(*j, QStringLiteral("b%1").arg(i)) > 0);
    QFile file(h.file);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const qsizetype lines = file.readAll().count('\n');
    // Written again with the last steps, one line each, and added to since.
    QVERIFY2(lines < 2 * total, qPrintable(QString::number(lines)));
    QVERIFY(j->steps().size() >= 20);
    QCOMPARE(j->steps().last().id, qint64(total));
    // The steps kept are the last ones, in order, and read back the same.
    auto again = h.open();
    QCOMPARE(again->steps().size(), j->steps().size());
    for (qsizetype i = 0; i < again->steps().size(); ++i)
        QCOMPARE(again->steps()[i].id, qint64(total) - again->steps().size() + 1 + i);
    QCOMPARE(h.addBox(*again, QStringLiteral("next")), qint64(total + 1));
    QCOMPARE(again->undo().step.id, qint64(total + 1));
    QCOMPARE(again->undo().step.id, qint64(total));
}

void TstJournal::twoJournalsOnOneFile()
{
    Home h;
    auto one = h.open();
    auto two = h.open();
    int changes = 0;
    one->setOnChange([&] { ++changes; });
    // Interleaved as two windows would: each step its own id, both kept.
    const QString a = h.box(QStringLiteral("A")), b = h.box(QStringLiteral("B"));
    const qint64 idA = one->begin(Kind::BoxAdd, { { a, {}, {}, {}, {}, false } });
    const qint64 idB = two->begin(Kind::BoxAdd, { { b, {}, {}, {}, {}, false } });
    QVERIFY(idA > 0 && idB > 0 && idA != idB);
    QVERIFY(QDir().mkdir(a) && QDir().mkdir(b));
    // A step under way in another window is not taken for one a crash interrupted.
    QVERIFY(h.open()->takeInterrupted().isEmpty());
    two->finish(idB, { { b, {}, {}, FilingJournal::folderIdentityAt(b), {}, true } });
    one->finish(idA, { { a, {}, {}, FilingJournal::folderIdentityAt(a), {}, true } });
    auto third = h.open();
    for (FilingJournal* j : { one.get(), two.get(), third.get() }) {
        j->refresh();
        QCOMPARE(j->steps().size(), 2);
        QCOMPARE(j->steps()[0].id, idA);
        QCOMPARE(j->steps()[1].id, idB);
        QCOMPARE(j->steps()[0].state, State::Done);
        QCOMPARE(j->steps()[1].state, State::Done);
    }
    // An undo in one window is seen by the other, which then takes the step before it.
    changes = 0;
    QCOMPARE(two->undo().step.id, idB);
    QVERIFY(one->refresh());
    QVERIFY(changes > 0);
    QCOMPARE(one->redoStep(), idB);
    QCOMPARE(one->undo().step.id, idA);
    QVERIFY(!QFileInfo::exists(a) && !QFileInfo::exists(b));
    // A window that shows an older list (two has not read one's undo) takes nothing.
    QCOMPARE(two->redoStep(), idB);
    QVERIFY(two->redo(two->redoStep()).stale);
    QVERIFY(!QFileInfo::exists(b));
    QCOMPARE(two->redo(idA).step.id, idA);
    QVERIFY(QFileInfo(a).isDir());
}

void TstJournal::stepThatDidNothingLeavesNoRecord()
{
    Home h;
    auto one = h.open();
    auto two = h.open();
    const qint64 idA = h.addBox(*one, QStringLiteral("A"));
    const QByteArray before = contents(h.file);
    const QString c = h.box(QStringLiteral("C")), d = h.box(QStringLiteral("D"));
    const qint64 none = one->begin(Kind::BoxAdd, { { c, {}, {}, {}, {}, false } });
    QVERIFY(none > idA);
    QVERIFY(contents(h.file) != before);
    one->finish(none, {});
    QCOMPARE(contents(h.file), before);
    QCOMPARE(one->steps().size(), 1);

    // Another window wrote a step of its own after the begin: that step stays, whole.
    const qint64 idX = one->begin(Kind::BoxAdd, { { c, {}, {}, {}, {}, false } });
    const qint64 idD = two->begin(Kind::BoxAdd, { { d, {}, {}, {}, {}, false } });
    QVERIFY(idX > none && idD > idX);
    QVERIFY(QDir().mkdir(d));
    two->finish(idD, { { d, {}, {}, FilingJournal::folderIdentityAt(d), {}, true } });
    one->finish(idX, {});
    const QList<QByteArray> lines = contents(h.file).split('\n');
    QCOMPARE(lines.size(), 5); // A and D begun and done, and the last line's end
    for (const QByteArray& line : lines)
        QVERIFY(line.isEmpty() || QJsonDocument::fromJson(line).object().value("step").toInteger() != idX);
    auto third = h.open();
    for (FilingJournal* j : { one.get(), two.get(), third.get() }) {
        j->refresh();
        QCOMPARE(j->steps().size(), 2);
        QCOMPARE(j->steps()[0].id, idA);
        QCOMPARE(j->steps()[1].id, idD);
        QCOMPARE(j->steps()[1].state, State::Done);
    }
    QVERIFY(!QFileInfo::exists(h.file + QStringLiteral(".broken")));
    // Ids stay unique after it, and the window that wrote D takes it back.
    const qint64 idE = h.addBox(*one, QStringLiteral("E"));
    QVERIFY(idE > idD);
    two->refresh();
    QCOMPARE(two->undo().step.id, idE);
    QCOMPARE(two->undo().step.id, idD);
    QVERIFY(!QFileInfo::exists(d));
}

QTEST_MAIN(TstJournal)
#include "tst_journal.moc"
