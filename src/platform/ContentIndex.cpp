#include "platform/ContentIndex.h"

#include "platform/FolderEntries.h"
#include "platform/PathCodec.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QHash>
#include <QMetaObject>
#include <QMultiHash>
#include <QMutex>
#include <QSet>
#include <QTemporaryFile>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace ztv {

namespace {

constexpr qint64 kEdge = 64 * 1024;
constexpr quint32 kCacheMagic = 0x5a434931; // "ZCI1"
constexpr quint32 kCacheVersion = 1;

qint64 mtimeOf(const struct stat& st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// The lowest nice value and the idle disk class, for the calling thread only: the index gives
// way to every listing and decode of the program (and to other programs).
void becomeIdle()
{
    ::setpriority(PRIO_PROCESS, pid_t(::syscall(SYS_gettid)), 19);
#ifdef SYS_ioprio_set
    constexpr int whoProcess = 1, classIdle = 3, classShift = 13;
    ::syscall(SYS_ioprio_set, whoProcess, 0, classIdle << classShift);
#endif
}

bool readAll(int fd, char* buffer, qint64 length, qint64 offset)
{
    while (length > 0) {
        const ssize_t n = ::pread(fd, buffer, size_t(length), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        buffer += n;
        length -= n;
        offset += n;
    }
    return true;
}

struct Fd {
    int fd;
    explicit Fd(const QString& path, int flags = 0)
        : fd(openPath(path, O_RDONLY | O_CLOEXEC | flags))
    {
    }
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// A link to a folder may lead anywhere, up to the root of the disk: the vault's own folders
// only are walked.
bool isLink(const QString& path)
{
    struct stat st;
    return lstatPath(path, &st) && S_ISLNK(st.st_mode);
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? path.left(slash) : QString();
}

bool isAtOrBelow(const QString& path, const QString& top)
{
    return path.startsWith(top) && (path.size() == top.size() || path[top.size()] == QLatin1Char('/'));
}

QByteArray fastHash(const QString& path, qint64* size)
{
    // A FIFO in the vault must not stop the worker in its open.
    Fd f(path, O_NONBLOCK);
    struct stat st;
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    *size = st.st_size;
    const qint64 head = std::min<qint64>(st.st_size, kEdge);
    const qint64 tailStart = std::max<qint64>(head, st.st_size - kEdge);
    QByteArray buffer(head + (st.st_size - tailStart), Qt::Uninitialized);
    // A stream (pread fails: an archive's member through GVfs) is not known: nothing is asked.
    if (!readAll(f.fd, buffer.data(), head, 0)
        || !readAll(f.fd, buffer.data() + head, st.st_size - tailStart, tailStart))
        return {};
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(QByteArrayView(reinterpret_cast<const char*>(&st.st_size), sizeof st.st_size));
    h.addData(buffer);
    return h.result();
}

} // namespace

struct ContentIndex::Core : std::enable_shared_from_this<ContentIndex::Core> {
    struct Entry {
        qint64 size = 0;
        qint64 mtime = 0; // ns
        quint64 device = 0;
        quint64 inode = 0;
        QByteArray hash;
    };
    // A change of the program's own as it was applied at once, replayed onto a build that
    // was walking meanwhile.
    struct OwnOp {
        QString from;
        QString to; // "" for a path forgotten
    };
    struct Channel {
        quint64 ticket = 0;
        QStringList files;
    };

    Core(QString root, QString cacheFile)
        : m_root(std::move(root))
        , m_cacheFile(std::move(cacheFile))
    {
    }

    void post(std::function<void()> task);
    void workerLoop();
    bool stopping() const { return m_stop.load(); }
    // Sends a signal through the owner on the owner's thread, while it lives: receivers and
    // spies never see a call from the worker's thread.
    template <class F> void toOwner(F f)
    {
        std::lock_guard<std::mutex> g(m_ownerLock);
        if (ContentIndex* owner = m_owner)
            QMetaObject::invokeMethod(
                owner, [owner, f = std::move(f)] { f(owner); }, Qt::QueuedConnection);
    }

    // Any thread.
    bool insideVault(const QString& path) const;
    QStringList forgetNow(const QString& path);
    QStringList moveNow(const QString& from, const QString& to);
    QStringList copiesInVault(const QStringList& files) const;

    // Worker side.
    void load();
    bool readCache(const QByteArray& bytes);
    void setAside();
    void save();
    bool foldersChanged() const;
    void rebuild();
    void refreshFile(const QString& path);
    void confirmMove(const QString& from, const QString& to);
    void noteFolder(const QString& folder);
    void runLookUp(quint64 ticket, int channel, const QStringList& files, bool again);
    void lookUpTask(quint64 ticket, int channel, const QStringList& files, bool again);
    void askAgain();
    // A check for changes made outside; again once the own changes waiting are applied.
    void check();
    // Rebuilds when the folders changed. False when that has to wait behind the program's
    // own changes not yet applied: again then runs once they are.
    bool checked(const std::function<void()>& again);
    void ownChange(std::function<void()> apply);
    bool superseded(quint64 ticket, int channel) const;
    QString confirmedCopy(const QString& file, const QList<QString>& candidates) const;

    static QByteArray contentKey(qint64 size, const QByteArray& hash);
    void indexContentLocked();
    // Whether a vault file, indexed or filed and unread, has that size.
    bool sizeHeld(qint64 size) const;
    void putLocked(const QString& path, const Entry& e);
    void takeLocked(const QString& path);
    // Takes path and everything below it; their entries kept for reuse by identity.
    QStringList forgetLocked(const QString& path);
    QStringList moveLocked(const QString& from, const QString& to);
    std::optional<Entry> spareLocked(const struct stat& st) const;

    const QString m_root;
    const QString m_cacheFile;
    bool m_lowPriority = true;

    // The index; the worker and the own changes change it, any thread reads it, under the lock.
    mutable QMutex m_lock;
    QHash<QString, Entry> m_files; // full path
    QMultiHash<QByteArray, QString> m_byContent; // contentKey -> full path
    QHash<qint64, int> m_sizes; // size -> files of that size: most files have no candidate at all
    QHash<QString, qint64> m_folders; // full path -> mtime (ns) when last read
    QSet<QString> m_unread; // filed by the program, not yet read by the worker
    QHash<std::pair<quint64, quint64>, Entry> m_spare; // forgotten entries, by identity
    std::vector<OwnOp> m_ownOps; // applied at once since the current build began walking
    bool m_walking = false;
    bool m_complete = false; // a build (or a loaded index found current) is behind it
    bool m_dirty = false; // differs from the cache file

    mutable std::mutex m_queueLock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_started = false;
    bool m_running = false;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_askAgain { false }; // own changes applied since the last answers
    quint64 m_lastTicket = 0; // under m_queueLock
    QHash<int, Channel> m_channels; // under m_queueLock
    std::atomic<int> m_builds { 0 };
    std::atomic<int> m_ownPending { 0 }; // own changes posted and not yet applied
    std::vector<std::function<void()>> m_deferred; // worker only

    std::mutex m_ownerLock;
    ContentIndex* m_owner = nullptr;
};

ContentIndex::ContentIndex(QString vaultRoot, QString cacheFile, QObject* parent)
    : QObject(parent)
    , m_core(std::make_shared<Core>(QDir::cleanPath(vaultRoot), std::move(cacheFile)))
{
    m_core->m_owner = this;
}

ContentIndex::~ContentIndex()
{
    {
        std::lock_guard<std::mutex> g(m_core->m_ownerLock);
        m_core->m_owner = nullptr;
    }
    // The worker holds the state it works on and ends by itself at its next file.
    stop();
}

void ContentIndex::stop()
{
    {
        std::lock_guard<std::mutex> g(m_core->m_queueLock);
        m_core->m_stop = true;
        m_core->m_tasks.clear();
    }
    m_core->m_wake.notify_all();
}

bool ContentIndex::stopped() const
{
    return m_core->stopping();
}

const QString& ContentIndex::vaultRoot() const
{
    return m_core->m_root;
}

void ContentIndex::setLowPriority(bool low)
{
    m_core->m_lowPriority = low;
}

QString ContentIndex::defaultCacheFile(const QString& vaultRoot)
{
    QString base = qEnvironmentVariable("XDG_CACHE_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.cache");
    const QByteArray id
        = QCryptographicHash::hash(encodePath(QDir::cleanPath(vaultRoot)), QCryptographicHash::Md5).toHex();
    return base + QStringLiteral("/zentovi/vault-index-") + QString::fromLatin1(id);
}

void ContentIndex::Core::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        if (m_stop)
            return;
        m_tasks.push_back(std::move(task));
        if (!m_started) {
            m_started = true;
            // Never joined: it owns a share of the state and ends on its own once stopped.
            std::thread([core = shared_from_this()] { core->workerLoop(); }).detach();
        }
    }
    m_wake.notify_one();
}

void ContentIndex::Core::workerLoop()
{
    if (m_lowPriority)
        becomeIdle();
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> g(m_queueLock);
            m_running = false;
            m_wake.wait(g, [this] { return m_stop || !m_tasks.empty(); });
            if (m_stop)
                return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
            m_running = true;
        }
        task();
        auto queueEmpty = [this] {
            std::lock_guard<std::mutex> g(m_queueLock);
            return m_tasks.empty();
        };
        // The pages' marks follow the program's own changes once a run of them is applied.
        if (queueEmpty() && m_askAgain.exchange(false))
            askAgain();
        // Written once a run of tasks is over, not after every filed file.
        if (queueEmpty() && !stopping())
            save();
    }
}

