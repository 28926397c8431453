#include "ExtraFormats.h"

#include "ExtraReaders.h"
#include "ThumbnailEngine.h"
#include "platform/RetryingIo.h"

#include <QtEndian>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace ztv {

namespace {

bool startsWith(const unsigned char* p, size_t n, const char* magic, size_t m)
{
    return n >= m && std::memcmp(p, magic, m) == 0;
}

// HEIF and AVIF (and Canon's CR3, which borrows the same box layout) start with an ftyp box
// naming the brands the file follows.
ExtraFormat sniffFtyp(const unsigned char* p, size_t n)
{
    if (n < 16 || std::memcmp(p + 4, "ftyp", 4) != 0)
        return ExtraFormat::None;
    const size_t boxSize = std::min<size_t>(qFromBigEndian<quint32>(p), n);
    if (std::memcmp(p + 8, "crx ", 4) == 0)
        return ExtraFormat::Raw;
    static const char* const brands[] = { "heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs",
        "mif1", "msf1", "mif2", "avif", "avis" };
    auto isHeif = [&](const unsigned char* b) {
        for (const char* brand : brands)
            if (std::memcmp(b, brand, 4) == 0)
                return true;
        return false;
    };
    if (isHeif(p + 8))
        return ExtraFormat::Heif;
    for (size_t at = 16; at + 4 <= boxSize; at += 4)
        if (isHeif(p + at))
            return ExtraFormat::Heif;
    return ExtraFormat::None;
}

// A TIFF file is a camera's RAW file when its first directory says so: a DNG version, or a
// camera maker's name together with the sub-directories or reduced-size first image that
// every such file has and a scanned or drawn TIFF does not.
bool tiffIsRaw(const unsigned char* p, size_t n)
{
    const bool little = p[0] == 'I';
    auto u16 = [&](size_t at) -> quint32 {
        return at + 2 <= n ? (little ? qFromLittleEndian<quint16>(p + at) : qFromBigEndian<quint16>(p + at))
                           : 0;
    };
    auto u32 = [&](size_t at) -> quint32 {
        return at + 4 <= n ? (little ? qFromLittleEndian<quint32>(p + at) : qFromBigEndian<quint32>(p + at))
                           : 0;
    };
    if (n >= 10 && p[8] == 'C' && p[9] == 'R')
        return true; // CR2
    const size_t ifd = u32(4);
    if (ifd < 8 || ifd + 2 > n)
        return false;
    const quint32 count = std::min<quint32>(u16(ifd), 512);
    bool dng = false, reduced = false, subIfds = false;
    QByteArray make;
    for (quint32 i = 0; i < count; ++i) {
        const size_t e = ifd + 2 + size_t(i) * 12;
        if (e + 12 > n)
            break;
        const quint32 tag = u16(e), type = u16(e + 2), values = u32(e + 4);
        if (tag == 0xC612)
            dng = true;
        else if (tag == 0x014A)
            subIfds = true;
        else if (tag == 0x00FE)
            reduced = (type == 3 ? u16(e + 8) : u32(e + 8)) == 1;
        else if (tag == 0x010F && type == 2 && values > 0 && values < 64) {
            const size_t at = values <= 4 ? e + 8 : u32(e + 8);
            if (at + values <= n)
                make = QByteArray(reinterpret_cast<const char*>(p + at), qsizetype(values)).toUpper();
        }
    }
    if (dng)
        return true;
    static const char* const makers[] = { "NIKON", "SONY", "CANON", "PENTAX", "RICOH", "OLYMPUS",
        "OM DIGITAL", "PANASONIC", "LEICA", "FUJIFILM", "SAMSUNG", "HASSELBLAD", "PHASE ONE", "MAMIYA",
        "KODAK", "MINOLTA", "KONICA", "SIGMA", "EPSON" };
    for (const char* maker : makers)
        if (make.startsWith(maker))
            return subIfds || reduced;
    return false;
}

} // namespace

ExtraFormat sniffExtraFormat(const unsigned char* p, size_t n)
{
    if (!p || n < 4)
        return ExtraFormat::None;
    if (startsWith(p, n, "\xFF\x0A", 2) || startsWith(p, n, "\0\0\0\x0CJXL \x0D\x0A\x87\x0A", 12))
        return ExtraFormat::Jxl;
    if (const ExtraFormat f = sniffFtyp(p, n); f != ExtraFormat::None)
        return f;
    if (startsWith(p, n, "FUJIFILMCCD-RAW", 15) || startsWith(p, n, "IIRO", 4) || startsWith(p, n, "IIRS", 4)
        || startsWith(p, n, "MMOR", 4) || startsWith(p, n, "IIU\0", 4))
        return ExtraFormat::Raw;
    if ((startsWith(p, n, "II*\0", 4) || startsWith(p, n, "MM\0*", 4)) && tiffIsRaw(p, n))
        return ExtraFormat::Raw;
    return ExtraFormat::None;
}

