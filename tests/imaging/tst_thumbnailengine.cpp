#include "ExifBuilder.h"
#include "StorageBuilder.h"
#include "imaging/JpegThumbnailer.h"
#include "imaging/PngThumbnailer.h"
#include "imaging/PngWriter.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailCache.h"
#include "imaging/ThumbnailEngine.h"
#include "imaging/ThumbnailPipeline.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QSemaphore>
#include <QTest>
#include <QTimer>
#include <QtEndian>

#include <QLinearGradient>
#include <QRadialGradient>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utime.h>
#include <zlib.h>

using namespace ztv;
using ztv::test::TestHome;
namespace pictures = ztv::test::pictures;

namespace {

QByteArray encode(const QImage& image, const char* format, bool progressive = false)
{
    return ztv::test::encodeImage(image, format, 90, progressive);
}

using ztv::test::halves;

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
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q))
                + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * x.width() * x.height());
}

// The PNG route on a file written into a test home, read through its descriptor.
PngOutcome pngThumbnailOfFile(const QString& path, QSize box, QImage* image, QSize* upright)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return PngOutcome::Unreadable;
    const PngOutcome outcome = makePngThumbnail(fd, box, image, upright);
    ::close(fd);
    return outcome;
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

// A smooth, photograph-like scene drawn relative to its size, so that it looks the same at
// any size (a camera's thumbnail of its own picture).
QImage scene(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor(40, 90, 170));
    sky.setColorAt(1, QColor(230, 190, 120));
    p.fillRect(image.rect(), sky);
    QRadialGradient sun(size.width() * 0.7, size.height() * 0.35, size.width() * 0.25);
    sun.setColorAt(0, QColor(255, 240, 200));
    sun.setColorAt(1, QColor(255, 240, 200, 0));
    p.fillRect(image.rect(), sun);
    QRadialGradient hill(size.width() * 0.25, size.height() * 1.1, size.width() * 0.6);
    hill.setColorAt(0, QColor(30, 110, 50));
    hill.setColorAt(1, QColor(30, 110, 50, 0));
    p.fillRect(image.rect(), hill);
    return image;
}

// The scene at thumbnail size between bars: content placed at `at` inside a canvas of bar colour.
QImage barred(QSize canvas, QRect at, QColor bar)
{
    QImage image(canvas, QImage::Format_RGB32);
    image.fill(bar);
    QPainter p(&image);
    p.drawImage(at.topLeft(), scene(at.size()));
    return image;
}

// Mean difference per channel of two premultiplied pictures, alpha included, 0..255.
double differenceWithAlpha(const QImage& a, const QImage& b)
{
    const QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            sum += std::abs(qRed(p[col]) - qRed(q[col])) + std::abs(qGreen(p[col]) - qGreen(q[col]))
                + std::abs(qBlue(p[col]) - qBlue(q[col])) + std::abs(qAlpha(p[col]) - qAlpha(q[col]));
        }
    }
    return sum / (4.0 * x.width() * x.height());
}

// PNG chunks and files written here, byte by byte, for the cases Qt's writer does not make.
QByteArray pngChunk(const char* type, const QByteArray& data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian(quint32(data.size()), out.data());
    out += body;
    QByteArray crc(4, Qt::Uninitialized);
    qToBigEndian(
        quint32(::crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))), crc.data());
    return out + crc;
}

// The picture (RGB32 or ARGB32) as an 8-bit RGB or RGBA PNG, each row filtered with
// filter(y) (0 to 4), compressed at level, the stream cut into IDAT chunks of chunkSize.
QByteArray filteredPng(const QImage& picture, const std::function<int(int)>& filter, int level, int chunkSize,
    const QByteArray& beforeData = {})
{
    const bool alpha = picture.hasAlphaChannel();
    const int bpp = alpha ? 4 : 3;
    const int n = picture.width() * bpp;
    QByteArray raw, prior(n, '\0');
    for (int y = 0; y < picture.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(picture.constScanLine(y));
        QByteArray row(n, Qt::Uninitialized);
        for (int x = 0; x < picture.width(); ++x) {
            row[x * bpp] = char(qRed(line[x]));
            row[x * bpp + 1] = char(qGreen(line[x]));
            row[x * bpp + 2] = char(qBlue(line[x]));
            if (alpha)
                row[x * bpp + 3] = char(qAlpha(line[x]));
        }
        const int type = filter(y);
        raw.append(char(type));
        for (int i = 0; i < n; ++i) {
            const int a = i >= bpp ? quint8(row[i - bpp]) : 0, b = quint8(prior[i]);
            const int c = i >= bpp ? quint8(prior[i - bpp]) : 0;
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predictor = type == 1 ? a
                : type == 2                 ? b
                : type == 3                 ? (a + b) / 2
                : type == 4                 ? (pa <= pb && pa <= pc ? a
                                          : pb <= pc                ? b
                                                                    : c)
                                            : 0;
            raw.append(char(quint8(row[i]) - predictor));
        }
        prior = row;
    }
    const QByteArray stream = qCompress(raw, level).mid(4); // qCompress prefixes the length
    QByteArray ihdr(8, Qt::Uninitialized);
    qToBigEndian(quint32(picture.width()), ihdr.data());
    qToBigEndian(quint32(picture.height()), ihdr.data() + 4);
    ihdr.append(char(8)).append(char(alpha ? 6 : 2)).append(char(0)).append(char(0)).append(char(0));
    QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) + beforeData;
    for (qsizetype at = 0; at < stream.size(); at += chunkSize)
        png += pngChunk("IDAT", stream.mid(at, chunkSize));
    return png + pngChunk("IEND", {});
}