bool ContentIndex::idle() const
{
    std::lock_guard<std::mutex> g(m_core->m_queueLock);
    return m_core->m_tasks.empty() && !m_core->m_running;
}

int ContentIndex::fileCount() const
{
    QMutexLocker g(&m_core->m_lock);
    return int(m_core->m_files.size());
}

int ContentIndex::buildCount() const
{
    return m_core->m_builds.load();
}

bool ContentIndex::complete() const
{
    QMutexLocker g(&m_core->m_lock);
    return m_core->m_complete;
}

void ContentIndex::start()
{
    Core* c = m_core.get();
    c->post([c] {
        c->load();
        c->check();
    });
}

void ContentIndex::checkForOutsideChanges()
{
    Core* c = m_core.get();
    c->post([c] { c->check(); });
}

void ContentIndex::Core::check()
{
    checked([this] { post([this] { check(); }); });
}

bool ContentIndex::Core::checked(const std::function<void()>& again)
{
    if (!foldersChanged()) {
        QMutexLocker g(&m_lock);
        m_complete = true;
        return true;
    }
    // The program's own changes made after this check was asked for, and not yet applied,
    // would look like changes from outside: the check waits behind them.
    if (m_ownPending.load() > 0) {
        m_deferred.push_back(again);
        return false;
    }
    rebuild();
    return true;
}

