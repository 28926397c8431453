#include "filing/Journal.h"

#include "filing/texts.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/SysCalls.h"
#include "platform/WorkAside.h"
#include "values/StoragePaths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef RENAME_NOREPLACE
#define RENAME_NOREPLACE (1 << 0)
#endif

namespace ztv {

namespace T = filingtexts;

namespace {

// Writes all of bytes to fd, going on after a signal; false on any failure.
bool writeAll(int fd, const QByteArray& bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

using Kind = JournalStep::Kind;
using State = JournalStep::State;
using Model = FilingJournal::Model;
using Stamp = FilingJournal::Stamp;

constexpr const char* kKindNames[]
    = { "move", "copy", "rename", "delete", "boxadd", "boxrename", "boxdelete" };

// A trash record is a few lines; anything larger is not one.
constexpr qint64 kMaxRecordBytes = 64 * 1024;

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
        if (e.fromFolder.size >= 0)
            o.insert("ff", identityField(e.fromFolder));
        if (e.toFolder.size >= 0)
            o.insert("tf", identityField(e.toFolder));
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
        e.fromFolder = identityOf(o.value("ff"));
        e.toFolder = identityOf(o.value("tf"));
        e.applied = o.value("applied").toBool(true);
        out.append(e);
    }
    return out;
}

QByteArray line(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QJsonObject stepLine(const JournalStep& s)
{
    QJsonObject o { { "op", "step" }, { "step", s.id }, { "kind", kKindNames[int(s.kind)] },
        { "time", s.time }, { "state", int(s.state) }, { "entries", entriesField(s.entries) } };
    if (s.blocked)
        o.insert("blocked", true);
    if (!s.redoable)
        o.insert("redo", false);
    if (!s.owner.isEmpty())
        o.insert("owner", s.owner);
    return o;
}

bool isFileKind(Kind k)
{
    return k == Kind::Move || k == Kind::Copy || k == Kind::Rename || k == Kind::Delete;
}

JournalStep* findIn(Model& m, qint64 id)
{
    for (qsizetype i = m.steps.size() - 1; i >= 0; --i)
        if (m.steps[i].id == id)
            return &m.steps[i];
    return nullptr;
}

// One record of the file applied to the steps; the same for records read and written here.
void applyRecord(Model& m, const QJsonObject& o)
{
    const QString op = o.value("op").toString();
    const qint64 id = o.value("step").toInteger();
    if (id <= 0)
        return;
    m.maxId = std::max(m.maxId, id);
    if (op == u"begin" || op == u"step") {
        JournalStep s;
        s.id = id;
        const QString kind = o.value("kind").toString();
        for (int k = 0; k < int(std::size(kKindNames)); ++k)
            if (kind == QLatin1String(kKindNames[k]))
                s.kind = Kind(k);
        s.time = o.value("time").toInteger();
        s.entries = entriesOf(o.value("entries"));
        s.owner = o.value("owner").toString();
        if (op == u"step") {
            s.state = State(std::clamp(o.value("state").toInt(), 0, int(State::Empty)));
            s.blocked = o.value("blocked").toBool(false);
            s.redoable = o.value("redo").toBool(true);
        }
        // Two steps under one id (older copies of the program on one home wrote them): the
        // records after cannot tell which they mean, so neither is acted on.
        if (JournalStep* same = findIn(m, id)) {
            same->blocked = true;
            s.blocked = true;
        }
        m.steps.append(s);
        return;
    }
    JournalStep* s = findIn(m, id);
    if (!s)
        return;
    if (op == u"done" || op == u"undone" || op == u"redone") {
        s->entries = entriesOf(o.value("entries"));
        s->owner.clear();
        if (o.value("blocked").toBool(false))
            s->blocked = true;
        if (op == u"undone") {
            s->state = State::Undone;
            s->redoable = true;
        } else if (op == u"redone") {
            s->state = State::Done;
        } else if (s->entries.isEmpty()) {
            s->state = State::Empty;
        } else {
            s->state = State::Done;
            // A new step ends the chance to redo what was undone before it.
            for (JournalStep& other : m.steps)
                if (other.state == State::Undone)
                    other.redoable = false;
        }
    } else if (op == u"undo" || op == u"redo") {
        s->state = State::Begun;
        s->owner = o.value("owner").toString();
    } else if (op == u"seen") {
        s->state = State::Interrupted;
        s->owner.clear();
    } else if (op == u"blocked") {
        s->blocked = true;
    }
}

// The lines of bytes (read from offset base of the file) applied to the steps. A line not yet
// ended is left for later.
void applyLines(Model& m, const QByteArray& bytes, qint64 base)
{
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        const qsizetype end = bytes.indexOf('\n', pos);
        if (end < 0)
            break;
        const QByteArray text = bytes.mid(pos, end - pos);
        pos = end + 1;
        m.offset = base + pos;
        ++m.records;
        if (text.trimmed().isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject()) {
            // A record cut short by a crash and ended by an older start is passed over; any
            // other line means the file is not a journal.
            if (text.startsWith("{\"op\":\"") && !text.contains('\0'))
                continue;
            m.corrupt = true;
            return;
        }
        applyRecord(m, doc.object());
    }
    // What follows the last whole line can only be a record cut short by a crash.
    const QByteArray tail = bytes.mid(pos).trimmed();
    const QByteArray record = "{\"op\":\"";
    if (!tail.isEmpty() && (tail.contains('\0') || !(tail.startsWith(record) || record.startsWith(tail))))
        m.corrupt = true;
    m.steps.removeIf([](const JournalStep& s) { return s.state == State::Empty; });
}

Stamp stampOf(const struct stat& st)
{
    return { quint64(st.st_dev), quint64(st.st_ino), qint64(st.st_size),
        qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec };
}

struct ReadResult {
    enum Status { Read, Missing, Unusable, Failed } status = Failed;
    Stamp stamp;
    Model model;
};

// Reads the journal from the model's offset on (or whole), without following a link and
// without waiting on a FIFO or device: only a regular file of at most kMaxBytes.
ReadResult readJournal(const QByteArray& path, Model model, bool whole)
{
    ReadResult r;
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        r.status = errno == ENOENT                                ? ReadResult::Missing
            : errno == ELOOP || errno == ENXIO || errno == ENODEV ? ReadResult::Unusable
                                                                  : ReadResult::Failed;
        return r;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > FilingJournal::kMaxBytes) {
        r.status = ReadResult::Unusable;
        ::close(fd);
        return r;
    }
    if (whole || st.st_size < model.offset)
        model = Model { {}, model.maxId, 0, 0, false };
    QByteArray bytes(qsizetype(st.st_size - model.offset), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, size_t(bytes.size() - got), model.offset + got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    bytes.truncate(got);
    r.stamp = stampOf(st);
    applyLines(model, bytes, model.offset);
    r.model = std::move(model);
    r.status = ReadResult::Read;
    return r;
}

// The start time of a process, which tells it from a later one given the same id.
QByteArray processStart(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = f.read(4096);
    const qsizetype close = text.lastIndexOf(')');
    return close < 0 ? QByteArray() : text.mid(close + 2).split(' ').value(19);
}

const QString& thisOwner()
{
    static const QString owner
        = QString::number(::getpid()) + u':' + QString::fromLatin1(processStart(::getpid()));
    return owner;
}

// Whether the process that wrote owner still runs: its step is under way, not interrupted.
bool ownerAlive(const QString& owner)
{
    const qint64 pid = owner.section(u':', 0, 0).toLongLong();
    const QByteArray start = owner.section(u':', 1).toLatin1();
    return pid > 0 && !start.isEmpty() && processStart(pid) == start;
}

QString realPath(const QString& path)
{
    char out[PATH_MAX];
    if (path.isEmpty() || !::realpath(encodePath(path).constData(), out))
        return {};
    return decodePath(QByteArray(out));
}

// An absolute path with no "." or ".." component and no empty one.
bool cleanAbsolute(const QString& path)
{
    return path.startsWith(u'/') && path.size() > 1 && !path.contains(QChar(u'\0'))
        && QDir::cleanPath(path) == path;
}

QString dataHome()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (!data.startsWith(u'/'))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data;
}

