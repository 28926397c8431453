#include "imaging/PictureEncoder.h"

#include "imaging/ColourReduction.h"
#include "imaging/GifWriter.h"
#include "imaging/PngWriter.h"
#include "imaging/texts.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <cmath>

namespace ztv {

QImage flattenOnto(const QImage& image, const QColor& background)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.setDevicePixelRatio(image.devicePixelRatio());
    flat.fill(background.rgb());
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();
    return flat;
}

QSize fittedSize(QSize source, QSizeF box)
{
    if (source.isEmpty())
        return source;
    const double w = box.width() > 0 ? box.width() : 0, h = box.height() > 0 ? box.height() : 0;
    double scale = 1;
    if (w > 0 && h > 0)
        scale = std::min(w / source.width(), h / source.height());
    else if (w > 0)
        scale = w / source.width();
    else if (h > 0)
        scale = h / source.height();
    else
        return source;
    // A smaller picture keeps its own size: enlarging adds nothing but blur.
    scale = std::min(scale, 1.0);
    // Clamp before converting, so an absurd box cannot overflow the integer size.
    const double limit = 1e6;
    return QSize(int(std::clamp(std::round(source.width() * scale), 1.0, limit)),
        int(std::clamp(std::round(source.height() * scale), 1.0, limit)));
}

EncodeResult encodePicture(const QImage& source, const SaveOptions& options)
{
    auto fail = [](const char16_t* why) { return EncodeResult { {}, QString::fromUtf16(why) }; };
    if (source.isNull())
        return fail(texts::imaging::NoPictureToSave);
    const formats::FormatInfo* info = formats::formatInfo(options.format);
    if (!info)
        return fail(texts::imaging::UnknownFormat);
    const int bits = formats::resolveBits(*info, options.bits);
    if (bits == 0)
        return fail(texts::imaging::UnsupportedBits);

    const QSize size = fittedSize(source.size(), options.box);
    if (size.width() > kMaxEncodeSide || size.height() > kMaxEncodeSide
        || qint64(size.width()) * size.height() > kMaxEncodePixels)
        return fail(texts::imaging::PictureTooLarge);
    QImage image = size == source.size()
        ? source
        : source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (image.isNull())
        return fail(texts::imaging::PictureTooLarge);
    const bool keepAlpha = options.keepTransparency && info->canKeepAlpha;

    if (info->code == formats::Gif) {
        EncodeResult result;
        const QImage indexed
            = toIndexed8(image, keepAlpha ? PaletteAlpha::Binary : PaletteAlpha::Flatten, options.background);
        if (indexed.isNull())
            return fail(texts::imaging::PictureTooLarge); // out of memory
        result.bytes = writeGif(indexed, options.interlaced && info->canInterlace, keepAlpha, &result.error);
        return result;
    }

    if (bits == 8) {
        image = toIndexed8(image, keepAlpha ? PaletteAlpha::Full : PaletteAlpha::Flatten, options.background);
        // Qt stores a palette of 16 colours or fewer in 4 bits per pixel; a full table keeps
        // the 8-bit file the dialog offered.
        if (!image.isNull() && info->code == formats::Bmp && image.colorCount() < 256) {
            QList<QRgb> table = image.colorTable();
            table.resize(256, qRgb(0, 0, 0));
            image.setColorTable(table);
        }
    } else if (bits == 1) {
        image
            = flattenOnto(image, options.background).convertToFormat(QImage::Format_Mono, Qt::DiffuseDither);
    } else if (bits == 32) {
        image = (keepAlpha ? image : flattenOnto(image, options.background))
                    .convertToFormat(QImage::Format_ARGB32);
    } else {
        image = flattenOnto(image, options.background);
    }
    if (image.isNull())
        return fail(texts::imaging::PictureTooLarge); // out of memory

    EncodeResult result;
    if (info->code == formats::Png && options.interlaced) {
        result.bytes = writeInterlacedPng(image, &result.error);
        return result;
    }
    QBuffer buffer(&result.bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, info->qtFormat);
    if (info->hasQuality) {
        const bool valid = options.quality >= 1 && options.quality <= 100;
        writer.setQuality(valid ? options.quality : formats::DefaultJpegQuality);
        writer.setOptimizedWrite(true);
        writer.setProgressiveScanWrite(options.interlaced);
    }
    if (!writer.write(image)) {
        result.bytes.clear();
        result.error = QString::fromUtf16(texts::imaging::EncodeFailed) + writer.errorString();
    }
    return result;
}

} // namespace ztv