// Noise over a gradient, so that every filter's predictors (Paeth's three included) are used,
// with alpha from 0 to 255 when asked.
QImage noisyPicture(QSize size, bool alpha)
{
    QImage image(size, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    quint32 v = 12345;
    for (int y = 0; y < size.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            v = v * 1103515245u + 12345u;
            const int noise = int(v >> 27); // 0..31
            line[x] = qRgba((x * 7 + noise) % 256, (y * 5 + noise * 3) % 256, (x + y + noise * 7) % 256,
                alpha ? int(v >> 16) % 256 : 255);
        }
    }
    return image;
}

// The exact thumbnail of a picture of twice its size: each pixel the rounded mean of 2 x 2,
// colour weighted by alpha, as premultiplied ARGB (or RGB without alpha).
QImage halved(const QImage& picture)
{
    const bool alpha = picture.hasAlphaChannel();
    QImage out(picture.size() / 2, alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        for (int x = 0; x < out.width(); ++x) {
            quint64 r = 0, g = 0, b = 0, a = 0;
            for (int k = 0; k < 4; ++k) {
                const QRgb p = picture.pixel(2 * x + k % 2, 2 * y + k / 2);
                const quint64 w = alpha ? quint64(qAlpha(p)) : 1;
                r += qRed(p) * w;
                g += qGreen(p) * w;
                b += qBlue(p) * w;
                a += qAlpha(p);
            }
            const quint64 d = alpha ? 4 * 255 : 4;
            out.setPixel(x, y,
                qRgba(int((r + d / 2) / d), int((g + d / 2) / d), int((b + d / 2) / d), int((a + 2) / 4)));
        }
    }
    return out;
}

int largestDifference(const QImage& a, const QImage& b)
{
    int most = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            most = std::max({ most, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q)) });
        }
    return most;
}

QColor centre(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

class TestThumbnailEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fastPathMatchesQt();
    void exifThumbnailRoutes_data();
    void exifThumbnailRoutes();
    void letterboxedThumbnails_data();
    void letterboxedThumbnails();
    void pngRowRouteMatchesQt_data();
    void pngRowRouteMatchesQt();
    void pngOwnDecoderIsExact_data();
    void pngOwnDecoderIsExact();
    void pngLongColumnsDoNotOverflow();
    void pngColourKeyAndBadChunkNames();
    void pipelineKeepsOrderPastASlowFile();
    void pipelineStopsWithinItsWindow();
    void pipelineAbandonsADecodeThatWillNotStop();
    void cacheUri();
    void cacheHitStaleAndBroken();
    void cacheEntriesFollowTheFile();
    void carriedEntryStaysOneFile();
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
    put(QStringLiteral("progressive-small.jpg"),
        encode(halves({ 300, 200 }, Qt::red, Qt::blue), "JPEG", true));
    put(QStringLiteral("small.jpg"), encode(halves({ 60, 40 }), "JPEG"));
    put(QStringLiteral("grey.jpg"),
        encode(halves({ 500, 300 }).convertToFormat(QImage::Format_Grayscale8), "JPEG"));
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
        QVERIFY(r.image.format() == QImage::Format_RGB32
            || r.image.format() == QImage::Format_ARGB32_Premultiplied);
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
    QTest::newRow("letterboxed 4:3 for 3:2")
        << QSize(1500, 1000) << QSize(160, 120) << 1 << false << QSize(100, 67);
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
        jpegWithExifThumbnail(
            halves(mainSize, Qt::black, Qt::red), halves(thumbSize, Qt::black, Qt::blue), orientation));
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
    const QColor dark
        = orientation == 6 ? img.pixelColor(img.width() / 2, 3) : img.pixelColor(3, img.height() / 2);
    QVERIFY(qGray(dark.rgb()) < 40);
    if (thumbUsed)
        QVERIFY2(bright.blue() > 200 && bright.red() < 60, qPrintable(bright.name()));
    else
        QVERIFY2(bright.red() > 200 && bright.blue() < 60, qPrintable(bright.name()));
}