// The top of the file system that holds a (canonical) folder.
QString fileSystemTop(QString folder)
{
    struct stat here;
    if (!statPath(folder, &here))
        return {};
    while (folder.size() > 1) {
        const qsizetype slash = folder.lastIndexOf(u'/');
        const QString parent = slash <= 0 ? QStringLiteral("/") : folder.left(slash);
        struct stat st;
        if (!statPath(parent, &st) || st.st_dev != here.st_dev)
            break;
        folder = parent;
    }
    return folder;
}

// The Path= of a trash record, as bytes; empty when the file is not a record.
QByteArray recordedPath(const QString& record)
{
    const int fd = ::open(encodePath(record).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return {};
    struct stat st;
    QByteArray text;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxRecordBytes) {
        text.resize(qsizetype(st.st_size));
        const ssize_t n = ::read(fd, text.data(), size_t(text.size()));
        text.truncate(n < 0 ? 0 : qsizetype(n));
    }
    ::close(fd);
    const QList<QByteArray> lines = text.split('\n');
    if (lines.value(0).trimmed() != "[Trash Info]")
        return {};
    for (const QByteArray& l : lines)
        if (l.startsWith("Path="))
            return QByteArray::fromPercentEncoding(l.mid(5).trimmed());
    return {};
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

// Anything at all under that name, a dangling link included.
bool placeTaken(const QString& path)
{
    struct stat st;
    return lstatPath(path, &st);
}

// Whether the step has an entry that an undo (or a redo) would act on.
bool hasEntriesFor(const JournalStep& s, bool undo)
{
    return std::any_of(
        s.entries.cbegin(), s.entries.cend(), [undo](const JournalEntry& e) { return e.applied == undo; });
}

} // namespace

