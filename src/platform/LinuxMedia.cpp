#include "platform/LinuxMedia.h"

#include "platform/GioMedia.h"
#include "platform/PathCodec.h"
#include "platform/UDisksMedia.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace ztv {

namespace {
// A UDisks2 that does not answer within this is taken as absent for that mount.
constexpr int FactsTimeoutMs = 2000;
} // namespace

LinuxMedia::LinuxMedia(Drives& drives, QDBusConnection bus, QString user, bool withGio)
    : m_drives(drives)
    , m_bus(std::move(bus))
    , m_user(std::move(user))
{
    if (withGio) {
        m_gio = std::make_unique<GioMedia>();
        m_gio->setOnChange([this] { gioChanged(); });
    }
}

LinuxMedia::~LinuxMedia() = default;

QString LinuxMedia::userName()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buf(size > 0 ? size_t(size) : 4096);
    struct passwd pw;
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) != 0 || !found || !found->pw_name)
        return QString();
    return decodePath(QByteArray(found->pw_name));
}

QList<Medium> LinuxMedia::media()
{
    QList<Medium> found;
    QHash<int, std::optional<UDisksFacts>> facts;
    for (const MountEntry& mount : m_drives.mounts()) {
        std::optional<UDisksFacts> f;
        if (mount.device.startsWith(QLatin1String("/dev/"))) {
            f = m_facts.contains(mount.mountId) ? m_facts.value(mount.mountId)
                                                : udisksFacts(m_bus, mount.device, FactsTimeoutMs);
            facts.insert(mount.mountId, f);
        }
        if (!isMediumMount(mount, f, m_user))
            continue;
        Medium m;
        m.id = QStringLiteral("mount:%1").arg(mount.mountId);
        m.path = mount.mountPoint;
        const QString last = mount.mountPoint.mid(mount.mountPoint.lastIndexOf(QLatin1Char('/')) + 1);
        m.name = f && !f->label.isEmpty() ? f->label : last;
        m.device = mount.device.startsWith(QLatin1String("/dev/")) ? mount.device : QString();
        if (f) {
            m.drive = f->drive;
            m.usb = f->bus == QLatin1String("usb");
        }
        found << m;
    }
    m_facts = facts; // the mounts that went are forgotten
    if (m_gio)
        found << m_gio->media();
    // In the order they came; those present at start in the mount table's order.
    QHash<QString, quint64> seen;
    for (const Medium& m : std::as_const(found))
        seen.insert(m.id, m_seen.contains(m.id) ? m_seen.value(m.id) : m_next++);
    m_seen = seen;
    std::stable_sort(found.begin(), found.end(),
        [&seen](const Medium& a, const Medium& b) { return seen.value(a.id) < seen.value(b.id); });
    return found;
}

void LinuxMedia::watch(QObject* receiver, std::function<void()> onChange)
{
    m_drives.watch(receiver, onChange);
    m_watchers.append({ receiver, std::move(onChange) });
}

void LinuxMedia::gioChanged()
{
    for (const Watcher& w : std::as_const(m_watchers)) {
        if (w.receiver)
            QMetaObject::invokeMethod(w.receiver.data(), w.onChange, Qt::QueuedConnection);
    }
}

Removal LinuxMedia::remove(const Medium& medium)
{
    for (int attempt = 0;; ++attempt) {
        const Removal removal = removeOnce(medium);
        if (removal.result != Removal::Result::Busy || attempt == BusyRetries)
            return removal;
        // The window paints meanwhile; input waits, as during the unmount itself.
        QEventLoop wait;
        QTimer::singleShot(BusyRetryMs, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

Removal LinuxMedia::removeOnce(const Medium& medium)
{
    if (medium.gvfs)
        return m_gio ? m_gio->remove(medium) : Removal {};
    if (!medium.device.isEmpty() && m_bus.isConnected())
        return udisksRemove(m_bus, medium.device, medium.drive, medium.usb);
    return { Removal::Result::Failed, QString() };
}

} // namespace ztv
