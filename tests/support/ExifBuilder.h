#pragma once

#include <QByteArray>
#include <QImage>

namespace ztv::test {

// Inserts an EXIF block right after a JPEG's start marker, as a camera writes it: IFD0 with
// the Orientation tag (0 = none) and, when thumbnailJpeg is not empty, IFD1 pointing at that
// embedded JPEG thumbnail.
QByteArray withExif(QByteArray jpeg, int orientation, const QByteArray& thumbnailJpeg = {});

// The picture encoded by Qt's writer for format ("JPEG", "PNG", "WEBP", ...).
QByteArray encodeImage(const QImage& image, const char* format, int quality = 90, bool progressive = false);

} // namespace ztv::test