// The lock every window takes while it reads and writes the journal: a file of its own, so the
// journal itself may be replaced when it is written again shorter.
class FilingJournal::Lock {
public:
    explicit Lock(const QString& folder)
    {
        const QByteArray path = encodePath(folder + QStringLiteral("/journal.lock"));
        for (int attempt = 0; attempt < 2 && m_fd < 0; ++attempt) {
            const int fd
                = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
            struct stat st;
            if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
                m_fd = fd;
                break;
            }
            if (fd >= 0)
                ::close(fd);
            // A link, a FIFO or the like in its place is not locked through: taken away.
            if (::lstat(path.constData(), &st) != 0 || S_ISDIR(st.st_mode) || ::unlink(path.constData()) != 0)
                break;
        }
        // Another window holds it only while it reads or writes a few lines: waited for, a while.
        for (int i = 0; m_fd >= 0 && i < 400; ++i) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0) {
                m_locked = true;
                return;
            }
            if (errno != EWOULDBLOCK && errno != EINTR)
                return;
            ::usleep(5000);
        }
    }
    ~Lock()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    explicit operator bool() const { return m_locked; }

private:
    int m_fd = -1;
    bool m_locked = false;
};

FilingJournal::FilingJournal(FileOps& ops, const QString& folder)
    : m_ops(ops)
    , m_folder(folder.isEmpty() ? defaultFolder() : folder)
    , m_file(m_folder + QStringLiteral("/journal"))
{
    QDir().mkpath(m_folder);
    Lock lock(m_folder);
    if (!lock) {
        // A journal that cannot be locked (a read-only disk) is read, never changed.
        m_writing = false;
        m_readOnly = true;
        sync(true);
        m_readOnly = false;
        return;
    }
    sync(true);
    // Begun and never finished by a program that no longer runs: reported once, never replayed.
    QByteArray seen;
    for (JournalStep& s : m_steps) {
        if (s.state == State::Begun && !ownerAlive(s.owner)) {
            m_interrupted.append(s);
            s.state = State::Interrupted;
            seen += line({ { "op", "seen" }, { "step", s.id } });
        }
    }
    if (!seen.isEmpty())
        append(seen);
    compactIfLong();
    m_changed = false;
}

QString FilingJournal::defaultFolder()
{
    return dataHome() + QStringLiteral("/zentovi");
}

void FilingJournal::setStorageRoot(const QString& root)
{
    m_root = root;
    while (m_root.endsWith(u'/'))
        m_root.chop(1);
}

FileIdentity FilingJournal::identityAt(const QString& path)
{
    return identifyFile(path).value_or(FileIdentity {});
}

