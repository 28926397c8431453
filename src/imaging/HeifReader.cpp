// HEIC, HEIF and AVIF through libheif.
#include "ExtraReaders.h"
#include "ThumbnailEngine.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ztv::extra {

namespace {

// libheif refuses any image (grid or tile) wider or taller than this itself, before it
// allocates; 16384 x 16384 is the shared pixel limit.
constexpr int HeifSideLimit = 16384;

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleFree {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageFree {
    void operator()(heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<heif_image_handle, HandleFree>;
using Image = std::unique_ptr<heif_image, ImageFree>;

void initOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { heif_init(nullptr); });
}

QSize sizeOf(const heif_image_handle* h)
{
    return { heif_image_handle_get_width(h), heif_image_handle_get_height(h) };
}

// The smallest embedded thumbnail that can stand in for the picture in the box; with
// anyServes (the picture itself is over the budget) the largest when none is large enough.
// A thumbnail larger than its picture, or over the budget, is never trusted: it may be a grid
// describing more pixels than the picture.
Handle usableThumbnail(heif_image_handle* primary, QSize box, qint64 maxPixels, bool anyServes)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0 || count > 64)
        return {};
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids.data(), count);
    Handle best;
    bool bestServes = false;
    for (heif_item_id id : ids) {
        heif_image_handle* raw = nullptr;
        if (heif_image_handle_get_thumbnail(primary, id, &raw).code != heif_error_Ok)
            continue;
        Handle thumb(raw);
        const QSize size = sizeOf(thumb.get());
        const QSize main = sizeOf(primary);
        if (size.isEmpty() || size.width() > main.width() || size.height() > main.height()
            || qint64(size.width()) * size.height() > maxPixels)
            continue;
        const bool serves = embeddedServes(size, main, box);
        if (!serves && !(anyServes && embeddedServes(size, main, size)))
            continue;
        const qint64 pixels = qint64(size.width()) * size.height();
        if (!best) {
            best = std::move(thumb);
            bestServes = serves;
            continue;
        }
        const qint64 bestPixels = qint64(sizeOf(best.get()).width()) * sizeOf(best.get()).height();
        if ((serves && (!bestServes || pixels < bestPixels))
            || (!serves && !bestServes && pixels > bestPixels)) {
            best = std::move(thumb);
            bestServes = serves;
        }
    }
    return best;
}

QImage decodeHandle(const heif_image_handle* handle, const ExtraRequest& request)
{
    const QSize size = sizeOf(handle);
    const qint64 pixels = qint64(size.width()) * size.height();
    if (size.isEmpty() || pixels > request.maxPixels || pixels > ExtraPixelLimit)
        return {};
    const bool alpha = heif_image_handle_has_alpha_channel(handle);
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    // The decoder's planes and the interleaved result together, about 6 bytes a pixel.
    const DecodeReservation turn = reserveDecodeMemory(pixels * 6);
    if (stopped(request))
        return {};
    heif_image* raw = nullptr;
    const heif_error err = heif_decode_image(handle, &raw, heif_colorspace_RGB,
        alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
    Image decoded(raw);
    if (err.code != heif_error_Ok || !decoded)
        return {};
    const int w = heif_image_get_width(decoded.get(), heif_channel_interleaved);
    const int h = heif_image_get_height(decoded.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved, &stride);
    if (!plane || w <= 0 || h <= 0 || qint64(w) * h > pixels || stride < w * (alpha ? 4 : 3))
        return {};
    QImage image(w, h, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        return {};
    const size_t rowBytes = size_t(w) * (alpha ? 4 : 3);
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), plane + size_t(y) * size_t(stride), rowBytes);
    return image;
}

// The boxes walked before the meta box, and inside it, are few in any real file.
constexpr int HeifBoxWalkLimit = 64;

constexpr uint32_t fourcc(const char (&t)[5])
{
    return uint32_t(uint8_t(t[0])) << 24 | uint32_t(uint8_t(t[1])) << 16 | uint32_t(uint8_t(t[2])) << 8
        | uint32_t(uint8_t(t[3]));
}