void TestThumbnailEngine::letterboxedThumbnails_data()
{
    QTest::addColumn<QSize>("mainSize");
    QTest::addColumn<QImage>("thumb");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<bool>("thumbUsed");
    // 3:2 picture, 4:3 thumbnail with black bars of 7 and 6 rows, as cameras write them.
    QTest::newRow("bars top and bottom")
        << QSize(1500, 1000) << barred({ 160, 120 }, { 0, 7, 160, 107 }, Qt::black) << 1 << true;
    QTest::newRow("bars, turned") << QSize(1500, 1000) << barred({ 160, 120 }, { 0, 7, 160, 107 }, Qt::black)
                                  << 6 << true;
    QTest::newRow("bars, mirrored and turned")
        << QSize(1500, 1000) << barred({ 160, 120 }, { 0, 7, 160, 107 }, Qt::black) << 7 << true;
    QTest::newRow("grey bars left and right")
        << QSize(900, 1200) << barred({ 160, 120 }, { 35, 0, 90, 120 }, QColor(128, 128, 128)) << 1 << true;
    QTest::newRow("bars one row off centre")
        << QSize(1500, 1000) << barred({ 160, 120 }, { 0, 8, 160, 107 }, Qt::black) << 1 << true;
    // Looks like bars but is picture: a dark band on one side only, or bands of two colours.
    QImage oneSide = scene({ 160, 120 });
    QPainter(&oneSide).fillRect(0, 0, 160, 13, Qt::black);
    QTest::newRow("dark band on one side") << QSize(1500, 1000) << oneSide << 1 << false;
    QImage twoColours = barred({ 160, 120 }, { 0, 7, 160, 107 }, Qt::black);
    QPainter(&twoColours).fillRect(0, 114, 160, 6, Qt::white);
    QTest::newRow("bands of two colours") << QSize(1500, 1000) << twoColours << 1 << false;
    QImage noisy = barred({ 160, 120 }, { 0, 7, 160, 107 }, Qt::black);
    for (int x = 0; x < 160; x += 9)
        noisy.setPixel(x, 2, qRgb(200, 200, 200));
    QTest::newRow("bar with detail in it") << QSize(1500, 1000) << noisy << 1 << false;
    QTest::newRow("no bars, other shape") << QSize(1500, 1000) << scene({ 160, 120 }) << 1 << false;
    // Bars far longer or shorter than the shapes need: the picture does not fill the rest.
    QTest::newRow("picture boxed in a frame")
        << QSize(1500, 1000) << barred({ 160, 120 }, { 40, 40, 80, 53 }, Qt::black) << 1 << false;
    QTest::newRow("bars off centre") << QSize(1500, 1000)
                                     << barred({ 160, 120 }, { 0, 13, 160, 107 }, Qt::black) << 1 << false;
}

void TestThumbnailEngine::letterboxedThumbnails()
{
    QFETCH(QSize, mainSize);
    QFETCH(QImage, thumb);
    QFETCH(int, orientation);
    QFETCH(bool, thumbUsed);
    TestHome home;
    const QString path = home.write(QStringLiteral("f/cam.jpg"),
        ztv::test::withExif(encode(scene(mainSize), "JPEG"), orientation, encode(thumb, "JPEG")));
    const QSize box(100, 100);
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QImage image;
    bool fromExif = false;
    const JpegOutcome outcome = makeJpegThumbnail(fd, box, &image, nullptr, nullptr, &fromExif);
    ::close(fd);
    QCOMPARE(outcome, JpegOutcome::Made);
    QCOMPARE(fromExif, thumbUsed);
    // Whichever route served, the result is the picture, upright, of the reference's size.
    const QImage ref = reference(path, box);
    QCOMPARE(image.size(), ref.size());
    const double diff = difference(image, ref);
    QVERIFY2(diff < (thumbUsed ? 3.0 : 12.0), qPrintable(QString::number(diff)));
}

