#include "FileTestUtil.h"
#include "platform/FaultInjection.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace ztv;
using namespace ztv::test;
using faults::Op;

class TestFileOps : public QObject {
    Q_OBJECT

    QTemporaryDir* m_tmp = nullptr;
    QString m_dir;
    FileOps& ops = realFileOps();

    QString at(const QString& name) const { return m_dir + u'/' + name; }

    // The trash record of a file in the test's trash: its lines, the path percent-decoded.
    struct Record {
        QByteArray header, path, date;
    };
    static Record record(const QByteArray& file)
    {
        const QList<QByteArray> lines = readRaw(file).split('\n');
        Record r;
        if (lines.size() == 4 && lines[3].isEmpty()) {
            r.header = lines[0];
            if (lines[1].startsWith("Path="))
                r.path = QByteArray::fromPercentEncoding(lines[1].mid(5));
            if (lines[2].startsWith("DeletionDate="))
                r.date = lines[2].mid(13);
        }
        return r;
    }

    // The entries of a folder as bytes, sorted: names Qt cannot encode included.
    static QList<QByteArray> rawEntries(const QByteArray& folder)
    {
        QList<QByteArray> out;
        if (DIR* d = ::opendir(folder.constData())) {
            while (const dirent* e = ::readdir(d))
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, ".."))
                    out << QByteArray(e->d_name);
            ::closedir(d);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

private Q_SLOTS:
    void init()
    {
        faults::reset();
        qunsetenv("XDG_DATA_HOME");
        m_tmp = new QTemporaryDir;
        QVERIFY(m_tmp->isValid());
        m_dir = m_tmp->path();
    }
    void cleanup()
    {
        faults::reset();
        qunsetenv("XDG_DATA_HOME");
        delete m_tmp;
        m_tmp = nullptr;
    }

    void makeAndRemoveDirectory()
    {
        QVERIFY(ops.makeDirectory(at(u"旅行"_qs)).ok());
        QVERIFY(QFileInfo(at(u"旅行"_qs)).isDir());
        QVERIFY(writeRaw(at(u"旅行/a.jpg"_qs), "keep"));

        const FileResult again = ops.makeDirectory(at(u"旅行"_qs));
        QCOMPARE(again.error, FileError::Exists);
        QVERIFY(!again.detail.isEmpty());
        QCOMPARE(readAll(at(u"旅行/a.jpg"_qs)), QByteArray("keep"));

        QVERIFY(writeRaw(at(u"file"_qs), "x"));
        QCOMPARE(ops.makeDirectory(at(u"file"_qs)).error, FileError::Exists);
        QCOMPARE(ops.makeDirectory(at(u"missing/box"_qs)).error, FileError::NotFound);

        QCOMPARE(ops.removeEmptyDirectory(at(u"旅行"_qs)).error, FileError::NotEmpty);
        QCOMPARE(readAll(at(u"旅行/a.jpg"_qs)), QByteArray("keep"));
        QCOMPARE(ops.removeEmptyDirectory(at(u"file"_qs)).error, FileError::InvalidName);
        QVERIFY(QFile::exists(at(u"file"_qs)));
        QVERIFY(ops.removeFile(at(u"旅行/a.jpg"_qs)).ok());
        QVERIFY(ops.removeEmptyDirectory(at(u"旅行"_qs)).ok());
        QVERIFY(!QFileInfo::exists(at(u"旅行"_qs)));
        QCOMPARE(ops.removeEmptyDirectory(at(u"旅行"_qs)).error, FileError::NotFound);
    }

    void removeFile()
    {
        QVERIFY(writeRaw(at(u"写真.png"_qs), "p"));
        QVERIFY(ops.removeFile(at(u"写真.png"_qs)).ok());
        QVERIFY(!QFile::exists(at(u"写真.png"_qs)));
        const FileResult gone = ops.removeFile(at(u"写真.png"_qs));
        QCOMPARE(gone.error, FileError::NotFound);
        QVERIFY(gone.detail.contains(u"見つかりません"_qs));
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        QCOMPARE(ops.removeFile(at(u"box"_qs)).error, FileError::InvalidName);
        QVERIFY(QFileInfo(at(u"box"_qs)).isDir());
    }

