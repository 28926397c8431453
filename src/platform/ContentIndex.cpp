#include "platform/ContentIndex.h"

#include "platform/FolderEntries.h"
#include "platform/PathCodec.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>
#include <memory>

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
    explicit Fd(const QString& path)
        : fd(openPath(path, O_RDONLY | O_CLOEXEC))
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

} // namespace

ContentIndex::ContentIndex(QString vaultRoot, QString cacheFile, QObject* parent)
    : QObject(parent)
    , m_root(QDir::cleanPath(vaultRoot))
    , m_cacheFile(std::move(cacheFile))
{
}

ContentIndex::~ContentIndex()
{
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        m_stop = true;
        m_tasks.clear();
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
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

void ContentIndex::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        if (m_stop)
            return;
        m_tasks.push_back(std::move(task));
        if (!m_worker.joinable())
            m_worker = std::thread([this] { workerLoop(); });
    }
    m_wake.notify_one();
}

void ContentIndex::workerLoop()
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
        bool last;
        {
            std::lock_guard<std::mutex> g(m_queueLock);
            last = m_tasks.empty();
        }
        // Written once a run of tasks is over, not after every filed file.
        if (last && !stopping())
            save();
    }
}

bool ContentIndex::idle() const
{
    std::lock_guard<std::mutex> g(m_queueLock);
    return m_tasks.empty() && !m_running;
}

int ContentIndex::fileCount() const
{
    QMutexLocker g(&m_lock);
    return int(m_files.size());
}

void ContentIndex::start()
{
    post([this] {
        load();
        checked([this] { checkForOutsideChanges(); });
    });
}

void ContentIndex::checkForOutsideChanges()
{
    post([this] { checked([this] { checkForOutsideChanges(); }); });
}

bool ContentIndex::checked(const std::function<void()>& again)
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

