#include "DelayFsMount.h"
#include "ExifBuilder.h"
#include "FileTestUtil.h"
#include "imaging/ThumbnailBrowser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace ztv;
using ztv::test::DelayFsMount;

namespace {

constexpr qint64 HeadBound = 128 * 1024;

// A camera-sized picture that does not compress: its file is megabytes, as a camera's is.
QImage noisyPicture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            line[x] = random.generate() | 0xFF000000u;
    }
    return image;
}

// A card's folder (backing) seen through the slow file system at mount.
struct Card {
    QTemporaryDir dir;
    const QString backing = dir.filePath(QStringLiteral("card"));
    const QString mount = dir.filePath(QStringLiteral("mnt"));
    DelayFsMount fs;
    bool put(const QString& name, const QByteArray& bytes) const
    {
        const QString path = backing + u'/' + name;
        return QDir().mkpath(QFileInfo(path).absolutePath()) && ztv::test::writeRaw(path, bytes);
    }
    // "" once mounted, else why not (for QSKIP).
    QString start(const QStringList& extra = {})
    {
        QDir().mkpath(backing);
        QDir().mkpath(mount);
        return fs.start(QStringLiteral(ZTV_DELAYFS), backing, mount, 0, QString(), extra);
    }
};

struct Outcome {
    int result = -1;
    QHash<QString, int> status; // by file name
    int eventPasses = 0;
};

// Browses as a tab does, with the cache off; ends as stopped after a minute at the latest.
Outcome browse(ThumbnailBrowser& browser, const QString& folder)
{
    Outcome out;
    QObject context;
    QObject::connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
        [&](const QImage&, const QString& path, int status) {
            out.status.insert(QFileInfo(path).fileName(), status);
        });
    QTimer pass;
    pass.setInterval(0);
    QObject::connect(&pass, &QTimer::timeout, &context, [&] { ++out.eventPasses; });
    pass.start();
    QElapsedTimer guard;
    guard.start();
    browser.setCacheFolder(QString());
    browser.setCancelCheck([&] { return guard.elapsed() > 60000; });
    out.result = browser.BrowseFolder(folder);
    browser.setCancelCheck({});
    return out;
}

} // namespace

class TestSlowMedia : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cameraJpegReadsOnlyItsHead();
    void foldersAmongUntypedNames();
    void hungCallEndsTheListing_data();
    void hungCallEndsTheListing();
};

void TestSlowMedia::cameraJpegReadsOnlyItsHead()
{
    Card card;
    const QString log = card.dir.filePath(QStringLiteral("reads.log"));
    const QImage picture = noisyPicture({ 2400, 1800 });
    const QByteArray plain = ztv::test::encodeImage(picture, "JPEG", 92);
    const QByteArray thumb = ztv::test::encodeImage(picture.scaled(160, 120), "JPEG", 85);
    QVERIFY(plain.size() > 8 * HeadBound);
    QVERIFY(card.put(QStringLiteral("DCIM/IMG_0001.JPG"), ztv::test::withExif(plain, 1, thumb)));
    QVERIFY(card.put(QStringLiteral("DCIM/IMG_0002.JPG"), ztv::test::withExif(plain, 6)));
    if (const QString why = card.start({ QStringLiteral("--read-log"), log }); !why.isEmpty())
        QSKIP(qPrintable(why));
    ThumbnailBrowser browser;
    const Outcome out = browse(browser, card.mount + QStringLiteral("/DCIM"));
    QCOMPARE(out.result, ThumbnailBrowser::ResultOk);
    QCOMPARE(out.status.value(QStringLiteral("IMG_0001.JPG"), -1), int(ThumbnailResult::Made));
    QCOMPARE(out.status.value(QStringLiteral("IMG_0002.JPG"), -1), int(ThumbnailResult::Made));
    QHash<QString, qint64> bytes; // by file name, from the lines "BYTES PATH"
    auto readLog = [&] {
        bytes.clear();
        for (const QByteArray& line : ztv::test::readAll(log).split('\n')) {
            if (const qsizetype space = line.indexOf(' '); space > 0)
                bytes[QFileInfo(QString::fromUtf8(line.mid(space + 1))).fileName()]
                    += line.left(space).toLongLong();
        }
        return bytes.contains(QStringLiteral("IMG_0001.JPG"))
            && bytes.contains(QStringLiteral("IMG_0002.JPG"));
    };
    // The kernel tells the file system of a close later than the close itself: both files'
    // lines are waited for before it is stopped, which would drop a close still on its way.
    QTRY_VERIFY_WITH_TIMEOUT(readLog(), 30000);
    card.fs.stop();
    readLog();
    // The embedded thumbnail serves from the file's head; without one the picture is decoded.
    QVERIFY(bytes.value(QStringLiteral("IMG_0001.JPG")) > 0);
    QVERIFY2(bytes.value(QStringLiteral("IMG_0001.JPG")) <= HeadBound,
        qPrintable(QString::number(bytes.value(QStringLiteral("IMG_0001.JPG")))));
    QVERIFY(bytes.value(QStringLiteral("IMG_0002.JPG")) > HeadBound);
}