void TestThumbnailEngine::pngRowRouteMatchesQt_data()
{
    QTest::addColumn<QImage>("picture");
    QTest::addColumn<bool>("rowRoute");
    const QImage photo = scene({ 1203, 797 });
    QImage translucent = scene({ 900, 1400 }).convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(translucent.scanLine(y));
        for (int x = 0; x < translucent.width(); ++x)
            line[x] = qRgba(qRed(line[x]), qGreen(line[x]), qBlue(line[x]),
                (x * 255 / translucent.width() + y / 7) % 256);
    }
    QImage holes = photo.convertToFormat(QImage::Format_ARGB32);
    QPainter painter(&holes);
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillRect(100, 100, 500, 300, Qt::transparent);
    painter.end();
    QTest::newRow("RGB") << photo << true;
    QTest::newRow("RGBA, graded alpha") << translucent << true;
    QTest::newRow("RGBA, clear hole") << holes << true;
    QTest::newRow("16-bit RGBA") << translucent.convertToFormat(QImage::Format_RGBA64) << true;
    QTest::newRow("grey") << photo.convertToFormat(QImage::Format_Grayscale8) << true;
    QTest::newRow("16-bit grey") << photo.convertToFormat(QImage::Format_Grayscale16) << true;
    QTest::newRow("palette") << photo.convertToFormat(QImage::Format_Indexed8) << true;
    QTest::newRow("very wide") << scene({ 4000, 60 }) << true;
    // Too small to gain from the route: Qt's reader as before.
    QTest::newRow("small") << scene({ 150, 120 }) << false;
}