void ContentIndex::Core::ownChange(std::function<void()> apply)
{
    ++m_ownPending;
    post([this, apply = std::move(apply)] {
        apply();
        m_askAgain = true;
        if (--m_ownPending == 0) {
            std::vector<std::function<void()>> deferred;
            deferred.swap(m_deferred);
            for (auto& d : deferred)
                d();
        }
    });
}

void ContentIndex::pathChanged(const QString& path)
{
    const QString p = QDir::cleanPath(path);
    Core* c = m_core.get();
    if (!c->insideVault(p))
        return;
    const QStringList gone = c->forgetNow(p);
    c->ownChange([c, p] { c->refreshFile(p); });
    if (!gone.isEmpty())
        Q_EMIT forgotten(gone);
}

void ContentIndex::pathMoved(const QString& from, const QString& to)
{
    const QString f = QDir::cleanPath(from), t = QDir::cleanPath(to);
    Core* c = m_core.get();
    if (!c->insideVault(f) && !c->insideVault(t))
        return;
    const QStringList gone = c->moveNow(f, t);
    c->ownChange([c, f, t] { c->confirmMove(f, t); });
    if (!gone.isEmpty())
        Q_EMIT forgotten(gone);
}

quint64 ContentIndex::lookUp(const QStringList& files, int channel)
{
    Core* c = m_core.get();
    quint64 ticket;
    {
        std::lock_guard<std::mutex> g(c->m_queueLock);
        ticket = ++c->m_lastTicket;
        c->m_channels.insert(channel, { ticket, files });
    }
    c->post([c, ticket, channel, files] { c->lookUpTask(ticket, channel, files, false); });
    return ticket;
}

