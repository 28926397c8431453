#include "DriveWatch.h"

#include <QByteArray>
#include <QSocketNotifier>

#include <fcntl.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ztv {

namespace {

// Gathers the signs of one mount or one disc change before telling the window.
constexpr int SettleMs = 150;

} // namespace

bool isDiskUevent(const QByteArray& message)
{
    // "change@/devices/.../block/sr0\0ACTION=change\0...\0SUBSYSTEM=block\0DEVTYPE=disk\0..."
    bool block = false;
    bool disk = false;
    for (const QByteArray& f : message.split('\0')) {
        if (f == "SUBSYSTEM=block")
            block = true;
        else if (f == "DEVTYPE=disk")
            disk = true;
    }
    return block && disk;
}

DriveWatch::DriveWatch(QObject* parent)
    : QObject(parent)
{
    m_settle.setSingleShot(true);
    m_settle.setInterval(SettleMs);
    connect(&m_settle, &QTimer::timeout, this, &DriveWatch::changed);

    m_mountFd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (m_mountFd >= 0) {
        m_mountNotifier = new QSocketNotifier(m_mountFd, QSocketNotifier::Exception, this);
        connect(m_mountNotifier, &QSocketNotifier::activated, this, &DriveWatch::mountTableSignalled);
    }

    // The kernel's own uevent broadcast; where it is not allowed (some containers) only the
    // mount table is watched.
    m_ueventFd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
    if (m_ueventFd >= 0) {
        sockaddr_nl addr {};
        addr.nl_family = AF_NETLINK;
        addr.nl_groups = 1; // kernel events
        if (::bind(m_ueventFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(m_ueventFd);
            m_ueventFd = -1;
        }
    }
    if (m_ueventFd >= 0) {
        m_ueventNotifier = new QSocketNotifier(m_ueventFd, QSocketNotifier::Read, this);
        connect(m_ueventNotifier, &QSocketNotifier::activated, this, &DriveWatch::ueventReady);
    }
}

DriveWatch::~DriveWatch()
{
    delete m_mountNotifier;
    delete m_ueventNotifier;
    if (m_mountFd >= 0)
        ::close(m_mountFd);
    if (m_ueventFd >= 0)
        ::close(m_ueventFd);
}

void DriveWatch::mountTableSignalled()
{
    // The kernel clears the mark when it reports it; reading the file is not needed.
    m_settle.start();
}

void DriveWatch::ueventReady()
{
    char buf[8192];
    bool relevant = false;
    for (;;) {
        const ssize_t n = ::recv(m_ueventFd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        if (isDiskUevent(QByteArray(buf, n)))
            relevant = true;
    }
    if (relevant)
        m_settle.start();
}

} // namespace ztv
