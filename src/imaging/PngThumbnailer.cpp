#include "PngThumbnailer.h"

#include "ThumbnailEngine.h"
#include "platform/RetryingIo.h"

#include <QIODevice>

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
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
// Compressed and unpacked picture data held at once by the whole-buffer inflate: enough for a
// compressed 5120 x 2880 RGBA picture (about 85 MiB), small enough that with another
// worker's large decode beside it the browse stays under 200 MiB; larger ones stream.
constexpr uint64_t PngWholeLimit = 96ULL * 1024 * 1024;
// Picture data past the last row inflated to reach the stream's checksum.
constexpr uint64_t PngTrailLimit = 1024 * 1024;

bool looksLikePng(const unsigned char* p, size_t n)
{
    static const unsigned char magic[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    return n >= 8 && std::memcmp(p, magic, 8) == 0;
}

// Bytes from the open file, read in blocks, or from bytes in memory.
struct Source {
    int fd = -1;
    const unsigned char* data = nullptr;
    size_t begin = 0, end = 0;
    std::vector<unsigned char> buffer;
    uint64_t fileRead = 0; // bytes read from the file so far

    // Makes at least one byte available; false at the end of the data.
    bool fill()
    {
        if (begin < end)
            return true;
        if (fd < 0)
            return false;
        const ssize_t n = readRetrying(fd, buffer.data(), buffer.size());
        if (n <= 0)
            return false;
        data = buffer.data();
        begin = 0;
        end = size_t(n);
        fileRead += uint64_t(n);
        return true;
    }

    // Where the next byte comes from, counted from the start of the file or the bytes.
    uint64_t position() const { return fd < 0 ? begin : fileRead - (end - begin); }

    // The bytes from here to the end (0 when unknown).
    uint64_t remaining() const
    {
        if (fd < 0)
            return end - begin;
        struct stat st;
        return ::fstat(fd, &st) == 0 && uint64_t(st.st_size) > position() ? uint64_t(st.st_size) - position()
                                                                          : 0;
    }

    bool seekTo(uint64_t at)
    {
        if (fd < 0) {
            if (at > end)
                return false;
            begin = size_t(at);
            return true;
        }
        if (::lseek(fd, off_t(at), SEEK_SET) != off_t(at))
            return false;
        begin = end = 0;
        fileRead = at;
        return true;
    }

    bool read(unsigned char* dst, size_t length)
    {
        while (length > 0) {
            if (!fill())
                return false;
            const size_t take = std::min(length, end - begin);
            std::memcpy(dst, data + begin, take);
            begin += take;
            dst += take;
            length -= take;
        }
        return true;
    }

    bool skip(uint64_t length)
    {
        while (length > 0) {
            if (!fill())
                return false;
            const size_t take = size_t(std::min<uint64_t>(length, end - begin));
            begin += take;
            length -= take;
        }
        return true;
    }
};

// Running out of data is an error for libpng (a truncated file).
void readSource(png_structp png, png_bytep dst, size_t length)
{
    if (!static_cast<Source*>(png_get_io_ptr(png))->read(dst, length))
        png_error(png, "end of data");
}

[[noreturn]] void onPngError(png_structp png, png_const_charp)
{
    png_longjmp(png, 1);
}
void onPngWarning(png_structp, png_const_charp) { }

// Sums of one output row. Source columns fall into the output column x * target / width, so
// each output pixel takes a contiguous run of each source row. Rows are first added up
// column by column (vectorised, in 32 bits), and the columns of each run summed into the
// output pixel's 64-bit sums only when the output row is done (or before the 32-bit sums
// could overflow). Translucent pixels are weighted by their alpha (summed premultiplied,
// divided once per output pixel).
struct Reducer {
    int width, height; // source
    QSize target;
    bool alpha; // 4 bytes a pixel (RGBA), else 3 (RGB)
    std::vector<uint32_t> perColumn; // source columns per output column
    std::vector<uint32_t> columns; // per source byte: the rows' sum (colour times alpha)
    std::vector<uint64_t> sums; // 4 per output pixel: colour (times alpha), alpha
    int outRow = 0;
    uint32_t rowsInColumns = 0, rowsInSums = 0;
    QImage image;

    // 65536 rows of 255 x 255 still fit 32 bits.
    static constexpr uint32_t RowsPerFold = 65536;

    Reducer(int w, int h, QSize t, bool hasAlpha)
        : width(w)
        , height(h)
        , target(t)
        , alpha(hasAlpha)
        , perColumn(size_t(t.width()))
        , columns(size_t(w) * (hasAlpha ? 4 : 3))
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
        if (rowsInColumns == RowsPerFold)
            fold();
        uint32_t* c = columns.data();
        const size_t n = columns.size();
        size_t i = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i alphaLanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
        auto accumulate = [&](size_t at, __m128i v16) {
            auto* q = reinterpret_cast<__m128i*>(c + at);
            _mm_storeu_si128(q, _mm_add_epi32(_mm_loadu_si128(q), _mm_unpacklo_epi16(v16, zero)));
            _mm_storeu_si128(q + 1, _mm_add_epi32(_mm_loadu_si128(q + 1), _mm_unpackhi_epi16(v16, zero)));
        };
        // Two pixels in 16-bit lanes, colour times alpha (255 x 255 fits 16 bits unsigned).
        auto weighted = [&](__m128i v16) {
            const __m128i w = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v16, 0xFF), 0xFF);
            const __m128i product = _mm_mullo_epi16(v16, w);
            return _mm_or_si128(_mm_and_si128(alphaLanes, v16), _mm_andnot_si128(alphaLanes, product));
        };
        for (; i + 16 <= n; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const __m128i low = _mm_unpacklo_epi8(v, zero), high = _mm_unpackhi_epi8(v, zero);
            accumulate(i, alpha ? weighted(low) : low);
            accumulate(i + 8, alpha ? weighted(high) : high);
        }