void ContentIndex::Core::lookUpTask(quint64 ticket, int channel, const QStringList& files, bool again)
{
    if (superseded(ticket, channel))
        return;
    // A vault changed outside since the last look is seen before it is answered from.
    if (checked([this, ticket, channel, files] { lookUpTask(ticket, channel, files, false); }))
        runLookUp(ticket, channel, files, again);
}

void ContentIndex::Core::askAgain()
{
    QHash<int, Channel> channels;
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        channels = m_channels;
    }
    for (auto it = channels.cbegin(); it != channels.cend(); ++it)
        if (!it->files.isEmpty())
            lookUpTask(it->ticket, it.key(), it->files, true);
}

bool ContentIndex::Core::superseded(quint64 ticket, int channel) const
{
    std::lock_guard<std::mutex> g(m_queueLock);
    return m_channels.value(channel).ticket != ticket;
}

bool ContentIndex::Core::insideVault(const QString& path) const
{
    return path.size() > m_root.size() + 1 && path.startsWith(m_root)
        && path[m_root.size()] == QLatin1Char('/');
}

QByteArray ContentIndex::Core::contentKey(qint64 size, const QByteArray& hash)
{
    QByteArray key = hash;
    key.append(reinterpret_cast<const char*>(&size), sizeof size);
    return key;
}

bool ContentIndex::sameBytes(const QString& a, const QString& copy, Read how)
{
    const bool fromDisk = how == Read::CopyFromDisk;
    Fd fa(a, O_NONBLOCK), fb(copy, O_NONBLOCK);
    struct stat sa, sb;
    if (fa.fd < 0 || fb.fd < 0 || ::fstat(fa.fd, &sa) != 0 || ::fstat(fb.fd, &sb) != 0 || !S_ISREG(sa.st_mode)
        || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size)
        return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return !fromDisk;
    if (fromDisk)
        ::posix_fadvise(fb.fd, 0, 0, POSIX_FADV_DONTNEED);
    constexpr qint64 chunk = 256 * 1024;
    std::unique_ptr<char[]> ba(new char[chunk]), bb(new char[chunk]);
    for (qint64 at = 0; at < sa.st_size; at += chunk) {
        const qint64 n = std::min(chunk, qint64(sa.st_size) - at);
        if (!readAll(fa.fd, ba.get(), n, at) || !readAll(fb.fd, bb.get(), n, at)
            || std::memcmp(ba.get(), bb.get(), size_t(n)) != 0)
            return false;
    }
    // Neither grew meanwhile.
    char byte;
    return !fromDisk
        || (::pread(fa.fd, &byte, 1, sa.st_size) == 0 && ::pread(fb.fd, &byte, 1, sb.st_size) == 0);
}

void ContentIndex::Core::indexContentLocked()
{
    m_byContent.clear();
    m_sizes.clear();
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it) {
        m_byContent.insert(contentKey(it->size, it->hash), it.key());
        ++m_sizes[it->size];
    }
}

bool ContentIndex::Core::sizeHeld(qint64 size) const
{
    QStringList unread;
    {
        QMutexLocker g(&m_lock);
        if (m_sizes.contains(size))
            return true;
        unread = m_unread.values();
    }
    struct stat st;
    return std::any_of(unread.cbegin(), unread.cend(),
        [&](const QString& u) { return statPath(u, &st) && st.st_size == size; });
}

void ContentIndex::Core::putLocked(const QString& path, const Entry& e)
{
    takeLocked(path);
    m_files.insert(path, e);
    m_byContent.insert(contentKey(e.size, e.hash), path);
    ++m_sizes[e.size];
    m_dirty = true;
}