void TestThumbnailEngine::pngRowRouteMatchesQt()
{
    QFETCH(QImage, picture);
    QFETCH(bool, rowRoute);
    TestHome home;
    const QString path = home.write(QStringLiteral("p/pic.png"), encode(picture, "PNG"));
    const QSize box(100, 100);
    QImage image;
    QSize upright;
    const PngOutcome outcome = pngThumbnailOfFile(path, box, &image, &upright);
    QCOMPARE(outcome, rowRoute ? PngOutcome::Made : PngOutcome::NotHandled);
    if (!rowRoute)
        return;
    QCOMPARE(upright, picture.size());
    // The reference: the whole picture decoded by Qt, then scaled down by Qt with its alpha
    // premultiplied (Qt's own scaled read samples palettes and averages 16-bit pixels
    // without weighting them by alpha).
    QImage full(path);
    QVERIFY(!full.isNull());
    full.convertTo(full.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    const QImage ref
        = full.scaled(fitInto(full.size(), box), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QCOMPARE(image.size(), ref.size());
    QCOMPARE(image.hasAlphaChannel(), picture.hasAlphaChannel());
    const double diff = differenceWithAlpha(image, ref);
    QVERIFY2(diff < 3.0, qPrintable(QString::number(diff)));
    // The same through the engine, from the file and from memory.
    const ThumbnailResult made = makeThumbnail(path, box);
    QCOMPARE(made.status, int(ThumbnailResult::Made));
    QVERIFY(differenceWithAlpha(made.image, image) < 0.5);
    QVERIFY(differenceWithAlpha(makeThumbnailFromBytes(encode(picture, "PNG"), box), image) < 0.5);
}

void TestThumbnailEngine::pngOwnDecoderIsExact_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<bool>("alpha");
    QTest::addColumn<int>("filter"); // 0..4, or -1 for each in turn by row
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("chunkSize");
    const char* names[] = { "None", "Sub", "Up", "Average", "Paeth" };
    for (const bool alpha : { false, true }) {
        const char* kind = alpha ? "RGBA" : "RGB";
        for (int filter = 0; filter <= 4; ++filter)
            QTest::addRow("%s, %s", kind, names[filter]) << QSize(302, 198) << alpha << filter << 6 << 65536;
        QTest::addRow("%s, mixed, stored", kind) << QSize(302, 198) << alpha << -1 << 0 << 65536;
        QTest::addRow("%s, mixed, IDAT of 7 bytes", kind) << QSize(302, 198) << alpha << -1 << 9 << 7;
        QTest::addRow("%s, 2 x 2", kind) << QSize(2, 2) << alpha << 4 << 6 << 65536;
        QTest::addRow("%s, 14 x 6", kind) << QSize(14, 6) << alpha << -1 << 6 << 1;
        // Stored data is inflated as it is read, more rows than one call takes (256 KiB), so
        // that rows meet across batches; compressed data is inflated whole.
        QTest::addRow("%s, tall, stored", kind) << QSize(1800, 160) << alpha << -1 << 0 << 65536;
        QTest::addRow("%s, tall, compressed", kind) << QSize(1800, 160) << alpha << -1 << 6 << 65536;
    }
}

// 8-bit RGB and RGBA are inflated and unfiltered here rather than by libpng: with a picture of
// exactly twice the thumbnail's size every pixel of the thumbnail is the mean of four, so one
// wrong byte anywhere shows.
void TestThumbnailEngine::pngOwnDecoderIsExact()
{
    QFETCH(QSize, size);
    QFETCH(bool, alpha);
    QFETCH(int, filter);
    QFETCH(int, level);
    QFETCH(int, chunkSize);
    const QImage picture = noisyPicture(size, alpha);
    const QByteArray png = filteredPng(
        picture, [&](int y) { return filter >= 0 ? filter : y % 5; }, level, chunkSize);
    // The file itself is sound: libpng (through Qt) reads back the very pixels.
    QImage full = QImage::fromData(png, "PNG");
    QVERIFY(!full.isNull());
    full.convertTo(picture.format());
    QCOMPARE(full, picture);

    const QImage expected = halved(picture);
    const QSize box = size / 2;
    QImage image;
    QCOMPARE(makePngThumbnailFromMemory(
                 reinterpret_cast<const uchar*>(png.constData()), size_t(png.size()), box, &image),
        PngOutcome::Made);
    QCOMPARE(image.size(), expected.size());
    QCOMPARE(image.hasAlphaChannel(), alpha);
    QCOMPARE(largestDifference(image, expected), 0);
    // From a file, read in blocks.
    TestHome home;
    const QString path = home.write(QStringLiteral("p/pic.png"), png);
    QImage fromFile;
    QSize upright;
    const PngOutcome outcome = pngThumbnailOfFile(path, box, &fromFile, &upright);
    QCOMPARE(outcome, PngOutcome::Made);
    QCOMPARE(upright, size);
    QCOMPARE(largestDifference(fromFile, expected), 0);
}

// A picture whose every thumbnail pixel takes more rows than 32-bit column sums hold.
void TestThumbnailEngine::pngLongColumnsDoNotOverflow()
{
    QImage picture(2, 140000, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < 2; ++x)
            picture.setPixel(x, y, y < 70000 ? qRgba(255, 255, 255, 255) : qRgba(0, 0, 0, 255));
    const QByteArray png = filteredPng(
        picture, [](int) { return 2; }, 6, 65536);
    QImage image;
    QCOMPARE(makePngThumbnailFromMemory(
                 reinterpret_cast<const uchar*>(png.constData()), size_t(png.size()), { 1, 1 }, &image),
        PngOutcome::Made);
    QCOMPARE(image.size(), QSize(1, 1));
    QCOMPARE(image.pixel(0, 0), qRgba(128, 128, 128, 255));
}

// An RGB file with a colour key (tRNS) leaves the program's decoder for libpng's, which makes
// the key's pixels transparent; a chunk whose name is not four letters makes it unreadable,
// as libpng has it.
void TestThumbnailEngine::pngColourKeyAndBadChunkNames()
{
    QImage picture = noisyPicture({ 302, 198 }, false);
    const QRgb key = qRgb(10, 20, 30);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < 60; ++x)
            picture.setPixel(x, y, key);
    const QByteArray keyChunk = pngChunk("tRNS", QByteArray("\0\x0a\0\x14\0\x1e", 6));
    const QByteArray png = filteredPng(
        picture, [](int y) { return y % 5; }, 6, 65536, keyChunk);
    QImage expected = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x)
            if (expected.pixel(x, y) == key)
                expected.setPixel(x, y, qRgba(10, 20, 30, 0));
    QImage image;
    QCOMPARE(makePngThumbnailFromMemory(
                 reinterpret_cast<const uchar*>(png.constData()), size_t(png.size()), { 151, 99 }, &image),
        PngOutcome::Made);
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(5, 50)), 0);
    QCOMPARE(largestDifference(image, halved(expected)), 0);

    const QByteArray badName = filteredPng(
        picture, [](int) { return 0; }, 6, 65536, pngChunk("t3Xt", "x"));
    QCOMPARE(makePngThumbnailFromMemory(reinterpret_cast<const uchar*>(badName.constData()),
                 size_t(badName.size()), { 151, 99 }, &image),
        PngOutcome::Unreadable);
    // The same with a sound ancillary chunk is read.
    const QByteArray text = filteredPng(
        picture, [](int) { return 0; }, 6, 65536, pngChunk("tEXt", "a\0b"));
    QCOMPARE(makePngThumbnailFromMemory(
                 reinterpret_cast<const uchar*>(text.constData()), size_t(text.size()), { 151, 99 }, &image),
        PngOutcome::Made);
    QVERIFY(!image.hasAlphaChannel());
}

