#include "PngThumbnailer.h"

#include "ThumbnailEngine.h"
#include "platform/RetryingIo.h"

#include <png.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace ztv {

namespace {

// The same pixel limit as the other readers; chunks other than the picture data are small in
// any real file, and their number may not grow without end.
constexpr qint64 PngPixelLimit = 256LL * 1024 * 1024;
constexpr size_t PngChunkLimit = 16 * 1024 * 1024;
constexpr png_uint_32 PngChunkCacheEntries = 1000;
constexpr int PngWidthLimit = 256 * 1024;

bool looksLikePng(const unsigned char* p, size_t n)
{
    static const unsigned char magic[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    return n >= 8 && std::memcmp(p, magic, 8) == 0;
}

// Reads for libpng from the open file in blocks, or from bytes in memory; running out is an
// error (a truncated file).
struct Source {
    int fd = -1;
    const unsigned char* data = nullptr;
    size_t begin = 0, end = 0;
    std::vector<unsigned char> buffer;
};

void readSource(png_structp png, png_bytep dst, size_t length)
{
    auto* s = static_cast<Source*>(png_get_io_ptr(png));
    while (length > 0) {
        if (s->begin == s->end) {
            if (s->fd < 0)
                png_error(png, "end of data");
            ssize_t n;
            n = readRetrying(s->fd, s->buffer.data(), s->buffer.size());
            if (n <= 0)
                png_error(png, "end of file");
            s->data = s->buffer.data();
            s->begin = 0;
            s->end = size_t(n);
        }
        const size_t take = std::min(length, s->end - s->begin);
        std::memcpy(dst, s->data + s->begin, take);
        s->begin += take;
        dst += take;
        length -= take;
    }
}

[[noreturn]] void onPngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) { }

// Sums of one output row. Source columns fall into the output column x * target / width, so
// each output pixel takes a contiguous run of each source row; the runs are summed in
// registers. Translucent pixels are weighted by their alpha (summed premultiplied, divided
// once per output pixel).
struct Reducer {
    int width, height; // source
    QSize target;
    bool alpha; // 4 bytes a pixel (RGBA), else 3 (RGB)
    std::vector<uint32_t> perColumn; // source columns per output column
    std::vector<uint64_t> sums; // 4 per output pixel: colour (times alpha), alpha
    int outRow = 0;
    uint32_t rowsInSums = 0;
    QImage image;

