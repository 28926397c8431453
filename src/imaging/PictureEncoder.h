#pragma once

#include "imaging/PictureFormats.h"

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QSizeF>
#include <QString>

namespace ztv {

// How a picture is written. The extended save of the display fills box and interlaced.
struct SaveOptions {
    int format = formats::Png;
    int bits = 0; // 0: the format's default
    int quality = 0; // JPEG 1..100; anything else gives DefaultJpegQuality
    bool keepTransparency = false; // else transparent areas are flattened onto background
    QColor background = Qt::white;
    QSizeF box; // fit a larger picture into width x height, aspect kept; <= 0: free
    bool interlaced = false; // progressive JPEG, interlaced PNG and GIF
};

struct EncodeResult {
    QByteArray bytes;
    QString error; // empty on success
    bool ok() const { return error.isEmpty(); }
};

// Largest picture the encoders accept (per side and in total), so a mistyped size cannot
// exhaust memory.
inline constexpr int kMaxEncodeSide = 30000;
inline constexpr qint64 kMaxEncodePixels = 64'000'000;

EncodeResult encodePicture(const QImage& image, const SaveOptions& options);

// The picture composited onto an opaque colour (RGB32); opaque pictures come back as RGB32.
QImage flattenOnto(const QImage& image, const QColor& background);

// The size of source fitted into box with its aspect kept; a side <= 0 leaves that side free.
// Never larger than source, never smaller than 1 x 1.
QSize fittedSize(QSize source, QSizeF box);

} // namespace ztv
