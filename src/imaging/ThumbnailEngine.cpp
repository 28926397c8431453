#include "ThumbnailEngine.h"

#include "ExtraFormats.h"
#include "ExtraReaders.h"
#include "JpegThumbnailer.h"
#include "PngThumbnailer.h"
#include "platform/PathCodec.h"
#include "platform/RetryingIo.h"
#include "platform/SysCalls.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QLoggingCategory>

#include <condition_variable>
#include <utility>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

Q_LOGGING_CATEGORY(lcDecode, "zentovi.imaging.decode")

void setReaderAllocationLimitOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { QImageReader::setAllocationLimit(ReaderAllocationLimitMiB); });
}

void logRefusal(const char* what, QSize size)
{
    if (size.isValid())
        qCWarning(lcDecode, "picture refused: %s (%d x %d)", what, size.width(), size.height());
    else
        qCWarning(lcDecode, "picture refused: %s", what);
}

namespace {
struct DecodeBudget {
    std::mutex mutex;
    std::condition_variable freed;
    qint64 reserved = 0;
    int waiting = 0;
};
DecodeBudget& decodeBudget()
{
    static DecodeBudget budget;
    return budget;
}
std::atomic<qint64> g_decodes { 0 };
}

DecodeReservation reserveDecodeMemory(qint64 bytes)
{
    DecodeReservation r;
    if (bytes <= LargeDecodeBytes)
        return r;
    const qint64 share = std::min(bytes, LargeDecodeBudgetBytes);
    DecodeBudget& b = decodeBudget();
    std::unique_lock lock(b.mutex);
    ++b.waiting;
    b.freed.wait(lock, [&] { return b.reserved + share <= LargeDecodeBudgetBytes; });
    --b.waiting;
    b.reserved += share;
    r.m_bytes = share;
    return r;
}

DecodeReservation::DecodeReservation(DecodeReservation&& other) noexcept
    : m_bytes(std::exchange(other.m_bytes, 0))
{
}

DecodeReservation& DecodeReservation::operator=(DecodeReservation&& other) noexcept
{
    if (this != &other) {
        DecodeReservation released(std::move(*this));
        m_bytes = std::exchange(other.m_bytes, 0);
    }
    return *this;
}

DecodeReservation::~DecodeReservation()
{
    if (m_bytes == 0)
        return;
    DecodeBudget& b = decodeBudget();
    {
        std::lock_guard lock(b.mutex);
        b.reserved -= m_bytes;
    }
    b.freed.notify_all();
}

qint64 reservedDecodeBytes()
{
    DecodeBudget& b = decodeBudget();
    std::lock_guard lock(b.mutex);
    return b.reserved;
}

int decodesWaitingForMemory()
{
    DecodeBudget& b = decodeBudget();
    std::lock_guard lock(b.mutex);
    return b.waiting;
}

qint64 thumbnailDecodeCount()
{
    return g_decodes.load();
}

QSize fitInto(QSize source, QSize box)
{
    if (source.isEmpty() || box.isEmpty())
        return {};
    if (source.width() <= box.width() && source.height() <= box.height())
        return source;
    const double scale
        = std::min(double(box.width()) / source.width(), double(box.height()) / source.height());
    const int w = std::clamp(int(std::lround(source.width() * scale)), 1, box.width());
    const int h = std::clamp(int(std::lround(source.height() * scale)), 1, box.height());
    return { w, h };
}

int seekableOrCopy(int fd, qint64 size)
{
    if (sys::lseek(fd, 0, SEEK_CUR) >= 0)
        return fd;
    // Larger than any picture a thumbnail is made of: not held in memory.
    constexpr qint64 MaxCopy = qint64(256) << 20;
    const int copy = size <= MaxCopy ? ::memfd_create("zentovi-stream", MFD_CLOEXEC) : -1;
    char buf[65536];
    qint64 done = 0;
    for (ssize_t n = 0; copy >= 0 && done <= size && (n = ::read(fd, buf, sizeof buf)) != 0; done += n) {
        if (n < 0 && errno == EINTR)
            n = 0;
        else if (n < 0 || ::write(copy, buf, size_t(n)) != n)
            done = size + 1;
    }
    ::close(fd);
    if (copy < 0 || done != size || ::lseek(copy, 0, SEEK_SET) != 0) {
        if (copy >= 0)
            ::close(copy);
        return -1;
    }
    return copy;
}

int openRegularFile(const QString& path, int* status, qint64* mtime)
{
    const QByteArray encoded = encodePath(path);
    struct stat st;
    if (::stat(encoded.constData(), &st) != 0) {
        // A name still in the folder (a dangling or looping link) is unreadable; a name that
        // is gone altogether has vanished.
        struct stat lst;
        *status = (errno == ENOENT && ::lstat(encoded.constData(), &lst) != 0) ? ThumbnailResult::Vanished
                                                                               : ThumbnailResult::Unreadable;
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        *status = ThumbnailResult::Unreadable;
        return -1;
    }
    // O_NONBLOCK: should the name have become a FIFO since the check, opening must not wait.
    const int fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *status = errno == ENOENT ? ThumbnailResult::Vanished : ThumbnailResult::Unreadable;
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *status = ThumbnailResult::Unreadable;
        return -1;
    }
    if (mtime)
        *mtime = qint64(st.st_mtime);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    const int readable = seekableOrCopy(fd, st.st_size);
    if (readable < 0)
        *status = ThumbnailResult::Unreadable;
    return readable;
}

QImage compactThumbnail(QImage image)
{
    if (image.isNull())
        return image;
    const QImage::Format target
        = image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    if (image.format() != target)
        image.convertTo(target);
    return image;
}

