#include "platform/UDisksMedia.h"

#include "platform/UDisksMount.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QVariantMap>

namespace ztv {

namespace {

const QString Service = QStringLiteral("org.freedesktop.UDisks2");

std::optional<QVariantMap> properties(
    QDBusConnection& bus, const QString& path, const QString& iface, int timeoutMs)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << iface;
    const QDBusReply<QVariantMap> reply = bus.call(call, QDBus::Block, timeoutMs);
    if (!reply.isValid())
        return std::nullopt;
    return reply.value();
}

} // namespace

std::optional<UDisksFacts> udisksFacts(QDBusConnection bus, const QString& device, int timeoutMs)
{
    const QString path = udisksBlockPath(device);
    if (path.isEmpty() || !bus.isConnected())
        return std::nullopt;
    QDBusConnectionInterface* names = bus.interface();
    if (!names || !names->isServiceRegistered(Service).value())
        return std::nullopt;
    const std::optional<QVariantMap> block
        = properties(bus, path, QStringLiteral("org.freedesktop.UDisks2.Block"), timeoutMs);
    if (!block)
        return std::nullopt;
    UDisksFacts facts;
    facts.hintIgnore = block->value(QStringLiteral("HintIgnore")).toBool();
    facts.hintSystem = block->value(QStringLiteral("HintSystem")).toBool();
    facts.label = block->value(QStringLiteral("IdLabel")).toString();
    const QString drive = block->value(QStringLiteral("Drive")).value<QDBusObjectPath>().path();
    if (!drive.isEmpty() && drive != QLatin1String("/")) {
        const std::optional<QVariantMap> d
            = properties(bus, drive, QStringLiteral("org.freedesktop.UDisks2.Drive"), timeoutMs);
        if (d) {
            facts.drive = drive;
            facts.removable = d->value(QStringLiteral("Removable")).toBool()
                || d->value(QStringLiteral("MediaRemovable")).toBool();
            facts.bus = d->value(QStringLiteral("ConnectionBus")).toString();
        }
    }
    return facts;
}

Removal udisksRemove(QDBusConnection bus, const QString& device, const QString& drive, bool powerOff)
{
    const QString path = udisksBlockPath(device);
    if (path.isEmpty() || !bus.isConnected())
        return { Removal::Result::Failed, QString() };
    // Unmounting flushes the card's cache, which takes a while on a slow card.
    constexpr int TimeoutMs = 60000;
    QDBusMessage unmount = QDBusMessage::createMethodCall(
        Service, path, QStringLiteral("org.freedesktop.UDisks2.Filesystem"), QStringLiteral("Unmount"));
    unmount << QVariantMap {};
    const QDBusMessage reply = bus.call(unmount, QDBus::BlockWithGui, TimeoutMs);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        if (reply.errorName() == QLatin1String("org.freedesktop.UDisks2.Error.DeviceBusy"))
            return { Removal::Result::Busy, reply.errorMessage() };
        return { Removal::Result::Failed, reply.errorMessage() };
    }
    if (powerOff && !drive.isEmpty()) {
        QDBusMessage off = QDBusMessage::createMethodCall(
            Service, drive, QStringLiteral("org.freedesktop.UDisks2.Drive"), QStringLiteral("PowerOff"));
        off << QVariantMap {};
        // Unmounted already: a drive that cannot be powered off may still be pulled.
        bus.call(off, QDBus::BlockWithGui, TimeoutMs);
    }
    return {};
}

} // namespace ztv
