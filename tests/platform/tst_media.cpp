// Which mounts are removable media, and UDisks2's answers from a stand-in service on a private bus.
#include "Fakes.h"
#include "platform/LinuxMedia.h"
#include "platform/UDisksMedia.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUrl>
#include <QVariantMap>

using namespace ztv;

namespace {

// The part of UDisks2 the media ask: block devices with their hints and label, their drives
// with Removable and ConnectionBus, a file system's Unmount (busy when told) and PowerOff.
class FakeUDisks : public QDBusVirtualObject {
public:
    QHash<QString, QVariantMap> block; // by object path
    QHash<QString, QVariantMap> drive;
    QStringList calls; // "Unmount <path>", "PowerOff <path>"
    int busy = 0; // how many Unmount calls yet answer busy
    QStringList silent; // object paths never answered, as by a stuck udisksd

    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString path = message.path();
        if (silent.contains(path))
            return true;
        if (message.member() == QLatin1String("GetAll")) {
            const QString iface = message.arguments().value(0).toString();
            const auto& table = iface.endsWith(QLatin1String(".Block")) ? block : drive;
            if (!table.contains(path))
                return connection.send(message.createErrorReply(QDBusError::UnknownObject, path));
            return connection.send(message.createReply(QVariant(table.value(path))));
        }
        calls << message.member() + u' ' + path;
        if (message.member() == QLatin1String("Unmount") && busy > 0 && busy--)
            return connection.send(
                message.createErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"),
                    QStringLiteral("target is busy")));
        return connection.send(message.createReply());
    }
};

const QString kBlocks = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
const QString kDrives = QStringLiteral("/org/freedesktop/UDisks2/drives/");

QString startBus(QProcess& daemon)
{
    const QString exe = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (exe.isEmpty())
        return QString();
    daemon.start(exe, { "--session", "--nofork", "--nopidfile", "--print-address=1" });
    if (!daemon.waitForStarted() || !daemon.waitForReadyRead(30000))
        return QString();
    return QString::fromUtf8(daemon.readLine()).trimmed();
}

} // namespace

class TestMedia : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void whichMounts();
    void udisksAnswers();
};

void TestMedia::whichMounts()
{
    // UDisks2's answer (none: it cannot say), then whether the mount is a medium.
    struct Case {
        const char* device;
        const char* mountPoint;
        const char* fsType;
        std::optional<UDisksFacts> facts;
        bool medium;
    };
    const auto drive = [](bool removable, const char* bus, bool hint = false) {
        return std::optional<UDisksFacts>({ removable, QLatin1String(bus), hint, false, {}, {} });
    };
    const Case cases[] = {
        { "/dev/sdb1", "/media/x/CARD", "vfat", drive(true, ""), true }, // a card reader
        { "/dev/sdb1", "/mnt/stick", "vfat", drive(false, "usb"), true },
        { "/dev/mmcblk0p1", "/mnt/sd", "vfat", drive(false, "sdio"), true },
        { "/dev/sdb1", "/mnt/fw", "vfat", drive(false, "ieee1394"), true },
        { "/dev/sda2", "/media/x/DATA", "ext4", drive(false, "ata"), false }, // a system disk
        { "/dev/sdb1", "/media/x/RECOVERY", "vfat", drive(true, "usb", true), false }, // HintIgnore
        { "fusefat", "/run/media/x/CANON_SD", "fuse.fusefat", std::nullopt, true },
        { "/dev/sdc1", "/media/PHOTOS", "vfat", std::nullopt, true },
        { "/dev/sdc1", "/media/y/PHOTOS", "vfat", std::nullopt, false }, // another user's
        { "/dev/sdc1", "/run/media/x/A/B", "vfat", std::nullopt, false },
        { "/dev/sdc1", "/mnt/usb", "vfat", std::nullopt, false },
        { "systemd-1", "/media/x/auto", "autofs", std::nullopt, false },
        { "srv:/p", "/media/x/share", "nfs4", std::nullopt, false },
        { "u@h:", "/media/x/ssh", "fuse.sshfs", std::nullopt, false },
        { "gvfsd-fuse", "/media/x/gvfs", "fuse.gvfsd-fuse", std::nullopt, false },
        { "/dev/sr0", "/media/x/DISC", "iso9660", drive(true, "usb"), false },
    };
    for (const Case& c : cases) {
        const MountEntry mount { QLatin1String(c.device), QLatin1String(c.mountPoint),
            QLatin1String(c.fsType), 7 };
        QVERIFY2(isMediumMount(mount, c.facts, QStringLiteral("x")) == c.medium, c.mountPoint);
    }
    UDisksFacts system { true, QStringLiteral("usb"), false, true, {}, {} };
    QVERIFY(!isMediumMount({ "/dev/sdb1", "/media/x/S", "vfat", 7 }, system, QStringLiteral("x")));

    for (const char* name : { ".thumbnails", ".trashed-1712-IMG_1.jpg", ".pending-1712-x", ".Trash-1000",
             "System Volume Information" })
        QVERIFY2(isMediumHousekeeping(QString::fromUtf8(name)), name);
    for (const char* name : { "DCIM", "thumbnails", "Trash" })
        QVERIFY2(!isMediumHousekeeping(QString::fromUtf8(name)), name);
    QVERIFY(isNetworkScheme(QStringLiteral("smb")) && isNetworkScheme(QStringLiteral("sftp")));
    QVERIFY(!isNetworkScheme(QStringLiteral("mtp")) && !isNetworkScheme(QStringLiteral("archive")));
}