void TestThumbnailEngine::pipelineKeepsOrderPastASlowFile()
{
    QStringList paths;
    for (int i = 0; i < 20; ++i)
        paths.append(QString::number(i));
    std::mutex mutex;
    QStringList finished;
    std::atomic<int> othersDone { 0 };
    std::atomic<int> idles { 0 };
    ThumbnailPipeline pipeline(paths, 3, 8, [&](const QString& path, const std::atomic<bool>*) {
        // The first file is slow until six others are done and the waiting side has idled
        // three times: counted, not timed. The deadline only ends a pipeline that hangs.
        if (path == QLatin1String("0")) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while ((othersDone.load() < 6 || idles.load() < 3) && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            ++othersDone;
        }
        std::lock_guard lock(mutex);
        finished.append(path);
        ThumbnailResult r;
        r.path = path;
        r.status = ThumbnailResult::Made;
        return r;
    });
    QStringList delivered;
    for (int i = 0; i < pipeline.size(); ++i)
        delivered.append(pipeline.takeNext([&] { ++idles; }, 5).path);
    QCOMPARE(delivered, paths);
    // The others went on while the first file was slow, and the waiting side kept idling.
    QVERIFY(finished.indexOf(QStringLiteral("0")) > 5);
    QVERIFY(idles.load() >= 3);
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

void TestThumbnailEngine::pipelineAbandonsADecodeThatWillNotStop()
{
    // The first file's decode ignores the stop and blocks until the end of the test (or the
    // hang guard, 30 s on): the waiting side must neither wait for it nor join its worker.
    auto gate = std::make_shared<QSemaphore>(0);
    QSemaphore done;
    std::thread guard([gate, &done] {
        done.tryAcquire(1, 30000);
        gate->release(100);
    });
    int timerEvents = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++timerEvents; });
    timer.start(0);
    const QStringList paths { QStringLiteral("blocked"), QStringLiteral("b"), QStringLiteral("c") };
    int passes = 0;
    int workersLeft = 0;
    {
        ThumbnailPipeline pipeline(paths, 2, 4, [gate](const QString& path, const std::atomic<bool>*) {
            if (path == QLatin1String("blocked"))
                gate->acquire();
            ThumbnailResult r;
            r.path = path;
            r.status = ThumbnailResult::Made;
            return r;
        });
        const ThumbnailResult r = pipeline.takeNext(
            [&] {
                QCoreApplication::processEvents();
                if (++passes == 20)
                    pipeline.stop(); // Esc, seen in an event pass
            },
            1);
        QCOMPARE(passes, 20); // returned at the first pass after the stop
        QCOMPARE(r.path, QStringLiteral("blocked"));
        QCOMPARE(r.status, int(ThumbnailResult::Unreadable));
        QVERIFY(r.image.isNull());
        QCOMPARE(pipeline.takeNext({}).status, int(ThumbnailResult::Unreadable)); // no wait once stopped
    } // destroyed with its worker still blocked
    workersLeft = ThumbnailPipeline::workersStillRunning();
    const int before = timerEvents;
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    QVERIFY(timerEvents > before + 10); // the event loop runs on meanwhile
    QVERIFY(timerEvents > 20);
    QVERIFY2(workersLeft >= 1, "the blocked worker was waited for");
    done.release();
    guard.join();
    QTRY_COMPARE_WITH_TIMEOUT(ThumbnailPipeline::workersStillRunning(), 0, 30000);
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
    QVERIFY(cache.store(pic, qint64(st.st_mtime), qint64(st.st_size), { 400, 300 }, other));
    QList<ThumbnailResult> r = browseAll(browser, dir);
    QCOMPARE(r[0].image.size(), QSize(100, 75));
    QCOMPARE(centre(r[0].image), QColor(Qt::green));
    // So is one that records no size, as the size is optional.
    QVERIFY(cache.store(pic, qint64(st.st_mtime), -1, { 400, 300 }, other));
    QVERIFY(QImage(cache.entryPath(pic)).text(QStringLiteral("Thumb::Size")).isEmpty());
    QCOMPARE(centre(browseAll(browser, dir)[0].image), QColor(Qt::green));

    // Stale: another file of the same name and second (its size differs), or the file changed
    // since the entry was made; decoded afresh and the entry replaced.
    QVERIFY(cache.store(pic, qint64(st.st_mtime), qint64(st.st_size) + 1, { 400, 300 }, other));
    r = browseAll(browser, dir);
    QVERIFY(centre(r[0].image).red() > 200);
    QCOMPARE(QImage(cache.entryPath(pic)).text(QStringLiteral("Thumb::Size")), QString::number(st.st_size));
    QVERIFY(cache.store(pic, qint64(st.st_mtime) - 100, qint64(st.st_size), { 400, 300 }, other));
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
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({ "a.jpg" }));
    QCOMPARE(QDir(root + QStringLiteral("/normal")).entryList(QDir::Files | QDir::Hidden).size(), 1);

    // Reading only: the entry is used, a stale one is not rewritten.
    browser.setCacheWriting(false);
    QVERIFY(cache.store(pic, qint64(st.st_mtime) - 5, qint64(st.st_size), { 400, 300 }, other));
    r = browseAll(browser, dir);
    QVERIFY(centre(r[0].image).red() > 200);
    QCOMPARE(
        QImage(cache.entryPath(pic)).text(QStringLiteral("Thumb::MTime")), QString::number(st.st_mtime - 5));

    // A cache hit leaves the reader limit of the process alone: a picture that Qt's reader
    // decodes whole (interlaced, 22 MiB as 32-bit pixels) still decodes right after one.
    QVERIFY(!cache.lookup(pic, qint64(st.st_mtime) - 5, qint64(st.st_size)).isNull());
    QImage large(2400, 2400, QImage::Format_RGB32);
    large.fill(Qt::darkBlue);
    QString error;
    const QString interlaced
        = home.write(QStringLiteral("big interlaced.png"), writeInterlacedPng(large, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const ThumbnailResult big = makeThumbnail(interlaced, { 100, 100 });
    QCOMPARE(big.status, int(ThumbnailResult::Made));
    QCOMPARE(big.image.size(), QSize(100, 100));
}

namespace {

// An entry as other programs keep them, in any size folder ("large" …).
void writeEntry(const QString& path, const QString& uriOf, qint64 mtime, QColor colour, int side)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QImage entry(side, side, QImage::Format_RGB32);
    entry.fill(colour);
    entry.setText(QStringLiteral("Thumb::URI"), QString::fromLatin1(ThumbnailCache::fileUri(uriOf)));
    entry.setText(QStringLiteral("Thumb::MTime"), QString::number(mtime));
    entry.setText(QStringLiteral("Software"), QStringLiteral("another viewer"));
    QVERIFY(entry.save(path, "png"));
}

QString inFolder(const QString& normalEntry, const QString& folder)
{
    QString path = normalEntry;
    return path.replace(QStringLiteral("/normal/"), u'/' + folder + u'/');
}

} // namespace

