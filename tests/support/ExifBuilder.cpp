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

void TiffBytes::put16(quint16 v)
{
    char b[2];
    qToLittleEndian(v, b);
    bytes.append(b, 2);
}

void TiffBytes::put32(quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    bytes.append(b, 4);
}

QByteArray insertExif(QByteArray jpeg, const QByteArray& tiff)
{
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray segment("\xFF\xE1", 2);
    segment.append(char((payload.size() + 2) >> 8));
    segment.append(char((payload.size() + 2) & 0xFF));
    jpeg.insert(2, segment + payload);
    return jpeg;
}

QByteArray withExif(QByteArray jpeg, int orientation, const QByteArray& thumbnailJpeg)
{
    TiffBytes tiff;
    auto entry = [&](quint16 tag, quint16 type, quint32 value) {
        tiff.put16(tag);
        tiff.put16(type);
        tiff.put32(1);
        if (type == 3) {
            tiff.put16(quint16(value));
            tiff.put16(0);
        } else {
            tiff.put32(value);
        }
    };
    const bool withOrientation = orientation > 0;
    const bool withThumb = !thumbnailJpeg.isEmpty();
    const quint32 ifd0Size = 2 + 12 * (withOrientation ? 1 : 0) + 4;
    const quint32 ifd1 = 8 + ifd0Size;
    const quint32 thumbAt = ifd1 + 2 + 12 * 3 + 4;
    tiff.put32(8);
    tiff.put16(withOrientation ? 1 : 0);
    if (withOrientation)
        entry(0x0112, 3, quint32(orientation));
    tiff.put32(withThumb ? ifd1 : 0);
    if (withThumb) {
        tiff.put16(3);
        entry(0x0103, 3, 6); // JPEG compression
        entry(0x0201, 4, thumbAt);
        entry(0x0202, 4, quint32(thumbnailJpeg.size()));
        tiff.put32(0);
        tiff.bytes.append(thumbnailJpeg);
    }
    return insertExif(std::move(jpeg), tiff.bytes);
}

QImage halves(QSize size, QColor left, QColor right)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(right);
    QPainter p(&image);
    p.fillRect(0, 0, size.width() / 2, size.height(), left);
    return image;
}

QByteArray withExifDate(QByteArray jpeg, int orientation, const QByteArray& taken)
{
    TiffBytes tiff;
    const quint16 entries = orientation > 0 ? 2 : 1;
    const quint32 exifIfd = 8 + 2 + 12 * entries + 4;
    tiff.put32(8);
    tiff.put16(entries);
    if (orientation > 0) {
        tiff.put16(0x0112), tiff.put16(3), tiff.put32(1), tiff.put16(quint16(orientation)), tiff.put16(0);
    }
    tiff.put16(0x8769), tiff.put16(4), tiff.put32(1), tiff.put32(exifIfd);
    tiff.put32(0);
    tiff.put16(1);
    tiff.put16(0x9003), tiff.put16(2), tiff.put32(20), tiff.put32(exifIfd + 18);
    tiff.put32(0);
    tiff.bytes.append(taken.leftJustified(19, ' ', true) + '\0');
    return insertExif(std::move(jpeg), tiff.bytes);
}

} // namespace ztv::test
