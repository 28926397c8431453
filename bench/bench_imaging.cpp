// Figures for the imaging controls: filling a thumbnail list the way a browse run does,
// loading a camera-sized JPEG into a display, and encoding a photo as GIF and PNG.
// Real photographs given after the item count are saved as GIF at their own size and at
// 1920 pixels wide, with the time taken and the PSNR of the GIF against the source.
#include "imaging/GifWriter.h"
#include "imaging/PictureDisplay.h"
#include "imaging/PictureEncoder.h"
#include "imaging/ThumbnailList.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>

using namespace ztv;

static double psnr(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int d[3]
                = { qRed(p[x]) - qRed(q[x]), qGreen(p[x]) - qGreen(q[x]), qBlue(p[x]) - qBlue(q[x]) };
            sum += d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
        }
    }
    return 10 * std::log10(255.0 * 255.0 * 3.0 * a.width() * a.height() / std::max(sum, 1.0));
}

static QImage photoLike(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double fx = double(x) / size.width(), fy = double(y) / size.height();
            line[x] = qRgb(int(255 * fx), int(127.5 + 127.5 * std::sin(6.28 * (fx + fy) + 20 * fx * fy)),
                int(255 * fy * (1 - fx / 2)));
        }
    }
    return image;
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;

    ThumbnailList list;
    list.resize(576, 523);
    list.show();
    QImage thumb(100, 75, QImage::Format_RGB32);
    thumb.fill(Qt::darkCyan);
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        list.AddThumbnail(thumb, QStringLiteral("IMG_%1.JPG").arg(i, 5, 10, QLatin1Char('0')), i);
        list.ScrollToThumbnail(list.ThumbnailCount() - 1);
        QCoreApplication::processEvents();
    }
    const qint64 fill = timer.elapsed();
    timer.restart();
    int hits = 0;
    for (int i = 0; i < 1000; ++i)
        hits += list.HitTest(50 + i % 400, 50 + i % 400) >= 0;
    std::printf("thumbnail list: %d items added, scrolled and repainted in %lld ms (%.1f us/item); "
                "1000 HitTests %lld ms (%d hits)\n",
        count, fill, 1000.0 * fill / count, timer.elapsed(), hits);

    QTemporaryDir dir;
    const QString jpeg = dir.filePath(QStringLiteral("camera.jpg"));
    photoLike({ 6000, 4000 }).save(jpeg, "JPEG", 90);
    PictureDisplay display;
    display.resize(189, 177);
    timer.restart();
    const bool loaded = display.LoadPicture(jpeg);
    std::printf("display: 6000 x 4000 JPEG loaded as %d x %d in %lld ms (%s)\n", display.picture().width(),
        display.picture().height(), timer.elapsed(), loaded ? "ok" : "failed");

    const QImage photo = photoLike({ 3000, 2000 });
    for (int format : { formats::Gif, formats::Png }) {
        SaveOptions options;
        options.format = format;
        options.bits = format == formats::Png ? 8 : 0;
        timer.restart();
        const EncodeResult r = encodePicture(photo, options);
        std::printf("encode 3000 x 2000 photo as %s 8 bits: %lld ms, %lld bytes\n",
            formats::formatInfo(format)->name, timer.elapsed(), qint64(r.bytes.size()));
    }
    for (int i = 2; i < argc; ++i) {
        const QImage photo = QImage(QString::fromLocal8Bit(argv[i])).convertToFormat(QImage::Format_RGB32);
        if (photo.isNull()) {
            std::printf("%s: not a picture\n", argv[i]);
            continue;
        }
        for (const QImage& source : { photo, photo.scaledToWidth(1920, Qt::SmoothTransformation) }) {
            SaveOptions options;
            options.format = formats::Gif;
            timer.restart();
            const EncodeResult r = encodePicture(source, options);
            const qint64 ms = timer.elapsed();
            const QImage back = QImage::fromData(r.bytes, "GIF").convertToFormat(QImage::Format_RGB32);
            std::printf("GIF of %s %d x %d: %lld ms, PSNR %.2f dB, %lld bytes\n", argv[i], source.width(),
                source.height(), ms, back.isNull() ? 0.0 : psnr(source, back), qint64(r.bytes.size()));
        }
    }
    return 0;
}