uint32_t be32At(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// The bytes of a file or buffer at an offset, for the box walk.
class BoxBytes {
public:
    virtual ~BoxBytes() = default;
    // Fills out with n bytes at offset; false when they are not all there.
    virtual bool read(int64_t offset, unsigned char* out, size_t n) = 0;
};

class MemoryBoxBytes final : public BoxBytes {
public:
    MemoryBoxBytes(const unsigned char* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool read(int64_t offset, unsigned char* out, size_t n) override
    {
        if (offset < 0 || uint64_t(offset) > m_size || n > m_size - size_t(offset))
            return false;
        std::memcpy(out, m_data + offset, n);
        return true;
    }

private:
    const unsigned char* m_data;
    size_t m_size;
};

// Reads the file a block at a time, so that walking many small boxes costs a few reads.
class FileBoxBytes final : public BoxBytes {
public:
    FileBoxBytes(int fd, int64_t size)
        : m_fd(fd)
        , m_size(size)
    {
    }
    bool read(int64_t offset, unsigned char* out, size_t n) override
    {
        if (offset < 0 || offset > m_size || int64_t(n) > m_size - offset)
            return false;
        while (n > 0) {
            if (offset < m_blockStart || offset >= m_blockStart + int64_t(m_block.size())) {
                if (!load(offset - offset % Block))
                    return false;
            }
            const size_t at = size_t(offset - m_blockStart);
            const size_t take = std::min(n, m_block.size() - at);
            std::memcpy(out, m_block.data() + at, take);
            out += take;
            offset += int64_t(take);
            n -= take;
        }
        return true;
    }

private:
    static constexpr int64_t Block = 64 * 1024;
    bool load(int64_t start)
    {
        m_block.resize(size_t(std::min(Block, m_size - start)));
        size_t done = 0;
        while (done < m_block.size()) {
            const ssize_t got
                = ::pread(m_fd, m_block.data() + done, m_block.size() - done, off_t(start + int64_t(done)));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0) {
                m_block.clear();
                return false;
            }
            done += size_t(got);
        }
        m_blockStart = start;
        return true;
    }

    int m_fd;
    int64_t m_size;
    std::vector<unsigned char> m_block;
    int64_t m_blockStart = 0;
};

struct Box {
    uint32_t type = 0;
    int64_t body = 0; // after the header
    int64_t end = 0;
};

// The box at `at`, which must lie within its container ending at `limit`: a size of 0 runs to
// the container's end, a size of 1 is given in 64 bits after the type.
bool readBox(BoxBytes& bytes, int64_t at, int64_t limit, Box* box)
{
    unsigned char h[16];
    if (limit - at < 8 || !bytes.read(at, h, 8))
        return false;
    uint64_t size = be32At(h);
    int64_t header = 8;
    if (size == 1) {
        if (limit - at < 16 || !bytes.read(at + 8, h + 8, 8))
            return false;
        size = uint64_t(be32At(h + 8)) << 32 | be32At(h + 12);
        header = 16;
    } else if (size == 0) {
        size = uint64_t(limit - at);
    }
    if (size < uint64_t(header) || size > uint64_t(limit - at))
        return false;
    box->type = be32At(h + 4);
    box->body = at + header;
    box->end = at + int64_t(size);
    return true;
}

// The full box's version byte, and the count that follows its flags: 16 bits in the versions
// below wideFrom, else 32; `skip` bytes lie between the flags and the count.
bool fullBoxCount(BoxBytes& bytes, const Box& box, int skip, int wideFrom, int* version, int64_t* count)
{
    unsigned char b[12];
    if (box.end - box.body < 4 + skip || !bytes.read(box.body, b, 4))
        return false;
    *version = b[0];
    const int width = *version < wideFrom ? 2 : 4;
    if (box.end - box.body < 4 + skip + width || !bytes.read(box.body + 4 + skip, b + 4, size_t(width)))
        return false;
    *count = width == 2 ? int64_t(b[4]) << 8 | b[5] : int64_t(be32At(b + 4));
    return true;
}

// The most items the file's boxes declare (iinf's count and its entries, iloc's and ipma's
// counts), reading only the boxes' heads; -1 when the boxes are not sound, or when iinf and
// iloc are missing, without which libheif reads nothing either. The walk stops once the count
// is over the limit.
int64_t heifItemCount(BoxBytes& bytes, int64_t fileSize)
{
    Box box;
    if (!readBox(bytes, 0, fileSize, &box) || box.type != fourcc("ftyp"))
        return -1;
    for (int walked = 0;; ++walked) {
        if (walked > HeifBoxWalkLimit || !readBox(bytes, box.end, fileSize, &box))
            return -1;
        if (box.type == fourcc("meta"))
            break;
    }
    const int64_t metaEnd = box.end;
    int64_t items = 0;
    bool iinf = false, iloc = false;
    int version = 0;
    int64_t count = 0;
    Box child { 0, 0, box.body + 4 }; // after the meta box's version and flags
    for (int walked = 0; child.end < metaEnd; ++walked) {
        if (walked > HeifBoxWalkLimit || !readBox(bytes, child.end, metaEnd, &child))
            return -1;
        if (child.type == fourcc("iinf")) {
            if (iinf || !fullBoxCount(bytes, child, 0, 1, &version, &count))
                return -1;
            iinf = true;
            items = std::max(items, count);
            // libheif reads every entry present, whatever the count says.
            Box entry { 0, 0, child.body + 4 + (version == 0 ? 2 : 4) };
            for (int64_t entries = 0; entry.end < child.end && entries <= HeifItemLimit; ++entries) {
                if (!readBox(bytes, entry.end, child.end, &entry))
                    return -1;
                items = std::max(items, entries + 1);
            }
        } else if (child.type == fourcc("iloc")) {
            if (iloc || !fullBoxCount(bytes, child, 2, 2, &version, &count) || version > 2)
                return -1;
            iloc = true;
            items = std::max(items, count);
        } else if (child.type == fourcc("iprp")) {
            Box property { 0, 0, child.body };
            for (int inner = 0; property.end < child.end; ++inner) {
                if (inner > HeifBoxWalkLimit || !readBox(bytes, property.end, child.end, &property))
                    return -1;
                if (property.type == fourcc("ipma")) {
                    // Its entry count is 32 bits in every version.
                    if (!fullBoxCount(bytes, property, 0, 0, &version, &count))
                        return -1;
                    items = std::max(items, count);
                }
            }
        }
        if (items > HeifItemLimit)
            return items;
    }
    return iinf && iloc ? items : -1;
}

// Whether the file's boxes are sound and declare no more items than a picture needs.
bool itemsWithinLimit(BoxBytes& bytes, int64_t fileSize)
{
    const int64_t items = heifItemCount(bytes, fileSize);
    if (items < 0) {
        logRefusal("HEIF file whose boxes are not sound", {});
        return false;
    }
    if (items > HeifItemLimit) {
        logRefusal("HEIF file with more items than a picture needs", {});
        return false;
    }
    return true;
}

} // namespace

