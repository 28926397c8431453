// The vault's content index on its own: its cache file read safely, the program's own changes
// taking effect at once (during a walk too), answers that never walk the vault, and an end that
// never waits.
#include "DelayFsMount.h"
#include "platform/ContentIndex.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ztv;
using namespace ztv::test;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray bytesOf(int n)
{
    return QByteArray("picture ") + QByteArray::number(n) + QByteArray(300, char('a' + n % 26));
}

struct Vault {
    QTemporaryDir dir;
    QString root() const { return dir.filePath(QStringLiteral("保管庫")); }
    QString cache() const { return dir.filePath(QStringLiteral("cache/vault-index")); }
    QString outside(const QString& name) const { return dir.filePath(QStringLiteral("外/") + name); }
    QString in(const QString& rel) const { return root() + u'/' + rel; }
    Vault()
    {
        writeFile(in(QStringLiteral("a.jpg")), bytesOf(1));
        writeFile(in(QStringLiteral("箱/b.jpg")), bytesOf(2));
        writeFile(in(QStringLiteral("箱/小箱/c.jpg")), bytesOf(3));
        writeFile(outside(QStringLiteral("a.jpg")), bytesOf(1));
        writeFile(outside(QStringLiteral("b.jpg")), bytesOf(2));
        writeFile(outside(QStringLiteral("c.jpg")), bytesOf(3));
        writeFile(outside(QStringLiteral("new.jpg")), bytesOf(4));
    }
};

bool settle(const ContentIndex& index)
{
    return QTest::qWaitFor([&] { return index.idle(); }, 30000);
}

// Destroys the index on another thread; false when it did not return within the hang guard.
bool destroyReturns(std::unique_ptr<ContentIndex> index)
{
    index->moveToThread(nullptr); // so it may go on the other thread
    auto done = std::async(std::launch::async, [i = std::move(index)]() mutable { i.reset(); });
    return done.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
}

} // namespace

class TstContentIndex : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cacheFileIsReadSafely_data();
    void cacheFileIsReadSafely();
    void ownChangesTakeEffectAtOnce();
    void answersNeverWalkTheVault();
    void closingMidWalkReturns();
    void copyFiledDuringAWalk();
};

void TstContentIndex::cacheFileIsReadSafely_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("symlink") << "symlink";
    QTest::newRow("huge") << "huge";
    QTest::newRow("corrupt") << "corrupt";
    QTest::newRow("truncated") << "truncated";
}

void TstContentIndex::cacheFileIsReadSafely()
{
    QFETCH(QString, kind);
    Vault v;
    QByteArray good;
    {
        ContentIndex first(v.root(), v.cache());
        first.start();
        QVERIFY(settle(first));
        QCOMPARE(first.fileCount(), 3);
        QFile f(v.cache());
        QVERIFY(f.open(QIODevice::ReadOnly));
        good = f.readAll();
    }
    QVERIFY(!good.isEmpty());
    const QByteArray cache = QFile::encodeName(v.cache());
    const QString target = v.dir.filePath(QStringLiteral("precious"));
    QVERIFY(QFile::remove(v.cache()));
    if (kind == "fifo") {
        QVERIFY(::mkfifo(cache.constData(), 0600) == 0);
    } else if (kind == "symlink") {
        QVERIFY(writeFile(target, good));
        QVERIFY(QFile::link(target, v.cache()));
    } else if (kind == "huge") {
        QFile f(v.cache());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.write(good) == good.size());
        QVERIFY(f.resize(ContentIndex::CacheSizeLimit + 1)); // sparse: takes no room
    } else if (kind == "corrupt") {
        QByteArray bad = good;
        for (qsizetype i = 12; i < bad.size(); i += 7)
            bad[i] = char(0xff);
        QVERIFY(writeFile(v.cache(), bad));
    } else {
        QVERIFY(writeFile(v.cache(), good.left(good.size() / 2)));
    }

    // Start and close neither hang nor read through; the index is built again and is whole.
    auto index = std::make_unique<ContentIndex>(v.root(), v.cache());
    index->start();
    QVERIFY(settle(*index));
    QCOMPARE(index->fileCount(), 3);
    QCOMPARE(index->buildCount(), 1);
    QVERIFY(index->complete());
    QVERIFY(destroyReturns(std::move(index)));
    // What was there is kept aside; a regular file of the index took its place.
    struct stat aside, kept;
    QVERIFY(::lstat((cache + ".broken").constData(), &aside) == 0);
    if (kind == "fifo")
        QVERIFY(S_ISFIFO(aside.st_mode));
    else if (kind == "symlink")
        QVERIFY(S_ISLNK(aside.st_mode));
    QVERIFY(::lstat(cache.constData(), &kept) == 0);
    QVERIFY(S_ISREG(kept.st_mode));
    if (kind == "symlink") {
        QFile t(target);
        QVERIFY(t.open(QIODevice::ReadOnly));
        QCOMPARE(t.readAll(), good);
    }
    // And that file is read back by the next run, which builds nothing.
    ContentIndex again(v.root(), v.cache());
    again.start();
    QVERIFY(settle(again));
    QCOMPARE(again.buildCount(), 0);
    QCOMPARE(again.fileCount(), 3);
}

