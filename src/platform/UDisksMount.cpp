#include "UDisksMount.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QRegularExpression>
#include <QVariantMap>

namespace ztv {

namespace {
const QString Service = QStringLiteral("org.freedesktop.UDisks2");
}

QString udisksBlockPath(const QString& device)
{
    static const QRegularExpression re(QStringLiteral("^/dev/([A-Za-z0-9_]+)$"));
    const auto m = re.match(device);
    if (!m.hasMatch())
        return QString();
    return QStringLiteral("/org/freedesktop/UDisks2/block_devices/") + m.captured(1);
}

QString udisksMount(QDBusConnection bus, const QString& device, int timeoutMs)
{
    const QString path = udisksBlockPath(device);
    if (path.isEmpty())
        return QString();
    if (!bus.isConnected())
        return QString();
    // Without the service (and without a way to start it) there is nothing to ask.
    QDBusConnectionInterface* names = bus.interface();
    if (!names || !names->isServiceRegistered(Service).value()) {
        const QDBusReply<QStringList> activatable = bus.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames")));
        if (!activatable.isValid() || !activatable.value().contains(Service))
            return QString();
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, path, QStringLiteral("org.freedesktop.UDisks2.Filesystem"), QStringLiteral("Mount"));
    call << QVariantMap {}; // the desktop's own choice of place and options
    const QDBusReply<QString> reply = bus.call(call, QDBus::BlockWithGui, timeoutMs);
    return reply.isValid() ? reply.value() : QString();
}

} // namespace ztv
