#include "imaging/Quantizer.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <vector>

namespace ztv {

namespace {

// One occupied cell of the 5-bit-per-channel histogram.
struct Bin {
    std::array<quint8, 3> cell; // 0..31 per channel
    quint64 sum[3];
    double sumSquares[3];
    quint64 count;
};

struct Box {
    int begin, end; // range in the bin vector
    quint64 population;
    int channel;  // the channel whose squared error is largest
    double error; // that squared error
    double mean;  // that channel's mean
};

Box makeBox(const std::vector<Bin>& bins, int begin, int end)
{
    Box box { begin, end, 0, 0, -1, 0 };
    double sum[3] {}, squares[3] {};
    for (int i = begin; i < end; ++i) {
        box.population += bins[i].count;
        for (int c = 0; c < 3; ++c) {
            sum[c] += double(bins[i].sum[c]);
            squares[c] += bins[i].sumSquares[c];
        }
    }
    const double n = double(std::max<quint64>(box.population, 1));
    for (int c = 0; c < 3; ++c) {
        const double error = squares[c] - sum[c] * sum[c] / n;
        if (error > box.error) {
            box.error = error;
            box.channel = c;
            box.mean = sum[c] / n;
        }
    }
    return box;
}

// Median cut over the histogram, in its variance form: split the box with the largest
// squared error in one channel, at that channel's mean.
QList<QRgb> medianCut(std::vector<Bin>& bins, int colours)
{
    std::vector<Box> boxes { makeBox(bins, 0, int(bins.size())) };
    while (int(boxes.size()) < colours) {
        int best = -1;
        for (int i = 0; i < int(boxes.size()); ++i)
            if (boxes[i].end - boxes[i].begin > 1 && boxes[i].error > 0
                && (best < 0 || boxes[i].error > boxes[best].error))
                best = i;
        if (best < 0)
            break;
        const Box box = boxes[best];
        const int c = box.channel;
        auto value = [c](const Bin& b) { return double(b.sum[c]) / double(b.count); };
        std::sort(bins.begin() + box.begin, bins.begin() + box.end,
                  [&](const Bin& a, const Bin& b) { return value(a) < value(b); });
        int split = box.begin + 1;
        while (split < box.end - 1 && value(bins[split]) <= box.mean)
            ++split;
        boxes[best] = makeBox(bins, box.begin, split);
        boxes.push_back(makeBox(bins, split, box.end));
    }
    QList<QRgb> palette;
    for (const Box& b : boxes) {
        quint64 s[3] {};
        for (int i = b.begin; i < b.end; ++i)
            for (int c = 0; c < 3; ++c)
                s[c] += bins[i].sum[c];
        const quint64 n = std::max<quint64>(b.population, 1);
        palette << qRgb(int((s[0] + n / 2) / n), int((s[1] + n / 2) / n), int((s[2] + n / 2) / n));
    }
    return palette;
}

class NearestColour {
public:
    explicit NearestColour(const QList<QRgb>& palette)
        : m_palette(palette)
    {
        std::fill(m_cache.begin(), m_cache.end(), qint16(-1));
    }
    // Nearest entry for a colour; looked up per 6-bit cell, which the dithering corrects.
    int operator()(int r, int g, int b)
    {
        const int key = (r >> 2) << 12 | (g >> 2) << 6 | (b >> 2);
        if (m_cache[key] >= 0)
            return m_cache[key];
        const int cr = (r & ~3) + 2, cg = (g & ~3) + 2, cb = (b & ~3) + 2;
        int best = 0, bestDist = INT_MAX;
        for (int i = 0; i < m_palette.size(); ++i) {
            const QRgb p = m_palette[i];
            const int dr = qRed(p) - cr, dg = qGreen(p) - cg, db = qBlue(p) - cb;
            const int d = 2 * dr * dr + 4 * dg * dg + 3 * db * db;
            if (d < bestDist) {
                bestDist = d;
                best = i;
            }
        }
        return m_cache[key] = qint16(best);
    }

private:
    QList<QRgb> m_palette;
    std::vector<qint16> m_cache = std::vector<qint16>(1 << 18);
};

void ditherInto(const QImage& rgb, const QImage& alphaSource, bool keepTransparency, int transparentIndex,
                const QList<QRgb>& palette, QImage& out)
{
    const int w = rgb.width(), h = rgb.height();
    NearestColour nearest(palette);
    // Error rows, one pixel of margin either side, three channels, in 1/16 units.
    std::vector<int> cur(size_t(w + 2) * 3), next(size_t(w + 2) * 3);
    for (int y = 0; y < h; ++y) {
        const QRgb* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        const QRgb* alpha = keepTransparency ? reinterpret_cast<const QRgb*>(alphaSource.constScanLine(y)) : nullptr;
        uchar* dst = out.scanLine(y);
        std::fill(next.begin(), next.end(), 0);
        const bool leftToRight = (y % 2) == 0;
        const int step = leftToRight ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = leftToRight ? i : w - 1 - i;
            if (alpha && qAlpha(alpha[x]) < 128) {
                dst[x] = uchar(transparentIndex);
                continue;
            }
            int* e = &cur[size_t(x + 1) * 3];
            const int r = std::clamp(qRed(src[x]) + e[0] / 16, 0, 255);
            const int g = std::clamp(qGreen(src[x]) + e[1] / 16, 0, 255);
            const int b = std::clamp(qBlue(src[x]) + e[2] / 16, 0, 255);
            const int idx = nearest(r, g, b);
            dst[x] = uchar(idx);
            const int err[3] = { r - qRed(palette[idx]), g - qGreen(palette[idx]), b - qBlue(palette[idx]) };
            for (int c = 0; c < 3; ++c) {
                cur[size_t(x + 1 + step) * 3 + c] += err[c] * 7;
                next[size_t(x + 1 - step) * 3 + c] += err[c] * 3;
                next[size_t(x + 1) * 3 + c] += err[c] * 5;
                next[size_t(x + 1 + step) * 3 + c] += err[c];
            }
        }
        std::swap(cur, next);
    }
}

} // namespace

