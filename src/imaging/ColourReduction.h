#pragma once

#include <QColor>
#include <QImage>

namespace ztv {

// What becomes of transparency when a picture is reduced to a palette.
enum class PaletteAlpha {
    Flatten, // every pixel composited onto the background: an opaque palette
    Binary, // pixels below half alpha share one fully transparent entry; the rest are
            // composited onto the background (GIF can hold nothing in between)
    Full, // entries keep their alpha (PNG with a transparency chunk)
};

// Reduces a picture to an Indexed8 image of at most 256 colours. A picture of 256 colours
// or fewer (after the alpha rule) keeps them exactly; otherwise libimagequant chooses the
// palette and maps the picture with its dithering. A null image when the picture is null or
// libimagequant refuses it (out of memory, too large).
QImage toIndexed8(const QImage& image, PaletteAlpha alpha, const QColor& background = Qt::white);

} // namespace ztv
