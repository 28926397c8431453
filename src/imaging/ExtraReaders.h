#pragma once

// The per-library readers behind decodeExtra (ExtraFormats.h); not for use elsewhere.
#include "ExtraFormats.h"

namespace ztv::extra {

// Each decodes the picture upright, or with probeOnly just fills *upright from the headers.
QImage decodeHeif(
    const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright, bool probeOnly);
// The same from an open file, read on demand: only the boxes and the image chosen are read.
QImage decodeHeifFile(int fd, const ExtraRequest& request, QSize* upright);
// The primary image's EXIF block as an APP1 payload ("Exif\0\0" and the TIFF data); empty
// when it has none.
QByteArray heifExifBlock(int fd);
QImage decodeJxl(
    const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright, bool probeOnly);
QImage decodeRaw(
    const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright, bool probeOnly);

// Scales a decoded picture into the request's box (nothing for a whole-picture request).
QImage fitToRequest(QImage image, const ExtraRequest& request);

// Whether an embedded picture of size `embedded` can stand in for one of size `main` fitted
// into box: at least as large as the fitted size and of the same shape within 3%.
bool embeddedServes(QSize embedded, QSize main, QSize box);

inline bool stopped(const ExtraRequest& request)
{
    return request.stop && request.stop->load(std::memory_order_relaxed);
}

} // namespace ztv::extra