ExtraFormat sniffExtraFormat(int fd)
{
    // Most files are told by their first bytes; only a TIFF needs its first directory. A few
    // bytes on the stack keep the cost off every PNG and GIF of a browse.
    unsigned char small[256];
    ssize_t n;
    n = preadRetrying(fd, small, sizeof small, 0);
    if (n <= 0)
        return ExtraFormat::None;
    const bool tiff = n >= 4 && (std::memcmp(small, "II*\0", 4) == 0 || std::memcmp(small, "MM\0*", 4) == 0);
    if (!tiff || size_t(n) < sizeof small)
        return sniffExtraFormat(small, size_t(n));
    QByteArray head(qsizetype(ExtraSniffBytes), Qt::Uninitialized);
    n = preadRetrying(fd, head.data(), size_t(head.size()), 0);
    if (n <= 0)
        return ExtraFormat::None;
    return sniffExtraFormat(reinterpret_cast<const unsigned char*>(head.constData()), size_t(n));
}

QByteArray extraFormatKey(ExtraFormat format)
{
    switch (format) {
    case ExtraFormat::Heif:
        return QByteArrayLiteral("heif");
    case ExtraFormat::Jxl:
        return QByteArrayLiteral("jxl");
    case ExtraFormat::Raw:
        return QByteArrayLiteral("raw");
    case ExtraFormat::None:
        break;
    }
    return {};
}

bool readWholeFile(int fd, QByteArray* out)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0 || st.st_size > ExtraFileLimit)
        return false;
    // A big file read whole takes the same turn as a big decode.
    const DecodeReservation turn = reserveDecodeMemory(qint64(st.st_size));
    out->resize(qsizetype(st.st_size));
    qint64 done = 0;
    while (done < st.st_size) {
        const ssize_t n = ::pread(fd, out->data() + done, size_t(st.st_size - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    out->resize(qsizetype(done)); // a file that shrank meanwhile gives what it still holds
    return done > 0;
}

QImage decodeExtra(
    ExtraFormat format, const unsigned char* data, size_t size, const ExtraRequest& request, QSize* upright)
{
    if (!data || size == 0)
        return {};
    QImage image;
    switch (format) {
    case ExtraFormat::Heif:
        image = extra::decodeHeif(data, size, request, upright, false);
        break;
    case ExtraFormat::Jxl:
        image = extra::decodeJxl(data, size, request, upright, false);
        break;
    case ExtraFormat::Raw:
        image = extra::decodeRaw(data, size, request, upright, false);
        break;
    case ExtraFormat::None:
        break;
    }
    if (extra::stopped(request))
        return {};
    return image;
}

QSize probeExtra(ExtraFormat format, const unsigned char* data, size_t size)
{
    QSize upright;
    if (!data || size == 0)
        return upright;
    const ExtraRequest request;
    switch (format) {
    case ExtraFormat::Heif:
        extra::decodeHeif(data, size, request, &upright, true);
        break;
    case ExtraFormat::Jxl:
        extra::decodeJxl(data, size, request, &upright, true);
        break;
    case ExtraFormat::Raw:
        extra::decodeRaw(data, size, request, &upright, true);
        break;
    case ExtraFormat::None:
        break;
    }
    return upright;
}

namespace extra {

QImage fitToRequest(QImage image, const ExtraRequest& request)
{
    if (image.isNull() || !request.box.isValid())
        return image;
    const QSize fitted = fitInto(image.size(), request.box);
    if (fitted != image.size())
        image = image.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

bool embeddedServes(QSize embedded, QSize main, QSize box)
{
    if (embedded.isEmpty() || main.isEmpty() || !box.isValid())
        return false;
    const QSize target = fitInto(main, box);
    const double re = double(embedded.width()) / embedded.height();
    const double rm = double(main.width()) / main.height();
    return embedded.width() >= target.width() && embedded.height() >= target.height()
        && std::abs(re - rm) <= 0.03 * rm;
}

} // namespace extra

} // namespace ztv
