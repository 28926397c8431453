#include "ExifBuilder.h"
#include "StorageBuilder.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailCache.h"
#include "imaging/ThumbnailEngine.h"
#include "imaging/ThumbnailPipeline.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTest>

#include <chrono>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <utime.h>

using namespace ztv;
using ztv::test::TestHome;
namespace pictures = ztv::test::pictures;

namespace {

QByteArray encode(const QImage& image, const char* format, bool progressive = false)
{
    return ztv::test::encodeImage(image, format, 90, progressive);
}

QImage halves(QSize size, QColor left = Qt::black, QColor right = Qt::white)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(right);
    QPainter p(&image);
    p.fillRect(0, 0, size.width() / 2, size.height(), left);
    return image;
}

QByteArray jpegWithExifThumbnail(const QImage& main, const QImage& thumb, int orientation)
{
    return ztv::test::withExif(encode(main, "JPEG"), orientation, encode(thumb, "JPEG"));
}

QImage reference(const QString& path, QSize box)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return readScaledWithQt(&file, box);
}

// Mean difference per channel, 0..255.
double difference(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_RGB32), y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            const QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

QList<ThumbnailResult> browseAll(ThumbnailBrowser& browser, const QString& folder, int* result = nullptr)
{
    QList<ThumbnailResult> out;
    QObject context;
    QObject::connect(&browser, &ThumbnailBrowser::ThumbnailReady, &context,
                     [&](const QImage& image, const QString& path, int status) {
                         out.append({ path, image, status });
                         browser.setContinueBrowsing(true);
                     });
    const int r = browser.BrowseFolder(folder);
    if (result)
        *result = r;
    return out;
}

QColor centre(const QImage& image) { return image.pixelColor(image.width() / 2, image.height() / 2); }

} // namespace

class TestThumbnailEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fastPathMatchesQt();
    void exifThumbnailRoutes_data();
    void exifThumbnailRoutes();
    void pipelineKeepsOrderPastASlowFile();
    void pipelineStopsWithinItsWindow();
    void cacheUri();
    void cacheHitStaleAndBroken();
    void cacheNotWrittenForReadOnlyStorage();
};

void TestThumbnailEngine::fastPathMatchesQt()
{
    TestHome home;
    QStringList names;
    auto put = [&](const QString& name, const QByteArray& bytes) {
        home.write(QStringLiteral("set/") + name, bytes);
        names.append(name);
    };
    for (int o = 1; o <= 8; ++o) {
        put(QStringLiteral("o%1.jpg").arg(o), pictures::halvesJpeg({ 640, 400 }, o));
    }
    put(QStringLiteral("progressive.jpg"), encode(halves({ 1600, 1200 }, Qt::red, Qt::blue), "JPEG", true));
    put(QStringLiteral("progressive-small.jpg"), encode(halves({ 300, 200 }, Qt::red, Qt::blue), "JPEG", true));
    put(QStringLiteral("small.jpg"), encode(halves({ 60, 40 }), "JPEG"));
    put(QStringLiteral("grey.jpg"), encode(halves({ 500, 300 }).convertToFormat(QImage::Format_Grayscale8), "JPEG"));
    put(QStringLiteral("odd.jpg"), encode(halves({ 1001, 333 }), "JPEG"));
    put(QStringLiteral("wide.png"), pictures::png({ 900, 300 }));
    put(QStringLiteral("anim.gif"), pictures::gif());
    put(QStringLiteral("pic.bmp"), pictures::bmp({ 150, 120 }));
    put(QStringLiteral("broken.jpg"), pictures::corrupt());
    put(QStringLiteral("text.png"), "hello\n");
    put(QStringLiteral("empty.jpg"), QByteArray());
    put(QStringLiteral("png-named.jpg"), pictures::png({ 120, 240 }));
    put(QStringLiteral("truncated.jpg"), encode(halves({ 800, 600 }), "JPEG").left(4000));
    put(QStringLiteral("truncated.png"), pictures::png({ 400, 400 }).left(300));

    ThumbnailBrowser browser;
    browser.setWorkerCount(3);
    browser.setCacheFolder(QString());
    const QString dir = home.home() + QStringLiteral("/set");
    const QList<ThumbnailResult> results = browseAll(browser, dir);
    QCOMPARE(results.size(), names.size());
    for (const ThumbnailResult& r : results) {
        const QImage ref = reference(r.path, browser.thumbnailSize());
        const QString name = QFileInfo(r.path).fileName();
        QVERIFY2((r.status == ThumbnailResult::Made) == !ref.isNull(), qPrintable(name));
        if (ref.isNull())
            continue;
        QVERIFY2(r.image.size() == ref.size(),
                 qPrintable(QStringLiteral("%1: %2x%3 vs %4x%5")
                                .arg(name)
                                .arg(r.image.width())
                                .arg(r.image.height())
                                .arg(ref.width())
                                .arg(ref.height())));
        const double diff = difference(r.image, ref);
        QVERIFY2(diff < 12, qPrintable(QStringLiteral("%1 differs by %2").arg(name).arg(diff)));
        QVERIFY(r.image.format() == QImage::Format_RGB32 || r.image.format() == QImage::Format_ARGB32_Premultiplied);
    }
}

