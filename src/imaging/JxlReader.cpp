// JPEG XL through libjxl.
#include "ExtraReaders.h"
#include "ThumbnailEngine.h"

#include <jxl/decode.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace ztv::extra {

namespace {

// All of libjxl's own allocations for one decode together may not pass this: its working
// buffers (floats, several per pixel) would otherwise be bounded only by the header's claim.
constexpr size_t JxlMemoryLimit = 768u * 1024 * 1024;

// Counts what the decoder holds; each block carries its size in front.
struct Budget {
    size_t used = 0;
};

void* budgetAlloc(void* opaque, size_t size)
{
    auto* budget = static_cast<Budget*>(opaque);
    constexpr size_t header = 64; // keeps the decoder's alignment
    if (size > JxlMemoryLimit || budget->used + size > JxlMemoryLimit)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(size + header));
    if (!block)
        return nullptr;
    *reinterpret_cast<size_t*>(block) = size;
    budget->used += size;
    return block + header;
}

void budgetFree(void* opaque, void* address)
{
    if (!address)
        return;
    auto* block = static_cast<unsigned char*>(address) - 64;
    static_cast<Budget*>(opaque)->used -= *reinterpret_cast<size_t*>(block);
    std::free(block);
}

struct DecoderFree {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

} // namespace

namespace {

// The picture's basic information from its headers alone.
bool basicInfo(const unsigned char* data, size_t size, JxlBasicInfo* info)
{
    Budget budget;
    JxlMemoryManager memory { &budget, budgetAlloc, budgetFree };
    std::unique_ptr<JxlDecoder, DecoderFree> decoder(JxlDecoderCreate(&memory));
    if (!decoder || JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(decoder.get(), data, size) != JXL_DEC_SUCCESS)
        return false;
    JxlDecoderCloseInput(decoder.get());
    return JxlDecoderProcessInput(decoder.get()) == JXL_DEC_BASIC_INFO
        && JxlDecoderGetBasicInfo(decoder.get(), info) == JXL_DEC_SUCCESS;
}

} // namespace

QImage decodeJxl(
    const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright, bool probeOnly)
{
    JxlBasicInfo info {};
    if (!basicInfo(data, size, &info))
        return {};
    const qint64 pixels = qint64(info.xsize) * info.ysize;
    if (pixels <= 0 || pixels > ExtraPixelLimit || info.xsize > 65535 || info.ysize > 65535)
        return {};
    // The decoder turns the picture (and its preview) upright itself (its orientation field).
    const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
    const QSize full
        = turned ? QSize(int(info.ysize), int(info.xsize)) : QSize(int(info.xsize), int(info.ysize));
    if (upright)
        *upright = full;
    if (probeOnly)
        return {};
    // Over the budget, the preview frame stands in when it is of the picture's shape and no
    // larger than it; it is read too when it serves the box.
    const QSize previewStored(int(info.preview.xsize), int(info.preview.ysize));
    const QSize preview = turned ? previewStored.transposed() : previewStored;
    const bool previewTrusted = info.have_preview && !preview.isEmpty() && preview.width() <= full.width()
        && preview.height() <= full.height()
        && qint64(preview.width()) * preview.height() <= request.maxPixels
        && embeddedServes(preview, full, preview);
    const bool over = pixels > request.maxPixels;
    const bool usePreview
        = previewTrusted && (over || (request.box.isValid() && embeddedServes(preview, full, request.box)));
    if (over && !usePreview) {
        logRefusal("JPEG XL picture over the pixel budget and no usable preview", full);
        return {};
    }
    const QSize out = usePreview ? preview : full;

    Budget budget;
    // The output picture counts against the decoder's budget too.
    budget.used = size_t(out.width()) * size_t(out.height()) * 4;
    JxlMemoryManager memory { &budget, budgetAlloc, budgetFree };
    std::unique_ptr<JxlDecoder, DecoderFree> decoder(JxlDecoderCreate(&memory));
    if (!decoder)
        return {};
    JxlDecoder* const dec = decoder.get();
    const int events = usePreview ? JXL_DEC_PREVIEW_IMAGE : JXL_DEC_FULL_IMAGE;
    if (JxlDecoderSubscribeEvents(dec, events) != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS)
        return {};
    JxlDecoderCloseInput(dec);
    JxlDecoderSetKeepOrientation(dec, JXL_FALSE);
    // The decoder's float buffers, about 16 bytes a pixel.
    const DecodeReservation turn = reserveDecodeMemory(qint64(out.width()) * out.height() * 16);
    QImage image;
    const JxlPixelFormat format { 4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
    for (;;) {
        if (stopped(request))
            return {};
        switch (JxlDecoderProcessInput(dec)) {
        case JXL_DEC_NEED_PREVIEW_OUT_BUFFER:
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            image = QImage(out, QImage::Format_RGBA8888);
            size_t needed = 0;
            const JxlDecoderStatus sized = usePreview ? JxlDecoderPreviewOutBufferSize(dec, &format, &needed)
                                                      : JxlDecoderImageOutBufferSize(dec, &format, &needed);
            if (image.isNull() || sized != JXL_DEC_SUCCESS || needed != size_t(image.sizeInBytes()))
                return {};
            const JxlDecoderStatus set = usePreview
                ? JxlDecoderSetPreviewOutBuffer(dec, &format, image.bits(), needed)
                : JxlDecoderSetImageOutBuffer(dec, &format, image.bits(), needed);
            if (set != JXL_DEC_SUCCESS)
                return {};
            break;
        }
        case JXL_DEC_PREVIEW_IMAGE:
        case JXL_DEC_FULL_IMAGE: // the first frame of an animation is enough
            if (!info.alpha_bits)
                image.convertTo(QImage::Format_RGBX8888);
            return fitToRequest(std::move(image), request);
        case JXL_DEC_SUCCESS:
        default: // an error, or input that ends before the picture does
            return {};
        }
    }
}

} // namespace ztv::extra