void TestSlowMedia::foldersAmongUntypedNames()
{
    // The FUSE file system gives no entry types: a folder is told from the files as it is reached.
    Card card;
    const QString& mount = card.mount;
    const QByteArray small = ztv::test::encodeImage(noisyPicture({ 64, 48 }), "JPEG");
    QVERIFY(card.put(QStringLiteral("a.jpg"), small) && card.put(QStringLiteral("c.jpg"), small));
    QVERIFY(QDir().mkpath(card.backing + QStringLiteral("/b.jpg")));
    if (const QString why = card.start(); !why.isEmpty())
        QSKIP(qPrintable(why));
    ThumbnailBrowser browser;
    const Outcome out = browse(browser, mount);
    QCOMPARE(out.result, ThumbnailBrowser::ResultOk);
    QCOMPARE(out.status.value(QStringLiteral("a.jpg"), -1), int(ThumbnailResult::Made));
    QCOMPARE(out.status.value(QStringLiteral("b.jpg"), -1), int(ThumbnailResult::Vanished));
    QCOMPARE(out.status.value(QStringLiteral("c.jpg"), -1), int(ThumbnailResult::Made));
    QCOMPARE(browser.listedStamps().size(), size_t(browser.listedPaths().size()));
    QVERIFY(browser.listedStamps().at(0).inode != 0);
    // A re-listing stamps every name first, and leaves the folder out.
    QCOMPARE(browser.listNames(mount), ThumbnailBrowser::ResultOk);
    QCOMPARE(browser.listedPaths(),
        QStringList({ mount + QStringLiteral("/a.jpg"), mount + QStringLiteral("/c.jpg") }));
    QCOMPARE(browser.listedStamps().size(), size_t(2));
}

void TestSlowMedia::hungCallEndsTheListing_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addRow("a file's call hangs") << QStringLiteral("DCIM");
    QTest::addRow("the folder's call hangs") << QStringLiteral("STUCK");
}

void TestSlowMedia::hungCallEndsTheListing()
{
    QFETCH(QString, folder);
    Card card;
    const QByteArray jpeg = ztv::test::encodeImage(noisyPicture({ 64, 48 }), "JPEG");
    for (const char* name : { "IMG_0001.JPG", "IMG_0002_STUCK.JPG", "IMG_0003.JPG" })
        QVERIFY(card.put(folder + u'/' + QLatin1String(name), jpeg));
    if (const QString why = card.start({ QStringLiteral("--hang"), QStringLiteral("STUCK") }); !why.isEmpty())
        QSKIP(qPrintable(why));
    ThumbnailBrowser browser;
    browser.setStallLimit(2000);
    const Outcome out = browse(browser, card.mount + u'/' + folder);
    card.fs.kill(); // the stuck calls fail now, and the threads left behind end
    // Ended by the stall, not by the hang guard (which reads as stopped); the window's events
    // ran meanwhile, and the stuck file never got a thumbnail.
    QCOMPARE(out.result, ThumbnailBrowser::ResultFolderUnreadable);
    QVERIFY(out.eventPasses > 0);
    QVERIFY(out.status.value(QStringLiteral("IMG_0002_STUCK.JPG"), -1) != int(ThumbnailResult::Made));
    if (folder == QLatin1String("STUCK"))
        QVERIFY(out.status.isEmpty());
}

QTEST_MAIN(TestSlowMedia)
#include "tst_slowmedia.moc"