void TestThumbnailEngine::exifThumbnailRoutes_data()
{
    QTest::addColumn<QSize>("mainSize");
    QTest::addColumn<QSize>("thumbSize");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("thumbUsed");
    QTest::addColumn<QSize>("expected");
    QTest::newRow("sound") << QSize(1200, 900) << QSize(160, 120) << 1 << true << QSize(100, 75);
    QTest::newRow("sound, turned") << QSize(1200, 900) << QSize(160, 120) << 6 << true << QSize(75, 100);
    QTest::newRow("letterboxed 4:3 for 3:2") << QSize(1500, 1000) << QSize(160, 120) << 1 << false << QSize(100, 67);
    QTest::newRow("too small") << QSize(1200, 900) << QSize(80, 60) << 1 << false << QSize(100, 75);
}

void TestThumbnailEngine::exifThumbnailRoutes()
{
    QFETCH(QSize, mainSize);
    QFETCH(QSize, thumbSize);
    QFETCH(int, orientation);
    QFETCH(bool, thumbUsed);
    QFETCH(QSize, expected);
    TestHome home;
    // The thumbnail's colours differ from the picture's, so the result shows which was used;
    // both have a dark left half so the orientation shows too.
    const QString path = home.write(QStringLiteral("f/cam.jpg"),
                                    jpegWithExifThumbnail(halves(mainSize, Qt::black, Qt::red),
                                                          halves(thumbSize, Qt::black, Qt::blue), orientation));
    ThumbnailBrowser browser;
    browser.setCacheFolder(QString());
    const QList<ThumbnailResult> results = browseAll(browser, home.home() + QStringLiteral("/f"));
    QCOMPARE(results.size(), 1);
    const QImage img = results[0].image;
    QCOMPARE(img.size(), expected);
    QCOMPARE(img.size(), reference(path, browser.thumbnailSize()).size());
    // The bright half: bottom for a quarter turn (6), right otherwise.
    const QColor bright = orientation == 6 ? img.pixelColor(img.width() / 2, img.height() - 4)
                                           : img.pixelColor(img.width() - 4, img.height() / 2);
    const QColor dark = orientation == 6 ? img.pixelColor(img.width() / 2, 3) : img.pixelColor(3, img.height() / 2);
    QVERIFY(qGray(dark.rgb()) < 40);
    if (thumbUsed)
        QVERIFY2(bright.blue() > 200 && bright.red() < 60, qPrintable(bright.name()));
    else
        QVERIFY2(bright.red() > 200 && bright.blue() < 60, qPrintable(bright.name()));
}

void TestThumbnailEngine::pipelineKeepsOrderPastASlowFile()
{
    QStringList paths;
    for (int i = 0; i < 20; ++i)
        paths.append(QString::number(i));
    std::mutex mutex;
    QStringList finished;
    ThumbnailPipeline pipeline(paths, 3, 8, [&](const QString& path, const std::atomic<bool>*) {
        if (path == QLatin1String("0"))
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::lock_guard lock(mutex);
        finished.append(path);
        ThumbnailResult r;
        r.path = path;
        r.status = ThumbnailResult::Made;
        return r;
    });
    int idles = 0;
    QStringList delivered;
    for (int i = 0; i < pipeline.size(); ++i)
        delivered.append(pipeline.takeNext([&] { ++idles; }, 5).path);
    QCOMPARE(delivered, paths);
    // The others went on while the first file was slow, and the waiting side kept idling.
    QVERIFY(finished.indexOf(QStringLiteral("0")) > 5);
    QVERIFY(idles >= 10);
}

void TestThumbnailEngine::pipelineStopsWithinItsWindow()
{
    QStringList paths;
    for (int i = 0; i < 500; ++i)
        paths.append(QString::number(i));
    std::atomic<int> made { 0 };
    {
        ThumbnailPipeline pipeline(paths, 2, 6, [&](const QString&, const std::atomic<bool>*) {
            ++made;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return ThumbnailResult {};
        });
        for (int i = 0; i < 3; ++i)
            pipeline.takeNext({});
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        QVERIFY(made.load() <= 3 + 6); // never more than the window ahead of the consumer
        pipeline.stop();
    }
    QVERIFY(made.load() <= 3 + 6);
}

