#include "LinuxDrives.h"

#include "DriveWatch.h"
#include "PathCodec.h"
#include "UDisksMount.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace ztv {

namespace {

// mountinfo writes space, tab, newline and backslash in names as "\ooo".
QByteArray unescape(const QByteArray& field)
{
    QByteArray out;
    out.reserve(field.size());
    const auto isOct = [](char d) { return d >= '0' && d <= '7'; };
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size() && isOct(field.at(i + 1)) && isOct(field.at(i + 2))
            && isOct(field.at(i + 3))) {
            out.append(char(
                ((field.at(i + 1) - '0') << 6) | ((field.at(i + 2) - '0') << 3) | (field.at(i + 3) - '0')));
            i += 3;
            continue;
        }
        out.append(c);
    }
    return out;
}

} // namespace

QList<MountEntry> parseMountInfo(const QByteArray& text)
{
    QList<MountEntry> entries;
    for (const QByteArray& line : text.split('\n')) {
        // id parent major:minor root mount-point options [optional...] - fstype source super-options
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf(QByteArray("-"), 6);
        if (f.size() < 6 || dash < 0 || dash + 2 >= f.size())
            continue;
        bool idOk = false;
        const int id = f.at(0).toInt(&idOk);
        entries.append({ decodePath(unescape(f.at(dash + 2))), decodePath(unescape(f.at(4))),
            decodePath(unescape(f.at(dash + 1))), idOk ? id : -1 });
    }
    return entries;
}

LinuxDrives::~LinuxDrives()
{
    delete m_watch.data();
}

QString LinuxDrives::environmentHome()
{
    return decodePath(qgetenv("HOME"));
}

QString LinuxDrives::passwdHome()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? size_t(size) : 4096);
    for (;;) {
        struct passwd pw;
        struct passwd* found = nullptr;
        const int err = ::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found);
        if (err == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (err != 0 || !found || !found->pw_dir)
            return QString();
        return decodePath(QByteArray(found->pw_dir));
    }
}

QStringList LinuxDrives::opticalDevices()
{
    QStringList devices;
    for (int i = 0; i <= 10; ++i) {
        if (QFileInfo::exists(QStringLiteral("/sys/block/sr%1").arg(i)))
            devices << QStringLiteral("/dev/sr%1").arg(i);
    }
    return devices;
}

QList<MountEntry> LinuxDrives::mounts()
{
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return parseMountInfo(f.readAll()); // a proc file: its size is unknown, read to the end
}

bool LinuxDrives::mediumPresent(const QString& device)
{
    // The size of an optical drive in sectors is 0 while it holds no medium.
    if (!device.startsWith(QLatin1String("/dev/")))
        return false;
    QFile f(QStringLiteral("/sys/block/") + device.mid(5) + QStringLiteral("/size"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.readAll().trimmed().toLongLong() > 0;
}

bool LinuxDrives::mountMedium(const QString& device)
{
    // Spinning up a disc and reading its file system takes a few seconds.
    constexpr int TimeoutMs = 20000;
    return !udisksMount(QDBusConnection::systemBus(), device, TimeoutMs).isEmpty();
}

void LinuxDrives::watch(QObject* receiver, std::function<void()> onChange)
{
    if (!m_watch)
        m_watch = new DriveWatch;
    QObject::connect(m_watch.data(), &DriveWatch::changed, receiver, std::move(onChange));
}

} // namespace ztv
