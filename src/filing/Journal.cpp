#include "filing/Journal.h"

#include "filing/texts.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

namespace T = filingtexts;

namespace {

using Kind = JournalStep::Kind;
using State = JournalStep::State;

constexpr const char* kKindNames[]
    = { "move", "copy", "rename", "delete", "boxadd", "boxrename", "boxdelete" };

// Paths are bytes on disk; the journal keeps them percent-encoded so any name survives.
QString pathField(const QString& path)
{
    return QString::fromLatin1(encodePath(path).toPercentEncoding("/"));
}

QString pathOf(const QJsonValue& v)
{
    return decodePath(QByteArray::fromPercentEncoding(v.toString().toLatin1()));
}

QJsonArray identityField(const FileIdentity& id)
{
    return { QString::number(id.device), QString::number(id.inode), QString::number(id.size),
        QString::number(id.modifiedNs) };
}

FileIdentity identityOf(const QJsonValue& v)
{
    const QJsonArray a = v.toArray();
    FileIdentity id;
    if (a.size() == 4) {
        id.device = a[0].toString().toULongLong();
        id.inode = a[1].toString().toULongLong();
        id.size = a[2].toString().toLongLong();
        id.modifiedNs = a[3].toString().toLongLong();
    }
    return id;
}

QJsonArray entriesField(const QList<JournalEntry>& entries)
{
    QJsonArray out;
    for (const JournalEntry& e : entries) {
        QJsonObject o { { "from", pathField(e.from) }, { "to", pathField(e.to) },
            { "id", identityField(e.identity) }, { "applied", e.applied } };
        if (!e.record.isEmpty())
            o.insert("record", pathField(e.record));
        if (e.source.size >= 0)
            o.insert("source", identityField(e.source));
        out.append(o);
    }
    return out;
}

QList<JournalEntry> entriesOf(const QJsonValue& v)
{
    QList<JournalEntry> out;
    for (const QJsonValue& x : v.toArray()) {
        const QJsonObject o = x.toObject();
        JournalEntry e;
        e.from = pathOf(o.value("from"));
        e.to = pathOf(o.value("to"));
        e.record = pathOf(o.value("record"));
        e.identity = identityOf(o.value("id"));
        e.source = identityOf(o.value("source"));
        e.applied = o.value("applied").toBool(true);
        out.append(e);
    }
    return out;
}

QByteArray line(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

bool isFileKind(Kind k)
{
    return k == Kind::Move || k == Kind::Copy || k == Kind::Rename || k == Kind::Delete;
}

// Anything at all under that name, a dangling link included.
bool placeTaken(const QString& path)
{
    struct stat st;
    return lstatPath(path, &st);
}

bool isFolder(const QString& path)
{
    struct stat st;
    return lstatPath(path, &st) && S_ISDIR(st.st_mode);
}

QString reasonOf(const FileResult& r)
{
    if (r.error == FileError::Exists)
        return QString::fromUtf16(T::OriginalTaken);
    if (r.error == FileError::NotEmpty)
        return QString::fromUtf16(T::BoxNotEmptyNow);
    return r.detail.isEmpty() ? QString::fromUtf16(T::FilingError) : r.detail;
}

// Whether r succeeded; if not, reason says why.
bool succeeded(const FileResult& r, QString* reason)
{
    if (!r.ok())
        *reason = reasonOf(r);
    return r.ok();
}

bool refused(const char16_t* text, QString* reason)
{
    *reason = QString::fromUtf16(text);
    return false;
}

// A box removed again: one that is gone or holds something now says so.
bool boxRemoved(const FileResult& r, QString* reason)
{
    if (r.ok())
        return true;
    return refused(r.error == FileError::NotFound ? T::ChangedSinceStep : T::BoxNotEmptyNow, reason);
}

} // namespace

FilingJournal::FilingJournal(FileOps& ops, const QString& folder)
    : m_ops(ops)
    , m_folder(folder.isEmpty() ? defaultFolder() : folder)
    , m_file(m_folder + QStringLiteral("/journal"))
{
    QDir().mkpath(m_folder);
    load();
}

QString FilingJournal::defaultFolder()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!data.startsWith(u'/'))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/zentovi");
}

FileIdentity FilingJournal::identityAt(const QString& path)
{
    return identifyFile(path).value_or(FileIdentity {});
}

QString FilingJournal::folderOf(const QString& path)
{
    return path.left(BackInstr(path, QStringLiteral("/")) - 1);
}