void TestThumbnailEngine::cacheUri()
{
    QCOMPARE(ThumbnailCache::fileUri(QStringLiteral("/tmp/a b/写真 #1[x].jpg")),
             QByteArray("file:///tmp/a%20b/%E5%86%99%E7%9C%9F%20%231%5Bx%5D.jpg"));
    QCOMPARE(ThumbnailCache::fileUri(QStringLiteral("/p/it's(1)+=,@~!$&*.png")),
             QByteArray("file:///p/it's(1)+=,@~!$&*.png"));
    const ThumbnailCache cache(QStringLiteral("/c"));
    // md5("file:///home/jens/photos/me.png"), the example of the thumbnail standard.
    QCOMPARE(cache.entryPath(QStringLiteral("/home/jens/photos/me.png")),
             QStringLiteral("/c/normal/c6ee772d9e49320e97ec29a7eb5b1697.png"));
}

void TestThumbnailEngine::cacheHitStaleAndBroken()
{
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("pics"));
    const QString root = home.home() + QStringLiteral("/cache/thumbnails");
    const QString pic = home.write(QStringLiteral("pics/a.jpg"), pictures::jpeg({ 400, 300 }, Qt::red));
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(pic).constData(), &st) == 0);
    const ThumbnailCache cache(root);

    ThumbnailBrowser browser;
    browser.setCacheFolder(root);
    browser.setWritableStorageCheck([](const QString&) { return true; });

    // Another program's entry for this version of the file is used as it is.
    QImage other(128, 96, QImage::Format_RGB32);
    other.fill(Qt::green);
    QVERIFY(cache.store(pic, qint64(st.st_mtime), { 400, 300 }, other));
    QList<ThumbnailResult> r = browseAll(browser, dir);
    QCOMPARE(r[0].image.size(), QSize(100, 75));
    QCOMPARE(centre(r[0].image), QColor(Qt::green));

    // Stale: the file changed since the entry was made; decoded afresh and the entry replaced.
    QVERIFY(cache.store(pic, qint64(st.st_mtime) - 100, { 400, 300 }, other));
    r = browseAll(browser, dir);
    QVERIFY(centre(r[0].image).red() > 200);
    QImage entry(cache.entryPath(pic));
    QCOMPARE(entry.size(), QSize(128, 96));
    QCOMPARE(entry.text(QStringLiteral("Thumb::MTime")), QString::number(st.st_mtime));
    QCOMPARE(entry.text(QStringLiteral("Thumb::URI")), QString::fromLatin1(ThumbnailCache::fileUri(pic)));
    QVERIFY(centre(entry).red() > 200);
    QCOMPARE(QFile::permissions(cache.entryPath(pic)) & 0x0077, QFileDevice::Permissions());

    // Broken entry: ignored and replaced.
    {
        QFile f(cache.entryPath(pic));
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("\x89PNG\r\n\x1a\n garbage");
    }
    r = browseAll(browser, dir);
    QCOMPARE(r[0].status, int(ThumbnailResult::Made));
    QVERIFY(centre(r[0].image).red() > 200);
    QVERIFY(!QImage(cache.entryPath(pic)).isNull());

    // Nothing is written next to the pictures, and no temporary file is left in the cache.
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList({ "a.jpg" }));
    QCOMPARE(QDir(root + QStringLiteral("/normal")).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // Reading only: the entry is used, a stale one is not rewritten.
    browser.setCacheWriting(false);
    QVERIFY(cache.store(pic, qint64(st.st_mtime) - 5, { 400, 300 }, other));
    r = browseAll(browser, dir);
    QVERIFY(centre(r[0].image).red() > 200);
    QCOMPARE(QImage(cache.entryPath(pic)).text(QStringLiteral("Thumb::MTime")), QString::number(st.st_mtime - 5));
}

void TestThumbnailEngine::cacheNotWrittenForReadOnlyStorage()
{
    TestHome home;
    const QString dir = home.makeDir(QStringLiteral("disc"));
    home.write(QStringLiteral("disc/a.jpg"), pictures::jpeg({ 300, 200 }));
    home.write(QStringLiteral("disc/b.png"), pictures::png({ 300, 200 }));
    const QString root = home.home() + QStringLiteral("/cache/thumbnails");
    QStringList asked;
    ThumbnailBrowser browser;
    browser.setCacheFolder(root);
    browser.setWritableStorageCheck([&](const QString& path) {
        asked.append(path);
        return false;
    });
    const QList<ThumbnailResult> r = browseAll(browser, dir);
    QCOMPARE(r.size(), 2);
    QCOMPARE(r[0].status, int(ThumbnailResult::Made));
    QCOMPARE(asked.size(), 2);
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/normal")) || QDir(root + QStringLiteral("/normal")).isEmpty());
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
    // The real test: a temporary folder is writable storage.
    QVERIFY(isOnWritableStorage(dir));
    QVERIFY(!isOnWritableStorage(home.home() + QStringLiteral("/missing")));
}

QTEST_GUILESS_MAIN(TestThumbnailEngine)
#include "tst_thumbnailengine.moc"
