// Writes small valid pictures of every format a browse meets into the given folder (HEIC,
// AVIF and JPEG XL come from Debian's encoders in run.sh).
#include "ExifBuilder.h"
#include "RawBuilder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

QByteArray encode(const QImage& image, const char* format, bool progressive = false)
{
    const QByteArray bytes = ztv::test::encodeImage(image, format, 75, progressive);
    if (bytes.isEmpty())
        std::fprintf(stderr, "cannot write %s\n", format);
    return bytes;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds FOLDER\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QImage picture(24, 16, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    {
        QPainter p(&picture);
        p.fillRect(0, 0, 12, 16, Qt::red);
        p.fillRect(12, 4, 12, 8, QColor(0, 0, 255, 128));
    }
    const QImage opaque = picture.convertToFormat(QImage::Format_RGB32);
    static const unsigned char gif[]
        = { 'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0x21, 0xF9, 4, 1, 0,
              0, 0, 0, 0x2C, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2, 3, 0x44, 0x34, 0x05, 0, 0x3B };
    const std::pair<const char*, QByteArray> seeds[] = {
        { "seed.bmp", encode(opaque, "BMP") },
        { "seed.jpg", encode(opaque, "JPEG") },
        { "seed-progressive.jpg", encode(opaque.scaled(160, 120), "JPEG", true) },
        { "seed-exif6.jpg",
            ztv::test::withExif(encode(opaque, "JPEG"), 6, encode(opaque.scaled(12, 8), "JPEG")) },
        { "seed-grey.jpg", encode(opaque.convertToFormat(QImage::Format_Grayscale8), "JPEG") },
        { "seed.png", encode(picture, "PNG") },
        // Wide enough (for the fuzz target's 100 x 100 box) to take the row-by-row PNG route.
        { "seed-rows.png", encode(picture.scaled(240, 16), "PNG") },
        { "seed-rows-opaque.png", encode(opaque.scaled(240, 16), "PNG") },
        // Stored (quality 100: no compression), which is inflated as it is read rather than whole.
        { "seed-rows-stored.png", ztv::test::encodeImage(opaque.scaled(240, 16), "PNG", 100, false) },
        // A 3:2 picture whose EXIF thumbnail is 4:3 with black bars top and bottom.
        { "seed-letterbox.jpg",
            [&] {
                QImage thumb(160, 120, QImage::Format_RGB32);
                thumb.fill(Qt::black);
                QPainter(&thumb).drawImage(0, 7, opaque.scaled(160, 107));
                return ztv::test::withExif(encode(opaque.scaled(300, 200), "JPEG"), 1, encode(thumb, "JPEG"));
            }() },
        { "seed.gif", QByteArray(reinterpret_cast<const char*>(gif), sizeof gif) },
        { "seed.webp", encode(picture, "WEBP") },
        { "seed.tif", encode(picture, "TIFF") },
        { "seed-preview.dng",
            [&] {
                ztv::test::DngSpec spec;
                spec.sensorSize = { 24, 16 };
                spec.previewJpeg = encode(opaque, "JPEG");
                spec.previewSize = opaque.size();
                spec.orientation = 6;
                return ztv::test::dng(spec);
            }() },
        { "seed-sensor.dng", ztv::test::dng(ztv::test::DngSpec { { 24, 16 }, {}, {}, 3, 0, 0, -1 }) },
    };
    int written = 0;
    for (const auto& [name, bytes] : seeds) {
        QFile file(out + QLatin1Char('/') + QLatin1String(name));
        if (!bytes.isEmpty() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
            ++written;
    }
    std::printf("%d seeds in %s\n", written, qPrintable(out));
    return written == int(std::size(seeds)) ? 0 : 1;
}