void ContentIndex::ownChange(std::function<void()> apply)
{
    ++m_ownPending;
    post([this, apply = std::move(apply)] {
        apply();
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
    if (insideVault(p))
        ownChange([this, p] { refreshFile(p); });
}

void ContentIndex::pathMoved(const QString& from, const QString& to)
{
    const QString f = QDir::cleanPath(from), t = QDir::cleanPath(to);
    if (insideVault(f) || insideVault(t))
        ownChange([this, f, t] { moveEntries(f, t); });
}

quint64 ContentIndex::lookUp(const QStringList& files, int channel)
{
    quint64 ticket;
    {
        std::lock_guard<std::mutex> g(m_queueLock);
        ticket = ++m_lastTicket;
        m_channelTickets.insert(channel, ticket);
    }
    post([this, ticket, channel, files] { lookUpTask(ticket, channel, files); });
    return ticket;
}

void ContentIndex::lookUpTask(quint64 ticket, int channel, const QStringList& files)
{
    if (superseded(ticket, channel))
        return;
    // A vault changed outside since the last look is seen before it is answered from.
    if (checked([this, ticket, channel, files] { lookUpTask(ticket, channel, files); }))
        runLookUp(ticket, channel, files);
}

bool ContentIndex::superseded(quint64 ticket, int channel) const
{
    std::lock_guard<std::mutex> g(m_queueLock);
    return m_channelTickets.value(channel) != ticket;
}

bool ContentIndex::insideVault(const QString& path) const
{
    return path.size() > m_root.size() + 1 && path.startsWith(m_root)
        && path[m_root.size()] == QLatin1Char('/');
}

QByteArray ContentIndex::contentKey(qint64 size, const QByteArray& hash)
{
    QByteArray key = hash;
    key.append(reinterpret_cast<const char*>(&size), sizeof size);
    return key;
}

QByteArray ContentIndex::fastHash(const QString& path, qint64* size)
{
    Fd f(path);
    struct stat st;
    if (f.fd < 0 || ::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    *size = st.st_size;
    const qint64 head = std::min<qint64>(st.st_size, kEdge);
    const qint64 tailStart = std::max<qint64>(head, st.st_size - kEdge);
    QByteArray buffer(head + (st.st_size - tailStart), Qt::Uninitialized);
    if (!readAll(f.fd, buffer.data(), head, 0)
        || !readAll(f.fd, buffer.data() + head, st.st_size - tailStart, tailStart))
        return {};
    QCryptographicHash h(QCryptographicHash::Md5);
    h.addData(QByteArrayView(reinterpret_cast<const char*>(&st.st_size), sizeof st.st_size));
    h.addData(buffer);
    return h.result();
}

bool ContentIndex::sameBytes(const QString& a, const QString& b)
{
    Fd fa(a), fb(b);
    struct stat sa, sb;
    if (fa.fd < 0 || fb.fd < 0 || ::fstat(fa.fd, &sa) != 0 || ::fstat(fb.fd, &sb) != 0 || !S_ISREG(sa.st_mode)
        || !S_ISREG(sb.st_mode) || sa.st_size != sb.st_size)
        return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return true;
    constexpr qint64 chunk = 256 * 1024;
    std::unique_ptr<char[]> ba(new char[chunk]), bb(new char[chunk]);
    for (qint64 at = 0; at < sa.st_size; at += chunk) {
        const qint64 n = std::min(chunk, qint64(sa.st_size) - at);
        if (!readAll(fa.fd, ba.get(), n, at) || !readAll(fb.fd, bb.get(), n, at)
            || std::memcmp(ba.get(), bb.get(), size_t(n)) != 0)
            return false;
    }
    return true;
}

void ContentIndex::putLocked(const QString& path, const Entry& e)
{
    takeLocked(path);
    m_files.insert(path, e);
    m_byContent.insert(contentKey(e.size, e.hash), path);
    m_dirty = true;
}

void ContentIndex::takeLocked(const QString& path)
{
    const auto it = m_files.constFind(path);
    if (it == m_files.cend())
        return;
    m_byContent.remove(contentKey(it->size, it->hash), path);
    m_files.erase(it);
    m_dirty = true;
}

bool ContentIndex::foldersChanged() const
{
    QHash<QString, qint64> folders;
    {
        QMutexLocker g(&m_lock);
        folders = m_folders;
    }
    if (folders.isEmpty())
        return true;
    for (auto it = folders.cbegin(); it != folders.cend(); ++it) {
        struct stat st;
        if (!statPath(it.key(), &st) || !S_ISDIR(st.st_mode) || mtimeOf(st) != it.value())
            return true;
    }
    return false;
}

void ContentIndex::rebuild()
{
    {
        QMutexLocker g(&m_lock);
        m_complete = false;
    }
    // Hashes carried over by identity, so a renamed box or file is not read again.
    QHash<std::pair<quint64, quint64>, Entry> known;
    {
        QMutexLocker g(&m_lock);
        for (const Entry& e : std::as_const(m_files))
            known.insert({ e.device, e.inode }, e);
    }
    QHash<QString, Entry> files;
    QHash<QString, qint64> folders;
    QSet<std::pair<quint64, quint64>> visited; // a link back up is read once
    QStringList pending { m_root };
    QList<FolderEntry> entries;
    while (!pending.isEmpty()) {
        if (stopping())
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
                if (e.hash.isEmpty() || stopping())
                    continue;
                e.size = size;
            }
            files.insert(path, e);
        }
    }
    {
        QMutexLocker g(&m_lock);
        m_files = std::move(files);
        m_byContent.clear();
        for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
            m_byContent.insert(contentKey(it->size, it->hash), it.key());
        m_folders = std::move(folders);
        m_complete = true;
        m_dirty = true;
    }
    ++m_builds;
    Q_EMIT built();
}

// The folder's time as the program's own change left it, so that change is not taken for
// one made outside.
void ContentIndex::noteFolder(const QString& folder)
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

void ContentIndex::refreshFile(const QString& path)
{
    struct stat st;
    if (statPath(path, &st) && S_ISDIR(st.st_mode)) {
        rebuild(); // a folder that came: the walk reuses every hash it can
        return;
    }
    if (statPath(path, &st) && S_ISREG(st.st_mode)) {
        qint64 size = 0;
        const QByteArray hash = fastHash(path, &size);
        QMutexLocker g(&m_lock);
        if (hash.isEmpty())
            takeLocked(path);
        else
            putLocked(path, { size, mtimeOf(st), quint64(st.st_dev), quint64(st.st_ino), hash });
    } else {
        // Gone, or a folder: everything recorded below it goes (a deleted box).
        QMutexLocker g(&m_lock);
        takeLocked(path);
        const QString below = path + QLatin1Char('/');
        const QStringList files = m_files.keys();
        for (const QString& f : files)
            if (f.startsWith(below))
                takeLocked(f);
        for (auto it = m_folders.begin(); it != m_folders.end();)
            it = it.key() == path || it.key().startsWith(below) ? m_folders.erase(it) : std::next(it);
    }
    noteFolder(parentOf(path));
}

void ContentIndex::moveEntries(const QString& from, const QString& to)
{
    struct stat st;
    const bool folder = statPath(to, &st) && S_ISDIR(st.st_mode);
    if (!folder) {
        Entry moved;
        bool had = false;
        {
            QMutexLocker g(&m_lock);
            const auto it = m_files.constFind(from);
            if (it != m_files.cend()) {
                moved = *it;
                had = true;
            }
            takeLocked(from);
        }
        if (insideVault(from))
            noteFolder(parentOf(from));
        if (!insideVault(to))
            return;
        if (had && statPath(to, &st) && quint64(st.st_ino) == moved.inode && st.st_size == moved.size
            && mtimeOf(st) == moved.mtime) {
            QMutexLocker g(&m_lock);
            moved.device = quint64(st.st_dev);
            putLocked(to, moved);
        } else {
            refreshFile(to);
            return;
        }
        noteFolder(parentOf(to));
        return;
    }
    // A box renamed: its files keep their hashes under the new name.
    const QString fromBelow = from + QLatin1Char('/'), toBelow = to + QLatin1Char('/');
    {
        QMutexLocker g(&m_lock);
        const QStringList files = m_files.keys();
        for (const QString& f : files) {
            if (!f.startsWith(fromBelow))
                continue;
            const Entry e = m_files.value(f);
            takeLocked(f);
            if (insideVault(to))
                putLocked(toBelow + f.mid(fromBelow.size()), e);
        }
        QHash<QString, qint64> folders;
        for (auto it = m_folders.cbegin(); it != m_folders.cend(); ++it) {
            if (it.key() == from)
                folders.insert(to, it.value());
            else if (it.key().startsWith(fromBelow))
                folders.insert(toBelow + it.key().mid(fromBelow.size()), it.value());
            else
                folders.insert(it.key(), it.value());
        }
        m_folders = std::move(folders);
        m_dirty = true;
    }
    noteFolder(parentOf(from));
    noteFolder(parentOf(to));
}

QString ContentIndex::confirmedCopy(const QString& file, const QList<QString>& candidates) const
{
    const QString self = QDir::cleanPath(file);
    for (const QString& c : candidates)
        if (c != self && sameBytes(file, c))
            return c;
    return {};
}

void ContentIndex::runLookUp(quint64 ticket, int channel, const QStringList& files)
{
    for (int i = 0; i < files.size(); ++i) {
        if (stopping() || superseded(ticket, channel))
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
            Q_EMIT copyFound(ticket, i, files[i], copy);
    }
    Q_EMIT lookUpDone(ticket);
}

QStringList ContentIndex::copiesInVault(const QStringList& files) const
{
    QStringList copies;
    const bool current = [&] {
        if (!idle())
            return false;
        QMutexLocker g(&m_lock);
        return m_complete;
    }();
    if (current && !foldersChanged()) {
        for (const QString& file : files) {
            qint64 size = 0;
            const QByteArray hash = fastHash(file, &size);
            QList<QString> candidates;
            if (!hash.isEmpty()) {
                QMutexLocker g(&m_lock);
                candidates = m_byContent.values(contentKey(size, hash));
            }
            copies << confirmedCopy(file, candidates);
        }
        return copies;
    }
    // The index is being made or brought up to date: one walk of the vault instead, and the
    // files of the same size compared.
    QMultiHash<qint64, qsizetype> sizes;
    for (qsizetype i = 0; i < files.size(); ++i) {
        copies << QString();
        struct stat st;
        if (statPath(files[i], &st) && S_ISREG(st.st_mode))
            sizes.insert(st.st_size, i);
    }
    QStringList pending { m_root };
    QSet<std::pair<quint64, quint64>> seen;
    QList<FolderEntry> entries;
    while (!pending.isEmpty() && !sizes.isEmpty()) {
        const QString folder = pending.takeLast();
        struct stat ds;
        if (!statPath(folder, &ds) || seen.contains({ quint64(ds.st_dev), quint64(ds.st_ino) })
            || !readFolderEntries(folder, &entries))
            continue;
        seen.insert({ quint64(ds.st_dev), quint64(ds.st_ino) });
        for (const FolderEntry& entry : std::as_const(entries)) {
            const QString path = folder + QLatin1Char('/') + entry.name;
            struct stat fs;
            if (entry.isFolder) {
                if (!isLink(path))
                    pending.append(path);
                continue;
            }
            if (!statPath(path, &fs) || !S_ISREG(fs.st_mode) || !sizes.contains(fs.st_size))
                continue;
            for (auto it = sizes.find(fs.st_size); it != sizes.end() && it.key() == fs.st_size;) {
                const qsizetype i = it.value();
                if (copies[i].isEmpty() && path != QDir::cleanPath(files[i]) && sameBytes(files[i], path)) {
                    copies[i] = path;
                    it = sizes.erase(it);
                } else {
                    ++it;
                }
            }
        }
    }
    return copies;
}

void ContentIndex::load()
{
    if (m_cacheFile.isEmpty())
        return;
    QFile f(m_cacheFile);
    if (!f.open(QIODevice::ReadOnly))
        return;
    QDataStream in(&f);
    quint32 magic = 0, version = 0;
    QString root;
    in >> magic >> version >> root;
    if (magic != kCacheMagic || version != kCacheVersion || root != m_root)
        return;
    QHash<QString, qint64> folders;
    qint64 count = 0;
    in >> folders >> count;
    QHash<QString, Entry> files;
    for (qint64 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
        QString path;
        Entry e;
        in >> path >> e.size >> e.mtime >> e.device >> e.inode >> e.hash;
        files.insert(path, e);
    }
    if (in.status() != QDataStream::Ok)
        return; // a damaged file is as good as none: the index is built again
    QMutexLocker g(&m_lock);
    m_folders = std::move(folders);
    m_files = std::move(files);
    m_byContent.clear();
    for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
        m_byContent.insert(contentKey(it->size, it->hash), it.key());
    m_dirty = false;
}

void ContentIndex::save()
{
    if (m_cacheFile.isEmpty())
        return;
    QByteArray bytes;
    {
        QMutexLocker g(&m_lock);
        if (!m_dirty || !m_complete)
            return;
        QDataStream out(&bytes, QIODevice::WriteOnly);
        out << kCacheMagic << kCacheVersion << m_root << m_folders << qint64(m_files.size());
        for (auto it = m_files.cbegin(); it != m_files.cend(); ++it)
            out << it.key() << it->size << it->mtime << it->device << it->inode << it->hash;
        m_dirty = false;
    }
    QDir().mkpath(parentOf(m_cacheFile));
    QSaveFile f(m_cacheFile);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(bytes);
        f.commit();
    }
}

} // namespace ztv
