#pragma once

#include <QImage>
#include <QSize>

class QIODevice;

#include <atomic>
#include <cstddef>

namespace ztv {

enum class PngOutcome {
    Made, // the thumbnail is in *out
    Unreadable, // damaged, truncated, or claims more than a decoder may spend
    NotHandled, // not for this route: not a PNG, interlaced, with EXIF data, or too small to gain
};

// Large non-interlaced PNGs unfiltered one row at a time and averaged straight into the
// fitted size, so the full-size picture is never held (except compressed 8-bit RGB or RGBA
// data under 96 MiB, inflated whole); 8-bit RGB and RGBA are read here, other kinds through
// libpng. Reads the open file from offset 0 (the offset is left anywhere); stop, when set,
// abandons the decode early. *upright, when given, receives the picture's size.
PngOutcome makePngThumbnail(
    int fd, QSize box, QImage* out, QSize* upright = nullptr, const std::atomic<bool>* stop = nullptr);

// The same from bytes in memory (the fuzz target's entry).
PngOutcome makePngThumbnailFromMemory(const unsigned char* data, size_t size, QSize box, QImage* out);

// Whether every chunk of a PNG, up to IEND, lies within its bytes, from the chunks' headers
// alone. libpng (Qt's reader included) allocates what a chunk claims before it finds the data
// cut short, so a 44-byte file claiming a 2 GiB text chunk costs 2 GiB; such a file is refused
// before any reader sees it. True for data that is not a PNG. The device's position is kept.
bool pngChunksFit(int fd);
bool pngChunksFit(const unsigned char* data, size_t size);
bool pngChunksFit(QIODevice* device);

} // namespace ztv
