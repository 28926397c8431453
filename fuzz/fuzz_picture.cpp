// Feeds arbitrary bytes through what a browse and a display do with one file: format
// sniffing, the thumbnail decode (JPEG routes with EXIF orientation and embedded thumbnail;
// HEIF/AVIF, JPEG XL and RAW through their libraries; Qt for the rest) and the display's load
// with its limits.
#include "imaging/ExifThumbnail.h"
#include "imaging/ExtraFormats.h"
#include "imaging/JpegThumbnailer.h"
#include "imaging/PngThumbnailer.h"
#include "imaging/ThumbnailEngine.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QImageReader>
#include <QtPlugin>

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

Q_IMPORT_PLUGIN(ExtraFormatsPlugin)

namespace {

// The display's reader settings (PictureDisplay::LoadPicture): auto-transform, PNG chunks
// checked against the data, a 512 MiB budget checked from the header, big pictures decoded
// scaled to a 2048-pixel bound.
constexpr int DisplayAllocationLimitMb = 512;
constexpr int DisplayBound = 2048;

// The display's header check runs on an open file; a memory file stands in for it.
bool displayMayDecode(const QByteArray& bytes)
{
    const int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    if (fd < 0)
        return true;
    const bool written = ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size())
        && ::lseek(fd, 0, SEEK_SET) == 0; // the display's file is fresh
    const bool ok = !written
        || ztv::checkJpegForDecode(fd, qint64(DisplayAllocationLimitMb) * 1024 * 1024)
            != ztv::JpegOutcome::Unreadable;
    if (written && ::lseek(fd, 0, SEEK_CUR) != 0)
        __builtin_trap(); // the check leaves the file where the reader starts
    ::close(fd);
    return ok;
}

// The browse's route from an open file, where HEIF is read on demand rather than whole.
void fileThumbnail(const QByteArray& bytes)
{
    const int fd = ::memfd_create("fuzz-file", MFD_CLOEXEC);
    if (fd < 0)
        return;
    if (::write(fd, bytes.constData(), size_t(bytes.size())) != ssize_t(bytes.size())) {
        ::close(fd);
        return;
    }
    const QImage thumb = ztv::decodeThumbnail(fd, QSize(100, 100)); // closes the file
    if (!thumb.isNull() && (thumb.width() > 100 || thumb.height() > 100))
        __builtin_trap();
}

void displayLoad(const QByteArray& bytes)
{
    if (!displayMayDecode(bytes))
        return;
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    if (!ztv::pngChunksFit(&buffer))
        return;
    QImageReader reader(&buffer, ztv::extraFormatKey(ztv::sniffExtraFormat(data, size_t(bytes.size()))));
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    const bool scalable = reader.supportsOption(QImageIOHandler::ScaledSize);
    if (stored.isValid() && !scalable
        && qint64(stored.width()) * stored.height() * 4 > qint64(DisplayAllocationLimitMb) * 1024 * 1024)
        return;
    if (stored.isValid() && (stored.width() > DisplayBound || stored.height() > DisplayBound) && scalable)
        reader.setScaledSize(stored.scaled(DisplayBound, DisplayBound, Qt::KeepAspectRatio));
    const QImage image = reader.read();
    if (!image.isNull())
        (void)image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    ztv::setReaderAllocationLimitOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        (void)QImageReader::imageFormat(&buffer);
    }
    // Formats whose file route differs from the one in memory: HEIF read on demand, PNG
    // streamed row by row.
    if (ztv::sniffExtraFormat(reinterpret_cast<const unsigned char*>(data), size) != ztv::ExtraFormat::None
        || bytes.startsWith("\x89PNG"))
        fileThumbnail(bytes);
    const QImage thumb = ztv::makeThumbnailFromBytes(bytes, QSize(100, 100));
    if (!thumb.isNull() && (thumb.width() > 100 || thumb.height() > 100))
        __builtin_trap(); // a thumbnail never leaves its box
    // The EXIF parser on its own, as if the bytes were an APP1 payload.
    const QByteArray app1 = QByteArray("Exif\0\0", 6) + bytes.left(0xFFFF - 6);
    const ztv::ExifFacts facts
        = ztv::readExifFacts(reinterpret_cast<const unsigned char*>(app1.constData()), size_t(app1.size()));
    if (facts.orientation < 1 || facts.orientation > 8)
        __builtin_trap();
    displayLoad(bytes);
    return 0;
}