void ContentIndex::Core::takeLocked(const QString& path)
{
    const auto it = m_files.constFind(path);
    if (it == m_files.cend())
        return;
    m_byContent.remove(contentKey(it->size, it->hash), path);
    if (--m_sizes[it->size] <= 0)
        m_sizes.remove(it->size);
    m_spare.insert({ it->device, it->inode }, *it);
    m_files.erase(it);
    m_dirty = true;
}

QStringList ContentIndex::Core::forgetLocked(const QString& path)
{
    QStringList gone;
    if (m_files.contains(path)) {
        takeLocked(path);
        gone << path;
    }
    const QString below = path + QLatin1Char('/');
    const QStringList files = m_files.keys();
    for (const QString& f : files)
        if (f.startsWith(below))
            takeLocked(f);
    bool folder = false;
    for (auto it = m_folders.begin(); it != m_folders.end();) {
        if (isAtOrBelow(it.key(), path)) {
            folder = true;
            it = m_folders.erase(it);
        } else {
            ++it;
        }
    }
    if (folder && gone.isEmpty())
        gone << path;
    m_unread.remove(path);
    for (auto it = m_unread.begin(); it != m_unread.end();)
        it = it->startsWith(below) ? m_unread.erase(it) : std::next(it);
    m_dirty = true;
    return gone;
}

QStringList ContentIndex::Core::moveLocked(const QString& from, const QString& to)
{
    QStringList gone;
    const bool toInside = insideVault(to);
    if (m_files.contains(from)) {
        const Entry e = m_files.value(from);
        takeLocked(from);
        gone << from;
        if (toInside)
            putLocked(to, e);
        return gone;
    }
    // A box renamed: its files keep their hashes under the new name.
    const QString fromBelow = from + QLatin1Char('/'), toBelow = to + QLatin1Char('/');
    bool any = false;
    const QStringList files = m_files.keys();
    for (const QString& f : files) {
        if (!f.startsWith(fromBelow))
            continue;
        any = true;
        const Entry e = m_files.value(f);
        takeLocked(f);
        if (toInside)
            putLocked(toBelow + f.mid(fromBelow.size()), e);
    }
    QHash<QString, qint64> folders;
    for (auto it = m_folders.cbegin(); it != m_folders.cend(); ++it) {
        if (it.key() == from || it.key().startsWith(fromBelow)) {
            any = true;
            if (toInside)
                folders.insert(to + it.key().mid(from.size()), it.value());
        } else {
            folders.insert(it.key(), it.value());
        }
    }
    m_folders = std::move(folders);
    if (any)
        gone << from;
    else if (toInside)
        m_unread.insert(to); // a file from outside: read by the worker
    m_dirty = true;
    return gone;
}

std::optional<ContentIndex::Core::Entry> ContentIndex::Core::spareLocked(const struct stat& st) const
{
    const auto it = m_spare.constFind({ quint64(st.st_dev), quint64(st.st_ino) });
    if (it != m_spare.cend() && it->size == st.st_size && it->mtime == mtimeOf(st))
        return *it;
    return std::nullopt;
}

QStringList ContentIndex::Core::forgetNow(const QString& path)
{
    QMutexLocker g(&m_lock);
    if (m_walking)
        m_ownOps.push_back({ path, {} });
    QStringList gone = forgetLocked(path);
    // Copied in, or back: the worker reads it; until then a filing compares it by size.
    m_unread.insert(path);
    return gone;
}

QStringList ContentIndex::Core::moveNow(const QString& from, const QString& to)
{
    QMutexLocker g(&m_lock);
    if (m_walking)
        m_ownOps.push_back({ from, to });
    return moveLocked(from, to);
}

bool ContentIndex::Core::foldersChanged() const
{
    QHash<QString, qint64> folders;
    {
        QMutexLocker g(&m_lock);
        folders = m_folders;
    }
    if (folders.isEmpty())
        return true;
    for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
        if (stopping())
            return false;
        struct stat st;
        if (!statPath(it.key(), &st) || !S_ISDIR(st.st_mode) || mtimeOf(st) != it.value())
            return true;
    }
    return false;
}

