#include "imaging/ColourReduction.h"

#include <libimagequant.h>

#include <memory>
#include <unordered_map>
#include <vector>

namespace ztv {

namespace {

constexpr QRgb kTransparent = 0; // every pixel that is to be transparent, whatever its colour

struct AttrDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
};
struct ImageDeleter {
    void operator()(liq_image* p) const { liq_image_destroy(p); }
};
struct ResultDeleter {
    void operator()(liq_result* p) const { liq_result_destroy(p); }
};

QRgb over(QRgb pixel, QRgb background)
{
    const int a = qAlpha(pixel);
    auto mix = [a](int top, int bottom) { return (top * a + bottom * (255 - a) + 127) / 255; };
    return qRgb(mix(qRed(pixel), qRed(background)), mix(qGreen(pixel), qGreen(background)),
        mix(qBlue(pixel), qBlue(background)));
}

// The picture as unpremultiplied ARGB32 after the alpha rule: opaque pixels, kTransparent
// for the pixels that are to be transparent and, with Full, the partly transparent ones.
QImage prepare(const QImage& image, PaletteAlpha mode, QRgb background)
{
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull())
        return argb;
    for (int y = 0; y < argb.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(argb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb p = line[x];
            const int a = qAlpha(p);
            if (a == 255)
                continue;
            if (mode == PaletteAlpha::Full)
                line[x] = a == 0 ? kTransparent : p;
            else if (mode == PaletteAlpha::Binary && a < 128)
                line[x] = kTransparent;
            else
                line[x] = over(p, background);
        }
    }
    return argb;
}

// The exact palette of a picture with at most 256 colours; empty when it has more.
QList<QRgb> exactPalette(const QImage& argb)
{
    std::unordered_map<QRgb, int> seen;
    seen.reserve(512);
    QList<QRgb> palette;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        QRgb last = line[0] + 1; // differs from the first pixel
        for (int x = 0; x < argb.width(); ++x) {
            if (line[x] == last)
                continue;
            last = line[x];
            if (seen.emplace(last, int(palette.size())).second) {
                if (palette.size() == 256)
                    return {};
                palette << last;
            }
        }
    }
    return palette;
}

QImage mapExactly(const QImage& argb, const QList<QRgb>& palette)
{
    std::unordered_map<QRgb, uchar> index;
    for (int i = 0; i < palette.size(); ++i)
        index.emplace(palette[i], uchar(i));
    QImage out(argb.size(), QImage::Format_Indexed8);
    if (out.isNull())
        return out;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* line = out.scanLine(y);
        for (int x = 0; x < argb.width(); ++x)
            line[x] = index.at(in[x]);
    }
    out.setColorTable(palette);
    return out;
}

// libimagequant's palette and dithered mapping of the prepared picture.
QImage quantize(const QImage& argb, QList<QRgb>& palette)
{
    QImage rgba = argb.convertToFormat(QImage::Format_RGBA8888);
    QImage out(argb.size(), QImage::Format_Indexed8);
    const std::unique_ptr<liq_attr, AttrDeleter> attr(liq_attr_create());
    if (rgba.isNull() || out.isNull() || !attr || liq_set_max_colors(attr.get(), 256) != LIQ_OK)
        return {};
    std::vector<void*> rows(size_t(rgba.height()));
    std::vector<unsigned char*> outRows(rows.size());
    for (int y = 0; y < rgba.height(); ++y) {
        rows[size_t(y)] = rgba.scanLine(y);
        outRows[size_t(y)] = out.scanLine(y);
    }
    const std::unique_ptr<liq_image, ImageDeleter> input(
        liq_image_create_rgba_rows(attr.get(), rows.data(), rgba.width(), rgba.height(), 0));
    if (!input)
        return {};
    liq_result* raw = nullptr;
    if (liq_image_quantize(input.get(), attr.get(), &raw) != LIQ_OK || !raw)
        return {};
    const std::unique_ptr<liq_result, ResultDeleter> result(raw);
    if (liq_set_dithering_level(result.get(), 1.0f) != LIQ_OK
        || liq_write_remapped_image_rows(result.get(), input.get(), outRows.data()) != LIQ_OK)
        return {};
    // The palette is final only after the mapping.
    const liq_palette* colours = liq_get_palette(result.get());
    palette.clear();
    for (unsigned i = 0; i < colours->count; ++i) {
        const liq_color c = colours->entries[i];
        palette << qRgba(c.r, c.g, c.b, c.a);
    }
    return out;
}

int nearestOpaque(QRgb colour, const QList<QRgb>& palette, int transparent)
{
    int best = -1;
    int bestDistance = 0;
    for (int i = 0; i < palette.size(); ++i) {
        if (i == transparent)
            continue;
        const int dr = qRed(colour) - qRed(palette[i]), dg = qGreen(colour) - qGreen(palette[i]),
                  db = qBlue(colour) - qBlue(palette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (best < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return best;
}

// GIF holds one transparent entry and no partial alpha: the transparent pixels all take the
// most transparent entry, every other entry becomes opaque, and an opaque pixel the
// dithering put on a transparent entry takes its nearest opaque colour instead.
void makeBinary(const QImage& argb, QImage& out, QList<QRgb>& palette)
{
    int transparent = -1;
    for (int i = 0; i < palette.size(); ++i)
        if (qAlpha(palette[i]) < 128
            && (transparent < 0 || qAlpha(palette[i]) < qAlpha(palette[transparent])))
            transparent = i;
    bool anyTransparent = false;
    std::unordered_map<QRgb, uchar> replacement;
    for (int y = 0; y < argb.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        uchar* line = out.scanLine(y);
        for (int x = 0; x < argb.width(); ++x) {
            if (in[x] == kTransparent) {
                anyTransparent = true;
                if (transparent < 0) { // cannot happen with a library that keeps a=0 apart
                    transparent = palette.size() < 256 ? int(palette.size()) : 255;
                    if (transparent == palette.size())
                        palette << kTransparent;
                }
                line[x] = uchar(transparent);
            } else if (qAlpha(palette[line[x]]) < 128 || line[x] == transparent) {
                auto found = replacement.find(in[x]);
                if (found == replacement.end())
                    found
                        = replacement.emplace(in[x], uchar(nearestOpaque(in[x], palette, transparent))).first;
                line[x] = found->second;
            }
        }
    }
    for (int i = 0; i < palette.size(); ++i)
        palette[i] = (anyTransparent && i == transparent) ? kTransparent : (palette[i] | 0xff000000u);
}

} // namespace

QImage toIndexed8(const QImage& image, PaletteAlpha alpha, const QColor& background)
{
    if (image.isNull())
        return {};
    const QRgb bg = background.rgb() | 0xff000000u;
    const QImage argb = prepare(image, image.hasAlphaChannel() ? alpha : PaletteAlpha::Flatten, bg);
    if (argb.isNull())
        return {};
    QList<QRgb> palette = exactPalette(argb);
    QImage out;
    if (!palette.isEmpty()) {
        out = mapExactly(argb, palette);
    } else {
        out = quantize(argb, palette);
        if (!out.isNull() && alpha == PaletteAlpha::Binary && image.hasAlphaChannel())
            makeBinary(argb, out, palette);
    }
    if (out.isNull())
        return out;
    // Viewers that ignore transparency show the transparent entry in the background colour.
    for (QRgb& c : palette)
        if (qAlpha(c) == 0)
            c = bg & 0x00ffffffu;
    out.setColorTable(palette);
    return out;
}

} // namespace ztv