void FilingJournal::load()
{
    QFile f(m_file);
    if (!f.open(QIODevice::ReadOnly))
        return;
    int lines = 0;
    bool cut = false;
    while (!f.atEnd()) {
        const QByteArray text = f.readLine();
        ++lines;
        // A line cut short by a crash is not a record; the next record starts a line of its own.
        if (!text.endsWith('\n')) {
            cut = true;
            break;
        }
        const QJsonObject o = QJsonDocument::fromJson(text).object();
        const QString op = o.value("op").toString();
        const qint64 id = o.value("step").toInteger();
        if (id <= 0)
            continue;
        m_next = std::max(m_next, id + 1);
        if (op == u"begin" || op == u"step") {
            JournalStep s;
            s.id = id;
            const QString kind = o.value("kind").toString();
            for (int k = 0; k < int(std::size(kKindNames)); ++k)
                if (kind == QLatin1String(kKindNames[k]))
                    s.kind = Kind(k);
            s.time = o.value("time").toInteger();
            s.entries = entriesOf(o.value("entries"));
            s.state = op == u"begin" ? State::Begun : State(o.value("state").toInt());
            m_steps.append(s);
            continue;
        }
        JournalStep* s = find(id);
        if (!s)
            continue;
        if (op == u"done" || op == u"undone" || op == u"redone") {
            s->entries = entriesOf(o.value("entries"));
            s->state = op == u"done" ? (s->entries.isEmpty() ? State::Empty : State::Done)
                : op == u"undone"    ? State::Undone
                                     : State::Done;
        } else if (op == u"undo" || op == u"redo") {
            s->state = State::Begun;
        } else if (op == u"seen") {
            s->state = State::Interrupted;
        }
    }
    f.close();
    if (cut)
        append("\n");
    QList<qint64> seen;
    for (JournalStep& s : m_steps) {
        if (s.state == State::Begun) {
            m_interrupted.append(s);
            s.state = State::Interrupted;
            seen.append(s.id);
        }
    }
    for (qint64 id : std::as_const(seen))
        append(line({ { "op", "seen" }, { "step", id } }));
    m_steps.removeIf([](const JournalStep& s) { return s.state == State::Empty; });
    // Kept short: the last steps only, written again as one line each.
    if (m_steps.size() > 2 * kKept || lines > 8 * kKept) {
        m_steps = m_steps.mid(std::max<qsizetype>(0, m_steps.size() - kKept));
        rewrite();
    }
}

void FilingJournal::append(const QByteArray& text)
{
    QFile f(m_file);
    // Flushed before the change it announces is made.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append) || f.write(text) != text.size() || !f.flush()
        || ::fsync(f.handle()) != 0)
        m_writing = false;
}

void FilingJournal::rewrite()
{
    QByteArray all;
    for (const JournalStep& s : std::as_const(m_steps))
        all += line({ { "op", "step" }, { "step", s.id }, { "kind", kKindNames[int(s.kind)] },
            { "time", s.time }, { "state", int(s.state) }, { "entries", entriesField(s.entries) } });
    if (!m_ops.writeFile(m_file, all, true).ok())
        m_writing = false;
}

JournalStep* FilingJournal::find(qint64 id)
{
    for (JournalStep& s : m_steps)
        if (s.id == id)
            return &s;
    return nullptr;
}

qint64 FilingJournal::begin(Kind kind, const QList<JournalEntry>& plan)
{
    JournalStep s;
    s.id = m_next++;
    s.kind = kind;
    s.time = QDateTime::currentSecsSinceEpoch();
    s.entries = plan;
    append(line({ { "op", "begin" }, { "step", s.id }, { "kind", kKindNames[int(kind)] }, { "time", s.time },
        { "entries", entriesField(plan) } }));
    m_steps.append(s);
    return s.id;
}

void FilingJournal::finish(qint64 id, const QList<JournalEntry>& done)
{
    JournalStep* s = find(id);
    if (!s)
        return;
    s->entries = done;
    s->state = done.isEmpty() ? State::Empty : State::Done;
    append(line({ { "op", "done" }, { "step", id }, { "entries", entriesField(done) } }));
    if (s->state == State::Empty)
        m_steps.removeIf([id](const JournalStep& x) { return x.id == id; });
    if (m_steps.size() > 2 * kKept) {
        m_steps = m_steps.mid(m_steps.size() - kKept);
        rewrite();
    }
}

QList<JournalStep> FilingJournal::takeInterrupted()
{
    return std::exchange(m_interrupted, {});
}

int FilingJournal::undoTarget() const
{
    for (int i = int(m_steps.size()) - 1; i >= 0; --i)
        if (m_steps[i].state == State::Done)
            return i;
    return -1;
}

// The earliest step undone after the last one still done: undone steps are done again in
// the order they were first done, and a new step ends the chance to redo those before it.
int FilingJournal::redoTarget() const
{
    for (int i = undoTarget() + 1; i < m_steps.size(); ++i)
        if (m_steps[i].state == State::Undone)
            return i;
    return -1;
}

JournalOutcome FilingJournal::undo()
{
    const int i = undoTarget();
    return i < 0 ? JournalOutcome {} : act(i, true);
}

JournalOutcome FilingJournal::redo()
{
    const int i = redoTarget();
    return i < 0 ? JournalOutcome {} : act(i, false);
}

