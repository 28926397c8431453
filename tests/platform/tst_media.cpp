// Which mounts are removable media, UDisks2's answers from a stand-in service on a private bus,
// and a real GVfs mount (an archive) on a private session bus.
#include "Fakes.h"
#include "platform/GioMedia.h"
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
    bool busy = false;

    QString introspect(const QString&) const override { return QString(); }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        const QString path = message.path();
        if (message.member() == QLatin1String("GetAll")) {
            const QString iface = message.arguments().value(0).toString();
            const auto& table = iface.endsWith(QLatin1String(".Block")) ? block : drive;
            if (!table.contains(path))
                return connection.send(message.createErrorReply(QDBusError::UnknownObject, path));
            return connection.send(message.createReply(QVariant(table.value(path))));
        }
        calls << message.member() + u' ' + path;
        if (message.member() == QLatin1String("Unmount") && busy)
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
    void whichMounts_data();
    void whichMounts();
    void housekeepingFolders();
    void udisksAnswers();
    void gvfsArchive();
};

void TestMedia::whichMounts_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("mountPoint");
    QTest::addColumn<QString>("fsType");
    QTest::addColumn<bool>("known"); // UDisks2 answered
    QTest::addColumn<bool>("removable");
    QTest::addColumn<QString>("bus");
    QTest::addColumn<bool>("hint"); // HintIgnore or HintSystem
    QTest::addColumn<bool>("medium");

    const QString sd = QStringLiteral("/dev/sdb1");
    const QString vfat = QStringLiteral("vfat");
    QTest::newRow("card reader") << sd << "/media/x/CARD" << vfat << true << true << "" << false << true;
    QTest::newRow("usb stick") << sd << "/mnt/stick" << vfat << true << false << "usb" << false << true;
    QTest::newRow("sdio") << "/dev/mmcblk0p1"
                          << "/mnt/sd" << vfat << true << false << "sdio" << false << true;
    QTest::newRow("firewire") << sd << "/mnt/fw" << vfat << true << false << "ieee1394" << false << true;
    QTest::newRow("system disk under /media") << "/dev/sda2"
                                              << "/media/x/DATA"
                                              << "ext4" << true << false << "ata" << false << false;
    QTest::newRow("removable but hinted")
        << sd << "/media/x/RECOVERY" << vfat << true << true << "usb" << true << false;
    QTest::newRow("fuse card, no udisks") << "fusefat"
                                          << "/run/media/x/CANON_SD"
                                          << "fuse.fusefat" << false << false << "" << false << true;
    QTest::newRow("directly below /media")
        << "/dev/sdc1"
        << "/media/PHOTOS" << vfat << false << false << "" << false << true;
    QTest::newRow("another user's") << "/dev/sdc1"
                                    << "/media/y/PHOTOS" << vfat << false << false << "" << false << false;
    QTest::newRow("deeper below the user's")
        << "/dev/sdc1"
        << "/run/media/x/A/B" << vfat << false << false << "" << false << false;
    QTest::newRow("no udisks elsewhere") << "/dev/sdc1"
                                         << "/mnt/usb" << vfat << false << false << "" << false << false;
    QTest::newRow("autofs") << "systemd-1"
                            << "/media/x/auto"
                            << "autofs" << false << false << "" << false << false;
    QTest::newRow("nfs share") << "srv:/p"
                               << "/media/x/share"
                               << "nfs4" << false << false << "" << false << false;
    QTest::newRow("sshfs") << "u@h:"
                           << "/media/x/ssh"
                           << "fuse.sshfs" << false << false << "" << false << false;
    QTest::newRow("gvfs fuse root") << "gvfsd-fuse"
                                    << "/media/x/gvfs"
                                    << "fuse.gvfsd-fuse" << false << false << "" << false << false;
    QTest::newRow("optical drive") << "/dev/sr0"
                                   << "/media/x/DISC"
                                   << "iso9660" << true << true << "usb" << false << false;
}

