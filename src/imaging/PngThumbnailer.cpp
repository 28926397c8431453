#include "PngThumbnailer.h"

#include "ThumbnailEngine.h"

#include <spng.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace ztv {

namespace {

// The same pixel limit as the other readers; chunks other than the picture data are small in
// any real file, and a cache of them may not grow without end.
constexpr qint64 PngPixelLimit = 256LL * 1024 * 1024;
constexpr size_t PngChunkLimit = 16 * 1024 * 1024;
constexpr size_t PngChunkCacheLimit = 32 * 1024 * 1024;
constexpr int PngWidthLimit = 256 * 1024;

bool looksLikePng(const unsigned char* p, size_t n)
{
    static const unsigned char magic[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    return n >= 8 && std::memcmp(p, magic, 8) == 0;
}

// Buffered reads from the file for libspng, which asks for exact lengths.
struct FdStream {
    int fd;
    unsigned char buffer[64 * 1024];
    size_t begin = 0, end = 0;
};

int readFd(spng_ctx*, void* user, void* dst, size_t length)
{
    auto* s = static_cast<FdStream*>(user);
    auto* out = static_cast<unsigned char*>(dst);
    while (length > 0) {
        if (s->begin == s->end) {
            ssize_t n;
            do {
                n = ::read(s->fd, s->buffer, sizeof s->buffer);
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                return SPNG_IO_ERROR;
            if (n == 0)
                return SPNG_IO_EOF;
            s->begin = 0;
            s->end = size_t(n);
        }
        const size_t take = std::min(length, s->end - s->begin);
        std::memcpy(out, s->buffer + s->begin, take);
        s->begin += take;
        out += take;
        length -= take;
    }
    return 0;
}

struct CtxFree {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};

// Sums of one output row: each source pixel adds to the output pixel its column falls in.
struct Reducer {
    int width, height; // source
    QSize target;
    bool alpha;
    std::vector<int> column; // source column -> output column
    std::vector<uint32_t> perColumn; // source columns per output column
    std::vector<uint32_t> sums; // 4 per output pixel: premultiplied colour, alpha
    int outRow = 0;
    uint32_t rowsInSums = 0;
    QImage image;

    Reducer(int w, int h, QSize t, bool hasAlpha)
        : width(w)
        , height(h)
        , target(t)
        , alpha(hasAlpha)
        , column(size_t(w))
        , perColumn(size_t(t.width()))
        , sums(size_t(t.width()) * 4)
    {
        for (int x = 0; x < w; ++x) {
            column[size_t(x)] = int(qint64(x) * t.width() / w);
            ++perColumn[size_t(column[size_t(x)])];
        }
        image = QImage(t, hasAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    }

    void add(int y, const unsigned char* rgba)
    {
        const int to = int(qint64(y) * target.height() / height);
        if (to != outRow)
            flush();
        outRow = to;
        uint32_t* s = sums.data();
        const int* col = column.data();
        if (alpha) {
            for (int x = 0; x < width; ++x, rgba += 4) {
                uint32_t* d = s + 4 * col[x];
                const uint32_t a = rgba[3];
                d[0] += (rgba[0] * a + 127) / 255;
                d[1] += (rgba[1] * a + 127) / 255;
                d[2] += (rgba[2] * a + 127) / 255;
                d[3] += a;
            }
        } else {
            for (int x = 0; x < width; ++x, rgba += 4) {
                uint32_t* d = s + 4 * col[x];
                d[0] += rgba[0];
                d[1] += rgba[1];
                d[2] += rgba[2];
            }
        }
        ++rowsInSums;
    }

    void flush()
    {
        if (rowsInSums == 0)
            return;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(outRow));
        for (int x = 0; x < target.width(); ++x) {
            const uint32_t n = perColumn[size_t(x)] * rowsInSums;
            const uint32_t* d = sums.data() + 4 * x;
            const int a = alpha ? int((d[3] + n / 2) / n) : 255;
            line[x] = qRgba(int((d[0] + n / 2) / n), int((d[1] + n / 2) / n), int((d[2] + n / 2) / n), a);
        }
        std::fill(sums.begin(), sums.end(), 0u);
        rowsInSums = 0;
    }
};

PngOutcome decode(spng_ctx* ctx, QSize box, QImage* out, QSize* upright, const std::atomic<bool>* stop)
{
    spng_set_image_limits(ctx, 0x7FFFFFFF, 0x7FFFFFFF);
    spng_set_chunk_limits(ctx, PngChunkLimit, PngChunkCacheLimit);
    spng_ihdr ihdr {};
    if (spng_get_ihdr(ctx, &ihdr) != 0)
        return PngOutcome::Unreadable;
    const QSize size(int(ihdr.width), int(ihdr.height));
    if (size.isEmpty() || qint64(ihdr.width) * ihdr.height > PngPixelLimit)
        return PngOutcome::Unreadable;
    if (upright)
        *upright = size;
    // The row buffers grow with the width; pictures wider than this are left to Qt's reader
    // and its allocation limit.
    if (size.width() > PngWidthLimit)
        return PngOutcome::NotHandled;
    const QSize target = fitInto(size, box);
    // Small pictures gain nothing, and below half size whole source columns would weigh
    // unevenly; interlaced ones arrive in passes; EXIF data may turn the picture.
    spng_exif exif {};
    if (ihdr.interlace_method != 0 || size.width() < 2 * target.width() || size.height() < 2 * target.height()
        || spng_get_exif(ctx, &exif) == 0)
        return PngOutcome::NotHandled;
    spng_trns trns {};
    const bool alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA
        || ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(ctx, &trns) == 0;
    if (spng_decode_image(ctx, nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE) != 0)
        return PngOutcome::Unreadable;
    Reducer reducer(size.width(), size.height(), target, alpha);
    if (reducer.image.isNull())
        return PngOutcome::Unreadable;
    std::vector<unsigned char> row(size_t(size.width()) * 4);
    for (int y = 0; y < size.height(); ++y) {
        if (stop && stop->load(std::memory_order_relaxed))
            return PngOutcome::Unreadable;
        spng_row_info info {};
        if (spng_get_row_info(ctx, &info) != 0 || int(info.row_num) != y)
            return PngOutcome::Unreadable;
        const int r = spng_decode_row(ctx, row.data(), row.size());
        if (r != 0 && r != SPNG_EOI)
            return PngOutcome::Unreadable; // truncated or damaged, as Qt's reader gives nothing
        reducer.add(y, row.data());
        if (r == SPNG_EOI && y + 1 < size.height())
            return PngOutcome::Unreadable;
    }
    reducer.flush();
    *out = std::move(reducer.image);
    return PngOutcome::Made;
}

} // namespace

PngOutcome makePngThumbnail(int fd, QSize box, QImage* out, QSize* upright, const std::atomic<bool>* stop)
{
    unsigned char head[8];
    ssize_t n;
    do {
        n = ::pread(fd, head, sizeof head, 0);
    } while (n < 0 && errno == EINTR);
    if (n < 0 || !looksLikePng(head, size_t(n)) || ::lseek(fd, 0, SEEK_SET) != 0)
        return PngOutcome::NotHandled;
    std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
    if (!ctx)
        return PngOutcome::Unreadable;
    auto stream = std::make_unique<FdStream>();
    stream->fd = fd;
    if (spng_set_png_stream(ctx.get(), readFd, stream.get()) != 0)
        return PngOutcome::Unreadable;
    return decode(ctx.get(), box, out, upright, stop);
}

PngOutcome makePngThumbnailFromMemory(const unsigned char* data, size_t size, QSize box, QImage* out)
{
    if (!looksLikePng(data, size))
        return PngOutcome::NotHandled;
    std::unique_ptr<spng_ctx, CtxFree> ctx(spng_ctx_new(0));
    if (!ctx || spng_set_png_buffer(ctx.get(), data, size) != 0)
        return PngOutcome::Unreadable;
    return decode(ctx.get(), box, out, nullptr, nullptr);
}

} // namespace ztv
