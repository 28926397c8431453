#include "FileTestUtil.h"
#include "platform/FaultInjection.h"
#include "platform/FileOps.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>

using namespace ztv;
using namespace ztv::test;
using faults::Op;

namespace {

// Everything below a folder: relative path -> content ("<dir>" for folders).
using Snapshot = QMap<QString, QByteArray>;

Snapshot snapshot(const QString& root)
{
    Snapshot s;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = path.mid(root.size() + 1);
        s.insert(rel, it.fileInfo().isDir() ? QByteArray("<dir>") : readAll(path));
    }
    return s;
}

QString describe(const Snapshot& a, const Snapshot& b)
{
    QStringList diff;
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!b.contains(it.key()) || b.value(it.key()) != it.value())
            diff << u"-"_qs + it.key();
    for (auto it = b.begin(); it != b.end(); ++it)
        if (!a.contains(it.key()) || a.value(it.key()) != it.value())
            diff << u"+"_qs + it.key();
    return diff.join(u' ');
}

struct Scenario {
    const char* name;
    std::function<void(const QString& dir)> setup;
    std::function<FileResult(FileOps& ops, const QString& dir)> run;
};

const QByteArray kSource = pattern(2 * 1024 * 1024 + 12345, 11); // three chunks
const QByteArray kStored = pattern(40000, 12);

void standardSetup(const QString& d)
{
    QDir().mkpath(d + u"/cd"_qs);
    QDir().mkpath(d + u"/stock"_qs);
    QDir().mkpath(d + u"/vault/box/inner"_qs);
    writeRaw(d + u"/cd/a.jpg"_qs, kSource);
    writeRaw(d + u"/stock/a.jpg"_qs, kSource);
    writeRaw(d + u"/vault/box/stored.jpg"_qs, kStored);
    writeRaw(d + u"/vault/box/inner/deep.jpg"_qs, kStored.left(100));
}

QList<Scenario> scenarios()
{
    auto copyTo = [](const QString& dst) {
        return
            [dst](FileOps& ops, const QString& d) { return ops.copyNoReplace(d + u"/cd/a.jpg"_qs, d + dst); };
    };
    auto moveWith = [](QList<std::pair<Op, int>> forced, const char* from = "/stock/a.jpg",
                        const char* to = "/vault/box/a.jpg") {
        return [=](FileOps& ops, const QString& d) {
            for (auto [op, err] : forced)
                faults::arm(op, 1, err);
            return ops.moveNoReplace(d + QString::fromLatin1(from), d + QString::fromLatin1(to));
        };
    };
    return {
        { "copy", standardSetup, copyTo(u"/vault/box/a.jpg"_qs) },
        { "copy onto a stored file", standardSetup, copyTo(u"/vault/box/stored.jpg"_qs) },
        { "copy through a hidden temporary", standardSetup,
            [](FileOps& ops, const QString& d) {
                faults::arm(Op::Open, 3, EOPNOTSUPP); // the unnamed temporary file
                return ops.copyNoReplace(d + u"/cd/a.jpg"_qs, d + u"/vault/box/a.jpg"_qs);
            } },
        { "move", standardSetup, moveWith({}) },
        { "move onto a stored file", standardSetup, moveWith({}, "/stock/a.jpg", "/vault/box/stored.jpg") },
        { "move across file systems", standardSetup, moveWith({ { Op::Rename, EXDEV } }) },
        { "move by link and unlink", standardSetup, moveWith({ { Op::Rename, EINVAL } }) },
        { "move by placeholder", standardSetup, moveWith({ { Op::Rename, EINVAL }, { Op::Link, EPERM } }) },
        { "rename a box", standardSetup, moveWith({}, "/vault/box", "/vault/renamed") },
        { "rename a box by placeholder", standardSetup,
            moveWith({ { Op::Rename, EINVAL } }, "/vault/box", "/vault/renamed") },
        { "write a new file", standardSetup,
            [](FileOps& ops, const QString& d) {
                return ops.writeFile(d + u"/vault/box/new.png"_qs, kSource, false);
            } },
        { "write over a file", standardSetup,
            [](FileOps& ops, const QString& d) {
                return ops.writeFile(d + u"/vault/box/stored.jpg"_qs, kSource, true);
            } },
        { "write over through a hidden temporary", standardSetup,
            [](FileOps& ops, const QString& d) {
                faults::arm(Op::Open, 2, EOPNOTSUPP);
                return ops.writeFile(d + u"/vault/box/stored.jpg"_qs, kSource, true);
            } },
        { "make a box", standardSetup,
            [](FileOps& ops, const QString& d) { return ops.makeDirectory(d + u"/vault/新"_qs); } },
        { "remove a box", standardSetup,
            [](FileOps& ops, const QString& d) {
                return ops.removeEmptyDirectory(d + u"/vault/box/inner"_qs);
            } },
        { "remove a file", standardSetup,
            [](FileOps& ops, const QString& d) { return ops.removeFile(d + u"/vault/box/stored.jpg"_qs); } },
    };
}

} // namespace