#endif
        if (alpha) {
            for (; i < n; i += 4) {
                const uint32_t w = p[i + 3];
                c[i] += p[i] * w;
                c[i + 1] += p[i + 1] * w;
                c[i + 2] += p[i + 2] * w;
                c[i + 3] += w;
            }
        } else {
            for (; i < n; ++i)
                c[i] += p[i];
        }
        ++rowsInColumns;
    }

    // The columns' sums into the output pixels' sums.
    void fold()
    {
        const int bpp = alpha ? 4 : 3;
        const uint32_t* c = columns.data();
        uint64_t* s = sums.data();
        for (int x = 0; x < target.width(); ++x, s += 4) {
            uint64_t r = 0, g = 0, b = 0, a = 0;
            for (uint32_t k = perColumn[size_t(x)]; k > 0; --k, c += bpp) {
                r += c[0];
                g += c[1];
                b += c[2];
                if (alpha)
                    a += c[3];
            }
            s[0] += r;
            s[1] += g;
            s[2] += b;
            s[3] += a;
        }
        std::fill(columns.begin(), columns.end(), uint32_t(0));
        rowsInSums += rowsInColumns;
        rowsInColumns = 0;
    }

    void flush()
    {
        if (rowsInColumns > 0)
            fold();
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

// What both decoders check once the header is read: the picture's size within the limits,
// and the route worth taking (else the fitted size is in *target).
std::optional<PngOutcome> checkRoute(
    QSize size, QSize box, bool interlaced, bool exif, QSize* upright, QSize* target)
{
    if (size.isEmpty() || qint64(size.width()) * size.height() > PngPixelLimit)
        return PngOutcome::Unreadable;
    if (upright)
        *upright = size;
    *target = fitInto(size, box);
    // Small pictures gain nothing, and below half size whole source columns would weigh
    // unevenly; interlaced ones arrive in passes; EXIF data may turn the picture; the row
    // buffers grow with the width, so very wide pictures are left to Qt's reader and its
    // allocation limit.
    if (interlaced || size.width() < 2 * target->width() || size.height() < 2 * target->height() || exif
        || size.width() > PngWidthLimit)
        return PngOutcome::NotHandled;
    return std::nullopt;
}

// Everything a longjmp out of libpng must leave intact lives here, outside the jump.
struct State {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Source source;
    std::vector<unsigned char> row;
    std::unique_ptr<Reducer> reducer;
    png_uint_32 lastRow = 0;
    ~State() { png_destroy_read_struct(&png, info ? &info : nullptr, nullptr); }
};

// libpng's last png_read_row inflates whatever follows the last row in the stream, to its end
// (a zlib bomb holds gigabytes of zeros there). The last row is taken here, once libpng has
// made it, and the read ends before that inflate begins.
constexpr int LastRowTaken = 2;

void takeLastRow(png_structp png, png_row_infop rowInfo, png_bytep data)
{
    auto* s = static_cast<State*>(png_get_error_ptr(png));
    if (png_get_current_row_number(png) != s->lastRow || rowInfo->rowbytes != s->row.size())
        return;
    std::memcpy(s->row.data(), data, s->row.size());
    png_longjmp(png, LastRowTaken);
}

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
    if (const int jumped = setjmp(png_jmpbuf(png))) {
        if (jumped != LastRowTaken || !s->reducer)
            return PngOutcome::Unreadable; // damaged or truncated: Qt's reader gives nothing either
        s->reducer->add(int(s->lastRow), s->row.data());
        s->reducer->flush();
        *out = std::move(s->reducer->image);
        return PngOutcome::Made;
    }
    png_set_read_fn(png, &s->source, readSource);
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_set_chunk_malloc_max(png, PngChunkLimit);
    png_set_chunk_cache_max(png, PngChunkCacheEntries);
    // libpng only warns when a chunk passes the limit above, then allocates (and for text,
    // zeroes) its claimed length. A thumbnail needs none of the text, profile or unknown
    // chunks: they are passed unread. Only eXIf is read, for its orientation.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    static const png_byte exif[] = "eXIf";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, exif, 1);
    png_read_info(png, info);
    const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const QSize size { int(width), int(height) };
    QSize target;
    if (const auto refused = checkRoute(size, box, png_get_interlace_type(png, info) != PNG_INTERLACE_NONE,
            png_get_valid(png, info, PNG_INFO_eXIf), upright, &target))
        return *refused;
    const int colourType = png_get_color_type(png, info);
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) || png_get_valid(png, info, PNG_INFO_tRNS);
    // Every kind of PNG arrives as 8-bit RGB, or RGBA when it has transparency.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_read_user_transform_fn(png, takeLastRow);
    png_read_update_info(png, info);
    const size_t rowBytes = size_t(width) * (alpha ? 4 : 3);
    if (png_get_rowbytes(png, info) != rowBytes)
        return PngOutcome::Unreadable;
    s->row.resize(rowBytes);
    s->lastRow = height - 1;
    s->reducer = std::make_unique<Reducer>(size.width(), size.height(), target, alpha);
    if (s->reducer->image.isNull())
        return PngOutcome::Unreadable;
    for (png_uint_32 y = 0; y < height; ++y) {
        if (stop && stop->load(std::memory_order_relaxed))
            return PngOutcome::Unreadable;
        png_read_row(png, s->row.data(), nullptr);
        s->reducer->add(int(y), s->row.data());
    }
    return PngOutcome::Unreadable; // the last row ends the read through takeLastRow
}

