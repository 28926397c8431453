#pragma once

#include <QByteArray>
#include <QImage>

#include <cstddef>

namespace ztv {

// What a browse needs from a JPEG's EXIF block.
struct ExifFacts {
    int orientation = 1;  // 1..8; 1 also for a missing or out-of-range tag
    QByteArray thumbnail; // the embedded JPEG thumbnail, empty when there is none
};

// Reads an APP1 payload (starting with "Exif\0\0"). Never fails: damaged data gives defaults.
ExifFacts readExifFacts(const unsigned char* data, size_t size);

// Turns a picture stored as the camera held it into its upright form (EXIF orientation,
// the same operations Qt's readers apply).
QImage applyExifOrientation(QImage image, int orientation);

// Whether the orientation turns the picture a quarter turn (width and height swap).
inline bool orientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

} // namespace ztv
