#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <atomic>
#include <cstddef>

namespace ztv {

// Picture formats Qt has no reader for on this system, read through their own libraries:
// HEIF (HEIC and AVIF) through libheif, JPEG XL through libjxl, camera RAW through LibRaw.
enum class ExtraFormat {
    None,
    Heif, // HEIC, HEIF and AVIF
    Jxl,
    Raw, // DNG, CR2, CR3, NEF, ARW, ORF, RAF, RW2 and the other TIFF-based camera files
};

// How much of a file's start the recognition wants to see (a TIFF-based RAW file is told
// from a plain TIFF by the tags of its first directory).
inline constexpr size_t ExtraSniffBytes = 64 * 1024;

// Recognises the format from the file's first bytes, whatever its name says.
ExtraFormat sniffExtraFormat(const unsigned char* head, size_t size);
// The same for an open file, read from offset 0 without moving the file offset.
ExtraFormat sniffExtraFormat(int fd);

// The format's key among Qt's image formats ("heif", "jxl", "raw"); empty for None.
QByteArray extraFormatKey(ExtraFormat format);

// Files larger than this are refused: the readers work on the whole file in memory.
inline constexpr qint64 ExtraFileLimit = 256LL * 1024 * 1024;
// Pictures claiming more pixels than this are refused before any decoding (as for JPEG).
inline constexpr qint64 ExtraPixelLimit = 256LL * 1024 * 1024;

// Reads an open file whole from offset 0. False for a file over ExtraFileLimit or a read error.
bool readWholeFile(int fd, QByteArray* out);

struct ExtraRequest {
    // Valid: a picture fitted into this box (upright frame), for which a thumbnail or preview
    // embedded in the file serves when it is at least the fitted size. Empty: the whole picture
    // (for RAW, the largest embedded preview when it is a fair size).
    QSize box;
    // The decoded picture (before any scaling) may not have more pixels than this.
    qint64 maxPixels = ExtraPixelLimit;
    const std::atomic<bool>* stop = nullptr;
};

// Decodes the picture upright (HEIF rotation and mirror properties, JPEG XL and RAW
// orientation). *upright, when given, receives the picture's own size as it stands upright.
// Null when the data is damaged, claims more than the limits, or the decode was stopped.
QImage decodeExtra(ExtraFormat format, const unsigned char* data, size_t size, const ExtraRequest& request,
    QSize* upright = nullptr);

// The picture's upright size from its headers alone; invalid when unreadable.
QSize probeExtra(ExtraFormat format, const unsigned char* data, size_t size);

} // namespace ztv