void TstContentIndex::ownChangesTakeEffectAtOnce()
{
    Vault v;
    ContentIndex index(v.root(), QString());
    index.start();
    QVERIFY(settle(index));
    QCOMPARE(index.copiesInVault({ v.outside(QStringLiteral("a.jpg")) }), (QStringList { v.in("a.jpg") }));
    QSignalSpy forgotten(&index, &ContentIndex::forgotten);

    // Each change is seen by the very next question, before the worker had a turn.
    QVERIFY(QFile::remove(v.in(QStringLiteral("a.jpg"))));
    index.pathChanged(v.in(QStringLiteral("a.jpg")));
    QCOMPARE(forgotten.size(), 1);
    QCOMPARE(forgotten.last().at(0).toStringList(), (QStringList { v.in("a.jpg") }));
    QCOMPARE(index.fileCount(), 2);
    QCOMPARE(index.copiesInVault({ v.outside(QStringLiteral("a.jpg")) }), (QStringList { QString() }));

    // A file renamed keeps its content under its new name.
    QVERIFY(QFile::rename(v.in(QStringLiteral("箱/b.jpg")), v.in(QStringLiteral("箱/b2.jpg"))));
    index.pathMoved(v.in(QStringLiteral("箱/b.jpg")), v.in(QStringLiteral("箱/b2.jpg")));
    QCOMPARE(forgotten.last().at(0).toStringList(), (QStringList { v.in("箱/b.jpg") }));
    QCOMPARE(
        index.copiesInVault({ v.outside(QStringLiteral("b.jpg")) }), (QStringList { v.in("箱/b2.jpg") }));

    // A box renamed: everything below it moves along.
    QVERIFY(QDir().rename(v.in(QStringLiteral("箱")), v.in(QStringLiteral("別箱"))));
    index.pathMoved(v.in(QStringLiteral("箱")), v.in(QStringLiteral("別箱")));
    QCOMPARE(forgotten.last().at(0).toStringList(), (QStringList { v.in("箱") }));
    QCOMPARE(index.copiesInVault({ v.outside(QStringLiteral("c.jpg")) }),
        (QStringList { v.in("別箱/小箱/c.jpg") }));

    // A file copied in is found before the worker read it; one moved out is forgotten.
    QVERIFY(QFile::copy(v.outside(QStringLiteral("new.jpg")), v.in(QStringLiteral("new.jpg"))));
    index.pathChanged(v.in(QStringLiteral("new.jpg")));
    QCOMPARE(
        index.copiesInVault({ v.outside(QStringLiteral("new.jpg")) }), (QStringList { v.in("new.jpg") }));
    const QString out = v.dir.filePath(QStringLiteral("c-out.jpg"));
    QVERIFY(QFile::rename(v.in(QStringLiteral("別箱/小箱/c.jpg")), out));
    index.pathMoved(v.in(QStringLiteral("別箱/小箱/c.jpg")), out);
    QCOMPARE(index.copiesInVault({ v.outside(QStringLiteral("c.jpg")) }), (QStringList { QString() }));

    // A new box, empty, is noted without a walk.
    QVERIFY(QDir().mkdir(v.in(QStringLiteral("新箱"))));
    index.pathChanged(v.in(QStringLiteral("新箱")));

    // The worker confirms all of it without taking any of it for a change from outside.
    QVERIFY(settle(index));
    QCOMPARE(index.buildCount(), 1);
    QCOMPARE(index.fileCount(), 2);
    index.checkForOutsideChanges();
    QVERIFY(settle(index));
    QCOMPARE(index.buildCount(), 1);
    QCOMPARE(
        index.copiesInVault({ v.outside(QStringLiteral("b.jpg")), v.outside(QStringLiteral("new.jpg")) }),
        (QStringList { v.in("別箱/b2.jpg"), v.in("new.jpg") }));
}

