#include "imaging/GifWriter.h"

#include "imaging/ColourReduction.h"
#include "imaging/PictureEncoder.h"
#include "imaging/texts.h"

#include <gif_lib.h>
#include <vector>

namespace ztv {

namespace {

int appendOutput(GifFileType* gif, const GifByteType* data, int length)
{
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

// Rows in the order an interlaced GIF stores them: every 8th from 0, every 8th from 4,
// every 4th from 2, every 2nd from 1.
std::vector<int> rowOrder(int height, bool interlaced)
{
    std::vector<int> rows;
    rows.reserve(size_t(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    constexpr int start[] = { 0, 4, 2, 1 }, step[] = { 8, 8, 4, 2 };
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass])
            rows.push_back(y);
    return rows;
}

} // namespace

QByteArray writeGif(const QImage& image, bool interlaced, bool keepTransparency, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return QByteArray();
    };
    if (image.isNull())
        return fail(QString::fromUtf16(texts::imaging::NoPictureToSave));
    if (image.width() > 65535 || image.height() > 65535 || image.width() > kMaxEncodeSide
        || image.height() > kMaxEncodeSide || qint64(image.width()) * image.height() > kMaxEncodePixels)
        return fail(QString::fromUtf16(texts::imaging::PictureTooLarge));

    const QImage indexed = image.format() == QImage::Format_Indexed8
        ? image
        : toIndexed8(image, keepTransparency ? PaletteAlpha::Binary : PaletteAlpha::Flatten);
    if (indexed.isNull())
        return fail(QString::fromUtf16(texts::imaging::PictureTooLarge));
    const QList<QRgb> table = indexed.colorTable();
    int transparent = -1;
    for (int i = 0; i < table.size(); ++i)
        if (qAlpha(table[i]) == 0)
            transparent = i;

    // Always a full table: the file is the 8-bit GIF the save dialog offers, however few
    // colours the picture has.
    const int size = 256;
    std::vector<GifColorType> colours(size_t(size), GifColorType { 0, 0, 0 });
    for (int i = 0; i < table.size(); ++i)
        colours[size_t(i)] = GifColorType { GifByteType(qRed(table[i])), GifByteType(qGreen(table[i])),
            GifByteType(qBlue(table[i])) };

    QByteArray out;
    int code = 0;
    GifFileType* gif = EGifOpen(&out, appendOutput, &code);
    if (!gif)
        return fail(
            QString::fromUtf16(texts::imaging::EncodeFailed) + QString::fromLatin1(GifErrorString(code)));
    ColorMapObject* map = GifMakeMapObject(size, colours.data());
    bool ok = map != nullptr;
    if (ok && transparent >= 0) {
        EGifSetGifVersion(gif, true);
        GraphicsControlBlock gcb {};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.DelayTime = 0;
        gcb.TransparentColor = transparent;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        ok = EGifPutScreenDesc(gif, indexed.width(), indexed.height(), 8, 0, map) == GIF_OK
            && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK;
    } else if (ok) {
        ok = EGifPutScreenDesc(gif, indexed.width(), indexed.height(), 8, 0, map) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, indexed.width(), indexed.height(), interlaced, nullptr) == GIF_OK;
    // giflib takes non-const lines; copy each so the picture is never written through.
    std::vector<GifPixelType> line(size_t(indexed.width()));
    for (int y : rowOrder(ok ? indexed.height() : 0, interlaced)) {
        const uchar* src = indexed.constScanLine(y);
        std::copy(src, src + indexed.width(), line.begin());
        if (EGifPutLine(gif, line.data(), indexed.width()) != GIF_OK) {
            ok = false;
            break;
        }
    }
    if (!ok)
        code = gif->Error;
    int closeCode = 0;
    if (EGifCloseFile(gif, &closeCode) != GIF_OK && ok) {
        ok = false;
        code = closeCode;
    }
    GifFreeMapObject(map);
    if (!ok)
        return fail(
            QString::fromUtf16(texts::imaging::EncodeFailed) + QString::fromLatin1(GifErrorString(code)));
    return out;
}

} // namespace ztv
