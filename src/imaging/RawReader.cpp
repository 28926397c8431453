// Camera RAW files through LibRaw (its thread-safe build): the embedded JPEG preview through
// the program's own JPEG route, else a half-size decode of the sensor data.
#include "ExifThumbnail.h"
#include "ExtraReaders.h"
#include "JpegThumbnailer.h"
#include "ThumbnailEngine.h"

#include <libraw/libraw.h>

#include <memory>

namespace ztv::extra {

namespace {

// LibRaw's own ceiling for the sensor data it unpacks, in MiB.
constexpr unsigned RawMemoryLimitMb = 512;

// LibRaw's flip (dcraw's: bit 4 transposes, bit 2 flips top to bottom, bit 1 left to right)
// as the EXIF orientation it came from.
int orientationOf(int flip)
{
    static const int table[8] = { 1, 2, 4, 3, 5, 8, 6, 7 };
    return (flip >= 0 && flip < 8) ? table[flip] : 1;
}

int cancelled(void* data, LibRaw_progress, int, int)
{
    return stopped(*static_cast<const ExtraRequest*>(data)) ? 1 : 0;
}

// The half-size decode of the sensor data (one pixel per colour block), upright.
QImage halfSize(LibRaw& raw, const ExtraRequest& request)
{
    const libraw_image_sizes_t& s = raw.imgdata.sizes;
    const qint64 rawPixels = qint64(s.raw_width) * s.raw_height;
    const qint64 outPixels = qint64(s.width / 2 + 1) * (s.height / 2 + 1);
    if (rawPixels <= 0 || rawPixels > ExtraPixelLimit || outPixels > request.maxPixels)
        return {};
    raw.imgdata.params.half_size = 1;
    raw.imgdata.params.use_camera_wb = 1;
    raw.imgdata.params.output_bps = 8;
    raw.set_progress_handler(cancelled, const_cast<ExtraRequest*>(&request));
    // The unpacked sensor data (2 bytes a pixel) and the working picture (8 bytes a pixel).
    const DecodeReservation turn = reserveDecodeMemory(rawPixels * 2 + outPixels * 8);
    if (raw.unpack() != LIBRAW_SUCCESS || raw.dcraw_process() != LIBRAW_SUCCESS)
        return {};
    int err = 0;
    libraw_processed_image_t* processed = raw.dcraw_make_mem_image(&err); // applies the flip
    if (!processed)
        return {};
    QImage image;
    if (processed->type == LIBRAW_IMAGE_BITMAP && processed->colors == 3 && processed->bits == 8
        && qint64(processed->width) * processed->height <= outPixels * 2) {
        const QImage view(processed->data, processed->width, processed->height, processed->width * 3,
            QImage::Format_RGB888);
        image = view.copy();
    }
    LibRaw::dcraw_clear_mem(processed);
    return image;
}

} // namespace

QImage decodeRaw(
    const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright, bool probeOnly)
{
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    raw->imgdata.params.max_raw_memory_mb = RawMemoryLimitMb;
    if (raw->open_buffer(const_cast<unsigned char*>(data), size) != LIBRAW_SUCCESS)
        return {};
    const libraw_image_sizes_t& s = raw->imgdata.sizes;
    if (s.width == 0 || s.height == 0 || qint64(s.raw_width) * s.raw_height > ExtraPixelLimit)
        return {};
    // Over the budget only the preview may serve.
    const bool over = qint64(s.raw_width) * s.raw_height > request.maxPixels
        || qint64(s.width) * s.height > request.maxPixels;
    const int orientation = orientationOf(s.flip);
    const bool turned = orientationSwapsSides(orientation);
    const QSize stored(s.width, s.height);
    const QSize full = turned ? stored.transposed() : stored;
    if (upright)
        *upright = full;
    if (probeOnly)
        return {};

    // The embedded JPEG preview, when it is of the picture's shape: for a thumbnail when it is
    // large enough for the box; and whatever the box when it is at least half the sensor's
    // width or full HD (often it is the full size), which is all the display shows.
    // A preview larger than the picture is not trusted; over the budget any preview of the
    // picture's shape serves.
    const libraw_thumbnail_t& t = raw->imgdata.thumbnail;
    const QSize preview(t.twidth, t.theight);
    const bool large
        = preview.width() * 2 >= stored.width() || std::max(preview.width(), preview.height()) >= 1920;
    const bool trusted = !preview.isEmpty() && preview.width() <= stored.width()
        && preview.height() <= stored.height()
        && qint64(preview.width()) * preview.height() <= request.maxPixels;
    const bool usable = trusted
        && (embeddedServes(preview, stored, turned ? request.box.transposed() : request.box)
            || ((large || over) && embeddedServes(preview, stored, preview)));
    // A preview length beyond the file itself is a lie that would make LibRaw allocate it.
    // Its kind (JPEG or bitmap) is known only once it is unpacked.
    if (usable && t.tlength > 0 && t.tlength <= size && raw->unpack_thumb() == LIBRAW_SUCCESS
        && t.tformat == LIBRAW_THUMBNAIL_JPEG && t.thumb && t.tlength <= size) {
        // The JPEG's real size may differ from what the RAW claims for it: it is decoded to
        // at most the claimed size (scaled down while decoding), so a preview claiming 240 x 160
        // that holds 16384 x 16384 costs what 240 x 160 would. Its own EXIF orientation is
        // ignored: the RAW's orientation below turns it, once.
        const QSize box = request.box.isValid() ? (turned ? request.box.transposed() : request.box) : preview;
        QImage image;
        if (makeJpegThumbnailFromMemory(
                reinterpret_cast<const unsigned char*>(t.thumb), t.tlength, box, &image, false, request.stop)
            == JpegOutcome::Made)
            return fitToRequest(applyExifOrientation(std::move(image), orientation), request);
    }
    if (stopped(request))
        return {};
    if (over) {
        logRefusal("camera RAW over the pixel budget and no usable preview", full);
        return {};
    }
    return fitToRequest(halfSize(*raw, request), request);
}

} // namespace ztv::extra
