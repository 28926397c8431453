#include "platform/DriveWatch.h"
#include "platform/FileOps.h"
#include "platform/LinuxDrives.h"
#include "platform/PathCodec.h"
#include "platform/UDisksMount.h"
#include "platform/WorkAside.h"

#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

#include <pwd.h>
#include <unistd.h>

using namespace ztv;

namespace {

// Answers every call with the path it was given as the detail and notes the thread it ran on.
class ThreadNotingOps : public FileOps {
public:
    QList<QThread*> threads;
    FileResult makeDirectory(const QString& p) override { return noted(p); }
    FileResult removeEmptyDirectory(const QString& p) override { return noted(p); }
    FileResult removeFile(const QString& p) override { return noted(p); }
    FileResult moveNoReplace(const QString& a, const QString&) override { return noted(a); }
    FileResult moveNoReplace(const QString& a, const QString&, FolderFlushes&) override
    {
        return noted(a + u'+');
    }
    FileResult copyNoReplace(const QString& a, const QString&) override { return noted(a); }
    FileResult writeFile(const QString& p, const QByteArray& bytes, bool) override
    {
        return noted(p + QString::fromLatin1(bytes));
    }
    FileResult moveToTrash(const QString& p) override { return noted(p); }
    FileResult trashFile(const QString& p, TrashedFile& where) override
    {
        where.file = p + u"-file"_qs;
        return noted(p);
    }

private:
    FileResult noted(const QString& detail)
    {
        threads << QThread::currentThread();
        return { FileError::Other, detail };
    }
};

// Every call of ops, checking each answer comes back whole.
void callEach(FileOps& ops)
{
    FolderFlushes later;
    TrashedFile where;
    QCOMPARE(ops.makeDirectory(u"a"_qs).detail, u"a"_qs);
    QCOMPARE(ops.removeEmptyDirectory(u"b"_qs).detail, u"b"_qs);
    QCOMPARE(ops.removeFile(u"c"_qs).detail, u"c"_qs);
    QCOMPARE(ops.moveNoReplace(u"d"_qs, u"x"_qs).detail, u"d"_qs);
    QCOMPARE(ops.moveNoReplace(u"e"_qs, u"x"_qs, later).detail, u"e+"_qs);
    QCOMPARE(ops.copyNoReplace(u"f"_qs, u"x"_qs).detail, u"f"_qs);
    QCOMPARE(ops.writeFile(u"g"_qs, "h", false).detail, u"gh"_qs);
    QCOMPARE(ops.moveToTrash(u"i"_qs).error, FileError::Other);
    QCOMPARE(ops.trashFile(u"j"_qs, where).detail, u"j"_qs);
    QCOMPARE(where.file, u"j-file"_qs);
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The work waits until the calling thread has handled timer events meanwhile: a wait that
    // stopped the caller's events would only end at the hang guard, with none seen.
    void waitAsideLetsTheCallerRun()
    {
        std::atomic<int> ticks { 0 };
        QTimer timer;
        timer.setInterval(1);
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start();
        const int seen = waitAside<int>([&] {
            for (int i = 0; i < 30000 && ticks.load() < 5; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return ticks.load();
        });
        QVERIFY2(seen >= 5, qPrintable(QString::number(seen)));
    }

    // On the main thread every operation runs aside and hands back its whole answer; on any
    // other thread it runs where it is called.
    void asideFileOpsLeaveTheMainThread()
    {
        ThreadNotingOps inner;
        const std::unique_ptr<FileOps> aside = asideFileOps(inner);
        callEach(*aside);
        QCOMPARE(inner.threads.size(), 9);
        QVERIFY(!inner.threads.contains(QThread::currentThread()));

        inner.threads.clear();
        QThread* worker = nullptr;
        std::thread([&] {
            worker = QThread::currentThread();
            callEach(*aside);
        }).join();
        QCOMPARE(inner.threads, QList<QThread*>(9, worker));
    }

    void mountInfoWithEscapes()
    {
        const QByteArray text = "22 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
                                "36 22 11:0 / /media/cdrom0 ro,nosuid master:3 - iso9660 /dev/sr0 ro\n"
                                "37 22 7:3 / /media/user/My\\040Disc\\011\\134x ro - udf /dev/loop3 ro\n"
                                "38 22 0:50 / /mnt/\\345\\206\\231\\347\\234\\237 rw - vfat /dev/sdb1 rw\n"
                                "39 22 0:51 / /mnt/sjis\\203\\134 rw - tmpfs my\\040tmp rw\n"
                                "broken line without separator\n"
                                "40 22 0:52 / /mnt/short rw -\n"
                                "\n";
        const QList<MountEntry> m = parseMountInfo(text);
        QCOMPARE(m.size(), 5);
        QCOMPARE(m[0].mountPoint, u"/"_qs);
        QCOMPARE(m[1].device, u"/dev/sr0"_qs);
        QCOMPARE(m[1].mountPoint, u"/media/cdrom0"_qs);
        QCOMPARE(m[1].fsType, u"iso9660"_qs);
        QCOMPARE(m[2].mountPoint, u"/media/user/My Disc\t\\x"_qs);
        QCOMPARE(m[2].device, u"/dev/loop3"_qs);
        QCOMPARE(m[2].fsType, u"udf"_qs);
        QCOMPARE(m[3].mountPoint, u"/mnt/写真"_qs);
        QCOMPARE(encodePath(m[4].mountPoint), QByteArray("/mnt/sjis\x83\x5c"));
        QCOMPARE(m[4].device, u"my tmp"_qs);
        // The mount's id tells a disc swapped at the same place from the one before.
        QCOMPARE(m[1].mountId, 36);
        QCOMPARE(m[2].mountId, 37);
    }

    void diskUevents()
    {
        const auto msg = [](std::initializer_list<const char*> fields) {
            QByteArray m;
            for (const char* f : fields)
                m.append(f).append('\0');
            return m;
        };
        QVERIFY(isDiskUevent(
            msg({ "change@/devices/pci0000:00/ata2/host1/target1:0:0/1:0:0:0/block/sr0", "ACTION=change",
                "DEVNAME=sr0", "SUBSYSTEM=block", "DEVTYPE=disk", "DISK_MEDIA_CHANGE=1", "SEQNUM=4021" })));
        // A partition, another subsystem, or text that is not split into fields are not.
        QVERIFY(!isDiskUevent(
            msg({ "add@/block/sda/sda1", "ACTION=add", "SUBSYSTEM=block", "DEVTYPE=partition" })));
        QVERIFY(!isDiskUevent(
            msg({ "change@/devices/usb1", "ACTION=change", "SUBSYSTEM=usb", "DEVTYPE=usb_device" })));
        QVERIFY(!isDiskUevent(QByteArray("SUBSYSTEM=block DEVTYPE=disk")));
    }

    void udisksObjectPaths()
    {
        QCOMPARE(udisksBlockPath(u"/dev/sr0"_qs), u"/org/freedesktop/UDisks2/block_devices/sr0"_qs);
        QCOMPARE(udisksBlockPath(u"/dev/sr10"_qs), u"/org/freedesktop/UDisks2/block_devices/sr10"_qs);
        // Anything else would name another object, or an invalid one.
        QCOMPARE(udisksBlockPath(u"/dev/../etc"_qs), QString());
        QCOMPARE(udisksBlockPath(u"/dev/disk/by-label/x"_qs), QString());
        QCOMPARE(udisksBlockPath(u"/media/cdrom0"_qs), QString());
        QCOMPARE(udisksBlockPath(u"/dev/sr-0"_qs), QString());
    }

    void ownMachine()
    {
        LinuxDrives d;
        const QByteArray old = qgetenv("HOME");
        qputenv("HOME", "/home/テスト");
        QCOMPARE(d.environmentHome(), u"/home/テスト"_qs);
        qputenv("HOME", "");
        QCOMPARE(d.environmentHome(), QString());
        qputenv("HOME", old);
        const passwd* pw = ::getpwuid(::getuid());
        QVERIFY(pw);
        QCOMPARE(d.passwdHome(), QString::fromUtf8(pw->pw_dir));
        const QStringList devices = d.opticalDevices();
        for (const QString& dev : devices)
            QVERIFY(dev.startsWith(u"/dev/sr"_qs));
        bool root = false;
        for (const MountEntry& e : d.mounts())
            root = root || e.mountPoint == u"/"_qs;
        QVERIFY(root);
    }

    void pathsRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QByteArray("/a/b.jpg");
        QTest::newRow("japanese") << QByteArray("/保管庫/旅行 2024/ｶﾀｶﾅ.png");
        QTest::newRow("emoji") << QByteArray("/\xF0\x9F\x93\xB7.jpg");
        QTest::newRow("shift_jis") << QByteArray("/cd/\x8E\xCA\x90\x5E.jpg");
        QTest::newRow("lone continuation") << QByteArray("\x80\xBF");
        QTest::newRow("overlong slash") << QByteArray("a\xC0\xAF"
                                                      "b");
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xB2\x80");
        QTest::newRow("truncated") << QByteArray("x\xE5\x86");
        QTest::newRow("beyond unicode") << QByteArray("\xF4\x90\x80\x80");
    }
    void pathsRoundTrip()
    {
        QFETCH(QByteArray, bytes);
        const QString s = decodePath(bytes);
        QCOMPARE(encodePath(s), bytes);
        if (QString::fromUtf8(bytes).toUtf8() == bytes)
            QCOMPARE(s, QString::fromUtf8(bytes)); // valid UTF-8 decodes as everywhere else
        else
            QVERIFY(!s.contains(QChar(0xFFFD)));
    }

    // Two different raw names never decode to the same text.
    void distinctBytesStayDistinct()
    {
        QVERIFY(decodePath("\x83\x5c") != decodePath("\x83\x5d"));
        QVERIFY(decodePath("\xC0\xAF") != decodePath("/"));
        QCOMPARE(encodePath(QString(QChar(0xD800))), QByteArray("\xEF\xBF\xBD"));
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
