#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace ztv {

// GIF files through giflib (Qt reads GIF but cannot write it).
// An Indexed8 picture is written with its own palette; any other picture is first reduced
// with toIndexed8 (pixels below half alpha become one transparent entry when
// keepTransparency, else everything is flattened onto white). The colour table always has
// 256 entries. Lines are stored in the four-pass interlaced order when asked.
// Pictures larger than 65535 on a side, or beyond the encoder limits, are refused.
QByteArray writeGif(const QImage& image, bool interlaced, bool keepTransparency, QString* error);

} // namespace ztv
