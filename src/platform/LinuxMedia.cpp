#include "platform/LinuxMedia.h"

#include "platform/GioMedia.h"
#include "platform/PathCodec.h"
#include "platform/UDisksMedia.h"
#include "platform/UDisksMount.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace ztv {

LinuxMedia::LinuxMedia(Drives& drives, QDBusConnection bus, QString user, bool withGio)
    : m_drives(drives)
    , m_bus(std::move(bus))
    , m_user(std::move(user))
{
    if (withGio) {
        m_gio = std::make_unique<GioMedia>();
        m_gio->setOnChange([this] { tellWatchers(); });
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
    QStringList order; // the mount table's order, with those awaiting UDisks2's answer: they
                       // keep their place from when they were mounted, not answered
    QHash<int, Known> facts;
    for (const MountEntry& mount : m_drives.mounts()) {
        std::optional<UDisksFacts> f;
        if (mount.device.startsWith(QLatin1String("/dev/"))) {
            const auto known = m_facts.constFind(mount.mountId);
            if (known != m_facts.cend() && known->device == mount.device)
                f = known->facts;
            else if (m_bus.isConnected() && !udisksBlockPath(mount.device).isEmpty()) {
                ask(mount);
                order << QStringLiteral("mount:%1").arg(mount.mountId);
                continue; // shown when UDisks2 has answered
            }
            facts.insert(mount.mountId, { mount.device, f });
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
        order << m.id;
        found << m;
    }
    m_facts = facts; // the mounts that went are forgotten
    if (m_gio) {
        for (const Medium& m : m_gio->media()) {
            order << m.id;
            found << m;
        }
    }
    // In the order they came; those present at start in the mount table's order.
    QHash<QString, quint64> seen;
    for (const QString& id : std::as_const(order))
        seen.insert(id, m_seen.contains(id) ? m_seen.value(id) : m_next++);
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

void LinuxMedia::ask(const MountEntry& mount)
{
    if (m_asked.value(mount.mountId) == mount.device)
        return;
    m_asked.insert(mount.mountId, mount.device);
    const int id = mount.mountId;
    const QString device = mount.device;
    askUDisksFacts(
        m_bus, device, m_factsLimitMs, &m_answers, [this, id, device](std::optional<UDisksFacts> f) {
            if (m_asked.value(id) == device)
                m_asked.remove(id);
            m_facts.insert(id, { device, std::move(f) });
            tellWatchers();
        });
}

void LinuxMedia::tellWatchers()
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