// --- 8-bit RGB and RGBA without tRNS: the common large PNG, read without libpng ---
//
// libpng hands over one row per call and checks its checksums with zlib's Adler-32 and
// CRC-32, which together cost about as much as the rest of the decode. Here the picture data
// is inflated (raw deflate) many rows at a time, or whole when compressed, both checksums
// are computed by libdeflate's vectorised routines, and the rows are unfiltered with the
// pixel size fixed at compile time. Any other kind of PNG goes through libpng.

uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

bool isChunkType(uint32_t type, const char* name)
{
    return type == bigEndian32(reinterpret_cast<const unsigned char*>(name));
}

enum class Fast { Made, Unreadable, NotHandled, UseLibpng };

// The picture data, the contents of consecutive IDAT chunks, each chunk's CRC checked as
// its end is passed.
struct IdatStream {
    Source* source;
    uint32_t left = 0; // bytes of the current chunk not yet passed
    uint32_t crc = 0;
    bool ended = false; // a chunk other than IDAT followed

    // The bytes available now (at most the rest of the current chunk), or false when the
    // picture data has ended or is damaged (*damaged set).
    bool available(const unsigned char** p, size_t* n, bool* damaged)
    {
        while (left == 0) {
            if (ended || !nextChunk(damaged))
                return false;
        }
        if (!source->fill()) {
            *damaged = true;
            return false;
        }
        *p = source->data + source->begin;
        *n = std::min<size_t>(left, source->end - source->begin);
        return true;
    }

