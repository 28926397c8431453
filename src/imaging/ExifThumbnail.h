#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QImage>

#include <cstddef>

namespace ztv {

// What a browse needs from a JPEG's EXIF block.
struct ExifFacts {
    int orientation = 1; // 1..8; 1 also for a missing or out-of-range tag
    QByteArray thumbnail; // the embedded JPEG thumbnail, empty when there is none
};

// Reads an APP1 payload (starting with "Exif\0\0"). Never fails: damaged data gives defaults.
ExifFacts readExifFacts(const unsigned char* data, size_t size);

// The DateTimeOriginal tag of an APP1 payload ("Exif\0\0" first), read as local time; invalid
// when the block holds none or it does not read as a date.
QDateTime readExifDateTaken(const unsigned char* data, size_t size);
// The same for an open file: the EXIF block of a JPEG or a HEIF file, or the first directories
// of a TIFF-based file (camera RAW). Reads from offset 0 without moving the file offset.
QDateTime readFileDateTaken(int fd);

// Turns a picture stored as the camera held it into its upright form (EXIF orientation,
// the same operations Qt's readers apply).
QImage applyExifOrientation(QImage image, int orientation);

// The picture inside an embedded thumbnail whose shape differs from the main picture's
// (mainSize, stored frame) because the camera put it between uniform bars of one colour, top
// and bottom or left and right. Null when the edges the shape difference needs are not such
// bars (they are picture), or when the shapes already agree.
QImage cropUniformBars(const QImage& thumbnail, QSize mainSize);

// Whether the orientation turns the picture a quarter turn (width and height swap).
inline bool orientationSwapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

} // namespace ztv