class TestFileFaults : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { faults::reset(); }
    void cleanup() { faults::reset(); }

    // Fails each system call of each operation in turn, with several errors, and checks
    // that afterwards the tree is exactly as before (failure) or exactly as after an
    // undisturbed run (success): nothing lost, nothing partial, nothing left behind.
    void everyStepFails()
    {
        FileOps& ops = realFileOps();
        int injected = 0;
        for (const Scenario& sc : scenarios()) {
            QTemporaryDir tmp;
            const QString d = tmp.path() + u"/t"_qs;
            sc.setup(d);
            const Snapshot before = snapshot(d);
            faults::reset();
            const FileResult clean = sc.run(ops, d);
            const Snapshot done = snapshot(d);
            int counts[faults::kOpCount];
            for (int op = 0; op < faults::kOpCount; ++op)
                counts[op] = faults::calls(Op(op));
            QVERIFY2(clean.ok() != (before == done), sc.name);

            for (int op = 0; op < faults::kOpCount; ++op) {
                for (int n = 1; n <= counts[op]; ++n) {
                    // Writes also run out of space or come back short (0).
                    const bool write = Op(op) == Op::Write;
                    for (int err : { EIO, EINTR, write ? ENOSPC : -1, write ? 0 : -1 }) {
                        if (err < 0)
                            continue;
                        QDir(d).removeRecursively();
                        sc.setup(d);
                        faults::reset();
                        faults::arm(Op(op), n, err);
                        const FileResult r = sc.run(ops, d);
                        faults::reset();
                        const Snapshot after = snapshot(d);
                        const QString where = QStringLiteral("%1: op %2 call %3 errno %4: %5")
                                                  .arg(QString::fromLatin1(sc.name))
                                                  .arg(op)
                                                  .arg(n)
                                                  .arg(err)
                                                  .arg(r.detail);
                        if (r.ok()) {
                            QVERIFY2(clean.ok(), qPrintable(where));
                            QVERIFY2(after == done, qPrintable(where + u" | "_qs + describe(done, after)));
                        } else {
                            QVERIFY2(!r.detail.isEmpty(), qPrintable(where));
                            QVERIFY2(
                                after == before, qPrintable(where + u" | "_qs + describe(before, after)));
                        }
                        ++injected;
                    }
                }
            }
        }
        qInfo("%d faults injected", injected);
        QVERIFY(injected > 100);
    }

    // Between real file systems (a RAM disk and the temporary folder's disk).
    void moveBetweenFileSystems()
    {
        QTemporaryDir disk;
        QTemporaryDir ram(u"/dev/shm/ztv-XXXXXX"_qs);
        struct stat a, b;
        if (!ram.isValid() || ::stat(QFile::encodeName(disk.path()).constData(), &a) != 0
            || ::stat(QFile::encodeName(ram.path()).constData(), &b) != 0 || a.st_dev == b.st_dev)
            QSKIP("no second file system at /dev/shm");
        FileOps& ops = realFileOps();
        const QString src = disk.path() + u"/a.jpg"_qs, dst = ram.path() + u"/a.jpg"_qs;
        QVERIFY(writeRaw(src, kSource));

        faults::arm(Op::Write, 2, EIO);
        QCOMPARE(ops.moveNoReplace(src, dst).error, FileError::Io);
        QCOMPARE(readAll(src), kSource);
        QCOMPARE(entries(ram.path()), QStringList());

        faults::arm(Op::Unlink, 1, EACCES); // the source cannot be removed: the copy goes again
        QCOMPARE(ops.moveNoReplace(src, dst).error, FileError::PermissionDenied);
        QCOMPARE(readAll(src), kSource);
        QCOMPARE(entries(ram.path()), QStringList());

        QVERIFY(writeRaw(dst, kStored));
        QCOMPARE(ops.moveNoReplace(src, dst).error, FileError::Exists);
        QCOMPARE(readAll(dst), kStored);
        QVERIFY(QFile::remove(dst));

        QVERIFY(ops.moveNoReplace(src, dst).ok());
        QCOMPARE(readAll(dst), kSource);
        QVERIFY(!QFile::exists(src));

        QVERIFY(QDir().mkdir(disk.path() + u"/box"_qs));
        const FileResult folder = ops.moveNoReplace(disk.path() + u"/box"_qs, ram.path() + u"/box"_qs);
        QCOMPARE(folder.error, FileError::Other);
        QVERIFY(QFileInfo(disk.path() + u"/box"_qs).isDir());
    }

    // A copy killed midway leaves no file under the destination name and the source whole.
    void killedInTheMiddle()
    {
        QTemporaryDir tmp;
        const QString src = tmp.path() + u"/big.jpg"_qs, box = tmp.path() + u"/box"_qs;
        QVERIFY(QDir().mkdir(box));
        QCryptographicHash hash(QCryptographicHash::Sha1);
        {
            QFile f(src);
            QVERIFY(f.open(QIODevice::WriteOnly));
            const QByteArray chunk = pattern(1 << 20, 7);
            for (int i = 0; i < 200; ++i) {
                QByteArray c = chunk;
                c.replace(0, 4, QByteArray::number(i, 16).rightJustified(4, '0'));
                QCOMPARE(f.write(c), c.size());
                hash.addData(c);
            }
        }
        const QByteArray digest = hash.result();
        QProcess p;
        p.start(
            QStringLiteral(ZTV_FILE_HELPER), { u"copy"_qs, src, box + u"/big.jpg"_qs, u"stop"_qs, u"80"_qs });
        QVERIFY(p.waitForStarted());
        while (!p.canReadLine())
            QVERIFY2(p.waitForReadyRead(60000), "the helper never reached its 80th write");
        QCOMPARE(p.readLine(), QByteArray("stopped\n"));
        p.kill();
        QVERIFY(p.waitForFinished());
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);

        QCOMPARE(entries(box), QStringList());
        QFile f(src);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCryptographicHash again(QCryptographicHash::Sha1);
        QVERIFY(again.addData(&f));
        QCOMPARE(again.result(), digest);
    }

    // Two processes copying to one name at once: one complete file, the other refused.
    void twoCopiesRace()
    {
        QTemporaryDir tmp;
        const QString one = tmp.path() + u"/one.jpg"_qs, two = tmp.path() + u"/two.jpg"_qs;
        const QString box = tmp.path() + u"/box"_qs, dst = box + u"/same.jpg"_qs;
        QVERIFY(QDir().mkdir(box));
        const QByteArray a = pattern(3 << 20, 21), b = pattern(3 << 20, 22);
        QVERIFY(writeRaw(one, a));
        QVERIFY(writeRaw(two, b));
        QProcess p1, p2;
        // Both stop after their first write, so both have checked the name and are copying.
        p1.start(QStringLiteral(ZTV_FILE_HELPER), { u"copy"_qs, one, dst, u"wait"_qs, u"1"_qs });
        p2.start(QStringLiteral(ZTV_FILE_HELPER), { u"copy"_qs, two, dst, u"wait"_qs, u"1"_qs });
        for (QProcess* p : { &p1, &p2 }) {
            QVERIFY(p->waitForStarted());
            while (!p->canReadLine())
                QVERIFY(p->waitForReadyRead(30000));
            QCOMPARE(p->readLine(), QByteArray("ready\n"));
        }
        p1.write("go\n");
        p2.write("go\n");
        QVERIFY(p1.waitForFinished() && p2.waitForFinished());
        const int c1 = p1.exitCode(), c2 = p2.exitCode();
        const int refused = 10 + int(FileError::Exists);
        QVERIFY2((c1 == 0 && c2 == refused) || (c1 == refused && c2 == 0),
            qPrintable(QStringLiteral("%1 %2").arg(c1).arg(c2)));
        QCOMPARE(entries(box), QStringList({ u"same.jpg"_qs }));
        QCOMPARE(readAll(dst), c1 == 0 ? a : b);
        QCOMPARE(readAll(one), a);
        QCOMPARE(readAll(two), b);
    }
};

QTEST_GUILESS_MAIN(TestFileFaults)
#include "tst_filefaults.moc"