// What the program does to a file, its cache entries follow: a deleted file's go, a renamed
// file's move with their URI rewritten, and what was kept for the new name goes.
void TestThumbnailEngine::cacheEntriesFollowTheFile()
{
    TestHome home;
    home.makeDir(QStringLiteral("pics"));
    const QString root = home.home() + QStringLiteral("/cache/thumbnails");
    const ThumbnailCache cache(root);
    const QString a = home.write(QStringLiteral("pics/写真 a.jpg"), pictures::jpeg({ 40, 30 }, Qt::red));
    const QString b = home.home() + QStringLiteral("/pics/b.jpg");
    const QString other = home.write(QStringLiteral("pics/other.jpg"), pictures::jpeg({ 40, 30 }));
    struct stat st;
    QVERIFY(::stat(QFile::encodeName(a).constData(), &st) == 0);
    const qint64 mtime = qint64(st.st_mtime);

    QVERIFY(cache.store(a, mtime, qint64(st.st_size), { 40, 30 }, QImage(40, 30, QImage::Format_RGB32)));
    writeEntry(inFolder(cache.entryPath(a), QStringLiteral("large")), a, mtime, Qt::red, 256);
    // An x-large entry made from an older version of the file is not carried.
    writeEntry(inFolder(cache.entryPath(a), QStringLiteral("x-large")), a, mtime - 60, Qt::red, 512);
    writeEntry(inFolder(cache.entryPath(a), QStringLiteral("fail/another-1.0")), a, mtime, Qt::red, 1);
    // Left for the new name by a file that is gone: it showed another picture.
    writeEntry(inFolder(cache.entryPath(b), QStringLiteral("large")), b, mtime, Qt::green, 256);
    writeEntry(inFolder(cache.entryPath(b), QStringLiteral("xx-large")), b, mtime, Qt::green, 1024);
    QVERIFY(cache.store(other, mtime, 1, { 40, 30 }, QImage(40, 30, QImage::Format_RGB32)));
    const QStringList kept = { cache.entryPath(other) };

    QVERIFY(QFile::rename(a, b));
    cache.carry(a, b);
    for (const char* folder : { "normal", "large", "x-large", "xx-large", "fail/another-1.0" })
        QVERIFY2(!QFileInfo::exists(inFolder(cache.entryPath(a), folder)), qPrintable(folder));
    QSize original;
    const QImage normal = cache.lookup(b, mtime, qint64(st.st_size), &original);
    QVERIFY(!normal.isNull());
    QCOMPARE(original, QSize(40, 30));
    const QImage large(inFolder(cache.entryPath(b), QStringLiteral("large")));
    QCOMPARE(large.text(QStringLiteral("Thumb::URI")), QString::fromLatin1(ThumbnailCache::fileUri(b)));
    QCOMPARE(large.text(QStringLiteral("Software")), QStringLiteral("another viewer"));
    QCOMPARE(QColor(large.pixel(128, 128)), QColor(Qt::red));
    QCOMPARE(QFile::permissions(inFolder(cache.entryPath(b), QStringLiteral("large"))) & 0x0077,
        QFileDevice::Permissions());
    QVERIFY(!QFileInfo::exists(inFolder(cache.entryPath(b), QStringLiteral("x-large"))));
    QVERIFY(!QFileInfo::exists(inFolder(cache.entryPath(b), QStringLiteral("xx-large"))));

    // Deleted: every entry of the file goes, those of other files stay.
    writeEntry(inFolder(cache.entryPath(b), QStringLiteral("fail/another-1.0")), b, mtime, Qt::red, 1);
    QVERIFY(QFile::remove(b));
    cache.forget(b);
    for (const char* folder : { "normal", "large", "fail/another-1.0" })
        QVERIFY2(!QFileInfo::exists(inFolder(cache.entryPath(b), folder)), qPrintable(folder));
    QVERIFY(QFileInfo::exists(cache.entryPath(other)));
    QCOMPARE(QDir(root + QStringLiteral("/normal")).entryList(QDir::Files | QDir::Hidden),
        QStringList { QFileInfo(kept[0]).fileName() });
}

