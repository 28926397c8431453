#include "JpegThumbnailer.h"

#include "ExifThumbnail.h"
#include "ThumbnailEngine.h"
#include "platform/RetryingIo.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include <jerror.h>
#include <jpeglib.h>

namespace ztv {

namespace {

// libjpeg's own pools may not grow past this (progressive files keep every coefficient).
constexpr long JpegMemoryLimit = 256L * 1024 * 1024;

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    bool hitEnd = false;
};

[[noreturn]] void onError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void onMessage(j_common_ptr cinfo, int level)
{
    // Warnings only; the one that matters is the data running out (a truncated file).
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<ErrorManager*>(cinfo->err)->hitEnd = true;
}

void silent(j_common_ptr) { }

// Reads the open file in blocks; the end of the file ends the data with a made-up EOI, as
// libjpeg's own sources do.
// A file may not make the decoder read more than its budget: garbage after the start marker
// of a 2 GB file would otherwise be scanned to the end for the next marker.
constexpr qint64 HeaderReadBudget = 16LL * 1024 * 1024;

struct FdSource {
    jpeg_source_mgr pub;
    int fd;
    qint64 budget;
    JOCTET buffer[64 * 1024];
};

void fdInit(j_decompress_ptr) { }
void fdTerm(j_decompress_ptr) { }

boolean fdFill(j_decompress_ptr cinfo)
{
    auto* src = reinterpret_cast<FdSource*>(cinfo->src);
    ssize_t n = 0;
    if (src->budget > 0) {
        const size_t want = size_t(std::min<qint64>(qint64(sizeof src->buffer), src->budget));
        n = readRetrying(src->fd, src->buffer, want);
    }
    if (n > 0)
        src->budget -= n;
    if (n <= 0) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = size_t(n);
    return TRUE;
}

void fdSkip(j_decompress_ptr cinfo, long count)
{
    auto* src = reinterpret_cast<FdSource*>(cinfo->src);
    if (count <= 0)
        return;
    if (size_t(count) > src->pub.bytes_in_buffer) {
        const off_t beyond = off_t(count) - off_t(src->pub.bytes_in_buffer);
        src->pub.bytes_in_buffer = 0;
        if (::lseek(src->fd, beyond, SEEK_CUR) < 0)
            fdFill(cinfo);
        return;
    }
    src->pub.next_input_byte += count;
    src->pub.bytes_in_buffer -= size_t(count);
}

void useFdSource(j_decompress_ptr cinfo, FdSource* src, int fd)
{
    std::memset(&src->pub, 0, sizeof src->pub);
    src->fd = fd;
    src->budget = HeaderReadBudget;
    src->pub.init_source = fdInit;
    src->pub.fill_input_buffer = fdFill;
    src->pub.skip_input_data = fdSkip;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = fdTerm;
    cinfo->src = &src->pub;
}

struct Input {
    int fd = -1; // the file, or else the bytes below
    const unsigned char* data = nullptr;
    size_t size = 0;
};

struct Job {
    QSize box; // main picture: fit into this box (upright frame)
    QSize exact; // EXIF thumbnail: decode to exactly this size (stored frame)
    QSize mainSize; // EXIF thumbnail: the main picture's stored size, for the aspect test
    bool tryExif = true;
    bool ownOrientation = true; // apply the file's own EXIF orientation
    const std::atomic<bool>* stop = nullptr;
    QSize* upright = nullptr;
    bool* fromExif = nullptr;
};

// libjpeg calls this between passes and every few rows of a pass, also while a progressive
// file's scans are read in, which for a large one takes seconds before the first row: the
// stop ends the decode there as an error would.
struct Progress {
    jpeg_progress_mgr pub;
    const std::atomic<bool>* stop;
};

void onProgress(j_common_ptr cinfo)
{
    const auto* progress = reinterpret_cast<const Progress*>(cinfo->progress);
    if (progress->stop->load(std::memory_order_relaxed))
        std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

// Everything that must outlive a longjmp lives here, reached through one unchanging pointer.
struct State {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    Progress progress {};
    FdSource source;
    ExifFacts exif;
    QImage image;
    QImage exifThumb;
    DecodeReservation turn; // released however the decode ends
};

bool stopped(const Job& job)
{
    return job.stop && job.stop->load(std::memory_order_relaxed);
}

// Smallest libjpeg scale M/8 whose output still covers the target.
unsigned scaleFor(unsigned w, unsigned h, QSize target)
{
    for (unsigned m = 1; m < 8; ++m) {
        if ((w * m + 7) / 8 >= unsigned(target.width()) && (h * m + 7) / 8 >= unsigned(target.height()))
            return m;
    }
    return 8;
}

bool aspectClose(QSize a, QSize b)
{
    const double ra = double(a.width()) / a.height();
    const double rb = double(b.width()) / b.height();
    return std::abs(ra - rb) <= 0.03 * rb;
}

// Progressive files keep every coefficient of the picture (2 bytes each) in memory.
qint64 coefficientBytes(const jpeg_decompress_struct& cinfo)
{
    qint64 bytes = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& comp = cinfo.comp_info[c];
        bytes += qint64(comp.width_in_blocks) * comp.height_in_blocks * 64 * 2;
    }
    return bytes;
}

JpegOutcome run(const Input& in, const Job& job, QImage* out);

// The embedded thumbnail, when it can stand in for the picture: a JPEG at least as large as
// the target and of the picture's shape, or holding the picture at that size between uniform
// bars (3:2 cameras often embed a letterboxed 4:3 one).
bool soundExifThumbnail(const QByteArray& bytes, QSize mainSize, QSize target, QImage* out)
{
    Job job;
    job.exact = target;
    job.mainSize = mainSize;
    job.tryExif = false;
    Input in;
    in.data = reinterpret_cast<const unsigned char*>(bytes.constData());
    in.size = size_t(bytes.size());
    return run(in, job, out) == JpegOutcome::Made;
}

// Errors jump back to the caller's setjmp; warnings only note the data running out.
void createDecompress(State* s)
{
    s->cinfo.err = jpeg_std_error(&s->err.pub);
    s->err.pub.error_exit = onError;
    s->err.pub.emit_message = onMessage;
    s->err.pub.output_message = silent;
    jpeg_create_decompress(&s->cinfo);
}

JpegOutcome run(const Input& in, const Job& job, QImage* out)
{
    State state;
    State* const s = &state;
    jpeg_decompress_struct* const cinfo = &s->cinfo;
    createDecompress(s);
    if (setjmp(s->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        return JpegOutcome::Unreadable;
    }
    cinfo->mem->max_memory_to_use = JpegMemoryLimit;
    if (job.stop) {
        s->progress.pub.progress_monitor = onProgress;
        s->progress.stop = job.stop;
        cinfo->progress = &s->progress.pub;
    }
    if (in.fd >= 0)
        useFdSource(cinfo, &s->source, in.fd);
    else
        jpeg_mem_src(cinfo, in.data, static_cast<unsigned long>(in.size));
    if (job.tryExif)
        jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);

    const unsigned w = cinfo->image_width, h = cinfo->image_height;
    if (in.fd >= 0) // compressed data never needs more than a few bytes a pixel
        s->source.budget = HeaderReadBudget + qint64(w) * h * 8;
    const bool thumbnailMode = job.mainSize.isValid();
    if (cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK) {
        jpeg_destroy_decompress(cinfo);
        return (thumbnailMode || qint64(w) * h > JpegPixelLimit) ? JpegOutcome::Unreadable
                                                                 : JpegOutcome::NotHandled;
    }
    if (w == 0 || h == 0 || qint64(w) * h > JpegPixelLimit) {
        jpeg_destroy_decompress(cinfo);
        return JpegOutcome::Unreadable;
    }

    int orientation = 1;
    QSize target;
    if (thumbnailMode) {
        target = job.exact;
        if (int(w) < target.width() || int(h) < target.height()) {
            jpeg_destroy_decompress(cinfo);
            return JpegOutcome::NotHandled;
        }
        // Of another shape: decoded whole, it may still hold the picture between bars.
        if (!aspectClose(QSize(int(w), int(h)), job.mainSize)) {
            if (qint64(w) * h > 1024LL * 1024) { // a thumbnail, not a second picture
                jpeg_destroy_decompress(cinfo);
                return JpegOutcome::NotHandled;
            }
            target = QSize(int(w), int(h));
        }
    } else {
        for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
            if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6
                && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
                s->exif = readExifFacts(m->data, m->data_length);
                break;
            }
        }
        orientation = job.ownOrientation ? s->exif.orientation : 1;
        if (job.upright)
            *job.upright = orientationSwapsSides(orientation) ? QSize(int(h), int(w)) : QSize(int(w), int(h));
        const QSize storedBox = orientationSwapsSides(orientation) ? job.box.transposed() : job.box;
        target = fitInto(QSize(int(w), int(h)), storedBox);
        if (job.tryExif && !s->exif.thumbnail.isEmpty()
            && soundExifThumbnail(s->exif.thumbnail, QSize(int(w), int(h)), target, &s->exifThumb)) {
            jpeg_destroy_decompress(cinfo);
            *out = applyExifOrientation(std::move(s->exifThumb), orientation);
            if (job.fromExif)
                *job.fromExif = true;
            return JpegOutcome::Made;
        }
    }

    if (in.fd >= 0) // the picture itself is read from here on, in order
        ::posix_fadvise(in.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const unsigned m = scaleFor(w, h, target);
    cinfo->scale_num = m;
    cinfo->scale_denom = 8;
    cinfo->out_color_space = JCS_EXT_BGRX;
    cinfo->do_fancy_upsampling = FALSE;
    cinfo->do_block_smoothing = FALSE;
    cinfo->dct_method = JDCT_ISLOW;
    // At 1/8 scale every block becomes one pixel made from its DC coefficient alone, so for a
    // progressive file the first scans carrying DC for every component give the same result
    // as the whole file.
    const bool dcOnly = cinfo->progressive_mode && m == 1;
    cinfo->buffered_image = dcOnly ? TRUE : FALSE;
    s->turn = reserveDecodeMemory(cinfo->progressive_mode ? coefficientBytes(*cinfo) : 0);
    jpeg_start_decompress(cinfo);
    if (dcOnly) {
        auto dcComplete = [cinfo] {
            for (int c = 0; c < cinfo->num_components; ++c) {
                if (cinfo->coef_bits[c][0] < 0)
                    return false;
            }
            return true;
        };
        for (;;) {
            const int r = jpeg_consume_input(cinfo);
            if (r == JPEG_REACHED_EOI || r == JPEG_SUSPENDED || s->err.hitEnd || stopped(job))
                break;
            if (r == JPEG_SCAN_COMPLETED && dcComplete())
                break;
        }
        if (stopped(job)) {
            jpeg_destroy_decompress(cinfo);
            return JpegOutcome::Unreadable;
        }
        jpeg_start_output(cinfo, cinfo->input_scan_number);
    }
    s->image = QImage(int(cinfo->output_width), int(cinfo->output_height), QImage::Format_RGB32);
    if (s->image.isNull()) {
        jpeg_destroy_decompress(cinfo);
        return JpegOutcome::Unreadable;
    }
    s->image.fill(0xFF808080);
    bool gotRows = false;
    while (cinfo->output_scanline < cinfo->output_height) {
        // After the data of a sequential file ran out libjpeg would only repeat the last
        // colours; stop there.
        const bool sequentialEnd = s->err.hitEnd && !cinfo->progressive_mode;
        if (sequentialEnd || stopped(job))
            break;
        JSAMPROW row = s->image.scanLine(int(cinfo->output_scanline));
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1)
            break;
        // A file whose data ends within its first row holds no picture at all.
        if (!(s->err.hitEnd && !cinfo->progressive_mode && cinfo->output_scanline == 1))
            gotRows = true;
    }
    jpeg_destroy_decompress(cinfo); // no need to read what follows the last row
    if (!gotRows || stopped(job))
        return JpegOutcome::Unreadable;
    if (thumbnailMode && target != job.exact) {
        QImage inner = cropUniformBars(s->image, job.mainSize);
        if (inner.width() < job.exact.width() || inner.height() < job.exact.height())
            return JpegOutcome::NotHandled;
        s->image = std::move(inner);
        target = job.exact;
    }
    if (s->image.size() != target)
        s->image = s->image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    *out = thumbnailMode ? std::move(s->image) : applyExifOrientation(std::move(s->image), orientation);
    return JpegOutcome::Made;
}

