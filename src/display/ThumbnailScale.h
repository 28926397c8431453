#pragma once

#include <QImage>
#include <QSize>

namespace ztv {

// Thumbnails are decoded at the screen's pixel density and shown at their logical size, so
// they stay sharp at a device pixel ratio of 2.

// The box each picture is fitted into at start, in logical pixels.
inline constexpr QSize kThumbnailBox { 100, 100 };

// The box the decoder fits pictures into for that ratio (the logical box times the ratio).
QSize thumbnailDecodeBox(QSize logicalBox, qreal ratio);

// Marks a decoded thumbnail with the ratio when it was reduced to the decode box, so a list
// shows it at the logical size. A picture smaller than the box was not reduced: it keeps
// ratio 1 and shows as large as it would on a plain screen.
QImage withThumbnailRatio(QImage thumbnail, QSize logicalBox, qreal ratio);

} // namespace ztv