// A carried entry is the same file under its new name (a move of a thousand pictures makes
// and frees no file in the cache); a damaged entry, or one linked from elsewhere, is not
// carried and the other name keeps its bytes.
void TestThumbnailEngine::carriedEntryStaysOneFile()
{
    TestHome home;
    home.makeDir(QStringLiteral("pics"));
    const ThumbnailCache cache(home.home() + QStringLiteral("/cache/thumbnails"));
    auto stored = [&](const QString& name, QColor colour, struct stat* st) {
        const QString path = home.write(QStringLiteral("pics/") + name, pictures::jpeg({ 40, 30 }, colour));
        ::stat(QFile::encodeName(path).constData(), st);
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(colour);
        cache.store(path, qint64(st->st_mtime), qint64(st->st_size), { 40, 30 }, image);
        return path;
    };
    auto inode = [](const QString& path) {
        struct stat st { };
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    auto moved = [&](const QString& from, const QString& name) {
        const QString to = home.home() + QStringLiteral("/pics/") + name;
        return QFile::rename(from, to) ? to : QString();
    };
    struct stat st { };

    const QString a = stored(QStringLiteral("a.jpg"), Qt::blue, &st);
    const ino_t entry = inode(cache.entryPath(a));
    QVERIFY(entry != 0);
    const QString a2 = moved(a, QStringLiteral("長い名前の写真 a2.jpg"));
    cache.carry(a, a2);
    QCOMPARE(inode(cache.entryPath(a2)), entry);
    QVERIFY(!QFileInfo::exists(cache.entryPath(a)));
    const QImage carried = cache.lookup(a2, qint64(st.st_mtime), qint64(st.st_size));
    QCOMPARE(QColor(carried.pixel(20, 15)), QColor(Qt::blue));
    QCOMPARE(carried.text(QStringLiteral("Software")), QStringLiteral("zentovi"));

    // Damaged picture data: the entry goes rather than being carried.
    const QString b = stored(QStringLiteral("b.jpg"), Qt::green, &st);
    QFile damaged(cache.entryPath(b));
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    QByteArray bytes = damaged.readAll();
    const qsizetype data = bytes.indexOf("IDAT");
    QVERIFY(data > 0);
    bytes[data + 6] = char(bytes[data + 6] ^ 0x5a);
    damaged.seek(0);
    damaged.write(bytes);
    damaged.close();
    const QString b2 = moved(b, QStringLiteral("b2.jpg"));
    cache.carry(b, b2);
    QVERIFY(!QFileInfo::exists(cache.entryPath(b)));
    QVERIFY(!QFileInfo::exists(cache.entryPath(b2)));

    // Linked from outside the cache: that name keeps the entry as it was.
    const QString c = stored(QStringLiteral("c.jpg"), Qt::red, &st);
    const QString outside = home.home() + QStringLiteral("/kept.png");
    QVERIFY(::link(QFile::encodeName(cache.entryPath(c)).constData(), QFile::encodeName(outside).constData())
        == 0);
    auto contents = [](const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = contents(outside);
    const QString c2 = moved(c, QStringLiteral("c2.jpg"));
    cache.carry(c, c2);
    QCOMPARE(contents(outside), before);
    QVERIFY(!QFileInfo::exists(cache.entryPath(c)));
    QVERIFY(cache.lookup(c2, qint64(st.st_mtime), qint64(st.st_size)).isNull());
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
    QVERIFY(!QFileInfo::exists(root + QStringLiteral("/normal"))
        || QDir(root + QStringLiteral("/normal")).isEmpty());
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 2);
    // The real test: a temporary folder is writable storage.
    QVERIFY(isOnWritableStorage(dir));
    QVERIFY(!isOnWritableStorage(home.home() + QStringLiteral("/missing")));
}

QTEST_GUILESS_MAIN(TestThumbnailEngine)
#include "tst_thumbnailengine.moc"