QImage toIndexed8(const QImage& image, int maxColours, bool keepTransparency, const QColor& background)
{
    if (image.isNull())
        return {};
    maxColours = std::clamp(maxColours, 2, 256);
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    keepTransparency = keepTransparency && image.hasAlphaChannel();
    // Composite partly transparent pixels onto the background; the transparent ones are
    // picked out from argb while mapping.
    QImage rgb(argb.size(), QImage::Format_RGB32);
    QImage out(argb.size(), QImage::Format_Indexed8);
    if (argb.isNull() || rgb.isNull() || out.isNull())
        return {}; // out of memory
    const QRgb bg = background.rgb();
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        QRgb* d = reinterpret_cast<QRgb*>(rgb.scanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            const int a = qAlpha(s[x]);
            d[x] = a == 255 ? s[x] | 0xff000000
                            : qRgb((qRed(s[x]) * a + qRed(bg) * (255 - a) + 127) / 255,
                                   (qGreen(s[x]) * a + qGreen(bg) * (255 - a) + 127) / 255,
                                   (qBlue(s[x]) * a + qBlue(bg) * (255 - a) + 127) / 255);
        }
    }
    const int colours = keepTransparency ? maxColours - 1 : maxColours;
    auto visible = [&](int x, int y) {
        return !keepTransparency || qAlpha(reinterpret_cast<const QRgb*>(argb.constScanLine(y))[x]) >= 128;
    };

    // Few colours: keep them exactly.
    QHash<QRgb, int> exact;
    bool fits = true;
    for (int y = 0; y < rgb.height() && fits; ++y) {
        const QRgb* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            if (!visible(x, y) || exact.contains(s[x]))
                continue;
            if (exact.size() == colours) {
                fits = false;
                break;
            }
            exact.insert(s[x], int(exact.size()));
        }
    }
    QList<QRgb> palette;
    if (fits) {
        palette.resize(exact.size());
        for (auto it = exact.cbegin(); it != exact.cend(); ++it)
            palette[it.value()] = it.key();
        if (palette.isEmpty())
            palette << bg;
        const int transparentIndex = int(palette.size());
        for (int y = 0; y < rgb.height(); ++y) {
            const QRgb* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            uchar* d = out.scanLine(y);
            for (int x = 0; x < rgb.width(); ++x)
                d[x] = uchar(visible(x, y) ? exact.value(s[x]) : transparentIndex);
        }
    } else {
        std::vector<int> cellIndex(32768, -1);
        std::vector<Bin> bins;
        for (int y = 0; y < rgb.height(); ++y) {
            const QRgb* s = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
            for (int x = 0; x < rgb.width(); ++x) {
                if (!visible(x, y))
                    continue;
                const int r = qRed(s[x]), g = qGreen(s[x]), b = qBlue(s[x]);
                const int key = (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
                if (cellIndex[key] < 0) {
                    cellIndex[key] = int(bins.size());
                    bins.push_back(Bin { { quint8(r >> 3), quint8(g >> 3), quint8(b >> 3) }, {}, {}, 0 });
                }
                Bin& bin = bins[cellIndex[key]];
                bin.sum[0] += r;
                bin.sum[1] += g;
                bin.sum[2] += b;
                bin.sumSquares[0] += r * r;
                bin.sumSquares[1] += g * g;
                bin.sumSquares[2] += b * b;
                ++bin.count;
            }
        }
        palette = medianCut(bins, colours);
        ditherInto(rgb, argb, keepTransparency, int(palette.size()), palette, out);
    }
    if (keepTransparency)
        palette << qRgba(0, 0, 0, 0);
    out.setColorTable(palette);
    return out;
}

} // namespace ztv