void TestMedia::udisksAnswers()
{
    QProcess daemon;
    const QString address = startBus(daemon);
    if (address.isEmpty())
        QSKIP("dbus-daemon is not installed (scripts/install-deps.sh test)");
    auto stop = qScopeGuard([&] {
        QDBusConnection::disconnectFromBus(QStringLiteral("udisks"));
        QDBusConnection::disconnectFromBus(QStringLiteral("media"));
        daemon.kill();
        daemon.waitForFinished();
    });
    QDBusConnection service = QDBusConnection::connectToBus(address, QStringLiteral("udisks"));
    QDBusConnection client = QDBusConnection::connectToBus(address, QStringLiteral("media"));
    // The service answers on a thread of its own, as a separate process would: the calls
    // under test wait without running the event loop.
    FakeUDisks udisks;
    QVERIFY(service.registerVirtualObject(
        QStringLiteral("/org/freedesktop/UDisks2"), &udisks, QDBusConnection::SubPath));
    QThread serviceThread;
    udisks.moveToThread(&serviceThread);
    serviceThread.start();
    auto stopThread = qScopeGuard([&] {
        serviceThread.quit();
        serviceThread.wait();
    });
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.UDisks2")));

    auto blockOf = [](const char* label, const char* drive, bool hintSystem) {
        return QVariantMap { { "IdLabel", QString::fromUtf8(label) },
            { "Drive", QVariant::fromValue(QDBusObjectPath(kDrives + QLatin1String(drive))) },
            { "HintIgnore", false }, { "HintSystem", hintSystem } };
    };
    udisks.block[kBlocks + "sdb1"] = blockOf("CANON_SD", "reader", false);
    udisks.block[kBlocks + "sdc1"] = blockOf("PHOTOS", "stick", false);
    udisks.block[kBlocks + "sda2"] = blockOf("", "disk", true);
    udisks.drive[kDrives + "reader"] = { { "Removable", true }, { "ConnectionBus", QString() } };
    udisks.drive[kDrives + "stick"] = { { "Removable", false }, { "ConnectionBus", QStringLiteral("usb") } };
    udisks.drive[kDrives + "disk"] = { { "Removable", false }, { "ConnectionBus", QString() } };

    const std::optional<UDisksFacts> reader = udisksFacts(client, QStringLiteral("/dev/sdb1"), 5000);
    QVERIFY(reader && reader->removable && reader->label == QLatin1String("CANON_SD"));
    QCOMPARE(reader->drive, kDrives + "reader");
    QVERIFY(!udisksFacts(client, QStringLiteral("/dev/sdz9"), 5000)); // a device it does not know

    test::FakeDrives drives;
    drives.mountTable = { { "/dev/sda2", "/", "ext4", 20 }, { "/dev/sdb1", "/media/x/3031-3233", "vfat", 40 },
        { "/dev/sdc1", "/run/media/x/PHOTOS", "exfat", 41 }, { "/dev/sda3", "/media/x/OLD", "ext4", 42 } };
    LinuxMedia media(drives, client, QStringLiteral("x"), false);
    QObject receiver;
    int told = 0;
    media.watch(&receiver, [&told] { ++told; });
    // UDisks2 is asked without waiting: a mount with a block device shows once it has answered,
    // and the watchers are told of each answer.
    QVERIFY(media.media().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(told, 4, 30000);
    QList<Medium> found = media.media();
    // Named by label; the system disk is none; /dev/sda3, which UDisks2 does not know, counts
    // by its place, named by its folder.
    QStringList names;
    for (const Medium& m : found)
        names << m.name + (m.usb ? "/usb" : "");
    QCOMPARE(names, QStringList({ "CANON_SD", "PHOTOS/usb", "OLD" }));
    QCOMPARE(found.at(0).path, QStringLiteral("/media/x/3031-3233"));

    // Safe removal: the stick is unmounted, then powered off; the card in its reader only
    // unmounted. A busy file system is told as busy.
    QCOMPARE(int(media.remove(found.at(1)).result), int(Removal::Result::Done));
    QCOMPARE(udisks.calls, QStringList({ "Unmount " + kBlocks + "sdc1", "PowerOff " + kDrives + "stick" }));
    udisks.calls.clear();
    QCOMPARE(int(media.remove(found.at(0)).result), int(Removal::Result::Done));
    QCOMPARE(udisks.calls, QStringList({ "Unmount " + kBlocks + "sdb1" }));
    udisks.calls.clear();
    // Busy for a moment (a file just closed): asked again, then removed.
    udisks.busy = 2;
    QCOMPARE(int(media.remove(found.at(1)).result), int(Removal::Result::Done));
    const QString unmount = "Unmount " + kBlocks + "sdc1";
    QCOMPARE(udisks.calls, QStringList({ unmount, unmount, unmount, "PowerOff " + kDrives + "stick" }));
    udisks.calls.clear();
    // Busy throughout: told, after the last try, and never powered off.
    udisks.busy = LinuxMedia::BusyRetries + 1;
    QCOMPARE(int(media.remove(found.at(1)).result), int(Removal::Result::Busy));
    QCOMPARE(udisks.calls, QStringList(LinuxMedia::BusyRetries + 1, unmount));

    // A new medium comes after those plugged in before, whatever its place in the table.
    drives.mountTable.prepend({ "/dev/sdd1", "/media/x/NEW", "vfat", 50 });
    udisks.block[kBlocks + "sdd1"] = blockOf("NEW", "stick", false);
    QCOMPARE(media.media().size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(told, 5, 30000);
    found = media.media();
    QCOMPARE(found.size(), 4);
    QCOMPARE(found.at(3).name, QStringLiteral("NEW"));

    // Without UDisks2 on the bus, the place decides.
    LinuxMedia bare(drives, QDBusConnection(QStringLiteral("none")), QStringLiteral("x"), false);
    names.clear();
    for (const Medium& m : bare.media())
        names << m.name;
    QCOMPARE(names, QStringList({ "NEW", "3031-3233", "PHOTOS", "OLD" }));

    // A udisksd that never answers holds nothing: the card shows by its place once the limit
    // has passed, and a card it knows beside it shows as soon as its own answer has come.
    udisks.silent << kBlocks + "sde1";
    udisks.block[kBlocks + "sdf1"] = blockOf("LATER", "reader", false);
    drives.mountTable
        = { { "/dev/sde1", "/media/x/STUCK", "vfat", 60 }, { "/dev/sdf1", "/mnt/r", "vfat", 61 } };
    LinuxMedia stuck(drives, client, QStringLiteral("x"), false);
    stuck.setFactsLimit(300);
    int stuckTold = 0;
    stuck.watch(&receiver, [&stuckTold] { ++stuckTold; });
    QVERIFY(stuck.media().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(stuckTold, 2, 30000);
    names.clear();
    for (const Medium& m : stuck.media())
        names << m.name + ' ' + m.drive;
    QCOMPARE(names, QStringList({ "STUCK ", "LATER " + kDrives + "reader" }));
}

QTEST_GUILESS_MAIN(TestMedia)
#include "tst_media.moc"