void ContentIndex::Core::rebuild()
{
    // Hashes carried over by identity, so a renamed box or file is not read again.
    QHash<std::pair<quint64, quint64>, Entry> known;
    {
        QMutexLocker g(&m_lock);
        m_complete = false;
        m_walking = true;
        m_ownOps.clear();
        known = m_spare;
        for (const Entry& e : std::as_const(m_files))
            known.insert({ e.device, e.inode }, e);
    }
    QHash<QString, Entry> files;
    QHash<QString, qint64> folders;
    QSet<std::pair<quint64, quint64>> visited; // a link back up is read once
    QStringList pending { m_root };
    QList<FolderEntry> entries;
    auto stopped = [this] {
        if (!stopping())
            return false;
        QMutexLocker g(&m_lock);
        m_walking = false;
        return true;
    };
    while (!pending.isEmpty()) {
        if (stopped())
            return;
        const QString folder = pending.takeLast();
        struct stat st;
        // The time is taken before the entries are read, so a change while reading shows.
        if (!statPath(folder, &st) || !S_ISDIR(st.st_mode)
            || visited.contains({ quint64(st.st_dev), quint64(st.st_ino) }))
            continue;
        visited.insert({ quint64(st.st_dev), quint64(st.st_ino) });
        folders.insert(folder, mtimeOf(st));
        if (!readFolderEntries(folder, &entries))
            continue;
        for (const FolderEntry& entry : std::as_const(entries)) {
            // Between two files: closing never waits for the rest of a walk.
            if (stopped())
                return;
            const QString path = folder + QLatin1Char('/') + entry.name;
            if (entry.isFolder) {
                if (!isLink(path))
                    pending.append(path);
                continue;
            }
            struct stat fs;
            if (!statPath(path, &fs) || !S_ISREG(fs.st_mode))
                continue;
            Entry e { fs.st_size, mtimeOf(fs), quint64(fs.st_dev), quint64(fs.st_ino), {} };
            const auto k = known.constFind({ e.device, e.inode });
            if (k != known.cend() && k->size == e.size && k->mtime == e.mtime) {
                e.hash = k->hash;
            } else {
                qint64 size = 0;
                e.hash = fastHash(path, &size);
                if (e.hash.isEmpty())
                    continue;
                e.size = size;
            }
            files.insert(path, e);
        }
    }
    {
        QMutexLocker g(&m_lock);
        m_files = std::move(files);
        indexContentLocked();
        m_folders = std::move(folders);
        // What the program changed while the walk ran holds, whether the walk saw it or not.
        // A changed path stays unread as forgetNow left it: the worker's look at it comes after
        // this walk, and a filing meanwhile must still find a file just copied in.
        for (const OwnOp& op : m_ownOps) {
            if (op.to.isEmpty()) {
                forgetLocked(op.from);
                m_unread.insert(op.from);
            } else {
                moveLocked(op.from, op.to);
            }
        }
        m_ownOps.clear();
        m_walking = false;
        m_spare.clear();
        m_complete = true;
        m_dirty = true;
    }
    ++m_builds;
    toOwner([](ContentIndex* owner) { Q_EMIT owner->built(); });
}

// The folder's time as the program's own change left it, so that change is not taken for
// one made outside.
void ContentIndex::Core::noteFolder(const QString& folder)
{
    struct stat st;
    const bool ok = statPath(folder, &st) && S_ISDIR(st.st_mode);
    QMutexLocker g(&m_lock);
    if (ok && (m_folders.contains(folder) || folder == m_root || m_folders.contains(parentOf(folder))))
        m_folders.insert(folder, mtimeOf(st));
    else if (!ok)
        m_folders.remove(folder);
    m_dirty = true;
}