void TstContentIndex::answersNeverWalkTheVault()
{
    Vault v;
    // Not started: it knows nothing yet, and answers from that instead of walking the vault.
    ContentIndex index(v.root(), QString());
    QCOMPARE(index.copiesInVault({ v.outside(QStringLiteral("a.jpg")) }), (QStringList { QString() }));
    // A file that lies in the vault is held there (a file manager's drop of a vault picture).
    QCOMPARE(index.copiesInVault({ v.in(QStringLiteral("箱/b.jpg")) }), (QStringList { v.in("箱/b.jpg") }));
    index.start();
    QVERIFY(settle(index));
    QCOMPARE(
        index.copiesInVault({ v.outside(QStringLiteral("a.jpg")), v.outside(QStringLiteral("new.jpg")) }),
        (QStringList { v.in("a.jpg"), QString() }));
}

void TstContentIndex::closingMidWalkReturns()
{
#ifndef ZTV_DELAYFS
    QSKIP("built without the slow test file system");
#else
    Vault v;
    for (int i = 0; i < 60; ++i)
        QVERIFY(writeFile(v.in(QStringLiteral("箱/many/%1.jpg").arg(i)), bytesOf(i)));
    QTemporaryDir mountPoint;
    DelayFsMount share;
    // Each call on the share waits: the walk of the vault takes many seconds.
    const QString why = share.start(QStringLiteral(ZTV_DELAYFS), v.root(), mountPoint.path(), 150);
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    const QString cache = v.cache();
    auto index = std::make_unique<ContentIndex>(mountPoint.path(), cache);
    index->setLowPriority(false);
    index->start();
    QVERIFY(!index->idle());
    // Time for the walk to begin (a loaded machine may not have got there; closing is the same).
    QTest::qWait(1500);
    // Closing returns whether the walk had begun, ended or not; a hang guard only.
    QVERIFY(destroyReturns(std::move(index)));
    // Nothing half done was kept: no cache, or one holding the whole vault.
    if (QFileInfo::exists(cache)) {
        ContentIndex again(mountPoint.path(), cache);
        again.start();
        QVERIFY(QTest::qWaitFor([&] { return again.idle(); }, 120000));
        QCOMPARE(again.fileCount(), 63);
    }
#endif
}

// A file copied in while a walk runs: the walk's end leaves it to the worker's own look, which
// comes after; a filing in between still finds it. The share holds the walk, then that look,
// at a file each, until the test lets them go.
void TstContentIndex::copyFiledDuringAWalk()
{
#ifndef ZTV_DELAYFS
    QSKIP("built without the slow test file system");
#else
    Vault v;
    QVERIFY(writeFile(v.in(QStringLiteral("gate.jpg")), bytesOf(5)));
    const QByteArray picture = bytesOf(6) + "of a size no vault file has";
    QVERIFY(writeFile(v.outside(QStringLiteral("p1.jpg")), picture));
    QTemporaryDir mountPoint, gates;
    DelayFsMount share;
    const QString why = share.start(QStringLiteral(ZTV_DELAYFS), v.root(), mountPoint.path(), 0, QString(),
        { QStringLiteral("--gate-dir"), gates.path(), QStringLiteral("--gate"), QStringLiteral("gate.jpg"),
            QStringLiteral("--gate"), QStringLiteral("held.jpg") });
    if (!why.isEmpty())
        QSKIP(qPrintable(why));
    auto letGo = [&](const QString& gate) { return writeFile(gates.filePath(gate + ".go"), {}); };
    auto reached = [&](const QString& gate) {
        return QTest::qWaitFor([&] { return QFileInfo::exists(gates.filePath(gate + ".reached")); }, 60000);
    };
    const auto open = qScopeGuard([&] {
        letGo(QStringLiteral("gate.jpg"));
        letGo(QStringLiteral("held.jpg"));
    });
    const QString copy = mountPoint.path() + QStringLiteral("/held.jpg");
    const QStringList wanted { copy };

    ContentIndex index(mountPoint.path(), QString());
    index.start();
    // The first walk, past the root's listing, reads gate.jpg: the copy comes in meanwhile (and
    // nothing but the worker may open it before its look).
    QVERIFY(reached(QStringLiteral("gate.jpg")));
    QVERIFY(writeFile(copy, picture));
    index.pathChanged(copy);
    // The walk ends without it; the worker then reads the copy and is held there.
    QVERIFY(letGo(QStringLiteral("gate.jpg")));
    QVERIFY(reached(QStringLiteral("held.jpg")));
    QCOMPARE(index.copiesInVault({ v.outside(QStringLiteral("p1.jpg")) }), wanted);
    QVERIFY(letGo(QStringLiteral("held.jpg")));
    QVERIFY(settle(index));
    QCOMPARE(index.fileCount(), 5);
    QCOMPARE(index.copiesInVault({ v.outside(QStringLiteral("p1.jpg")) }), wanted);
#endif
}

QTEST_MAIN(TstContentIndex)
#include "tst_contentindex.moc"
