// JPEG XL through libjxl.
#include "ExtraReaders.h"
#include "ThumbnailEngine.h"

#include <jxl/decode.h>

#include <atomic>
#include <cstdlib>
#include <memory>

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

QImage decodeJxl(
    const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright, bool probeOnly)
{
    Budget budget;
    JxlMemoryManager memory { &budget, budgetAlloc, budgetFree };
    std::unique_ptr<JxlDecoder, DecoderFree> decoder(JxlDecoderCreate(&memory));
    if (!decoder)
        return {};
    JxlDecoder* const dec = decoder.get();
    const int events = JXL_DEC_BASIC_INFO | (probeOnly ? 0 : JXL_DEC_FULL_IMAGE);
    if (JxlDecoderSubscribeEvents(dec, events) != JXL_DEC_SUCCESS
        || JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS)
        return {};
    JxlDecoderCloseInput(dec);
    // The decoder turns the picture upright itself (its orientation field).
    JxlDecoderSetKeepOrientation(dec, JXL_FALSE);
    JxlBasicInfo info {};
    QImage image;
    std::unique_lock<std::mutex> turn;
    const JxlPixelFormat format { 4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0 };
    for (;;) {
        if (stopped(request))
            return {};
        switch (JxlDecoderProcessInput(dec)) {
        case JXL_DEC_BASIC_INFO: {
            if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS)
                return {};
            const qint64 pixels = qint64(info.xsize) * info.ysize;
            if (pixels <= 0 || pixels > ExtraPixelLimit || info.xsize > 65535 || info.ysize > 65535)
                return {};
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            const QSize size
                = turned ? QSize(int(info.ysize), int(info.xsize)) : QSize(int(info.xsize), int(info.ysize));
            if (upright)
                *upright = size;
            if (probeOnly)
                return {};
            if (pixels > request.maxPixels)
                return {};
            // The decoder's float buffers, about 16 bytes a pixel.
            turn = reserveDecodeMemory(pixels * 16);
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            const int w = int(turned ? info.ysize : info.xsize), h = int(turned ? info.xsize : info.ysize);
            image = QImage(w, h, QImage::Format_RGBA8888);
            size_t needed = 0;
            if (image.isNull() || JxlDecoderImageOutBufferSize(dec, &format, &needed) != JXL_DEC_SUCCESS
                || needed != size_t(image.sizeInBytes())
                || JxlDecoderSetImageOutBuffer(dec, &format, image.bits(), needed) != JXL_DEC_SUCCESS)
                return {};
            break;
        }
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