    void pass(size_t n)
    {
        crc = libdeflate_crc32(crc, source->data + source->begin, n);
        source->begin += n;
        left -= uint32_t(n);
    }

    // Ends the current chunk (its CRC checked) and enters the next if it is an IDAT.
    bool nextChunk(bool* damaged)
    {
        unsigned char b[12];
        if (!source->read(b, 12) || bigEndian32(b) != crc) {
            *damaged = true;
            return false;
        }
        const uint32_t length = bigEndian32(b + 4);
        if (!isChunkType(bigEndian32(b + 8), "IDAT")) {
            ended = true;
            return false;
        }
        if (length > 0x7FFFFFFFu) {
            *damaged = true;
            return false;
        }
        left = length;
        crc = libdeflate_crc32(0, b + 8, 4);
        return true;
    }

    bool read(unsigned char* dst, size_t n, bool* damaged)
    {
        while (n > 0) {
            const unsigned char* p;
            size_t got;
            if (!available(&p, &got, damaged))
                return false;
            got = std::min(got, n);
            std::memcpy(dst, p, got);
            pass(got);
            dst += got;
            n -= got;
        }
        return true;
    }
};

// Scalar unfiltering, for Sub rows and for machines without SSE2.
template <int Bpp> void unfilterScalar(int filter, unsigned char* row, const unsigned char* prior, size_t n)
{
    switch (filter) {
    case 1:
        for (size_t i = Bpp; i < n; ++i)
            row[i] = uint8_t(row[i] + row[i - Bpp]);
        break;
    case 2:
        for (size_t i = 0; i < n; ++i)
            row[i] = uint8_t(row[i] + prior[i]);
        break;
    case 3:
        for (size_t i = 0; i < Bpp; ++i)
            row[i] = uint8_t(row[i] + (prior[i] >> 1));
        for (size_t i = Bpp; i < n; ++i)
            row[i] = uint8_t(row[i] + ((row[i - Bpp] + prior[i]) >> 1));
        break;
    case 4:
        for (size_t i = 0; i < Bpp; ++i)
            row[i] = uint8_t(row[i] + prior[i]);
        for (size_t i = Bpp; i < n; ++i) {
            const int a = row[i - Bpp], b = prior[i], c = prior[i - Bpp];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            row[i] = uint8_t(row[i] + (pa <= pb && pa <= pc ? a : pb <= pc ? b : c));
        }
        break;
    default:
        break;
    }
}

#if defined(__SSE2__)
// One pixel (4 bytes loaded, Bpp used) widened to 16-bit lanes.
inline __m128i loadPixel(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
}

// Stores a pixel's Bpp bytes with 4-byte writes: for 3-byte pixels the fourth lane gets the
// byte already there (the next pixel's first, still filtered), taken from its load x.
template <int Bpp> inline void storePixel(unsigned char* p, __m128i v, __m128i x)
{
    if constexpr (Bpp == 3) {
        const __m128i fourth = _mm_set_epi16(0, 0, 0, 0, -1, 0, 0, 0);
        v = _mm_or_si128(_mm_andnot_si128(fourth, v), _mm_and_si128(fourth, x));
    }
    const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
    std::memcpy(p, &bytes, 4);
}

