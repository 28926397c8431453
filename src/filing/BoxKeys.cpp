#include "filing/BoxKeys.h"

#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/SysCalls.h"
#include "platform/WorkAside.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QStringView>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

namespace {

template <typename F> auto retried(F call)
{
    decltype(call()) r;
    do {
        r = call();
    } while (r < 0 && errno == EINTR);
    return r;
}

struct Fd {
    explicit Fd(int fd)
        : fd(fd)
    {
    }
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

// An exclusive lock on a lock file while it lives. Another window holds it only while it
// writes; one that holds it for seconds (stopped in a debugger) leaves this one without it.
class FileLock {
public:
    explicit FileLock(const QString& path)
        : m_file(retried([&] {
            return sys::openat(AT_FDCWD, encodePath(path).constData(),
                O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        }))
    {
        struct stat st;
        if (m_file.fd < 0 || ::fstat(m_file.fd, &st) < 0 || !S_ISREG(st.st_mode))
            return;
        const QDeadlineTimer deadline(std::chrono::seconds(5));
        while (::flock(m_file.fd, LOCK_EX | LOCK_NB) < 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || deadline.hasExpired())
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        m_locked = true;
    }
    // Closing the file frees the lock.
    explicit operator bool() const { return m_locked; }

private:
    Fd m_file;
    bool m_locked = false;
};

QByteArray realPath(const QString& path)
{
    char buffer[PATH_MAX];
    return ::realpath(encodePath(path).constData(), buffer) ? QByteArray(buffer) : QByteArray();
}

} // namespace

BoxKeys::BoxKeys(FileOps& ops, const QString& folder, QObject* parent)
    : QObject(parent)
    , m_ops(ops)
    , m_folder(folder.isEmpty() ? defaultFolder() : folder)
    , m_file(m_folder + QStringLiteral("/boxkeys"))
{
    // Read aside, so a home on a share that does not answer never holds the window being built.
    const auto [state, keys] = offMainThread<std::pair<Read, Keys>>([file = m_file] {
        Keys found;
        const Read r = BoxKeys::read(file, found);
        return std::pair(r, found);
    });
    m_keys = keys;
    // A broken file is dealt with under the lock, where it is read again.
    if (state == Read::Broken)
        change([](Keys&) { return false; });
}

QString BoxKeys::defaultFolder()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.startsWith(u'/'))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/zentovi");
}

bool BoxKeys::isBoxPath(const QString& boxPath)
{
    if (boxPath.isEmpty())
        return true;
    if (boxPath.contains(QChar(u'\0')))
        return false;
    const QList<QStringView> parts = QStringView(boxPath).split(u'/');
    for (const QStringView part : parts)
        if (part.isEmpty() || part == u"." || part == u"..")
            return false;
    return true;
}

std::optional<QString> BoxKeys::folderInVault(const QString& vaultFolder, const QString& boxPath)
{
    if (vaultFolder.isEmpty() || !isBoxPath(boxPath))
        return std::nullopt;
    const QString folder = boxPath.isEmpty() ? vaultFolder : vaultFolder + u'/' + boxPath;
    const QByteArray vault = realPath(vaultFolder);
    const QByteArray real = realPath(folder);
    if (vault.isEmpty() || real.isEmpty())
        return std::nullopt;
    if (real != vault && !real.startsWith(vault == "/" ? vault : vault + '/'))
        return std::nullopt;
    struct stat st;
    if (::stat(real.constData(), &st) < 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return folder;
}

BoxKeys::Read BoxKeys::read(const QString& path, Keys& keys)
{
    keys.clear();
    // Never through a link, and a FIFO or a device in its place neither blocks nor is read.
    const Fd file(retried([&] {
        return sys::openat(
            AT_FDCWD, encodePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }));
    if (file.fd < 0)
        return errno == ENOENT ? Read::Missing : Read::Broken;
    struct stat st;
    if (::fstat(file.fd, &st) < 0 || !S_ISREG(st.st_mode) || st.st_size > MaxFileSize)
        return Read::Broken;
    QByteArray bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t n = retried([&] { return sys::read(file.fd, buffer, sizeof buffer); });
        if (n < 0)
            return Read::Broken;
        if (n == 0)
            break;
        bytes.append(buffer, n);
        if (bytes.size() > MaxFileSize) // grew while read
            return Read::Broken;
    }
    // One "key<TAB>path" a line, the path's bytes percent-encoded. A line that gives no free key
    // to a box below the vault with no key yet is dropped.
    bool broken = false;
    const QList<QByteArray> lines = bytes.split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        const int key
            = line.size() >= 2 && line[1] == '\t' && line[0] >= '1' && line[0] <= '9' ? line[0] - '0' : 0;
        const QString box = decodePath(QByteArray::fromPercentEncoding(line.mid(2)));
        if (key == 0 || keys.contains(key) || !isBoxPath(box)
            || std::find(keys.cbegin(), keys.cend(), box) != keys.cend()) {
            broken = true;
            continue;
        }
        keys.insert(key, box);
    }
    return broken ? Read::Broken : Read::Ok;
}