namespace {

// Reads the open file where libheif asks, so that a thumbnail costs the boxes and its own data.
struct FdReader {
    int fd;
    int64_t size;
    int64_t position = 0;
};

int64_t fdPosition(void* userdata)
{
    return static_cast<FdReader*>(userdata)->position;
}

int fdRead(void* data, size_t size, void* userdata)
{
    auto* r = static_cast<FdReader*>(userdata);
    auto* out = static_cast<char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(r->fd, out + done, size - done, off_t(r->position + int64_t(done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        done += size_t(n);
    }
    r->position += int64_t(size);
    return 0;
}

int fdSeek(int64_t position, void* userdata)
{
    auto* r = static_cast<FdReader*>(userdata);
    if (position < 0 || position > r->size)
        return -1;
    r->position = position;
    return 0;
}

heif_reader_grow_status fdWait(int64_t target, void* userdata)
{
    return target <= static_cast<FdReader*>(userdata)->size ? heif_reader_grow_status_size_reached
                                                            : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader kFdReader { 1, fdPosition, fdRead, fdSeek, fdWait };

Context newContext()
{
    initOnce();
    Context context(heif_context_alloc());
    if (context) {
        heif_context_set_maximum_image_size_limit(context.get(), HeifSideLimit);
        // Thumbnails are made on several workers already; more threads each would only crowd.
        heif_context_set_max_decoding_threads(context.get(), 0);
    }
    return context;
}

QImage decodeContext(heif_context* context, const ExtraRequest& request, QSize* upright, bool probeOnly)
{
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(context, &raw).code != heif_error_Ok)
        return {};
    const Handle primary(raw);
    // The handle's size is the picture's after its rotation and mirror properties, as the
    // decode gives it.
    const QSize full = sizeOf(primary.get());
    if (full.isEmpty() || qint64(full.width()) * full.height() > ExtraPixelLimit)
        return {};
    if (upright)
        *upright = full;
    if (probeOnly)
        return {};
    // A grid's size is what it declares, however few tiles it codes: checked before decoding.
    const bool over = qint64(full.width()) * full.height() > request.maxPixels;
    if (request.box.isValid() || over) {
        const QSize box = request.box.isValid() ? request.box : full;
        if (const Handle thumb = usableThumbnail(primary.get(), box, request.maxPixels, over)) {
            QImage image = decodeHandle(thumb.get(), request);
            if (!image.isNull() || over)
                return fitToRequest(std::move(image), request);
        }
    }
    if (over) {
        logRefusal("HEIF picture over the pixel budget and no usable embedded thumbnail", full);
        return {};
    }
    return fitToRequest(decodeHandle(primary.get(), request), request);
}

} // namespace

QImage decodeHeif(
    const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright, bool probeOnly)
{
    MemoryBoxBytes bytes(data, size);
    if (!itemsWithinLimit(bytes, int64_t(size)))
        return {};
    const Context context = newContext();
    if (!context
        || heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr).code
            != heif_error_Ok)
        return {};
    return decodeContext(context.get(), request, upright, probeOnly);
}

namespace {

// A context that has read the boxes of the open file, once they declare no more items than the
// limit; reader must outlive it. None when the file is empty, too busy or not HEIF.
Context readFile(int fd, FdReader& reader)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0)
        return {};
    FileBoxBytes bytes(fd, int64_t(st.st_size));
    if (!itemsWithinLimit(bytes, int64_t(st.st_size)))
        return {};
    reader = FdReader { fd, int64_t(st.st_size) };
    Context context = newContext();
    if (!context
        || heif_context_read_from_reader(context.get(), &kFdReader, &reader, nullptr).code != heif_error_Ok)
        return {};
    return context;
}

} // namespace

QByteArray heifExifBlock(int fd)
{
    FdReader reader { fd, 0 };
    const Context context = readFile(fd, reader);
    heif_image_handle* raw = nullptr;
    if (!context || heif_context_get_primary_image_handle(context.get(), &raw).code != heif_error_Ok)
        return {};
    const Handle primary(raw);
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(primary.get(), "Exif", &id, 1) < 1)
        return {};
    const size_t size = heif_image_handle_get_metadata_size(primary.get(), id);
    if (size < 8 || size > 16 * 1024 * 1024)
        return {};
    QByteArray data(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(primary.get(), id, data.data()).code != heif_error_Ok)
        return {};
    // The block starts with the offset of its TIFF header, after these four bytes.
    const uint32_t offset = be32At(reinterpret_cast<const unsigned char*>(data.constData()));
    if (offset > size - 8 - 4)
        return {};
    return QByteArray("Exif\0\0", 6) + data.mid(qsizetype(4 + offset));
}

QImage decodeHeifFile(int fd, const ExtraRequest& request, QSize* upright)
{
    FdReader reader { fd, 0 };
    const Context context = readFile(fd, reader);
    return context ? decodeContext(context.get(), request, upright, false) : QImage();
}

} // namespace ztv::extra