void TestMedia::whichMounts()
{
    QFETCH(QString, device);
    QFETCH(QString, mountPoint);
    QFETCH(QString, fsType);
    QFETCH(bool, known);
    QFETCH(bool, removable);
    QFETCH(QString, bus);
    QFETCH(bool, hint);
    QFETCH(bool, medium);
    std::optional<UDisksFacts> facts;
    if (known)
        facts = UDisksFacts { removable, bus, hint, false, QString(), QString() };
    QCOMPARE(isMediumMount({ device, mountPoint, fsType, 7 }, facts, QStringLiteral("x")), medium);
    if (known && hint) {
        facts->hintIgnore = false;
        facts->hintSystem = true;
        QCOMPARE(isMediumMount({ device, mountPoint, fsType, 7 }, facts, QStringLiteral("x")), medium);
    }
}

void TestMedia::housekeepingFolders()
{
    for (const char* name : { ".thumbnails", ".trashed-1712345678-IMG_1.jpg", ".pending-1712-x",
             ".Trash-1000", "System Volume Information" })
        QVERIFY2(isMediumHousekeeping(QString::fromUtf8(name)), name);
    for (const char* name : { "DCIM", "100CANON", "thumbnails", "Trash", "System" })
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
    QVERIFY(reader);
    QVERIFY(reader->removable);
    QCOMPARE(reader->label, QStringLiteral("CANON_SD"));
    QCOMPARE(reader->drive, kDrives + "reader");
    QVERIFY(!udisksFacts(client, QStringLiteral("/dev/sdz9"), 5000)); // a device it does not know

    test::FakeDrives drives;
    drives.mountTable = { { "/dev/sda2", "/", "ext4", 20 }, { "/dev/sdb1", "/media/x/3031-3233", "vfat", 40 },
        { "/dev/sdc1", "/run/media/x/PHOTOS", "exfat", 41 }, { "/dev/sda3", "/media/x/OLD", "ext4", 42 } };
    LinuxMedia media(drives, client, QStringLiteral("x"), false);
    QList<Medium> found = media.media();
    // Named by label; the system disk is none; /dev/sda3, which UDisks2 does not know, counts
    // by its place, named by its folder.
    QCOMPARE(found.size(), 3);
    QCOMPARE(found.at(2).name, QStringLiteral("OLD"));
    QVERIFY(found.at(2).drive.isEmpty());
    QCOMPARE(found.at(0).name, QStringLiteral("CANON_SD"));
    QCOMPARE(found.at(0).path, QStringLiteral("/media/x/3031-3233"));
    QVERIFY(!found.at(0).usb);
    QCOMPARE(found.at(1).name, QStringLiteral("PHOTOS"));
    QVERIFY(found.at(1).usb);

    // Safe removal: the stick is unmounted, then powered off; the card in its reader only
    // unmounted. A busy file system is told as busy.
    QCOMPARE(int(media.remove(found.at(1)).result), int(Removal::Result::Done));
    QCOMPARE(udisks.calls, QStringList({ "Unmount " + kBlocks + "sdc1", "PowerOff " + kDrives + "stick" }));
    udisks.calls.clear();
    QCOMPARE(int(media.remove(found.at(0)).result), int(Removal::Result::Done));
    QCOMPARE(udisks.calls, QStringList({ "Unmount " + kBlocks + "sdb1" }));
    udisks.calls.clear();
    udisks.busy = true;
    QCOMPARE(int(media.remove(found.at(1)).result), int(Removal::Result::Busy));
    QCOMPARE(udisks.calls, QStringList({ "Unmount " + kBlocks + "sdc1" })); // not powered off

    // A new medium comes after those plugged in before, whatever its place in the table.
    drives.mountTable.prepend({ "/dev/sdd1", "/media/x/NEW", "vfat", 50 });
    udisks.block[kBlocks + "sdd1"] = blockOf("NEW", "stick", false);
    found = media.media();
    QCOMPARE(found.size(), 4);
    QCOMPARE(found.at(3).name, QStringLiteral("NEW"));

    // Without UDisks2 on the bus, the place decides.
    LinuxMedia bare(drives, QDBusConnection(QStringLiteral("none")), QStringLiteral("x"), false);
    QStringList names;
    for (const Medium& m : bare.media())
        names << m.name;
    QCOMPARE(names, QStringList({ "NEW", "3031-3233", "PHOTOS", "OLD" }));
}