bool BoxKeys::change(const std::function<bool(Keys&)>& edit)
{
    const Keys before = m_keys;
    const bool saved = changeFile(edit);
    if (m_keys != before)
        Q_EMIT changed();
    return saved;
}

bool BoxKeys::changeFile(const std::function<bool(Keys&)>& edit)
{
    QDir().mkpath(m_folder);
    const FileLock lock(m_folder + QStringLiteral("/boxkeys.lock"));
    if (!lock) {
        edit(m_keys);
        return false;
    }
    // Another window may have changed the keys since: its changes stay, this one's go on top.
    Keys keys;
    const Read state = read(m_file, keys);
    if (state == Read::Broken) {
        const QString aside = m_file + QStringLiteral(".broken");
        if (retried([&] {
                return sys::renameat2(
                    AT_FDCWD, encodePath(m_file).constData(), AT_FDCWD, encodePath(aside).constData(), 0);
            })
            == 0)
            m_setAside = aside;
    }
    m_keys = keys;
    if (!edit(m_keys) && state != Read::Broken)
        return true;
    return save(m_keys);
}

std::optional<QString> BoxKeys::boxOf(int key) const
{
    const auto it = m_keys.constFind(key);
    return it == m_keys.cend() ? std::nullopt : std::optional(*it);
}

int BoxKeys::keyOf(const QString& boxPath) const
{
    for (auto it = m_keys.cbegin(); it != m_keys.cend(); ++it)
        if (*it == boxPath)
            return it.key();
    return 0;
}

bool BoxKeys::assign(int key, const QString& boxPath)
{
    if (key < 1 || key > 9 || !isBoxPath(boxPath))
        return false;
    return change([&](Keys& keys) {
        keys.removeIf([&](const auto& it) { return it.value() == boxPath; });
        keys.insert(key, boxPath);
        return true;
    });
}

bool BoxKeys::remove(const QString& boxPath)
{
    return change(
        [&](Keys& keys) { return keys.removeIf([&](const auto& it) { return it.value() == boxPath; }) > 0; });
}

bool BoxKeys::boxRenamed(const QString& from, const QString& to)
{
    if (!isBoxPath(to))
        return false;
    return change([&](Keys& keys) {
        bool changed = false;
        for (auto it = keys.begin(); it != keys.end(); ++it) {
            if (*it == from) {
                *it = to;
                changed = true;
            } else if (it->startsWith(from + u'/') && !from.isEmpty()) {
                *it = to + it->mid(from.size());
                changed = true;
            }
        }
        return changed;
    });
}

bool BoxKeys::boxDeleted(const QString& boxPath)
{
    return remove(boxPath);
}

bool BoxKeys::save(const Keys& keys)
{
    QByteArray all;
    for (auto it = keys.cbegin(); it != keys.cend(); ++it)
        all += QByteArray::number(it.key()) + '\t' + encodePath(*it).toPercentEncoding("/") + '\n';
    // Through a temporary file renamed over it: a link in its place is replaced, not followed.
    return m_ops.writeFile(m_file, all, true).ok();
}

} // namespace ztv