void ContentIndex::Core::refreshFile(const QString& path)
{
    struct stat st;
    const bool exists = statPath(path, &st);
    if (exists && S_ISDIR(st.st_mode)) {
        // A new box is empty: noted, nothing to read. One that came back with its files (an
        // undone rename) is walked, reusing every hash it can.
        QList<FolderEntry> entries;
        if (readFolderEntries(path, &entries) && entries.isEmpty()) {
            noteFolder(path);
            noteFolder(parentOf(path));
        } else {
            rebuild();
        }
        QMutexLocker g(&m_lock);
        m_unread.remove(path);
        return;
    }
    if (exists && S_ISREG(st.st_mode)) {
        std::optional<Entry> e;
        {
            QMutexLocker g(&m_lock);
            e = spareLocked(st);
        }
        if (!e) {
            qint64 size = 0;
            const QByteArray hash = fastHash(path, &size);
            if (!hash.isEmpty())
                e = Entry { size, mtimeOf(st), quint64(st.st_dev), quint64(st.st_ino), hash };
        }
        QMutexLocker g(&m_lock);
        if (e)
            putLocked(path, *e);
        else
            takeLocked(path);
        m_unread.remove(path);
    } else {
        // Gone: everything recorded below it goes too (a deleted box).
        QMutexLocker g(&m_lock);
        forgetLocked(path);
    }
    noteFolder(parentOf(path));
}

void ContentIndex::Core::confirmMove(const QString& from, const QString& to)
{
    if (insideVault(from))
        noteFolder(parentOf(from));
    if (!insideVault(to))
        return;
    struct stat st;
    if (!statPath(to, &st)) {
        QMutexLocker g(&m_lock);
        forgetLocked(to);
    } else if (S_ISDIR(st.st_mode)) {
        noteFolder(to);
    } else {
        bool same = false;
        {
            QMutexLocker g(&m_lock);
            const auto it = m_files.find(to);
            if (it != m_files.end() && it->inode == quint64(st.st_ino) && it->size == st.st_size
                && it->mtime == mtimeOf(st)) {
                it->device = quint64(st.st_dev);
                m_unread.remove(to);
                same = true;
            }
        }
        if (!same)
            refreshFile(to);
    }
    noteFolder(parentOf(to));
}

QString ContentIndex::Core::confirmedCopy(const QString& file, const QList<QString>& candidates) const
{
    const QString self = QDir::cleanPath(file);
    for (const QString& c : candidates)
        if (c != self && sameBytes(file, c))
            return c;
    return {};
}

void ContentIndex::Core::runLookUp(quint64 ticket, int channel, const QStringList& files, bool again)
{
    for (int i = 0; i < files.size(); ++i) {
        // Asked again after own changes, it gives way to the next ones: it runs after them.
        if (stopping() || superseded(ticket, channel) || (again && m_ownPending.load() > 0))
            return;
        qint64 size = 0;
        const QByteArray hash = fastHash(files[i], &size);
        if (hash.isEmpty())
            continue;
        QList<QString> candidates;
        {
            QMutexLocker g(&m_lock);
            candidates = m_byContent.values(contentKey(size, hash));
        }
        const QString copy = confirmedCopy(files[i], candidates);
        if (!copy.isEmpty())
            toOwner([ticket, i, file = files[i], copy](
                        ContentIndex* owner) { Q_EMIT owner->copyFound(ticket, i, file, copy); });
    }
    toOwner([ticket](ContentIndex* owner) { Q_EMIT owner->lookUpDone(ticket); });
}

QStringList ContentIndex::copiesInVault(const QStringList& files) const
{
    return m_core->copiesInVault(files);
}

QStringList ContentIndex::Core::copiesInVault(const QStringList& files) const
{
    QStringList copies;
    for (const QString& file : files) {
        const QString self = QDir::cleanPath(file);
        // No vault file of its size: no copy, and its bytes (on a slow card) need not be read.
        if (struct stat st;
            !insideVault(self) && statPath(file, &st) && S_ISREG(st.st_mode) && !sizeHeld(st.st_size)) {
            copies << QString();
            continue;
        }
        qint64 size = 0;
        const QByteArray hash = fastHash(file, &size);
        QList<QString> candidates;
        if (!hash.isEmpty()) {
            QMutexLocker g(&m_lock);
            candidates = m_byContent.values(contentKey(size, hash));
            // Filed by the program and not read yet: compared when the size is the same.
            for (const QString& unread : m_unread)
                if (!candidates.contains(unread))
                    candidates << unread;
        }
        QString copy;
        for (const QString& c : std::as_const(candidates)) {
            struct stat st;
            if (c != self && statPath(c, &st) && S_ISREG(st.st_mode) && st.st_size == size
                && sameBytes(file, c)) {
                copy = c;
                break;
            }
        }
        // A file that lies in the vault is held there, whatever the index knows of it.
        if (copy.isEmpty() && !hash.isEmpty() && insideVault(self))
            copy = self;
        copies << copy;
    }
    return copies;
}