void TestMedia::gvfsArchive()
{
    const QString gvfsd = QStringLiteral("/usr/libexec/gvfsd");
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (!QFileInfo::exists(gvfsd) || gio.isEmpty()
        || !QFileInfo::exists(QStringLiteral("/usr/libexec/gvfsd-fuse")))
        QSKIP("GVfs is not installed (scripts/install-deps.sh test: gvfs-daemons gvfs-backends gvfs-fuse)");
    if (!QFileInfo(QStringLiteral("/dev/fuse")).isWritable())
        QSKIP("no /dev/fuse here: GVfs's FUSE view cannot be mounted");
    QProcess bus;
    const QString address = startBus(bus);
    if (address.isEmpty())
        QSKIP("dbus-daemon is not installed (scripts/install-deps.sh test)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString runtime = dir.filePath(QStringLiteral("run"));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // GIO reads both when it first starts, which is below.
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    QProcess daemon;
    daemon.start(gvfsd, { QStringLiteral("--replace") });
    QVERIFY(daemon.waitForStarted());
    auto stop = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("fusermount3"), { "-u", "-z", runtime + "/gvfs" });
        daemon.terminate();
        daemon.waitForFinished();
        bus.kill();
        bus.waitForFinished();
    });

    // A tar of pictures, as a file manager opens an archive.
    const QString pictures = dir.filePath(QStringLiteral("pics"));
    QVERIFY(QDir().mkpath(pictures + "/DCIM/100CANON"));
    QImage image(32, 24, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(pictures + "/DCIM/100CANON/IMG_0001.JPG", "JPEG"));
    const QString tar = dir.filePath(QStringLiteral("photos.tar"));
    QCOMPARE(QProcess::execute(QStringLiteral("tar"), { "-C", pictures, "-cf", tar, "DCIM" }), 0);

    GioMedia media;
    int changes = 0;
    media.setOnChange([&] { ++changes; });
    QVERIFY(media.media().isEmpty());
    const QString uri = QStringLiteral("archive://")
        + QString::fromLatin1(QUrl::toPercentEncoding(QUrl::fromLocalFile(tar).toString()));
    QProcess mount;
    mount.start(gio, { QStringLiteral("mount"), uri });
    QTRY_VERIFY_WITH_TIMEOUT(mount.state() == QProcess::NotRunning, 30000);
    QCOMPARE(mount.exitCode(), 0);
    // Seen through GIO alone: the mount table gains nothing.
    QTRY_COMPARE_WITH_TIMEOUT(media.media().size(), 1, 30000);
    QVERIFY(changes > 0);
    const Medium m = media.media().front();
    QCOMPARE(m.name, QStringLiteral("photos.tar"));
    QVERIFY(m.gvfs);
    QVERIFY2(m.path.startsWith(runtime + "/gvfs/archive:"), qPrintable(m.path));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m.path + "/DCIM/100CANON/IMG_0001.JPG"), 30000);
    QFile read(m.path + "/DCIM/100CANON/IMG_0001.JPG");
    QVERIFY(read.open(QIODevice::ReadOnly));
    QFile original(pictures + "/DCIM/100CANON/IMG_0001.JPG");
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(read.readAll(), original.readAll());
    read.close();

    // Removed through GIO, as "取り外し" does it.
    QCOMPARE(int(media.remove(m).result), int(Removal::Result::Done));
    QTRY_VERIFY_WITH_TIMEOUT(media.media().isEmpty(), 30000);
}

QTEST_GUILESS_MAIN(TestMedia)
#include "tst_media.moc"
