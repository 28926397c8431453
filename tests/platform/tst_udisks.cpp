// The mount request to UDisks2, answered by a stand-in service on a private message bus.
#include "platform/UDisksMount.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QVariantMap>

using namespace ztv;

namespace {

// The Filesystem interface of one block device: mounts at a fixed place, or refuses as
// UDisks2 does when the user may not mount.
class FakeFilesystem : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Filesystem")
public:
    FakeFilesystem(QString mountPoint, bool refuse)
        : m_mountPoint(std::move(mountPoint))
        , m_refuse(refuse)
    {
    }
    int calls = 0;
    QVariantMap lastOptions;

public Q_SLOTS:
    QString Mount(const QVariantMap& options)
    {
        ++calls;
        lastOptions = options;
        if (m_refuse) {
            sendErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"),
                QStringLiteral("Not authorized"));
            return QString();
        }
        return m_mountPoint;
    }

private:
    QString m_mountPoint;
    bool m_refuse;
};

} // namespace

class TestUDisks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void mountRequests();

private:
    QProcess m_daemon;
    QString m_address;
};

void TestUDisks::initTestCase()
{
    const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
    if (daemon.isEmpty())
        QSKIP("dbus-daemon is not installed (scripts/install-deps.sh test)");
    m_daemon.start(daemon, { "--session", "--nofork", "--nopidfile", "--print-address=1" });
    QVERIFY(m_daemon.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 30000);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    QVERIFY(!m_address.isEmpty());
}

void TestUDisks::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    m_daemon.kill();
    m_daemon.waitForFinished();
}

void TestUDisks::mountRequests()
{
    QDBusConnection client = QDBusConnection::connectToBus(m_address, QStringLiteral("client"));
    QVERIFY(client.isConnected());

    // No UDisks2 on the bus: nothing mounted, and the call's own time-out is not waited out
    // (a hang guard only: a wait of the full time-out would be ten minutes).
    QElapsedTimer t;
    t.start();
    QCOMPARE(udisksMount(client, QStringLiteral("/dev/sr0"), 600000), QString());
    QVERIFY(t.elapsed() < 60000);

    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("service"));
    QVERIFY(service.isConnected());
    FakeFilesystem sr0(QStringLiteral("/media/ユーザー/写真 2024"), false);
    FakeFilesystem sr1(QString(), true);
    QVERIFY(service.registerObject(
        QStringLiteral("/org/freedesktop/UDisks2/block_devices/sr0"), &sr0, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerObject(
        QStringLiteral("/org/freedesktop/UDisks2/block_devices/sr1"), &sr1, QDBusConnection::ExportAllSlots));
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.UDisks2")));

    // The drive's object is asked, with no options of its own; the mount point comes back.
    QCOMPARE(
        udisksMount(client, QStringLiteral("/dev/sr0"), 5000), QStringLiteral("/media/ユーザー/写真 2024"));
    QCOMPARE(sr0.calls, 1);
    QVERIFY(sr0.lastOptions.isEmpty());

    // Refused, a device without a file system, a name that is no device: "".
    QCOMPARE(udisksMount(client, QStringLiteral("/dev/sr1"), 5000), QString());
    QCOMPARE(sr1.calls, 1);
    QCOMPARE(udisksMount(client, QStringLiteral("/dev/sr2"), 5000), QString());
    QCOMPARE(udisksMount(client, QStringLiteral("/media/cdrom0"), 5000), QString());
    QCOMPARE(sr0.calls, 1);

    // Without a bus at all.
    QCOMPARE(
        udisksMount(QDBusConnection(QStringLiteral("none")), QStringLiteral("/dev/sr0"), 5000), QString());
}

QTEST_GUILESS_MAIN(TestUDisks)
#include "tst_udisks.moc"
