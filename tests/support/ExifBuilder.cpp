#include "ExifBuilder.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>

namespace ztv::test {

QByteArray encodeImage(const QImage& image, const char* format, int quality, bool progressive)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QByteArray withExif(QByteArray jpeg, int orientation, const QByteArray& thumbnailJpeg)
{
    QByteArray tiff("II*\0", 4);
    auto put16 = [&](quint16 v) {
        char b[2];
        qToLittleEndian(v, b);
        tiff.append(b, 2);
    };
    auto put32 = [&](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        tiff.append(b, 4);
    };
    auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        put16(tag);
        put16(type);
        put32(1);
        if (type == 3) {
            put16(quint16(value));
            put16(0);
        } else {
            put32(value);
        }
    };
    const bool withOrientation = orientation > 0;
    const bool withThumb = !thumbnailJpeg.isEmpty();
    const quint32 ifd0Size = 2 + 12 * (withOrientation ? 1 : 0) + 4;
    const quint32 ifd1 = 8 + ifd0Size;
    const quint32 thumbAt = ifd1 + 2 + 12 * 3 + 4;
    put32(8);
    put16(withOrientation ? 1 : 0);
    if (withOrientation)
        entry(0x0112, 3, quint32(orientation));
    put32(withThumb ? ifd1 : 0);
    if (withThumb) {
        put16(3);
        entry(0x0103, 3, 6); // JPEG compression
        entry(0x0201, 4, thumbAt);
        entry(0x0202, 4, quint32(thumbnailJpeg.size()));
        put32(0);
        tiff.append(thumbnailJpeg);
    }
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((payload.size() + 2) >> 8));
    segment.append(char((payload.size() + 2) & 0xFF));
    jpeg.insert(2, segment + payload);
    return jpeg;
}

QImage halves(QSize size, QColor left, QColor right)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(right);
    QPainter p(&image);
    p.fillRect(0, 0, size.width() / 2, size.height(), left);
    return image;
}

} // namespace ztv::test