JournalOutcome FilingJournal::act(int index, bool undo)
{
    JournalStep& s = m_steps[index];
    JournalOutcome out;
    out.none = false;
    append(line({ { "op", undo ? "undo" : "redo" }, { "step", s.id } }));
    const qsizetype n = s.entries.size();
    for (qsizetype k = 0; k < n; ++k) {
        // Taken back last first, so a later entry never stands in an earlier one's way.
        JournalEntry& e = s.entries[undo ? n - 1 - k : k];
        if (e.applied != undo)
            continue;
        ++out.total;
        QString reason;
        const bool ok = undo ? revert(s.kind, e, &reason) : reapply(s.kind, e, &reason);
        const QString shown
            = isFileKind(s.kind) || s.kind == Kind::BoxRename ? (undo ? e.to : e.from) : e.from;
        if (ok) {
            ++out.done;
            e.applied = !undo;
            for (const QString& place : { e.from, e.to }) {
                const QString folder = folderOf(place);
                if (!place.isEmpty() && !out.folders.contains(folder))
                    out.folders << folder;
            }
        } else {
            out.problems << QString::fromUtf16(T::BatchProblem).arg(displayName(GetFileTitle(shown)), reason);
        }
    }
    // A step none of whose entries could be acted on stays where it was.
    if (out.done > 0)
        s.state = undo ? State::Undone : State::Done;
    append(line({ { "op", s.state == State::Undone ? "undone" : "redone" }, { "step", s.id },
        { "entries", entriesField(s.entries) } }));
    out.step = s;
    return out;
}

bool FilingJournal::revert(Kind kind, JournalEntry& e, QString* reason)
{
    switch (kind) {
    case Kind::Move:
    case Kind::Rename:
    case Kind::Delete: {
        if (kind == Kind::Delete && e.to.isEmpty())
            return refused(T::NotInTrash, reason);
        if (identityAt(e.to) != e.identity)
            return refused(T::ChangedSinceStep, reason);
        if (placeTaken(e.from))
            return refused(T::OriginalTaken, reason);
        if (!succeeded(m_ops.moveNoReplace(e.to, e.from), reason))
            return false;
        // The way back is used: the record would name a file no longer in the trash.
        if (kind == Kind::Delete && !e.record.isEmpty())
            m_ops.removeFile(e.record);
        e.identity = identityAt(e.from);
        return true;
    }
    case Kind::Copy: {
        if (identityAt(e.to) != e.identity)
            return refused(T::ChangedSinceStep, reason);
        // The copy goes to the trash, not for good: the user may still want it.
        TrashedFile where;
        return succeeded(m_ops.trashFile(e.to, where), reason);
    }
    case Kind::BoxAdd:
        return boxRemoved(m_ops.removeEmptyDirectory(e.from), reason);
    case Kind::BoxDelete:
        return succeeded(m_ops.makeDirectory(e.from), reason);
    case Kind::BoxRename:
        if (!isFolder(e.to))
            return refused(T::ChangedSinceStep, reason);
        return succeeded(m_ops.moveNoReplace(e.to, e.from), reason);
    }
    return false;
}

bool FilingJournal::reapply(Kind kind, JournalEntry& e, QString* reason)
{
    switch (kind) {
    case Kind::Move:
    case Kind::Rename:
        if (identityAt(e.from) != e.identity)
            return refused(T::ChangedSinceStep, reason);
        if (placeTaken(e.to))
            return refused(T::FileExists, reason);
        if (!succeeded(m_ops.moveNoReplace(e.from, e.to), reason))
            return false;
        e.identity = identityAt(e.to);
        return true;
    case Kind::Copy:
        if (identityAt(e.from) != e.source)
            return refused(T::ChangedSinceStep, reason);
        if (placeTaken(e.to))
            return refused(T::FileExists, reason);
        if (!succeeded(m_ops.copyNoReplace(e.from, e.to), reason))
            return false;
        e.identity = identityAt(e.to);
        return true;
    case Kind::Delete: {
        if (identityAt(e.from) != e.identity)
            return refused(T::ChangedSinceStep, reason);
        TrashedFile where;
        if (!succeeded(m_ops.trashFile(e.from, where), reason))
            return false;
        e.to = where.file;
        e.record = where.record;
        e.identity = identityAt(e.to);
        return true;
    }
    case Kind::BoxAdd:
        return succeeded(m_ops.makeDirectory(e.from), reason);
    case Kind::BoxDelete:
        return boxRemoved(m_ops.removeEmptyDirectory(e.from), reason);
    case Kind::BoxRename: {
        if (!isFolder(e.from))
            return refused(T::ChangedSinceStep, reason);
        const FileResult r = m_ops.moveNoReplace(e.from, e.to);
        if (r.error == FileError::Exists)
            return refused(T::BoxExists, reason);
        return succeeded(r, reason);
    }
    }
    return false;
}

} // namespace ztv
