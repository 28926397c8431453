#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>

namespace ztv::test {

// Little-endian TIFF bytes, as an EXIF block holds them, starting with the TIFF header.
struct TiffBytes {
    QByteArray bytes { "II*\0", 4 };
    void put16(quint16 v);
    void put32(quint32 v);
};

// The JPEG with tiff inserted as its EXIF block (APP1) right after the start marker.
QByteArray insertExif(QByteArray jpeg, const QByteArray& tiff);

// Inserts an EXIF block right after a JPEG's start marker, as a camera writes it: IFD0 with
// the Orientation tag (0 = none) and, when thumbnailJpeg is not empty, IFD1 pointing at that
// embedded JPEG thumbnail.
QByteArray withExif(QByteArray jpeg, int orientation, const QByteArray& thumbnailJpeg = {});

// The JPEG with an EXIF block holding Orientation (when > 0) and DateTimeOriginal
// ("YYYY:MM:DD HH:MM:SS") in the EXIF directory, as a camera writes the date taken.
QByteArray withExifDate(QByteArray jpeg, int orientation, const QByteArray& taken);

// The picture encoded by Qt's writer for format ("JPEG", "PNG", "WEBP", ...).
QByteArray encodeImage(const QImage& image, const char* format, int quality = 90, bool progressive = false);

// Left half one colour, right half another: after a quarter turn clockwise the left colour is
// on top, so a test sees which way a picture was turned.
QImage halves(QSize size, QColor left = Qt::black, QColor right = Qt::white);

} // namespace ztv::test