FileIdentity FilingJournal::folderIdentityAt(const QString& path, bool followLinks)
{
    struct stat st;
    if (path.isEmpty() || !(followLinks ? statPath(path, &st) : lstatPath(path, &st)) || !S_ISDIR(st.st_mode))
        return {};
    return { quint64(st.st_dev), quint64(st.st_ino), 0, 0 };
}

QString FilingJournal::folderOf(const QString& path)
{
    return path.left(BackInstr(path, QStringLiteral("/")) - 1);
}

// Brings the steps up to date with the file; under the lock.
void FilingJournal::sync(bool atStart)
{
    struct stat st;
    if (!lstatPath(m_file, &st)) {
        if (errno == ENOENT && m_stamp.size >= 0) {
            // Taken away outside: a new journal starts, its ids after the ones given.
            m_model = Model { {}, m_model.maxId, 0, 0, false };
            m_stamp = {};
            m_changed = true;
        }
        return;
    }
    // A folder cannot be moved aside as a file: nothing is written, and that is said once.
    if (S_ISDIR(st.st_mode))
        return;
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxBytes) {
        moveAside();
        return;
    }
    const Stamp now = stampOf(st);
    if (now == m_stamp)
        return;
    readFile(
        now.device != m_stamp.device || now.inode != m_stamp.inode || now.size < m_model.offset, atStart);
}

void FilingJournal::readFile(bool whole, bool atStart)
{
    const QByteArray path = encodePath(m_file);
    const Model known = m_model;
    // A whole journal is read aside, so the window keeps painting; what another window added
    // since the last read is a few lines.
    ReadResult r = whole && atStart
        ? offMainThread<ReadResult>([path, known] { return readJournal(path, known, true); })
        : readJournal(path, known, whole);
    if (r.status == ReadResult::Unusable || r.model.corrupt) {
        moveAside();
        return;
    }
    if (r.status != ReadResult::Read)
        return;
    r.model.maxId = std::max(r.model.maxId, known.maxId);
    m_model = std::move(r.model);
    m_stamp = r.stamp;
    m_changed = true;
    // A line cut short by a crash (lines are written under the lock, so no window is writing
    // it now): cut off, so the next record starts a line of its own.
    if (m_stamp.size > m_model.offset && !m_readOnly) {
        const int fd = ::open(path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::ftruncate(fd, m_model.offset) == 0
            && ::fstat(fd, &st) == 0)
            m_stamp = stampOf(st);
        else
            m_writing = false;
        if (fd >= 0)
            ::close(fd);
    }
}

void FilingJournal::moveAside()
{
    if (m_readOnly)
        return;
    const QByteArray from = encodePath(m_file);
    for (int n = 1; n < 100; ++n) {
        const QString name
            = m_file + QStringLiteral(".broken") + (n > 1 ? QStringLiteral(".%1").arg(n) : QString());
        const QByteArray to = encodePath(name);
        int rc = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            struct stat st;
            if (::lstat(to.constData(), &st) == 0)
                continue;
            rc = ::rename(from.constData(), to.constData());
        }
        if (rc == 0) {
            m_movedAside = name;
            m_model = Model { {}, m_model.maxId, 0, 0, false };
            m_stamp = {};
            m_changed = true;
            return;
        }
        if (errno != EEXIST)
            break;
    }
    m_writing = false;
}