bool looksLikeJpeg(const unsigned char* p, size_t n)
{
    return n >= 3 && p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF;
}

// A JPEG file, positioned at its start for the fd source.
bool jpegAtStart(int fd)
{
    unsigned char head[3];
    ssize_t n;
    n = preadRetrying(fd, head, sizeof head, 0);
    return n >= 0 && looksLikeJpeg(head, size_t(n)) && ::lseek(fd, 0, SEEK_SET) == 0;
}

} // namespace

JpegOutcome checkJpegForDecode(int fd, qint64 coefficientLimit)
{
    if (!jpegAtStart(fd))
        return JpegOutcome::NotHandled;
    State state;
    State* const s = &state;
    jpeg_decompress_struct* const cinfo = &s->cinfo;
    createDecompress(s);
    if (setjmp(s->err.jump)) {
        jpeg_destroy_decompress(cinfo);
        ::lseek(fd, 0, SEEK_SET);
        return JpegOutcome::Unreadable;
    }
    useFdSource(cinfo, &s->source, fd);
    jpeg_read_header(cinfo, TRUE);
    const qint64 pixels = qint64(cinfo->image_width) * cinfo->image_height;
    const bool tooMuch = pixels == 0 || pixels > JpegPixelLimit || s->err.hitEnd
        || (cinfo->progressive_mode && coefficientBytes(*cinfo) > coefficientLimit);
    jpeg_destroy_decompress(cinfo);
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return JpegOutcome::Unreadable;
    return tooMuch ? JpegOutcome::Unreadable : JpegOutcome::Made;
}

JpegOutcome makeJpegThumbnail(
    int fd, QSize box, QImage* out, QSize* upright, const std::atomic<bool>* stop, bool* fromExif)
{
    if (fromExif)
        *fromExif = false;
    // Until a decode needs the picture, the kernel reads only what is asked for: its read-ahead
    // would fetch twice the head, which on a card or phone costs time and bandwidth.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    if (!jpegAtStart(fd)) {
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_NORMAL);
        return JpegOutcome::NotHandled;
    }
    Input in;
    in.fd = fd;
    Job job;
    job.box = box;
    job.stop = stop;
    job.upright = upright;
    job.fromExif = fromExif;
    const JpegOutcome outcome = run(in, job, out);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_NORMAL);
    return outcome;
}

JpegOutcome makeJpegThumbnailFromMemory(const unsigned char* data, size_t size, QSize box, QImage* out,
    bool ownOrientation, const std::atomic<bool>* stop)
{
    if (!looksLikeJpeg(data, size))
        return JpegOutcome::NotHandled;
    Input in;
    in.data = data;
    in.size = size;
    Job job;
    job.box = box;
    job.ownOrientation = ownOrientation;
    job.stop = stop;
    return run(in, job, out);
}

} // namespace ztv