inline __m128i absolute16(__m128i v)
{
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

inline __m128i select16(__m128i mask, __m128i yes, __m128i no)
{
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Average and Paeth depend on the pixel before, so they go one pixel at a time with the
// pixel's channels side by side in 16-bit lanes. Pixels are loaded and stored 4 bytes at a
// time, each load ahead of the store before it (a load overlapping a store just made would
// wait for it); so loads reach 4 bytes past the row, which the buffers allow, and for 3-byte
// pixels the last store writes the byte past the row back unchanged.
template <int Bpp> void unfilter(int filter, unsigned char* row, const unsigned char* prior, size_t n)
{
    if (filter == 3) {
        const __m128i low = _mm_set1_epi16(0xFF);
        for (size_t i = 0; i < Bpp; ++i)
            row[i] = uint8_t(row[i] + (prior[i] >> 1));
        __m128i a = loadPixel(row), x = loadPixel(row + Bpp);
        for (size_t i = Bpp; i < n; i += Bpp) {
            const __m128i next = loadPixel(row + i + Bpp);
            // (a + b) / 2 + x as (a + b + 2x) / 2, so only an add and a shift wait for a.
            const __m128i c = _mm_add_epi16(loadPixel(prior + i), _mm_add_epi16(x, x));
            a = _mm_and_si128(_mm_srli_epi16(_mm_add_epi16(a, c), 1), low);
            storePixel<Bpp>(row + i, a, x);
            x = next;
        }
    } else if (filter == 4) {
        for (size_t i = 0; i < Bpp; ++i)
            row[i] = uint8_t(row[i] + prior[i]);
        __m128i a = loadPixel(row), c = loadPixel(prior), x = loadPixel(row + Bpp);
        for (size_t i = Bpp; i < n; i += Bpp) {
            const __m128i b = loadPixel(prior + i), next = loadPixel(row + i + Bpp);
            const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
            const __m128i pa = absolute16(bc), pb = absolute16(ac), pc = absolute16(_mm_add_epi16(ac, bc));
            const __m128i least = _mm_min_epi16(_mm_min_epi16(pa, pb), pc);
            const __m128i predictor
                = select16(_mm_cmpeq_epi16(least, pa), a, select16(_mm_cmpeq_epi16(least, pb), b, c));
            a = _mm_and_si128(_mm_add_epi16(x, predictor), _mm_set1_epi16(0xFF));
            storePixel<Bpp>(row + i, a, x);
            c = b;
            x = next;
        }
    } else {
        unfilterScalar<Bpp>(filter, row, prior, n);
    }
}
#else
template <int Bpp> void unfilter(int filter, unsigned char* row, const unsigned char* prior, size_t n)
{
    unfilterScalar<Bpp>(filter, row, prior, n);
}
#endif

struct InflateStream {
    z_stream z {};
    bool open = false;
    ~InflateStream()
    {
        if (open)
            inflateEnd(&z);
    }
};

// Inflates into out until it is full or the stream ends (*ended); false when damaged.
bool inflateInto(InflateStream* zs, IdatStream* idat, unsigned char* out, size_t size, bool* ended)
{
    z_stream& z = zs->z;
    z.next_out = out;
    z.avail_out = uInt(size);
    while (z.avail_out > 0) {
        const unsigned char* p;
        size_t n;
        bool damaged = false;
        if (!idat->available(&p, &n, &damaged))
            return false; // the data ended inside the stream
        z.next_in = const_cast<unsigned char*>(p);
        z.avail_in = uInt(std::min<size_t>(n, 1u << 30));
        const uInt before = z.avail_in, room = z.avail_out;
        const int result = inflate(&z, Z_NO_FLUSH);
        idat->pass(before - z.avail_in);
        if (result == Z_STREAM_END) {
            *ended = true;
            return true;
        }
        if ((result != Z_OK && result != Z_BUF_ERROR) || (z.avail_in == before && z.avail_out == room))
            return false;
    }
    return true;
}

template <int Bpp>
Fast decodeRows(Source* source, IdatStream* idat, Reducer* reducer, const std::atomic<bool>* stop)
{
    bool damaged = false;
    unsigned char header[2];
    if (!idat->read(header, 2, &damaged) || (header[0] & 0x0F) != 8 || (header[0] >> 4) > 7
        || (header[1] & 0x20) || ((header[0] << 8) | header[1]) % 31 != 0)
        return Fast::Unreadable;
    InflateStream zs;
    if (inflateInit2(&zs.z, -15) != Z_OK)
        return Fast::Unreadable;
    zs.open = true;
    const size_t width = size_t(reducer->width), height = size_t(reducer->height);
    const size_t stride = width * Bpp + 1;
    // Rows are inflated some 256 KiB at a time, after a copy of the last row of the batch
    // before (the prior row of the first); 8 bytes of room past the end for pixel loads.
    const size_t batch = std::clamp<size_t>((256 * 1024) / stride, 1, height);
    std::vector<unsigned char> buffer((batch + 1) * stride + 8);
    unsigned char* const rows = buffer.data() + stride;
    uint32_t adler = 1;
    bool ended = false;
    for (size_t y = 0; y < height;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return Fast::Unreadable;
        const size_t count = std::min(batch, height - y);
        if (ended || !inflateInto(&zs, idat, rows, count * stride, &ended) || zs.z.avail_out != 0)
            return Fast::Unreadable;
        adler = libdeflate_adler32(adler, rows, count * stride);
        for (size_t k = 0; k < count; ++k, ++y) {
            unsigned char* row = rows + k * stride;
            const int filter = row[0];
            if (filter > 4)
                return Fast::Unreadable;
            unfilter<Bpp>(filter, row + 1, row + 1 - stride, width * Bpp);
            reducer->add(int(y), row + 1);
        }
        std::memcpy(buffer.data(), rows + (count - 1) * stride, stride);
    }
    // A little of whatever follows the last row in the stream is inflated and dropped, so that
    // the Adler-32 at its end can be checked. A stream that runs on past that (a zlib bomb may
    // hold gigabytes of zeros there) ends the read: its checksum is not worth the time.
    uint64_t trailing = 0;
    while (!ended) {
        if (trailing >= PngTrailLimit)
            return Fast::Made;
        if (stop && stop->load(std::memory_order_relaxed))
            return Fast::Unreadable;
        if (!inflateInto(&zs, idat, rows, batch * stride, &ended))
            return Fast::Unreadable;
        const size_t produced = batch * stride - zs.z.avail_out;
        adler = libdeflate_adler32(adler, rows, produced);
        trailing += produced;
    }
    unsigned char trailer[4];
    if (!idat->read(trailer, 4, &damaged) || bigEndian32(trailer) != adler)
        return Fast::Unreadable;
    // The rest of the chunk holding the trailer, for its CRC.
    while (idat->left > 0) {
        const unsigned char* p;
        size_t n;
        if (!idat->available(&p, &n, &damaged))
            return Fast::Unreadable;
        idat->pass(n);
    }
    unsigned char crc[4];
    if (!source->read(crc, 4) || bigEndian32(crc) != idat->crc)
        return Fast::Unreadable;
    return Fast::Made;
}

// Compressed picture data inflated whole by libdeflate: about twice as fast as zlib's inflate
// on compressed data, at the price of the compressed and the unpacked picture held at once.
// Taken only when the data is clearly compressed (stored data is a copy either way) and both
// fit PngWholeLimit, the memory taking turns with the other large decodes.
// nullopt: read the data streaming instead, the source back where the data begins.
template <int Bpp>
std::optional<Fast> decodeWhole(
    Source* source, uint32_t firstLength, Reducer* reducer, const std::atomic<bool>* stop)
{
    const size_t width = size_t(reducer->width), height = size_t(reducer->height);
    const size_t stride = width * Bpp + 1;
    const uint64_t raw = uint64_t(stride) * height;
    const uint64_t start = source->position(), remaining = source->remaining();
    if (remaining == 0 || remaining >= raw / 4 * 3 || raw + remaining > PngWholeLimit)
        return std::nullopt;
    const auto turn = reserveDecodeMemory(qint64(raw + remaining));
    // Uninitialised: libdeflate and the reads fill them.
    std::unique_ptr<unsigned char[]> compressed(new (std::nothrow) unsigned char[size_t(remaining)]);
    std::unique_ptr<unsigned char[]> rows(new (std::nothrow) unsigned char[size_t(raw) + 8]);
    if (!compressed || !rows)
        return std::nullopt;
    // The IDAT chunks' contents, each chunk's CRC checked; a file that ends after the last
    // one's CRC is read as the streaming route reads it.
    size_t size = 0;
    for (uint32_t length = firstLength;;) {
        if (length > remaining - size || !source->read(compressed.get() + size, length))
            return Fast::Unreadable;
        const uint32_t crc
            = libdeflate_crc32(libdeflate_crc32(0, "IDAT", 4), compressed.get() + size, length);
        size += length;
        unsigned char b[8];
        if (!source->read(b, 4) || bigEndian32(b) != crc)
            return Fast::Unreadable;
        if (!source->read(b, 8) || !isChunkType(bigEndian32(b + 4), "IDAT"))
            break;
        length = bigEndian32(b);
        if (length > 0x7FFFFFFFu)
            return Fast::Unreadable;
    }
    if (stop && stop->load(std::memory_order_relaxed))
        return Fast::Unreadable;
    const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater(
        libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!inflater)
        return source->seekTo(start) ? std::nullopt : std::optional<Fast>(Fast::Unreadable);
    // Without an actual size asked for, fewer bytes than the rows need is an error; more
    // (data past the last row, which the stream may carry) is left to the streaming route,
    // which reads it through to check the Adler-32.
    const libdeflate_result result = libdeflate_zlib_decompress(
        inflater.get(), compressed.get(), size, rows.get(), size_t(raw), nullptr);
    compressed.reset();
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
        return source->seekTo(start) ? std::nullopt : std::optional<Fast>(Fast::Unreadable);
    if (result != LIBDEFLATE_SUCCESS)
        return Fast::Unreadable; // damaged, a wrong Adler-32, or too few rows
    std::vector<unsigned char> zeros(stride + 8, 0); // the row before the first
    for (size_t y = 0; y < height; ++y) {
        if (y % 64 == 0 && stop && stop->load(std::memory_order_relaxed))
            return Fast::Unreadable;
        unsigned char* row = rows.get() + y * stride;
        if (row[0] > 4)
            return Fast::Unreadable;
        unfilter<Bpp>(row[0], row + 1, y > 0 ? row + 1 - stride : zeros.data() + 1, width * Bpp);
        reducer->add(int(y), row + 1);
    }
    return Fast::Made;
}

Fast decodeTruecolour(Source* source, QSize box, QImage* out, QSize* upright, const std::atomic<bool>* stop)
{
    // The signature, then IHDR with its CRC.
    unsigned char head[8 + 8 + 13 + 4];
    if (!source->read(head, sizeof head))
        return Fast::UseLibpng;
    const unsigned char* ihdr = head + 16;
    if (bigEndian32(head + 8) != 13 || !isChunkType(bigEndian32(head + 12), "IHDR"))
        return Fast::UseLibpng;
    if (libdeflate_crc32(0, head + 12, 4 + 13) != bigEndian32(ihdr + 13))
        return Fast::Unreadable;
    const uint32_t width = bigEndian32(ihdr), height = bigEndian32(ihdr + 4);
    const int depth = ihdr[8], colourType = ihdr[9];
    if (depth != 8 || (colourType != 2 && colourType != 6) || ihdr[10] != 0 || ihdr[11] != 0 || ihdr[12] > 1
        || width > 0x7FFFFFFFu || height > 0x7FFFFFFFu)
        return Fast::UseLibpng; // libpng reads, expands or refuses it
    // The chunks up to the picture data: tRNS (transparency by colour) and eXIf send the file
    // to libpng; other chunks are passed unread.
    uint32_t length = 0;
    for (;;) {
        unsigned char b[8];
        if (!source->read(b, 8))
            return Fast::Unreadable;
        length = bigEndian32(b);
        const uint32_t type = bigEndian32(b + 4);
        if (length > 0x7FFFFFFFu || !std::all_of(b + 4, b + 8, [](unsigned char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            }))
            return Fast::Unreadable; // as libpng refuses them
        if (isChunkType(type, "IDAT"))
            break;
        if (isChunkType(type, "tRNS") || isChunkType(type, "eXIf") || isChunkType(type, "IEND")
            || (!(b[4] & 0x20) && !isChunkType(type, "PLTE")))
            return Fast::UseLibpng; // including unknown critical chunks, which it refuses
        if (!source->skip(uint64_t(length) + 4))
            return Fast::Unreadable;
    }
    const QSize size { int(width), int(height) };
    QSize target;
    if (const auto refused = checkRoute(size, box, ihdr[12] != 0, false, upright, &target))
        return *refused == PngOutcome::Unreadable ? Fast::Unreadable : Fast::NotHandled;
    const bool alpha = colourType == 6;
    Reducer reducer(size.width(), size.height(), target, alpha);
    if (reducer.image.isNull())
        return Fast::Unreadable;
    const std::optional<Fast> whole = alpha ? decodeWhole<4>(source, length, &reducer, stop)
                                            : decodeWhole<3>(source, length, &reducer, stop);
    IdatStream idat { source };
    idat.left = length;
    idat.crc = libdeflate_crc32(0, "IDAT", 4);
    const Fast result = whole ? *whole
        : alpha               ? decodeRows<4>(source, &idat, &reducer, stop)
                              : decodeRows<3>(source, &idat, &reducer, stop);
    if (result != Fast::Made)
        return result;
    reducer.flush();
    *out = std::move(reducer.image);
    return Fast::Made;
}

// Whether each chunk up to IEND lies within the data's size, from the chunks' headers alone.
template <typename ReadAt> bool chunksFit(ReadAt readAt, uint64_t size)
{
    for (uint64_t at = 8; at + 8 <= size;) {
        unsigned char b[8];
        if (!readAt(at, b))
            return false;
        const uint64_t length = bigEndian32(b);
        if (length > 0x7FFFFFFFu || at + 12 + length > size)
            return false;
        if (isChunkType(bigEndian32(b + 4), "IEND"))
            break;
        at += 12 + length;
    }
    return true;
}

PngOutcome outcomeOf(Fast fast)
{
    return fast == Fast::Made      ? PngOutcome::Made
        : fast == Fast::Unreadable ? PngOutcome::Unreadable
                                   : PngOutcome::NotHandled;
}

} // namespace

PngOutcome makePngThumbnail(int fd, QSize box, QImage* out, QSize* upright, const std::atomic<bool>* stop)
{
    unsigned char head[8];
    ssize_t n;
    n = preadRetrying(fd, head, sizeof head, 0);
    if (n < 0 || !looksLikePng(head, size_t(n)) || ::lseek(fd, 0, SEEK_SET) != 0)
        return PngOutcome::NotHandled;
    Source source;
    source.fd = fd;
    source.buffer.resize(256 * 1024);
    if (const Fast fast = decodeTruecolour(&source, box, out, upright, stop); fast != Fast::UseLibpng)
        return outcomeOf(fast);
    if (::lseek(fd, 0, SEEK_SET) != 0 || !pngChunksFit(fd))
        return PngOutcome::Unreadable;
    State state;
    state.source.fd = fd;
    state.source.buffer = std::move(source.buffer);
    return decode(&state, box, out, upright, stop);
}

PngOutcome makePngThumbnailFromMemory(const unsigned char* data, size_t size, QSize box, QImage* out)
{
    if (!looksLikePng(data, size))
        return PngOutcome::NotHandled;
    Source source;
    source.data = data;
    source.end = size;
    if (const Fast fast = decodeTruecolour(&source, box, out, nullptr, nullptr); fast != Fast::UseLibpng)
        return outcomeOf(fast);
    if (!pngChunksFit(data, size))
        return PngOutcome::Unreadable;
    State state;
    state.source.data = data;
    state.source.end = size;
    return decode(&state, box, out, nullptr, nullptr);
}

bool pngChunksFit(int fd)
{
    struct stat st;
    unsigned char head[8];
    if (::fstat(fd, &st) != 0 || preadRetrying(fd, head, 8, 0) != 8 || !looksLikePng(head, 8))
        return true;
    return chunksFit([fd](uint64_t at, unsigned char* b) { return preadRetrying(fd, b, 8, off_t(at)) == 8; },
        uint64_t(st.st_size));
}

bool pngChunksFit(const unsigned char* data, size_t size)
{
    if (!looksLikePng(data, size))
        return true;
    return chunksFit(
        [data](uint64_t at, unsigned char* b) {
            std::memcpy(b, data + at, 8);
            return true;
        },
        size);
}

bool pngChunksFit(QIODevice* device)
{
    if (!device || device->isSequential())
        return true;
    const QByteArray head = device->peek(8);
    if (!looksLikePng(reinterpret_cast<const unsigned char*>(head.constData()), size_t(head.size())))
        return true;
    const qint64 start = device->pos();
    const bool fit = chunksFit(
        [device, start](uint64_t at, unsigned char* b) {
            return device->seek(start + qint64(at)) && device->read(reinterpret_cast<char*>(b), 8) == 8;
        },
        uint64_t(device->size() - start));
    device->seek(start);
    return fit;
}

} // namespace ztv