    void namesThatAreNotPlainAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("dotdot") << u"box/.."_qs;
        QTest::newRow("dot") << u"box/."_qs;
        QTest::newRow("trailing slash") << u"box/"_qs;
        QTest::newRow("nul") << QString(u"box/a"_qs + QChar(u'\0') + u"b"_qs);
        QTest::newRow("empty") << QString();
    }
    void namesThatAreNotPlainAreRefused()
    {
        QFETCH(QString, name);
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        QVERIFY(writeRaw(at(u"box/a"_qs), "stored"));
        QVERIFY(writeRaw(at(u"src.jpg"_qs), "source"));
        const QString target = name.isEmpty() ? name : at(name);
        QCOMPARE(ops.makeDirectory(target).error, FileError::InvalidName);
        QCOMPARE(ops.removeEmptyDirectory(target).error, FileError::InvalidName);
        QCOMPARE(ops.removeFile(target).error, FileError::InvalidName);
        QCOMPARE(ops.moveNoReplace(at(u"src.jpg"_qs), target).error, FileError::InvalidName);
        QCOMPARE(ops.moveNoReplace(target, at(u"moved"_qs)).error, FileError::InvalidName);
        QCOMPARE(ops.copyNoReplace(at(u"src.jpg"_qs), target).error, FileError::InvalidName);
        QCOMPARE(ops.writeFile(target, "new", true).error, FileError::InvalidName);
        QCOMPARE(entries(m_dir), QStringList({ u"box"_qs, u"src.jpg"_qs }));
        QCOMPARE(entries(at(u"box"_qs)), QStringList({ u"a"_qs }));
        QCOMPARE(readAll(at(u"box/a"_qs)), QByteArray("stored"));
        QCOMPARE(readAll(at(u"src.jpg"_qs)), QByteArray("source"));
    }

    void moveRenamesFilesAndFolders()
    {
        const QByteArray data = pattern(70000, 1);
        QVERIFY(writeRaw(at(u"photo.JPG"_qs), data));
        QVERIFY(ops.moveNoReplace(at(u"photo.JPG"_qs), at(u"trip.JPG"_qs)).ok());
        QCOMPARE(readAll(at(u"trip.JPG"_qs)), data);
        QVERIFY(!QFile::exists(at(u"photo.JPG"_qs)));

        QVERIFY(QDir().mkpath(at(u"保管庫/箱"_qs)));
        QVERIFY(ops.moveNoReplace(at(u"trip.JPG"_qs), at(u"保管庫/箱/trip.JPG"_qs)).ok());
        QCOMPARE(readAll(at(u"保管庫/箱/trip.JPG"_qs)), data);

        QVERIFY(ops.moveNoReplace(at(u"保管庫/箱"_qs), at(u"保管庫/新しい箱"_qs)).ok());
        QCOMPARE(readAll(at(u"保管庫/新しい箱/trip.JPG"_qs)), data);
        QCOMPARE(ops.moveNoReplace(at(u"gone"_qs), at(u"x"_qs)).error, FileError::NotFound);
    }

    void moveNeverReplaces()
    {
        QVERIFY(writeRaw(at(u"a.jpg"_qs), "AAAA"));
        QVERIFY(writeRaw(at(u"b.jpg"_qs), "BB"));
        QCOMPARE(ops.moveNoReplace(at(u"a.jpg"_qs), at(u"b.jpg"_qs)).error, FileError::Exists);
        QCOMPARE(ops.moveNoReplace(at(u"a.jpg"_qs), at(u"a.jpg"_qs)).error, FileError::Exists);
        QVERIFY(QDir().mkpath(at(u"one/inner"_qs)));
        QVERIFY(QDir().mkpath(at(u"two"_qs)));
        QCOMPARE(ops.moveNoReplace(at(u"one"_qs), at(u"two"_qs)).error, FileError::Exists);
        QCOMPARE(ops.moveNoReplace(at(u"a.jpg"_qs), at(u"two"_qs)).error, FileError::Exists);
        QCOMPARE(ops.moveNoReplace(at(u"one"_qs), at(u"one/inner/one"_qs)).error, FileError::InvalidName);
        QCOMPARE(readAll(at(u"a.jpg"_qs)), QByteArray("AAAA"));
        QCOMPARE(readAll(at(u"b.jpg"_qs)), QByteArray("BB"));
        QVERIFY(QFileInfo(at(u"one/inner"_qs)).isDir());
        QCOMPARE(entries(m_dir), QStringList({ u"a.jpg"_qs, u"b.jpg"_qs, u"one"_qs, u"two"_qs }));
    }

    // Where the file system refuses RENAME_NOREPLACE: link and unlink for files, an
    // exclusive placeholder otherwise; still never replacing.
    void moveFallbacksNeverReplace()
    {
        QVERIFY(writeRaw(at(u"a.jpg"_qs), "AAAA"));
        QVERIFY(writeRaw(at(u"b.jpg"_qs), "BB"));
        faults::arm(Op::Rename, 1, EINVAL);
        QCOMPARE(ops.moveNoReplace(at(u"a.jpg"_qs), at(u"b.jpg"_qs)).error, FileError::Exists);
        faults::disarm(); // the name was found taken before any rename
        faults::arm(Op::Rename, 1, EINVAL);
        QVERIFY(ops.moveNoReplace(at(u"a.jpg"_qs), at(u"c.jpg"_qs)).ok());
        QCOMPARE(readAll(at(u"c.jpg"_qs)), QByteArray("AAAA"));

        faults::reset();
        faults::arm(Op::Rename, 1, EINVAL);
        faults::arm(Op::Link, 1, EPERM); // no hard links (vfat)
        QVERIFY(ops.moveNoReplace(at(u"c.jpg"_qs), at(u"d.jpg"_qs)).ok());
        QCOMPARE(readAll(at(u"d.jpg"_qs)), QByteArray("AAAA"));
        QCOMPARE(entries(m_dir), QStringList({ u"b.jpg"_qs, u"d.jpg"_qs }));

        QVERIFY(QDir().mkpath(at(u"one/inner"_qs)));
        QVERIFY(QDir().mkpath(at(u"two/full"_qs)));
        faults::arm(Op::Rename, 1, EINVAL);
        QCOMPARE(ops.moveNoReplace(at(u"one"_qs), at(u"two"_qs)).error, FileError::Exists);
        faults::disarm();
        faults::arm(Op::Rename, 1, EINVAL);
        QVERIFY(ops.moveNoReplace(at(u"one"_qs), at(u"three"_qs)).ok());
        QVERIFY(QFileInfo(at(u"three/inner"_qs)).isDir());
        QVERIFY(QFileInfo(at(u"two/full"_qs)).isDir());
        QVERIFY(!QFileInfo::exists(at(u"one"_qs)));
    }

    // A mount with neither RENAME_NOREPLACE nor hard links nor unnamed temporary files (SMB,
    // many FUSE mounts): a move is a copy beside the target, checked, then created under its
    // name exclusively; a failure at any step keeps the source and leaves nothing else.
    void movesWhereNothingRenamesSafely_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("error");
        QTest::newRow("works") << -1 << 0 << 0 << int(FileError::None);
        // Opens: the two folders, the source, the unnamed file (refused), the hidden
        // temporary file, the final name.
        QTest::newRow("final name refused")
            << int(Op::Open) << 6 << EACCES << int(FileError::PermissionDenied);
        QTest::newRow("no exclusive create either")
            << int(Op::Open) << 6 << EOPNOTSUPP << int(FileError::Other);
        QTest::newRow("final name taken meanwhile") << int(Op::Open) << 6 << 0 << int(FileError::Exists);
        QTest::newRow("second write") << int(Op::Write) << 2 << ENOSPC << int(FileError::NoSpace);
        QTest::newRow("second flush") << int(Op::Fsync) << 2 << EIO << int(FileError::Io);
        QTest::newRow("source kept busy")
            << int(Op::Unlink) << 1 << EBUSY << int(FileError::PermissionDenied);
    }
    void movesWhereNothingRenamesSafely()
    {
        QFETCH(int, op);
        QFETCH(int, nth);
        QFETCH(int, err);
        QFETCH(int, error);
        const QByteArray data = pattern(300 * 1024 + 3, 9); // one write each
        QVERIFY(writeRaw(at(u"a.jpg"_qs), data));
        for (int n = 1; n <= 3; ++n) {
            faults::arm(Op::Rename, n, EINVAL);
            faults::arm(Op::Link, n, EOPNOTSUPP);
        }
        faults::arm(Op::Open, 4, EOPNOTSUPP);
        if (op >= 0 && err)
            faults::arm(Op(op), nth, err);
        const QString intruder = at(u"b.jpg"_qs);
        if (op >= 0 && !err) // another program takes the name just before it is created
            faults::setHook([&](Op o, int count) {
                if (o == Op::Open && count == nth && !QFileInfo::exists(intruder))
                    writeRaw(intruder, "theirs");
            });
        const FileResult r = ops.moveNoReplace(at(u"a.jpg"_qs), intruder);
        faults::setHook({});
        QCOMPARE(int(r.error), error);
        if (r.error == FileError::Other) // refused rather than risk a replace
            QCOMPARE(r.detail,
                u"この場所では、同じ名前のファイルを上書きしないように名前を付けることができません"_qs);
        QCOMPARE(faults::calls(Op::Link), 2); // both names were tried with a link first
        if (r.ok()) {
            QCOMPARE(entries(m_dir), QStringList({ u"b.jpg"_qs }));
            QCOMPARE(readAll(intruder), data);
            return;
        }
        QCOMPARE(readAll(at(u"a.jpg"_qs)), data);
        if (err) {
            QCOMPARE(entries(m_dir), QStringList({ u"a.jpg"_qs }));
        } else {
            QCOMPARE(entries(m_dir), QStringList({ u"a.jpg"_qs, u"b.jpg"_qs }));
            QCOMPARE(readAll(intruder), QByteArray("theirs"));
        }
    }

    // A source that cannot be sought (an archive's member seen as a stream) is read once: the
    // move checks its copy against what it read, and finds a copy spoilt on the way.
    void moveOfAStreamReadsItOnce()
    {
        const QByteArray data = pattern(2 * 1024 * 1024 + 5, 4);
        QVERIFY(writeRaw(at(u"a.jpg"_qs), data) && writeRaw(at(u"b.jpg"_qs), data));
        QVERIFY(QDir().mkdir(at(u"箱"_qs)));
        faults::arm(Op::Rename, 1, EXDEV);
        QVERIFY(ops.moveNoReplace(at(u"a.jpg"_qs), at(u"箱/a.jpg"_qs)).ok());
        const int readsOfASeekable = faults::calls(Op::Read);
        faults::reset();
        faults::arm(Op::Rename, 1, EXDEV);
        faults::arm(Op::Seek, 1, ESPIPE);
        QVERIFY(ops.moveNoReplace(at(u"b.jpg"_qs), at(u"箱/b.jpg"_qs)).ok());
        // Every copy reads its source once, whether it can be sought or not.
        QCOMPARE(faults::calls(Op::Read), readsOfASeekable);
        QCOMPARE(readAll(at(u"箱/b.jpg"_qs)), data);
        QVERIFY(!QFileInfo::exists(at(u"b.jpg"_qs)));

        // Its copy changes after the flush: refused, the source stays, no copy is named.
        QVERIFY(writeRaw(at(u"c.jpg"_qs), data));
        faults::reset();
        faults::arm(Op::Rename, 1, EXDEV);
        faults::arm(Op::Seek, 1, ESPIPE);
        const QByteArray box = QFile::encodeName(at(u"箱/"_qs));
        bool spoilt = false;
        faults::setHook([&](Op op, int) {
            if (op != Op::Fsync || spoilt)
                return;
            // The copy being staged is the one open file in the box.
            for (int fd = 3; fd < 1024 && !spoilt; ++fd) {
                const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd);
                char link[PATH_MAX];
                const ssize_t n = ::readlink(proc.constData(), link, sizeof link);
                if (n <= 0 || !QByteArray(link, n).startsWith(box))
                    continue;
                const int w = ::open(proc.constData(), O_WRONLY | O_CLOEXEC);
                spoilt = w >= 0 && ::pwrite(w, "!", 1, 1000) == 1;
                if (w >= 0)
                    ::close(w);
            }
        });
        const FileResult r = ops.moveNoReplace(at(u"c.jpg"_qs), at(u"箱/c.jpg"_qs));
        faults::setHook({});
        QVERIFY(spoilt);
        QCOMPARE(r.error, FileError::Io);
        QCOMPARE(r.detail, u"コピーした内容がコピー元と一致しません"_qs);
        QCOMPARE(readAll(at(u"c.jpg"_qs)), data);
        QCOMPARE(entries(at(u"箱"_qs)), QStringList({ u"a.jpg"_qs, u"b.jpg"_qs }));
    }

    void copyCreatesExclusively()
    {
        const QByteArray data = pattern(3 * 1024 * 1024 + 17, 2);
        QVERIFY(writeRaw(at(u"cd.jpg"_qs), data));
        QFile::setPermissions(at(u"cd.jpg"_qs), QFile::ReadOwner | QFile::ReadGroup);
        struct timespec old[2] = { { 1000000000, 0 }, { 1000000000, 0 } };
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(at(u"cd.jpg"_qs)).constData(), old, 0), 0);
        QVERIFY(QDir().mkdir(at(u"箱"_qs)));

        QVERIFY(ops.copyNoReplace(at(u"cd.jpg"_qs), at(u"箱/cd.jpg"_qs)).ok());
        QCOMPARE(readAll(at(u"箱/cd.jpg"_qs)), data);
        QCOMPARE(QFileInfo(at(u"箱/cd.jpg"_qs)).lastModified().toSecsSinceEpoch(), 1000000000);
        QVERIFY(QFileInfo(at(u"箱/cd.jpg"_qs)).isWritable()); // a disc's read-only flag is not carried over

        QVERIFY(writeRaw(at(u"other.jpg"_qs), "other"));
        const FileResult again = ops.copyNoReplace(at(u"other.jpg"_qs), at(u"箱/cd.jpg"_qs));
        QCOMPARE(again.error, FileError::Exists);
        QCOMPARE(readAll(at(u"箱/cd.jpg"_qs)), data);
        QCOMPARE(entries(at(u"箱"_qs)), QStringList({ u"cd.jpg"_qs }));

        QCOMPARE(ops.copyNoReplace(at(u"nothing.jpg"_qs), at(u"箱/n.jpg"_qs)).error, FileError::NotFound);
        QCOMPARE(ops.copyNoReplace(at(u"箱"_qs), at(u"箱2"_qs)).error, FileError::InvalidName);
        QVERIFY(::mkfifo(QFile::encodeName(at(u"pipe.png"_qs)).constData(), 0600) == 0);
        QCOMPARE(ops.copyNoReplace(at(u"pipe.png"_qs), at(u"箱/pipe.png"_qs)).error, FileError::InvalidName);
        QCOMPARE(entries(at(u"箱"_qs)), QStringList({ u"cd.jpg"_qs }));
    }

    void copyFailingMidwayLeavesNothing_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("nth");
        QTest::addColumn<int>("err");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("says");
        QTest::newRow("disk full") << int(Op::Write) << 2 << ENOSPC << int(FileError::NoSpace)
                                   << u"書き込みに失敗しました（ディスクがいっぱいです）"_qs;
        QTest::newRow("disc removed")
            << int(Op::Read) << 2 << EIO << int(FileError::Io) << u"コピー元の読み込みに失敗しました"_qs;
        QTest::newRow("flush") << int(Op::Fsync) << 1 << EIO << int(FileError::Io)
                               << u"ディスクへの書き出しに失敗しました"_qs;
        QTest::newRow("read-only") << int(Op::Open) << 3 << EROFS << int(FileError::PermissionDenied)
                                   << u"コピー先のファイルを作成できませんでした"_qs;
        QTest::newRow("link") << int(Op::Link) << 1 << EIO << int(FileError::Io)
                              << u"ファイル名を付けられませんでした"_qs;
    }
    void copyFailingMidwayLeavesNothing()
    {
        QFETCH(int, op);
        QFETCH(int, nth);
        QFETCH(int, err);
        QFETCH(int, error);
        QFETCH(QString, says);
        const QByteArray data = pattern(3 * 1024 * 1024, 3);
        QVERIFY(writeRaw(at(u"src.jpg"_qs), data));
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        faults::arm(Op(op), nth, err);
        const FileResult r = ops.copyNoReplace(at(u"src.jpg"_qs), at(u"box/src.jpg"_qs));
        QCOMPARE(int(r.error), error);
        QVERIFY2(r.detail.startsWith(says), qPrintable(r.detail));
        QCOMPARE(entries(at(u"box"_qs)), QStringList());
        QCOMPARE(readAll(at(u"src.jpg"_qs)), data);
    }

    // A copy counts only once read back from the disk equal to what was read from its source:
    // a write that landed one byte wrong, or a source that changed while it was read (grew, or
    // was written in place with its size kept), publishes nothing and says why.
    void copyIsProvedBeforeItIsNamed()
    {
        const QByteArray data = pattern(3 * 1024 * 1024 + 9, 8);
        QVERIFY(writeRaw(at(u"src.jpg"_qs), data));
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        for (int nth : { 1, 4 }) { // the first block, and the last (short) one
            faults::reset();
            faults::arm(Op::Write, nth, faults::kFlipByte);
            const FileResult r = ops.copyNoReplace(at(u"src.jpg"_qs), at(u"box/a.jpg"_qs));
            QCOMPARE(r.error, FileError::Io);
            QCOMPARE(r.detail, u"コピーした内容がコピー元と一致しません"_qs);
            QCOMPARE(rawEntries(QFile::encodeName(at(u"box"_qs))), QList<QByteArray>());
        }

        const QByteArray src = QFile::encodeName(at(u"src.jpg"_qs));
        auto changedDuringCopy = [&](const std::function<void()>& change) {
            faults::reset();
            faults::setHook([&](Op op, int n) {
                if (op == Op::Write && n == 2)
                    change();
            });
            const FileResult r = ops.copyNoReplace(at(u"src.jpg"_qs), at(u"box/b.jpg"_qs));
            faults::setHook({});
            return r;
        };
        FileResult grew = changedDuringCopy([&] {
            const int fd = ::open(src.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
            QVERIFY(fd >= 0 && ::write(fd, "more", 4) == 4);
            ::close(fd);
        });
        QCOMPARE(grew.error, FileError::Io);
        QCOMPARE(grew.detail, u"コピー元がコピー中に変更されました"_qs);
        QVERIFY(writeRaw(at(u"src.jpg"_qs), data));
        FileResult rewritten = changedDuringCopy([&] {
            // Past what was read already: the bytes copied are as read, only the time tells.
            const int fd = ::open(src.constData(), O_WRONLY | O_CLOEXEC);
            QVERIFY(fd >= 0 && ::pwrite(fd, "x", 1, 3 * 1024 * 1024) == 1);
            ::close(fd);
            struct timespec later[2] = { { 0, UTIME_OMIT }, { 2000000000, 0 } };
            QCOMPARE(::utimensat(AT_FDCWD, src.constData(), later, 0), 0);
        });
        QCOMPARE(rewritten.error, FileError::Io);
        QCOMPARE(rewritten.detail, u"コピー元がコピー中に変更されました"_qs);
        QCOMPARE(rawEntries(QFile::encodeName(at(u"box"_qs))), QList<QByteArray>());

        // Unarmed, the same copy is made and is exact.
        faults::reset();
        QVERIFY(ops.copyNoReplace(at(u"src.jpg"_qs), at(u"box/c.jpg"_qs)).ok());
        QCOMPARE(readAll(at(u"box/c.jpg"_qs)), readAll(at(u"src.jpg"_qs)));
    }

    // A copy tells its progress after each block; stopped there, it removes what it wrote (a
    // hidden temporary file too) and nothing gets the target's name. A move that copies stops
    // the same way and keeps its source.
    void copyTellsProgressAndStopsBetweenBlocks()
    {
        const QByteArray data = pattern(3 * 1024 * 1024 + 17, 6);
        QVERIFY(writeRaw(at(u"big.jpg"_qs), data));
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        QList<qint64> done, total;
        const CopyProgress record = [&](qint64 d, qint64 t) {
            done << d;
            total << t;
            return true;
        };
        QVERIFY(ops.copyNoReplace(at(u"big.jpg"_qs), at(u"box/a.jpg"_qs), record).ok());
        QCOMPARE(done, (QList<qint64> { 1 << 20, 2 << 20, 3 << 20, data.size() }));
        QCOMPARE(total, QList<qint64>(4, data.size()));
        QCOMPARE(readAll(at(u"box/a.jpg"_qs)), data);

        faults::reset();
        faults::arm(Op::Open, 3, EOPNOTSUPP); // a hidden temporary name: the folder, the source, the file
        int asked = 0;
        const FileResult stopped = ops.copyNoReplace(
            at(u"big.jpg"_qs), at(u"box/b.jpg"_qs), [&](qint64, qint64) { return ++asked < 1; });
        QCOMPARE(stopped.error, FileError::Cancelled);
        QCOMPARE(asked, 1);
        QCOMPARE(faults::calls(Op::Write), 1); // not a block more
        QCOMPARE(rawEntries(QFile::encodeName(at(u"box"_qs))), QList<QByteArray> { "a.jpg" });

        // Where no rename names a file safely, a move is a copy: stopped at its second block.
        faults::reset();
        for (int n = 1; n <= 3; ++n) {
            faults::arm(Op::Rename, n, EINVAL);
            faults::arm(Op::Link, n, EOPNOTSUPP);
        }
        faults::arm(Op::Open, 4, EOPNOTSUPP);
        FolderFlushes later;
        asked = 0;
        const FileResult moved = ops.moveNoReplace(
            at(u"big.jpg"_qs), at(u"box/c.jpg"_qs), later, [&](qint64, qint64) { return ++asked < 2; });
        QCOMPARE(moved.error, FileError::Cancelled);
        QCOMPARE(asked, 2);
        QCOMPARE(readAll(at(u"big.jpg"_qs)), data);
        QCOMPARE(rawEntries(QFile::encodeName(at(u"box"_qs))), QList<QByteArray> { "a.jpg" });
    }

    // A file larger than the target's free space (a sparse one, say) is refused before a byte
    // is written; where the free space cannot be asked, the copy goes ahead.
    void copyThatCannotFitIsRefusedFirst()
    {
        struct statvfs fs;
        QCOMPARE(::statvfs(QFile::encodeName(m_dir).constData(), &fs), 0);
        const qint64 room = qint64(fs.f_bavail) * qint64(fs.f_frsize ? fs.f_frsize : fs.f_bsize);
        const QByteArray huge = QFile::encodeName(at(u"huge.jpg"_qs));
        const int fd = ::open(huge.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        QVERIFY(fd >= 0);
        const bool made = ::ftruncate(fd, room + (1LL << 30)) == 0;
        ::close(fd);
        if (!made)
            QSKIP("this file system takes no sparse file larger than its free space");
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        faults::reset();
        const FileResult r = ops.copyNoReplace(at(u"huge.jpg"_qs), at(u"box/huge.jpg"_qs));
        QCOMPARE(r.error, FileError::NoSpace);
        QVERIFY2(r.detail.startsWith(u"コピー先の空き容量が足りません（必要 "_qs), qPrintable(r.detail));
        QCOMPARE(faults::calls(Op::Write), 0);
        QCOMPARE(rawEntries(QFile::encodeName(at(u"box"_qs))), QList<QByteArray>());
        // A move that copies is refused the same way and keeps its source.
        faults::arm(Op::Rename, 1, EINVAL);
        faults::arm(Op::Link, 1, EOPNOTSUPP);
        QCOMPARE(ops.moveNoReplace(at(u"huge.jpg"_qs), at(u"box/huge.jpg"_qs)).error, FileError::NoSpace);
        QVERIFY(QFileInfo::exists(at(u"huge.jpg"_qs)));
        QCOMPARE(rawEntries(QFile::encodeName(at(u"box"_qs))), QList<QByteArray>());

        faults::reset();
        faults::arm(Op::Statvfs, 1, EIO);
        QVERIFY(writeRaw(at(u"small.jpg"_qs), "small"));
        QVERIFY(ops.copyNoReplace(at(u"small.jpg"_qs), at(u"box/small.jpg"_qs)).ok());
        QCOMPARE(faults::calls(Op::Statvfs), 1);
    }

    // Interrupted and short calls are carried on, not reported and not lost.
    void interruptedCallsAreResumed()
    {
        const QByteArray data = pattern(2 * 1024 * 1024 + 5, 4);
        QVERIFY(writeRaw(at(u"src.jpg"_qs), data));
        faults::arm(Op::Read, 1, EINTR);
        faults::arm(Op::Write, 1, 0);
        faults::arm(Op::Write, 2, EINTR);
        faults::arm(Op::Open, 1, EINTR);
        faults::arm(Op::Fsync, 1, EINTR);
        QVERIFY(ops.copyNoReplace(at(u"src.jpg"_qs), at(u"copy.jpg"_qs)).ok());
        QCOMPARE(readAll(at(u"copy.jpg"_qs)), data);
        faults::arm(Op::Write, 1, 0);
        QVERIFY(ops.writeFile(at(u"w.bin"_qs), data, false).ok());
        QCOMPARE(readAll(at(u"w.bin"_qs)), data);
    }

    // A file system without unnamed temporary files gets a hidden temporary name, which
    // is gone after a failure as after success.
    void hiddenTemporaryFiles()
    {
        const QByteArray data = pattern(1500000, 5);
        QVERIFY(writeRaw(at(u"src.jpg"_qs), data));
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        // Opens of a copy: the destination folder, the source, the temporary file.
        faults::arm(Op::Open, 3, EOPNOTSUPP);
        faults::arm(Op::Write, 2, EIO);
        QCOMPARE(ops.copyNoReplace(at(u"src.jpg"_qs), at(u"box/a.jpg"_qs)).error, FileError::Io);
        QCOMPARE(entries(at(u"box"_qs)), QStringList());
        faults::arm(Op::Open, 3, EOPNOTSUPP);
        QVERIFY(ops.copyNoReplace(at(u"src.jpg"_qs), at(u"box/a.jpg"_qs)).ok());
        QCOMPARE(entries(at(u"box"_qs)), QStringList({ u"a.jpg"_qs }));
        QCOMPARE(readAll(at(u"box/a.jpg"_qs)), data);
        faults::arm(Op::Open, 3, EOPNOTSUPP);
        QCOMPARE(ops.copyNoReplace(at(u"src.jpg"_qs), at(u"box/a.jpg"_qs)).error, FileError::Exists);
        faults::disarm();
        // Opens of a write: the folder, the temporary file.
        faults::arm(Op::Open, 2, EOPNOTSUPP);
        QVERIFY(ops.writeFile(at(u"box/a.jpg"_qs), "replaced", true).ok());
        QCOMPARE(readAll(at(u"box/a.jpg"_qs)), QByteArray("replaced"));
        QCOMPARE(entries(at(u"box"_qs)), QStringList({ u"a.jpg"_qs }));
    }

    void writeFileReplacesOnlyWhenTold()
    {
        QVERIFY(ops.writeFile(at(u"貼り付け.png"_qs), "first", false).ok());
        QCOMPARE(readAll(at(u"貼り付け.png"_qs)), QByteArray("first"));
        QCOMPARE(ops.writeFile(at(u"貼り付け.png"_qs), "second", false).error, FileError::Exists);
        QCOMPARE(readAll(at(u"貼り付け.png"_qs)), QByteArray("first"));
        QVERIFY(ops.writeFile(at(u"貼り付け.png"_qs), "third", true).ok());
        QCOMPARE(readAll(at(u"貼り付け.png"_qs)), QByteArray("third"));
        QVERIFY(ops.writeFile(at(u"empty"_qs), QByteArray(), false).ok());
        QVERIFY(QFileInfo(at(u"empty"_qs)).isFile());
        QVERIFY(QDir().mkdir(at(u"dir"_qs)));
        QCOMPARE(ops.writeFile(at(u"dir"_qs), "x", true).error, FileError::Exists);
        faults::arm(Op::Write, 1, ENOSPC);
        QCOMPARE(ops.writeFile(at(u"貼り付け.png"_qs), "fourth", true).error, FileError::NoSpace);
        QCOMPARE(readAll(at(u"貼り付け.png"_qs)), QByteArray("third"));
        QCOMPARE(entries(m_dir), QStringList({ u"dir"_qs, u"empty"_qs, u"貼り付け.png"_qs }));
    }

    // Old discs carry Shift_JIS names. Through decodePath they reach their own file; the
    // text Qt makes of them (with U+FFFD) reaches none, never a neighbour.
    void namesThatAreNotUtf8()
    {
        const QByteArray dir = QFile::encodeName(m_dir);
        const QByteArray first = dir + "/\x8E\xCA\x90\x5E.jpg", second = dir + "/\x8E\xCB\x90\x5E.jpg";
        for (const QByteArray& p : { first, second }) {
            const int fd = ::open(p.constData(), O_CREAT | O_WRONLY | O_EXCL | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, p.constData(), size_t(p.size())), ssize_t(p.size()));
            ::close(fd);
        }
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        QVERIFY(
            ops.copyNoReplace(decodePath(first), at(u"box/"_qs) + decodePath("\x8E\xCA\x90\x5E.jpg")).ok());
        const QByteArray copied = dir + "/box/\x8E\xCA\x90\x5E.jpg";
        QCOMPARE(readRaw(copied), first);
        QVERIFY(ops.moveNoReplace(decodePath(second), at(u"second.jpg"_qs)).ok());
        QCOMPARE(readAll(at(u"second.jpg"_qs)), second);

        const QString lossy = QString::fromUtf8(first);
        QVERIFY(lossy.contains(QChar(0xFFFD)));
        QCOMPARE(ops.removeFile(lossy).error, FileError::NotFound);
        QCOMPARE(ops.copyNoReplace(lossy, at(u"box/x.jpg"_qs)).error, FileError::NotFound);
        struct stat st;
        QCOMPARE(::stat(first.constData(), &st), 0);
        QCOMPARE(readRaw(first), first);
        ::unlink(first.constData()); // QTemporaryDir cannot remove names Qt cannot encode
        ::unlink(copied.constData());
    }

    // A trashed file keeps its way back: the record names its original path, and a second
    // file of the same name (or one too long for the record's name) never replaces another.
    void trashKeepsTheWayBack()
    {
        const QString trash = at(u"data/Trash"_qs);
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(u"data"_qs)));
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        const QString photo = at(u"box/写真 1%.jpg"_qs);
        QVERIFY(writeRaw(photo, "first"));
        const QByteArray original = QFile::encodeName(QFileInfo(photo).canonicalFilePath());
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QVERIFY(ops.moveToTrash(photo).ok());
        QVERIFY(!QFileInfo::exists(photo));
        QCOMPARE(readAll(trash + u"/files/写真 1%.jpg"_qs), QByteArray("first"));
        const Record first = record(QFile::encodeName(trash + u"/info/写真 1%.jpg.trashinfo"_qs));
        QCOMPARE(first.header, QByteArray("[Trash Info]"));
        QCOMPARE(first.path, original);
        const QDateTime deleted
            = QDateTime::fromString(QString::fromLatin1(first.date), u"yyyy-MM-dd'T'HH:mm:ss");
        QVERIFY2(deleted >= before && deleted <= QDateTime::currentDateTime(), first.date.constData());
        QCOMPARE(
            QFileInfo(trash).permissions() & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());

        QVERIFY(writeRaw(photo, "second"));
        QVERIFY(ops.moveToTrash(photo).ok());
        QCOMPARE(readAll(trash + u"/files/写真 1%.jpg"_qs), QByteArray("first"));
        QCOMPARE(readAll(trash + u"/files/写真 1%.2.jpg"_qs), QByteArray("second"));
        QCOMPARE(record(QFile::encodeName(trash + u"/info/写真 1%.2.jpg.trashinfo"_qs)).path, first.path);

        // 244 bytes: the first record's name just fits, the second's must be shortened.
        const QString longName = QString(80, QChar(u'あ')) + u".jpg"_qs;
        for (const QByteArray& bytes : { QByteArray("long 1"), QByteArray("long 2") }) {
            QVERIFY(writeRaw(at(u"box/"_qs) + longName, bytes));
            QVERIFY(ops.moveToTrash(at(u"box/"_qs) + longName).ok());
        }
        const QStringList files = entries(trash + u"/files"_qs);
        QCOMPARE(files.size(), 4);
        QStringList records;
        for (const QString& f : files) {
            QVERIFY2(!f.contains(QChar(0xFFFD)), qPrintable(f)); // never cut inside a character
            records << f + u".trashinfo"_qs;
        }
        QCOMPARE(entries(trash + u"/info"_qs), records);
        int longOnes = 0;
        for (const QString& f : files) {
            if (!f.startsWith(u'あ'))
                continue;
            ++longOnes;
            QCOMPARE(record(QFile::encodeName(trash + u"/info/"_qs + f + u".trashinfo"_qs)).path,
                QFile::encodeName(QFileInfo(m_dir).canonicalFilePath() + u"/box/"_qs + longName));
        }
        QCOMPARE(longOnes, 2);

        // Folders and missing files are refused and leave no record.
        QVERIFY(QDir().mkdir(at(u"box/sub"_qs)));
        QCOMPARE(ops.moveToTrash(at(u"box/sub"_qs)).error, FileError::InvalidName);
        QCOMPARE(ops.moveToTrash(photo).error, FileError::NotFound);
        QVERIFY(QFileInfo(at(u"box/sub"_qs)).isDir());
        QCOMPARE(entries(trash + u"/info"_qs), records);
    }

    // A trash at the top of the file's own file system, for a file on another disk than the
    // home folder: $top/.Trash/$uid in a sticky shared .Trash, else $top/.Trash-$uid; records
    // name the file from the top, so the disk may be mounted elsewhere next time.
    void trashAtTheTopOfTheFileSystem()
    {
        const QString top = QFileInfo(m_dir).canonicalFilePath();
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(u"data"_qs)));
        faults::forceTrashTop(QFile::encodeName(top).toStdString());
        const QString uid = QString::number(::geteuid());
        QVERIFY(QDir().mkdir(at(u"box"_qs)));
        // A shared .Trash that is not sticky could be emptied by anyone: passed over.
        QVERIFY(QDir().mkdir(at(u".Trash"_qs)));
        const QString photo = at(u"box/写真 1%.jpg"_qs);
        QVERIFY(writeRaw(photo, "first"));
        QVERIFY(ops.moveToTrash(photo).ok());
        const QString own = at(u".Trash-"_qs) + uid;
        QCOMPARE(readAll(own + u"/files/写真 1%.jpg"_qs), QByteArray("first"));
        QCOMPARE(record(QFile::encodeName(own + u"/info/写真 1%.jpg.trashinfo"_qs)).path,
            QByteArray("box/写真 1%.jpg"));
        struct stat st;
        QCOMPARE(::lstat(QFile::encodeName(own).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QCOMPARE(st.st_uid, ::geteuid());
        QVERIFY(!QFileInfo::exists(at(u"data/Trash"_qs))); // the home trash is on "another disk"
        QCOMPARE(entries(at(u".Trash"_qs)), QStringList());

        // A sticky shared .Trash takes the user's own folder, made as it is needed.
        QVERIFY(::chmod(QFile::encodeName(at(u".Trash"_qs)).constData(), 01777) == 0);
        QVERIFY(writeRaw(photo, "second"));
        QVERIFY(ops.moveToTrash(photo).ok());
        const QString shared = at(u".Trash/"_qs) + uid;
        QCOMPARE(readAll(shared + u"/files/写真 1%.jpg"_qs), QByteArray("second"));
        QCOMPARE(record(QFile::encodeName(shared + u"/info/写真 1%.jpg.trashinfo"_qs)).path,
            QByteArray("box/写真 1%.jpg"));
        QCOMPARE(::lstat(QFile::encodeName(shared).constData(), &st), 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0700));
        QCOMPARE(entries(own + u"/files"_qs), QStringList { u"写真 1%.jpg"_qs });

        // The user's folder in the shared trash owned by another user: the own trash again.
        // Only an administrator can give a folder away, so only then is this case run.
        QVERIFY(writeRaw(photo, "third"));
        if (::chown(QFile::encodeName(shared).constData(), ::geteuid() + 1, gid_t(-1)) == 0) {
            QVERIFY(ops.moveToTrash(photo).ok());
            QCOMPARE(readAll(own + u"/files/写真 1%.2.jpg"_qs), QByteArray("third"));
            QCOMPARE(entries(shared + u"/files"_qs), QStringList { u"写真 1%.jpg"_qs });
        } else {
            qInfo("not an administrator: the foreign-owner case is not run");
        }
    }

    // Where no trash can take the file, the file stays where it was, nothing is made that a
    // stranger owns or a link points at, and the result says so (the caller then asks).
    void noUsableTrash()
    {
        const QString photo = at(u"photo.jpg"_qs);
        QVERIFY(writeRaw(photo, "kept"));
        QVERIFY(QDir().mkdir(at(u"elsewhere"_qs)));
        QVERIFY(QDir().mkdir(at(u"top"_qs)));
        faults::forceTrashTop(QFile::encodeName(at(u"top"_qs)).toStdString());
        const QByteArray own = QFile::encodeName(at(u"top/.Trash-"_qs)) + QByteArray::number(::geteuid());
        const QByteArray shared = QFile::encodeName(at(u"top/.Trash"_qs));
        const QByteArray away = QFile::encodeName(at(u"elsewhere"_qs));
        QVERIFY(::mkdir((away + "/sticky").constData(), 0777) == 0);
        QVERIFY(::chmod((away + "/sticky").constData(), 01777) == 0);

        // The user's trash a link to another folder, the shared one a link to a sticky folder.
        QVERIFY(::symlink(away.constData(), own.constData()) == 0);
        QVERIFY(::symlink((away + "/sticky").constData(), shared.constData()) == 0);
        QCOMPARE(ops.moveToTrash(photo).error, FileError::NoTrash);
        QCOMPARE(readAll(photo), QByteArray("kept"));
        QCOMPARE(entries(at(u"elsewhere"_qs)), QStringList { u"sticky"_qs });
        QCOMPARE(entries(at(u"elsewhere/sticky"_qs)), QStringList());
        QCOMPARE(entries(at(u"top"_qs)),
            QStringList({ u".Trash"_qs, QFile::decodeName(own.mid(own.lastIndexOf('/') + 1)) }));
        QVERIFY(QFileInfo(QFile::decodeName(own)).isSymLink());

        // A file in the way.
        QVERIFY(::unlink(own.constData()) == 0);
        QVERIFY(writeRaw(QFile::decodeName(own), "file"));
        QCOMPARE(ops.moveToTrash(photo).error, FileError::NoTrash);
        QCOMPARE(readAll(photo), QByteArray("kept"));
        QCOMPARE(readAll(QFile::decodeName(own)), QByteArray("file"));

        // A folder of that name that another user owns (only an administrator can make one).
        QVERIFY(::unlink(own.constData()) == 0);
        QVERIFY(::mkdir(own.constData(), 0700) == 0);
        if (::chown(own.constData(), ::geteuid() + 1, gid_t(-1)) == 0) {
            QCOMPARE(ops.moveToTrash(photo).error, FileError::NoTrash);
            QCOMPARE(readAll(photo), QByteArray("kept"));
            QCOMPARE(entries(QFile::decodeName(own)), QStringList());
        }

        // The default operations have no trash at all.
        struct NoTrashOps : FileOps {
            FileResult makeDirectory(const QString&) override { return {}; }
            FileResult removeEmptyDirectory(const QString&) override { return {}; }
            FileResult removeFile(const QString&) override { return {}; }
            FileResult moveNoReplace(const QString&, const QString&) override { return {}; }
            FileResult copyNoReplace(const QString&, const QString&) override { return {}; }
            FileResult writeFile(const QString&, const QByteArray&, bool) override { return {}; }
        } plain;
        QCOMPARE(plain.moveToTrash(photo).error, FileError::NoTrash);
    }

    // A trash that exists but fails on the way is a failure, never "no trash": the file stays
    // where it was, and no record is left behind to name a file that is not in the trash.
    // A trash on a mount without RENAME_NOREPLACE or hard links: the file is copied in, checked
    // and only then removed; a failure on the way keeps it and leaves no record.
    void trashWhereNothingRenamesSafely()
    {
        const QString photo = at(u"photo.jpg"_qs);
        const QByteArray data = pattern(200 * 1024, 7);
        QVERIFY(writeRaw(photo, data));
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(u"data"_qs)));
        const QString trash = at(u"data/Trash"_qs);
        auto refuseRenames = [] {
            for (int n = 1; n <= 3; ++n) {
                faults::arm(Op::Rename, n, EINVAL);
                faults::arm(Op::Link, n, EPERM);
            }
        };
        // The record's write and flush come first, then the copy's.
        const std::pair<Op, int> failures[] = { { Op::Write, 2 }, { Op::Fsync, 2 } };
        for (const auto& [op, nth] : failures) {
            refuseRenames();
            faults::arm(op, nth, EIO);
            QCOMPARE(ops.moveToTrash(photo).error, FileError::Io);
            faults::disarm();
            QCOMPARE(readAll(photo), data);
            QCOMPARE(entries(trash + u"/info"_qs), QStringList());
            QCOMPARE(entries(trash + u"/files"_qs), QStringList());
        }
        refuseRenames();
        QVERIFY(ops.moveToTrash(photo).ok());
        QVERIFY(faults::calls(Op::Link) >= 2);
        QVERIFY(!QFileInfo::exists(photo));
        QCOMPARE(readAll(trash + u"/files/photo.jpg"_qs), data);
        QCOMPARE(record(QFile::encodeName(trash + u"/info/photo.jpg.trashinfo"_qs)).path,
            QFile::encodeName(QFileInfo(m_dir).canonicalFilePath() + u"/photo.jpg"_qs));
    }

    void trashFailingOnTheWay()
    {
        const QString photo = at(u"photo.jpg"_qs);
        QVERIFY(writeRaw(photo, "kept"));
        struct Case {
            const char* trash;
            Op op;
            int nth;
            int err;
            FileError expected;
            const char16_t* text;
        };
        const Case cases[] = {
            // opens: the file's folder, the home trash, its files and info, then the record
            { "home", Op::Open, 5, EACCES, FileError::PermissionDenied,
                u"ごみ箱へ移動できませんでした（アクセスが許可されていません）" },
            { "home", Op::Write, 1, ENOSPC, FileError::NoSpace,
                u"ごみ箱へ移動できませんでした（ディスクがいっぱいです）" },
            { "home", Op::Fsync, 1, EIO, FileError::Io, nullptr },
            { "home", Op::Rename, 1, EACCES, FileError::PermissionDenied, nullptr }, // a read-only folder
            // a trash checked to be on the file's disk that is not after all (a bind mount)
            { "home", Op::Rename, 1, EXDEV, FileError::Other,
                u"ごみ箱へ移動できませんでした（別のドライブへは移動できません）" },
            { "top", Op::Write, 1, ENOSPC, FileError::NoSpace, nullptr },
            { "top", Op::Mkdir, 1, ENOSPC, FileError::NoSpace, nullptr }, // making .Trash-$uid
            { "top", Op::Rename, 1, EIO, FileError::Io, nullptr },
        };
        for (const Case& c : cases) {
            const bool top = std::strcmp(c.trash, "top") == 0;
            const QString trash
                = top ? at(u"top/.Trash-"_qs) + QString::number(::geteuid()) : at(u"data/Trash"_qs);
            qputenv("XDG_DATA_HOME", QFile::encodeName(at(u"data"_qs)));
            QVERIFY(QDir().mkpath(at(u"top"_qs)));
            faults::forceTrashTop(top ? QFile::encodeName(at(u"top"_qs)).toStdString() : std::string());
            faults::arm(c.op, c.nth, c.err);
            const FileResult r = ops.moveToTrash(photo);
            faults::disarm();
            QCOMPARE(r.error, c.expected);
            if (c.text)
                QCOMPARE(r.detail, QString::fromUtf16(c.text));
            QCOMPARE(readAll(photo), QByteArray("kept"));
            QCOMPARE(entries(trash + u"/info"_qs), QStringList());
            QCOMPARE(entries(trash + u"/files"_qs), QStringList());
        }
        QVERIFY(ops.moveToTrash(photo).ok()); // and once the fault is gone, it goes
    }

    // A file on a second real file system (a RAM disk at /dev/shm) goes to that disk's own
    // trash, found from the mounts as they are; the home trash stays empty.
    void trashOnASecondFileSystem()
    {
        QTemporaryDir ram(u"/dev/shm/ztv-XXXXXX"_qs);
        struct stat a, b;
        if (!ram.isValid() || ::stat(QFile::encodeName(m_dir).constData(), &a) != 0
            || ::stat(QFile::encodeName(ram.path()).constData(), &b) != 0 || a.st_dev == b.st_dev
            || ::stat("/dev/shm/.Trash", &a) == 0)
            QSKIP("no second file system at /dev/shm with a trash of our own to make");
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(u"data"_qs)));
        const QByteArray top = "/dev/shm";
        const QByteArray own = top + "/.Trash-" + QByteArray::number(::geteuid());
        const bool hadTrash = ::lstat(own.constData(), &a) == 0;
        const QByteArray name = QFile::encodeName(QFileInfo(ram.path()).fileName()) + "-写真.jpg";
        const QString photo = ram.path() + u'/' + QFile::decodeName(name);
        QVERIFY(writeRaw(photo, "on the RAM disk"));
        const FileResult r = ops.moveToTrash(photo);
        const QByteArray file = own + "/files/" + name, info = own + "/info/" + name + ".trashinfo";
        const QByteArray kept = readRaw(file);
        const Record rec = record(info);
        ::unlink(file.constData());
        ::unlink(info.constData());
        if (!hadTrash) {
            ::rmdir((own + "/files").constData());
            ::rmdir((own + "/info").constData());
            ::rmdir(own.constData());
        }
        QVERIFY2(r.ok(), qPrintable(r.detail));
        QVERIFY(!QFileInfo::exists(photo));
        QCOMPARE(kept, QByteArray("on the RAM disk"));
        QCOMPARE(rec.path,
            QFile::encodeName(QFileInfo(ram.path()).canonicalFilePath()).mid(top.size() + 1) + '/' + name);
        QVERIFY(!QFileInfo::exists(at(u"data/Trash"_qs)));
    }

    // A name that is not UTF-8 is trashed byte for byte and recorded so; the text Qt makes
    // of it reaches no file.
    void trashNamesThatAreNotUtf8()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(at(u"data"_qs)));
        const QByteArray dir = QFile::encodeName(QFileInfo(m_dir).canonicalFilePath());
        const QByteArray name = "\x8E\xCA\x90\x5E.jpg", raw = dir + '/' + name;
        const int fd = ::open(raw.constData(), O_CREAT | O_WRONLY | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const QString lossy = QString::fromUtf8(raw);
        QVERIFY(writeRaw(lossy, "decoy")); // the name Qt's text stands for
        QVERIFY(ops.moveToTrash(decodePath(raw)).ok());
        QCOMPARE(readAll(lossy), QByteArray("decoy"));
        struct stat st;
        QVERIFY(::stat(raw.constData(), &st) < 0);
        const QByteArray trash = dir + "/data/Trash";
        QCOMPARE(::stat((trash + "/files/" + name).constData(), &st), 0);
        QCOMPARE(record(trash + "/info/" + name + ".trashinfo").path, raw);
        ::unlink(
            (trash + "/files/" + name).constData()); // QTemporaryDir cannot remove names Qt cannot encode
        ::unlink((trash + "/info/" + name + ".trashinfo").constData());

        // A name too long for its record's name is shortened by bytes: Shift_JIS half-width
        // katakana (0xB1) look like UTF-8 continuation bytes, yet the stem stays.
        const QByteArray longName = QByteArray(246, '\xB1') + ".jpg", longRaw = dir + '/' + longName;
        for (int i = 0; i < 2; ++i) {
            const int made = ::open(longRaw.constData(), O_CREAT | O_WRONLY | O_EXCL | O_CLOEXEC, 0644);
            QVERIFY(made >= 0);
            ::close(made);
            QVERIFY(ops.moveToTrash(decodePath(longRaw)).ok());
        }
        const QList<QByteArray> files = rawEntries(trash + "/files");
        QCOMPARE(files.size(), 2);
        for (const QByteArray& f : files) {
            QVERIFY2(f.startsWith(QByteArray(200, '\xB1')) && f.endsWith(".jpg"), f.toHex().constData());
            QVERIFY(f.size() + 10 <= NAME_MAX);
            QCOMPARE(record(trash + "/info/" + f + ".trashinfo").path, longRaw);
            ::unlink((trash + "/files/" + f).constData());
            ::unlink((trash + "/info/" + f + ".trashinfo").constData());
        }
        QVERIFY(files[0] != files[1]);
    }

    void caseInsensitiveFileSystems()
    {
        QVERIFY(writeRaw(at(u"Photo.JPG"_qs), "stored"));
        QVERIFY(writeRaw(at(u"src.jpg"_qs), "new"));
        QVERIFY(QDir().mkdir(at(u"Box"_qs)));
        faults::forceCaseInsensitive(true);
        QCOMPARE(ops.copyNoReplace(at(u"src.jpg"_qs), at(u"photo.jpg"_qs)).error, FileError::Exists);
        QCOMPARE(ops.moveNoReplace(at(u"src.jpg"_qs), at(u"PHOTO.jpg"_qs)).error, FileError::Exists);
        QCOMPARE(ops.writeFile(at(u"photo.jpg"_qs), "x", false).error, FileError::Exists);
        QCOMPARE(ops.makeDirectory(at(u"BOX"_qs)).error, FileError::Exists);
        QCOMPARE(entries(m_dir), QStringList({ u"Box"_qs, u"Photo.JPG"_qs, u"src.jpg"_qs }));
        QCOMPARE(readAll(at(u"Photo.JPG"_qs)), QByteArray("stored"));
        faults::forceCaseInsensitive(false);
        QVERIFY(ops.copyNoReplace(at(u"src.jpg"_qs), at(u"photo.jpg"_qs)).ok());
        QCOMPARE(readAll(at(u"Photo.JPG"_qs)), QByteArray("stored"));
    }
};

QTEST_GUILESS_MAIN(TestFileOps)
#include "tst_fileops.moc"