// Appends whole lines, flushed; under the lock, after sync().
bool FilingJournal::append(const QByteArray& text)
{
    const int fd = ::open(encodePath(m_file).constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat st;
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    ok = ok && writeAll(fd, text);
    // Flushed before the change it announces is made.
    ok = ok && ::fsync(fd) == 0 && ::fstat(fd, &st) == 0;
    if (ok) {
        m_stamp = stampOf(st);
        m_model.offset = st.st_size;
        m_model.records += text.count('\n');
    }
    if (fd >= 0)
        ::close(fd);
    if (!ok)
        m_writing = false;
    return ok;
}

// Past kCompactBytes or a few hundred steps' records, the journal is written again with the
// last steps only, one line each, and put in place of the old one at once.
void FilingJournal::compactIfLong()
{
    if (m_stamp.size <= kCompactBytes && m_model.records <= 4 * kKept && m_steps.size() <= 2 * kKept)
        return;
    QByteArray all;
    qsizetype first = m_steps.size();
    for (qsizetype i = m_steps.size() - 1; i >= 0 && m_steps.size() - i <= kKept; --i) {
        const QByteArray l = line(stepLine(m_steps[i]));
        if (!all.isEmpty() && all.size() + l.size() > kCompactBytes / 2)
            break;
        all.prepend(l);
        first = i;
    }
    if (replaceWith(all))
        m_steps = m_steps.mid(first);
}

// The journal replaced by all at once, under the lock: a new file, so every other window reads
// it whole again. False (the journal as it was) when it could not be written.
bool FilingJournal::replaceWith(const QByteArray& all)
{
    const QByteArray temp = encodePath(m_file + QStringLiteral(".new-%1").arg(::getpid()));
    ::unlink(temp.constData());
    const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    ok = ok && writeAll(fd, all);
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    ok = ok && ::rename(temp.constData(), encodePath(m_file).constData()) == 0;
    struct stat st;
    if (!ok || !lstatPath(m_file, &st)) {
        ::unlink(temp.constData());
        return false;
    }
    if (const int dir = ::open(encodePath(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    m_model.records = all.count('\n');
    m_model.offset = all.size();
    m_stamp = stampOf(st);
    m_changed = true;
    return true;
}

// A step that did nothing leaves no record: its begin record is cut out of the file, which is
// otherwise kept byte for byte. Only while the file is the one it was written to (not compacted
// since, by any window); false when it is not, or could not be written.
bool FilingJournal::dropBegun(qint64 id)
{
    const Begun b = std::exchange(m_begun, {});
    if (b.id != id || b.text.isEmpty() || m_stamp.device != b.file.device || m_stamp.inode != b.file.inode
        || m_stamp.size < b.file.size)
        return false;
    const int fd = ::open(encodePath(m_file).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd < 0)
        return false;
    QByteArray bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && stampOf(st) == m_stamp) {
        bytes.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + got, size_t(bytes.size() - got), got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += n;
        }
        bytes.truncate(got);
    }
    ::close(fd);
    const qsizetype at = qsizetype(b.file.size) - b.text.size();
    if (at < 0 || bytes.size() != m_stamp.size || bytes.mid(at, b.text.size()) != b.text)
        return false;
    bytes.remove(at, b.text.size());
    return replaceWith(bytes);
}

void FilingJournal::notify()
{
    if (std::exchange(m_changed, false) && m_onChange)
        m_onChange();
}

bool FilingJournal::refresh()
{
    // Not from inside a change of this journal; the window's own operations keep its timers
    // out of every other.
    if (m_acting > 0)
        return false;
    {
        Lock lock(m_folder);
        if (!lock)
            return false;
        sync(false);
    }
    const bool changed = m_changed;
    notify();
    return changed;
}

JournalStep* FilingJournal::find(qint64 id)
{
    return findIn(m_model, id);
}

bool FilingJournal::placeText(const QString& path) const
{
    if (m_root.isEmpty() || !cleanAbsolute(path))
        return false;
    for (const char16_t* area : { kVaultName, kStockYardName }) {
        const QString top = m_root + u'/' + QString::fromUtf16(area) + u'/';
        if (path.startsWith(top) && path.size() > top.size())
            return true;
    }
    return false;
}

// Below the stock yard or the vault, in name and on disk: no link among its folders leads out.
bool FilingJournal::inArea(const QString& path) const
{
    if (!placeText(path))
        return false;
    const QString folder = realPath(folderOf(path));
    if (folder.isEmpty())
        return false;
    for (const char16_t* area : { kVaultName, kStockYardName }) {
        const QString top = realPath(m_root + u'/' + QString::fromUtf16(area));
        if (!top.isEmpty() && (folder == top || folder.startsWith(top + u'/')))
            return true;
    }
    return false;
}

// The top of a removable medium's file system holding path: another disk than the storage
// root's and the home's, never the system's own; "" for any other place.
QString FilingJournal::mediumTop(const QString& path) const
{
    if (m_root.isEmpty() || !cleanAbsolute(path) || placeText(path))
        return {};
    const QString folder = realPath(folderOf(path));
    if (folder.isEmpty())
        return {};
    QString top = fileSystemTop(folder);
    // Where a test tells the trash where a disk's top is, that is the medium's top.
    if (const std::string forced = sys::trashTopForcing(); !forced.empty()) {
        const QString f = realPath(QString::fromStdString(forced));
        if (!f.isEmpty() && (folder == f || folder.startsWith(f + u'/')))
            top = f;
    }
    const QString rootTop = fileSystemTop(realPath(m_root));
    const QString homeTop = fileSystemTop(realPath(dataHome()));
    if (top.isEmpty() || top == u"/" || top == rootTop || top == homeTop)
        return {};
    return top;
}

// A file deleted from a medium lies in that medium's own trash (.Trash-<uid> at its top).
bool FilingJournal::inMediumTrash(const JournalEntry& e) const
{
    const QString top = mediumTop(e.from);
    if (top.isEmpty() || e.to.isEmpty() || !cleanAbsolute(e.to))
        return false;
    const QString own = realPath(top + QStringLiteral("/.Trash-") + QString::number(::geteuid()));
    return !own.isEmpty() && realPath(folderOf(folderOf(e.to))) == own;
}

// A file in a trash: the home trash, or the one at the top of the original folder's own disk
// (as FileOps::trashFile chooses them), and its record the one of that very file.
QString FilingJournal::trashCheck(const JournalEntry& e) const
{
    const QString wrong = QString::fromUtf16(T::TrashRecordWrong);
    const QString files = folderOf(e.to);
    if (!cleanAbsolute(e.to) || GetFileTitle(files) != u"files")
        return wrong;
    const QString trash = folderOf(files);
    const QString realTrash = realPath(trash);
    const QString realFrom = realPath(folderOf(e.from));
    if (realTrash.isEmpty() || realFrom.isEmpty() || realPath(files) != realTrash + QStringLiteral("/files"))
        return wrong;
    QString top;
    const bool home = realPath(dataHome() + QStringLiteral("/Trash")) == realTrash;
    if (!home) {
        const QString uid = QString::number(::geteuid());
        QStringList tops { fileSystemTop(realFrom) };
        if (const std::string forced = sys::trashTopForcing(); !forced.empty())
            tops << realPath(QString::fromStdString(forced));
        for (const QString& t : std::as_const(tops)) {
            const QString base = t == u"/" ? QString() : t;
            for (const QString& own :
                { base + QStringLiteral("/.Trash-") + uid, base + QStringLiteral("/.Trash/") + uid })
                if (!t.isEmpty() && realPath(own) == realTrash)
                    top = t;
        }
        if (top.isEmpty())
            return wrong;
    }
    if (e.record.isEmpty())
        return {};
    if (e.record != trash + QStringLiteral("/info/") + GetFileTitle(e.to) + QStringLiteral(".trashinfo")
        || realPath(folderOf(e.record)) != realTrash + QStringLiteral("/info"))
        return wrong;
    QByteArray expected = encodePath(realFrom + u'/' + GetFileTitle(e.from));
    if (top == u"/")
        expected = expected.mid(1);
    else if (!top.isEmpty())
        expected = expected.mid(encodePath(top).size() + 1);
    return recordedPath(e.record) == expected ? QString() : wrong;
}

// Why an entry read from the journal may not be acted on; empty when it may.
QString FilingJournal::check(const JournalStep& s, const JournalEntry& e, bool undo) const
{
    const QString outside = QString::fromUtf16(T::PlaceNotAllowed);
    switch (s.kind) {
    case Kind::Move:
    case Kind::Rename:
    case Kind::BoxRename:
        if (!inArea(e.from) || !inArea(e.to))
            return outside;
        break;
    case Kind::Copy:
        // The source is only read again, wherever it was (a disc, another program's folder).
        if (!inArea(e.to) || !cleanAbsolute(e.from))
            return outside;
        break;
    case Kind::Delete:
        // Outside the storage root only a file of a medium that went to the medium's own trash.
        if (!inArea(e.from) && !inMediumTrash(e))
            return outside;
        if (undo && !e.to.isEmpty())
            if (const QString why = trashCheck(e); !why.isEmpty())
                return why;
        break;
    case Kind::BoxAdd:
    case Kind::BoxDelete:
        if (!inArea(e.from))
            return outside;
        break;
    }
    // The folders it moves between are the ones it was done in (device and inode: their
    // contents and times change with every filing).
    const auto sameFolder = [](const QString& place, const FileIdentity& was) {
        return was.size < 0 || folderIdentityAt(folderOf(place), true) == was;
    };
    if (!sameFolder(e.from, e.fromFolder) || (!e.to.isEmpty() && !sameFolder(e.to, e.toFolder)))
        return QString::fromUtf16(T::ChangedSinceStep);
    // A box is known by its identity: without one (an older journal) another box that took its
    // name could not be told from it.
    const bool boxTouched = (s.kind == Kind::BoxAdd && undo) || (s.kind == Kind::BoxDelete && !undo)
        || s.kind == Kind::BoxRename;
    if (boxTouched && e.identity.size < 0)
        return QString::fromUtf16(T::CannotCheck);
    return {};
}

// A plan about to be written: its places where the step may act.
bool FilingJournal::planAllowed(Kind kind, const QList<JournalEntry>& plan) const
{
    for (const JournalEntry& e : plan) {
        const bool fromAllowed = kind == Kind::Copy
            ? cleanAbsolute(e.from)
            : placeText(e.from) || (kind == Kind::Delete && !mediumTop(e.from).isEmpty());
        if (!fromAllowed)
            return false;
        if (!e.to.isEmpty() && !placeText(e.to))
            return false;
    }
    return true;
}

qint64 FilingJournal::begin(Kind kind, const QList<JournalEntry>& plan)
{
    if (!planAllowed(kind, plan))
        return 0;
    const qint64 time = QDateTime::currentSecsSinceEpoch();
    const QString owner = thisOwner();
    // The record, its lock and its flush wait aside, so the window keeps painting; the step is
    // on disk when this returns. Nothing else reads or writes the steps meanwhile (refresh()
    // waits for m_acting, and the window holds its one operation).
    ++m_acting;
    offMainThread<bool>([&] {
        Lock lock(m_folder);
        if (lock)
            sync(false);
        else
            m_writing = false;
        const QJsonObject o { { "op", "begin" }, { "step", m_model.maxId + 1 },
            { "kind", kKindNames[int(kind)] }, { "time", time }, { "owner", owner },
            { "entries", entriesField(plan) } };
        const QByteArray text = line(o);
        if (lock && append(text))
            m_begun = { m_model.maxId + 1, m_stamp, text };
        applyRecord(m_model, o);
        return true;
    });
    --m_acting;
    m_changed = true;
    notify();
    return m_model.maxId;
}

void FilingJournal::finish(qint64 id, const QList<JournalEntry>& done)
{
    if (id <= 0)
        return;
    // Aside as begin(), and done only once flushed.
    ++m_acting;
    offMainThread<bool>([&] {
        Lock lock(m_folder);
        if (lock)
            sync(false);
        const QJsonObject o { { "op", "done" }, { "step", id }, { "entries", entriesField(done) } };
        // Where its begin record cannot be taken out, a done record with no entries marks it
        // empty, and it is dropped when read.
        if (lock && !(done.isEmpty() && dropBegun(id)))
            append(line(o));
        applyRecord(m_model, o);
        m_steps.removeIf([](const JournalStep& s) { return s.state == State::Empty; });
        if (lock)
            compactIfLong();
        return true;
    });
    --m_acting;
    m_changed = true;
    notify();
}

QList<JournalStep> FilingJournal::takeInterrupted()
{
    return std::exchange(m_interrupted, {});
}

int FilingJournal::undoTarget() const
{
    for (int i = int(m_steps.size()) - 1; i >= 0; --i)
        if (m_steps[i].state == State::Done && !m_steps[i].blocked)
            return i;
    return -1;
}

// The step undone last: every step undone since the last new one lies after every step still
// done, and each undo takes the last of those, so the earliest undone is the last undo.
int FilingJournal::redoTarget() const
{
    for (int i = 0; i < int(m_steps.size()); ++i)
        if (m_steps[i].state == State::Undone && m_steps[i].redoable && !m_steps[i].blocked)
            return i;
    return -1;
}

qint64 FilingJournal::undoStep() const
{
    const int i = undoTarget();
    return i < 0 ? 0 : m_steps[i].id;
}

qint64 FilingJournal::redoStep() const
{
    const int i = redoTarget();
    return i < 0 ? 0 : m_steps[i].id;
}

JournalOutcome FilingJournal::undo(qint64 expected)
{
    return act(true, expected);
}

JournalOutcome FilingJournal::redo(qint64 expected)
{
    return act(false, expected);
}

JournalOutcome FilingJournal::act(bool undo, qint64 expected)
{
    ++m_acting;
    const auto acted = qScopeGuard([this] { --m_acting; });
    JournalOutcome out;
    JournalStep work;
    {
        Lock lock(m_folder);
        if (!lock) {
            m_writing = false;
            return out;
        }
        sync(false);
        int index;
        // A step with nothing left to act on would be chosen again and again: passed over.
        while ((index = undo ? undoTarget() : redoTarget()) >= 0 && !hasEntriesFor(m_steps[index], undo)) {
            const QJsonObject o { { "op", "blocked" }, { "step", m_steps[index].id } };
            append(line(o));
            applyRecord(m_model, o);
            m_changed = true;
        }
        if (index < 0) {
            notify();
            return out;
        }
        out.none = false;
        if (expected != 0 && m_steps[index].id != expected) {
            out.stale = true;
            out.step = m_steps[index];
            notify();
            return out;
        }
        work = m_steps[index];
        const QJsonObject o { { "op", undo ? "undo" : "redo" }, { "step", work.id },
            { "owner", thisOwner() } };
        append(line(o));
        applyRecord(m_model, o);
        m_changed = true;
    }
    const qsizetype n = work.entries.size();
    for (qsizetype k = 0; k < n; ++k) {
        // Taken back last first, so a later entry never stands in an earlier one's way.
        JournalEntry& e = work.entries[undo ? n - 1 - k : k];
        if (e.applied != undo)
            continue;
        ++out.total;
        QString reason = check(work, e, undo);
        const bool ok
            = reason.isEmpty() && (undo ? revert(work.kind, e, &reason) : reapply(work.kind, e, &reason));
        const QString shown
            = isFileKind(work.kind) || work.kind == Kind::BoxRename ? (undo ? e.to : e.from) : e.from;
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
    // A step none of whose entries could be acted on stays where it was, and is passed over
    // from then on: it was said once, and older steps stay within reach.
    const bool nothing = out.done == 0;
    QJsonObject o { { "op", (undo != nothing) ? "undone" : "redone" }, { "step", work.id },
        { "entries", entriesField(work.entries) } };
    if (nothing)
        o.insert("blocked", true);
    {
        Lock lock(m_folder);
        if (lock) {
            sync(false);
            append(line(o));
        } else {
            m_writing = false;
        }
        applyRecord(m_model, o);
        if (lock)
            compactIfLong();
    }
    m_changed = true;
    if (const JournalStep* s = find(work.id))
        out.step = *s;
    else
        out.step = work;
    notify();
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
        if (folderIdentityAt(e.from) != e.identity)
            return refused(T::ChangedSinceStep, reason);
        return boxRemoved(m_ops.removeEmptyDirectory(e.from), reason);
    case Kind::BoxDelete:
        if (!succeeded(m_ops.makeDirectory(e.from), reason))
            return false;
        e.identity = folderIdentityAt(e.from);
        return true;
    case Kind::BoxRename:
        if (folderIdentityAt(e.to) != e.identity)
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
        e.toFolder = folderIdentityAt(folderOf(e.to), true);
        return true;
    }
    case Kind::BoxAdd:
        if (!succeeded(m_ops.makeDirectory(e.from), reason))
            return false;
        e.identity = folderIdentityAt(e.from);
        return true;
    case Kind::BoxDelete:
        if (folderIdentityAt(e.from) != e.identity)
            return refused(T::ChangedSinceStep, reason);
        return boxRemoved(m_ops.removeEmptyDirectory(e.from), reason);
    case Kind::BoxRename: {
        if (folderIdentityAt(e.from) != e.identity)
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