// A cache that cannot be what the program wrote is kept aside for a look, and a new one made.
void ContentIndex::Core::setAside()
{
    const QByteArray from = encodePath(m_cacheFile);
    const QByteArray to = encodePath(m_cacheFile + QStringLiteral(".broken"));
    ::rename(from.constData(), to.constData());
}

void ContentIndex::Core::load()
{
    if (m_cacheFile.isEmpty())
        return;
    // Never through a link, never waiting on a FIFO, a regular file of sensible size only.
    const int fd = openPath(m_cacheFile, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        if (errno == ELOOP)
            setAside();
        return;
    }
    struct stat st;
    QByteArray bytes;
    bool sound = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= CacheSizeLimit;
    if (sound) {
        bytes.resize(qsizetype(st.st_size));
        sound = st.st_size == 0 || readAll(fd, bytes.data(), st.st_size, 0);
    }
    ::close(fd);
    if (!sound || !readCache(bytes))
        setAside();
}

bool ContentIndex::Core::readCache(const QByteArray& bytes)
{
    QDataStream in(bytes);
    quint32 magic = 0, version = 0;
    QString root;
    in >> magic >> version;
    if (in.status() != QDataStream::Ok || magic != kCacheMagic)
        return false;
    // Another layout of an older run: not damaged, built and written anew.
    if (version != kCacheVersion)
        return true;
    // The name is the vault's own: a file naming another vault is not what was written there.
    in >> root;
    if (in.status() != QDataStream::Ok || root != m_root)
        return false;
    QHash<QString, qint64> folders;
    qint64 count = 0;
    in >> folders >> count;
    // Every entry takes more than 40 bytes.
    if (in.status() != QDataStream::Ok || count < 0 || count > bytes.size() / 40)
        return false;
    QHash<QString, Entry> files;
    for (qint64 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        if (stopping())
            return true;
        QString path;
        Entry e;
        in >> path >> e.size >> e.mtime >> e.device >> e.inode >> e.hash;
        if (!isAtOrBelow(path, m_root))
            return false;
        files.insert(path, e);
    }
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return false;
    for (auto it = folders.cbegin(); it != folders.cend(); ++it)
        if (!isAtOrBelow(it.key(), m_root))
            return false;
    QMutexLocker g(&m_lock);
    m_folders = std::move(folders);
    m_files = std::move(files);
    indexContentLocked();
    m_dirty = false;
    return true;
}

void ContentIndex::Core::save()
{
    if (m_cacheFile.isEmpty())
        return;
    QByteArray bytes;
    {
        QMutexLocker g(&m_lock);
        // Never a half index: only one a build or a check found complete.
        if (!m_dirty || !m_complete || m_walking)
            return;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << kCacheMagic << kCacheVersion << m_root << m_folders << qint64(m_files.size());
        for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
            out << it.key() << it->size << it->mtime << it->device << it->inode << it->hash;
        m_dirty = false;
    }
    if (stopping())
        return;
    QDir().mkpath(parentOf(m_cacheFile));
    // A new file beside it, then renamed over the name itself: a link or a FIFO put in its
    // place is replaced, never written through.
    QTemporaryFile f(m_cacheFile + QStringLiteral(".XXXXXX"));
    f.setAutoRemove(false);
    if (!f.open())
        return;
    const bool written = f.write(bytes) == bytes.size() && f.flush();
    const QByteArray temporary = encodePath(f.fileName());
    f.close();
    if (!written || stopping() || ::rename(temporary.constData(), encodePath(m_cacheFile).constData()) != 0)
        ::unlink(temporary.constData());
}

} // namespace ztv
