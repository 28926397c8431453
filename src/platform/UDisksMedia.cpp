#include "platform/UDisksMedia.h"

#include "platform/UDisksMount.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QVariantMap>

namespace ztv {

namespace {

const QString Service = QStringLiteral("org.freedesktop.UDisks2");

QDBusMessage getAll(const QString& path, const QString& iface)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        Service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << iface;
    return call;
}

void readBlock(const QVariantMap& block, UDisksFacts* facts)
{
    facts->hintIgnore = block.value(QStringLiteral("HintIgnore")).toBool();
    facts->hintSystem = block.value(QStringLiteral("HintSystem")).toBool();
    facts->label = block.value(QStringLiteral("IdLabel")).toString();
}

void readDrive(const QString& drive, const QVariantMap& d, UDisksFacts* facts)
{
    facts->drive = drive;
    facts->removable
        = d.value(QStringLiteral("Removable")).toBool() || d.value(QStringLiteral("MediaRemovable")).toBool();
    facts->bus = d.value(QStringLiteral("ConnectionBus")).toString();
}

QString driveOf(const QVariantMap& block)
{
    const QString drive = block.value(QStringLiteral("Drive")).value<QDBusObjectPath>().path();
    return drive == QLatin1String("/") ? QString() : drive;
}

// Calls then(reply) on context's thread once the call is answered or has timed out.
void whenAnswered(QDBusConnection& bus, const QDBusMessage& call, int timeoutMs, QObject* context,
    std::function<void(const QDBusPendingReply<QVariantMap>&)> then)
{
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, timeoutMs), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
        [then = std::move(then)](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            then(QDBusPendingReply<QVariantMap>(*w));
        });
}

std::optional<QVariantMap> properties(
    QDBusConnection& bus, const QString& path, const QString& iface, int timeoutMs)
{
    const QDBusReply<QVariantMap> reply = bus.call(getAll(path, iface), QDBus::Block, timeoutMs);
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
    readBlock(*block, &facts);
    const QString drive = driveOf(*block);
    if (!drive.isEmpty()) {
        const std::optional<QVariantMap> d
            = properties(bus, drive, QStringLiteral("org.freedesktop.UDisks2.Drive"), timeoutMs);
        if (d)
            readDrive(drive, *d, &facts);
    }
    return facts;
}

void askUDisksFacts(QDBusConnection bus, const QString& device, int timeoutMs, QObject* context,
    std::function<void(std::optional<UDisksFacts>)> done)
{
    const QString path = udisksBlockPath(device);
    if (path.isEmpty() || !bus.isConnected()) {
        QMetaObject::invokeMethod(
            context, [done = std::move(done)] { done(std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    // Without UDisks2 on the bus the call is refused at once (ServiceUnknown).
    whenAnswered(bus, getAll(path, QStringLiteral("org.freedesktop.UDisks2.Block")), timeoutMs, context,
        [bus, timeoutMs, context, done = std::move(done)](
            const QDBusPendingReply<QVariantMap>& block) mutable {
            if (block.isError())
                return done(std::nullopt);
            UDisksFacts facts;
            readBlock(block.value(), &facts);
            const QString drive = driveOf(block.value());
            if (drive.isEmpty())
                return done(facts);
            whenAnswered(bus, getAll(drive, QStringLiteral("org.freedesktop.UDisks2.Drive")), timeoutMs,
                context,
                [facts, drive, done = std::move(done)](const QDBusPendingReply<QVariantMap>& d) mutable {
                    if (!d.isError())
                        readDrive(drive, d.value(), &facts);
                    done(facts);
                });
        });
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
