#include "display/ThumbnailScale.h"

#include <QtMath>

namespace ztv {

namespace {
qreal sane(qreal ratio)
{
    return ratio >= 1.0 && ratio <= 8.0 ? ratio : 1.0;
}
}

QSize thumbnailDecodeBox(QSize logicalBox, qreal ratio)
{
    const qreal r = sane(ratio);
    return QSize(qCeil(logicalBox.width() * r), qCeil(logicalBox.height() * r));
}

QImage withThumbnailRatio(QImage thumbnail, QSize logicalBox, qreal ratio)
{
    const qreal r = sane(ratio);
    const QSize box = thumbnailDecodeBox(logicalBox, r);
    // The fitted side meets the box; a pixel of rounding is allowed for.
    const bool reduced = thumbnail.width() >= box.width() - 1 || thumbnail.height() >= box.height() - 1;
    thumbnail.setDevicePixelRatio(reduced ? r : 1.0);
    return thumbnail;
}

} // namespace ztv
