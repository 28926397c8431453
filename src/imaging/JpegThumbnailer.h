#pragma once

#include <QImage>
#include <QSize>

#include <atomic>

namespace ztv {

enum class JpegOutcome {
    Made, // the thumbnail is in *out
    Unreadable, // damaged, or claims more than a decoder may spend
    NotHandled, // not for this route (not a JPEG, or a colour space it leaves to Qt)
};

// JPEG thumbnails the fast way: the embedded EXIF thumbnail when it is sound (a JPEG at
// least as large as the target and within 3% of the picture's aspect ratio, or holding a
// picture of that size and shape between uniform bars), else a
// DCT-scaled decode (for progressive files only the first DC scans when 1/8 scale is enough).
// The main picture's orientation is applied either way. Reads the open file from offset 0;
// stop, when set, abandons the decode early.
// *upright, when given, receives the picture's own size as it stands upright; *fromExif
// whether the embedded thumbnail was used.
JpegOutcome makeJpegThumbnail(int fd, QSize box, QImage* out, QSize* upright = nullptr,
    const std::atomic<bool>* stop = nullptr, bool* fromExif = nullptr);

// The same from bytes in memory (the fuzz target's entry). Without ownOrientation the
// picture's own EXIF orientation is not applied (a camera RAW's preview, which the RAW's own
// orientation turns instead).
JpegOutcome makeJpegThumbnailFromMemory(const unsigned char* data, size_t size, QSize box, QImage* out,
    bool ownOrientation = true, const std::atomic<bool>* stop = nullptr);

// Whether a full decode of the open JPEG may go ahead, read from its header alone within the
// same read budget: Unreadable when the header cannot be read so, when it claims more pixels
// than the limit below or, for a progressive file, coefficients of more than coefficientBytes
// (they all stay in memory however small the output). NotHandled for anything not a JPEG,
// Made when the decode may go ahead. A JPEG is left at offset 0, anything else untouched.
JpegOutcome checkJpegForDecode(int fd, qint64 coefficientBytes);

// Pictures claiming more pixels than this are refused before any decoding.
inline constexpr qint64 JpegPixelLimit = 256LL * 1024 * 1024;

} // namespace ztv