bool decodesScaled(QImageReader& reader)
{
    if (!reader.supportsOption(QImageIOHandler::ScaledSize))
        return false;
    // Most of Qt's readers that take a scaled size (PNG among them) decode the whole picture
    // and scale it afterwards; JPEG, SVG and the program's own formats decode at the size.
    const QByteArray format = reader.format().toLower();
    return format == "jpeg" || format == "jpg" || format == "svg" || format == "svgz" || format == "heif"
        || format == "jxl" || format == "raw";
}

QImage readScaledWithQt(QIODevice* device, QSize box, QSize* upright, const QByteArray& format)
{
    if (!pngChunksFit(device)) {
        logRefusal("a PNG chunk claims more than the file holds", {});
        return {};
    }
    QImageReader reader(device, format);
    reader.setDecideFormatFromContent(format.isEmpty());
    reader.setAutoTransform(true);
    const QSize raw = reader.size();
    // Formats that cannot decode at a smaller size would first allocate the whole picture;
    // refuse a header that claims more than the budget before any of that happens.
    if (raw.isValid() && !decodesScaled(reader)
        && qint64(raw.width()) * raw.height() > ThumbnailPixelBudget) {
        logRefusal("more pixels than a thumbnail decode may hold", raw);
        return {};
    }
    DecodeReservation turn;
    if (raw.isValid() && !decodesScaled(reader))
        turn = reserveDecodeMemory(qint64(raw.width()) * raw.height() * 4);
    if (raw.isValid()) {
        // The scaled size applies before the orientation is, so a quarter turn swaps the box.
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize rawBox = turned ? box.transposed() : box;
        if (upright)
            *upright = turned ? raw.transposed() : raw;
        const QSize fitted = fitInto(raw, rawBox);
        if (fitted != raw)
            reader.setScaledSize(fitted);
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.width() > box.width() || image.height() > box.height())
        image = image.scaled(fitInto(image.size(), box), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage decodeExtraThumbnail(
    ExtraFormat format, int fd, QSize box, QSize* upright, const std::atomic<bool>* stop)
{
    ExtraRequest request;
    request.box = box;
    request.maxPixels = ThumbnailPixelBudget;
    request.stop = stop;
    // A HEIF file's embedded thumbnail is read without the rest of the file.
    if (format == ExtraFormat::Heif)
        return extra::decodeHeifFile(fd, request, upright);
    QByteArray bytes;
    if (!readWholeFile(fd, &bytes))
        return {};
    return decodeExtra(format, reinterpret_cast<const unsigned char*>(bytes.constData()),
        size_t(bytes.size()), request, upright);
}

bool isTiff(int fd)
{
    unsigned char head[4];
    return preadRetrying(fd, head, 4, 0) == 4
        && (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0);
}

QImage decodeThumbnail(int fd, QSize box, QSize* upright, const std::atomic<bool>* stop)
{
    ++g_decodes;
    QImage image;
    switch (makeJpegThumbnail(fd, box, &image, upright, stop)) {
    case JpegOutcome::Made:
        break;
    case JpegOutcome::Unreadable:
        break;
    case JpegOutcome::NotHandled: {
        const PngOutcome png = makePngThumbnail(fd, box, &image, upright, stop);
        if (png != PngOutcome::NotHandled)
            break;
        const ExtraFormat extra = sniffExtraFormat(fd);
        if (extra != ExtraFormat::None) {
            image = decodeExtraThumbnail(extra, fd, box, upright, stop);
            // A TIFF scan that looked like a camera's file but that LibRaw refuses is a TIFF.
            if (!image.isNull() || extra != ExtraFormat::Raw || !isTiff(fd) || (stop && stop->load()))
                break;
        }
        QFile file;
        if (::lseek(fd, 0, SEEK_SET) != 0
            || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            break;
        image = readScaledWithQt(
            &file, box, upright, extra == ExtraFormat::Raw ? QByteArray("tiff") : QByteArray());
        return compactThumbnail(std::move(image)); // the QFile closes the descriptor
    }
    }
    ::close(fd);
    return compactThumbnail(std::move(image));
}

ThumbnailResult makeThumbnail(const QString& path, QSize box, const std::atomic<bool>* stop)
{
    ThumbnailResult result;
    result.path = path;
    int status = ThumbnailResult::Unreadable;
    const int fd = openRegularFile(path, &status);
    if (fd < 0) {
        result.status = status;
        return result;
    }
    result.image = decodeThumbnail(fd, box, nullptr, stop);
    result.status = result.image.isNull() ? ThumbnailResult::Unreadable : ThumbnailResult::Made;
    return result;
}

QImage makeThumbnailFromBytes(const QByteArray& bytes, QSize box)
{
    QImage image;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    switch (makeJpegThumbnailFromMemory(data, size_t(bytes.size()), box, &image)) {
    case JpegOutcome::Made:
        return compactThumbnail(std::move(image));
    case JpegOutcome::Unreadable:
        return {};
    case JpegOutcome::NotHandled:
        break;
    }
    switch (makePngThumbnailFromMemory(data, size_t(bytes.size()), box, &image)) {
    case PngOutcome::Made:
        return compactThumbnail(std::move(image));
    case PngOutcome::Unreadable:
        return {};
    case PngOutcome::NotHandled:
        break;
    }
    if (const ExtraFormat extra = sniffExtraFormat(data, size_t(bytes.size())); extra != ExtraFormat::None) {
        ExtraRequest request;
        request.box = box;
        request.maxPixels = ThumbnailPixelBudget;
        return compactThumbnail(decodeExtra(extra, data, size_t(bytes.size()), request));
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return compactThumbnail(readScaledWithQt(&buffer, box));
}

} // namespace ztv
