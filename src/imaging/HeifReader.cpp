// HEIC, HEIF and AVIF through libheif.
#include "ExtraReaders.h"
#include "ThumbnailEngine.h"

#include <libheif/heif.h>

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
    const Context context = newContext();
    if (!context
        || heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr).code
            != heif_error_Ok)
        return {};
    return decodeContext(context.get(), request, upright, probeOnly);
}

QImage decodeHeifFile(int fd, const ExtraRequest& request, QSize* upright)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0)
        return {};
    FdReader reader { fd, int64_t(st.st_size) };
    const Context context = newContext();
    if (!context
        || heif_context_read_from_reader(context.get(), &kFdReader, &reader, nullptr).code != heif_error_Ok)
        return {};
    return decodeContext(context.get(), request, upright, false);
}

} // namespace ztv::extra
