#pragma once

#include <QColor>
#include <QImage>

namespace ztv {

// Reduces a picture to at most maxColours colours (2..256) as an Indexed8 image. A picture
// that already has few enough colours keeps them exactly; otherwise a median-cut palette is
// made and the picture mapped with Floyd-Steinberg dithering, so photos keep their look.
// With keepTransparency, pixels with alpha below 128 map to one extra, fully transparent
// palette entry (counted within maxColours); every other pixel is composited onto
// background first. A null image when memory runs out.
QImage toIndexed8(const QImage& image, int maxColours = 256, bool keepTransparency = false,
                  const QColor& background = Qt::white);

} // namespace ztv