    Reducer(int w, int h, QSize t, bool hasAlpha)
        : width(w)
        , height(h)
        , target(t)
        , alpha(hasAlpha)
        , perColumn(size_t(t.width()))
        , sums(size_t(t.width()) * 4)
    {
        for (int x = 0; x < w; ++x)
            ++perColumn[size_t(qint64(x) * t.width() / w)];
        image = QImage(t, hasAlpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    }

    void add(int y, const unsigned char* p)
    {
        const int to = int(qint64(y) * target.height() / height);
        if (to != outRow)
            flush();
        outRow = to;
        uint64_t* s = sums.data();
        for (int x = 0; x < target.width(); ++x, s += 4) {
            const uint32_t n = perColumn[size_t(x)];
            uint64_t r = 0, g = 0, b = 0, a = 0;
            if (alpha) {
                for (uint32_t k = 0; k < n; ++k, p += 4) {
                    const uint32_t w = p[3];
                    r += p[0] * w;
                    g += p[1] * w;
                    b += p[2] * w;
                    a += w;
                }
            } else {
                for (uint32_t k = 0; k < n; ++k, p += 3) {
                    r += p[0];
                    g += p[1];
                    b += p[2];
                }
            }
            s[0] += r;
            s[1] += g;
            s[2] += b;
            s[3] += a;
        }
        ++rowsInSums;
    }

    void flush()
    {
        if (rowsInSums == 0)
            return;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(outRow));
        const uint64_t* s = sums.data();
        for (int x = 0; x < target.width(); ++x, s += 4) {
            const uint64_t n = uint64_t(perColumn[size_t(x)]) * rowsInSums;
            if (alpha) {
                const uint64_t d = n * 255;
                line[x] = qRgba(int((s[0] + d / 2) / d), int((s[1] + d / 2) / d), int((s[2] + d / 2) / d),
                    int((s[3] + n / 2) / n));
            } else {
                line[x] = qRgb(int((s[0] + n / 2) / n), int((s[1] + n / 2) / n), int((s[2] + n / 2) / n));
            }
        }
        std::fill(sums.begin(), sums.end(), uint64_t(0));
        rowsInSums = 0;
    }
};

// Everything a longjmp out of libpng must leave intact lives here, outside the jump.
struct State {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Source source;
    std::vector<unsigned char> row;
    std::unique_ptr<Reducer> reducer;
    ~State() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

PngOutcome decode(State* s, QSize box, QImage* out, QSize* upright, const std::atomic<bool>* stop)
{
    s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s, onPngError, onPngWarning);
    if (!s->png)
        return PngOutcome::Unreadable;
    s->info = png_create_info_struct(s->png);
    if (!s->info)
        return PngOutcome::Unreadable;
    png_structp png = s->png;
    png_infop info = s->info;
    if (setjmp(png_jmpbuf(png)))
        return PngOutcome::Unreadable; // damaged or truncated: Qt's reader gives nothing either
    png_set_read_fn(png, &s->source, readSource);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_chunk_malloc_max(png, PngChunkLimit);
    png_set_chunk_cache_max(png, PngChunkCacheEntries);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const QSize size { int(width), int(height) };
    if (size.isEmpty() || qint64(width) * height > PngPixelLimit)
        return PngOutcome::Unreadable;
    if (upright)
        *upright = size;
    const QSize target = fitInto(size, box);
    // Small pictures gain nothing, and below half size whole source columns would weigh
    // unevenly; interlaced ones arrive in passes; EXIF data may turn the picture; the row
    // buffers grow with the width, so very wide pictures are left to Qt's reader and its
    // allocation limit.
    if (png_get_interlace_type(png, info) != PNG_INTERLACE_NONE || size.width() < 2 * target.width()
        || size.height() < 2 * target.height() || png_get_valid(png, info, PNG_INFO_eXIf)
        || size.width() > PngWidthLimit)
        return PngOutcome::NotHandled;
    const int colourType = png_get_color_type(png, info);
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    // Every kind of PNG arrives as 8-bit RGB, or RGBA when it has transparency.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_read_update_info(png, info);
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    if (png_get_rowbytes(png, info) != rowBytes)
        return PngOutcome::Unreadable;
    s->row.resize(rowBytes);
    s->reducer = std::make_unique<Reducer>(size.width(), size.height(), target, alpha);
    if (s->reducer->image.isNull())
        return PngOutcome::Unreadable;
    for (png_uint_32 y = 0; y < height; ++y) {
        if (stop && stop->load(std::memory_order_relaxed))
            return PngOutcome::Unreadable;
        png_read_row(png, s->row.data(), nullptr);
        s->reducer->add(int(y), s->row.data());
    }
    s->reducer->flush();
    *out = std::move(s->reducer->image);
    return PngOutcome::Made;
}

} // namespace

PngOutcome makePngThumbnail(int fd, QSize box, QImage* out, QSize* upright, const std::atomic<bool>* stop)
{
    unsigned char head[8];
    ssize_t n;
    n = preadRetrying(fd, head, sizeof head, 0);
    if (n < 0 || !looksLikePng(head, size_t(n)) || ::lseek(fd, 0, SEEK_SET) != 0)
        return PngOutcome::NotHandled;
    State state;
    state.source.fd = fd;
    state.source.buffer.resize(64 * 1024);
    return decode(&state, box, out, upright, stop);
}

PngOutcome makePngThumbnailFromMemory(const unsigned char* data, size_t size, QSize box, QImage* out)
{
    if (!looksLikePng(data, size))
        return PngOutcome::NotHandled;
    State state;
    state.source.data = data;
    state.source.end = size;
    return decode(&state, box, out, nullptr, nullptr);
}

} // namespace ztv
