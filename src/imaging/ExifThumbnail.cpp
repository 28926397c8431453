#include "ExifThumbnail.h"

#include "ExtraReaders.h"

#include <QTransform>

#include <unistd.h>

#include <libexif/exif-data.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace ztv {

namespace {

// The EXIF block loaded for reading, or null when data is none. Keeps only "ignore unknown
// tags", so the block is not fixed up while it loads, and never rewrites the maker note.
ExifData* loadExif(const unsigned char* data, size_t size)
{
    if (!data || size < 6 || size > 0xFFFF || std::memcmp(data, "Exif\0\0", 6) != 0)
        return nullptr;
    ExifData* ed = exif_data_new();
    if (!ed)
        return nullptr;
    exif_data_unset_option(ed, static_cast<ExifDataOption>(~EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS));
    exif_data_set_option(ed, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    exif_data_load_data(ed, data, static_cast<unsigned int>(size));
    return ed;
}

} // namespace

ExifFacts readExifFacts(const unsigned char* data, size_t size)
{
    ExifFacts facts;
    ExifData* ed = loadExif(data, size);
    if (!ed)
        return facts;
    if (ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION)) {
        if (e->format == EXIF_FORMAT_SHORT && e->components >= 1 && e->data && e->size >= 2) {
            const int v = exif_get_short(e->data, exif_data_get_byte_order(ed));
            if (v >= 1 && v <= 8)
                facts.orientation = v;
        }
    }
    if (ed->data && ed->size > 4 && ed->data[0] == 0xFF && ed->data[1] == 0xD8)
        facts.thumbnail = QByteArray(reinterpret_cast<const char*>(ed->data), qsizetype(ed->size));
    exif_data_unref(ed);
    return facts;
}

QDateTime readExifDateTaken(const unsigned char* data, size_t size)
{
    ExifData* ed = loadExif(data, size);
    if (!ed)
        return {};
    QDateTime taken;
    ExifEntry* e = exif_content_get_entry(ed->ifd[EXIF_IFD_EXIF], EXIF_TAG_DATE_TIME_ORIGINAL);
    if (e && e->format == EXIF_FORMAT_ASCII && e->data && e->size >= 19) {
        // "YYYY:MM:DD HH:MM:SS"; cameras without a set clock write spaces or zeros.
        const QString text = QString::fromLatin1(reinterpret_cast<const char*>(e->data), 19);
        taken = QDateTime::fromString(text, QStringLiteral("yyyy:MM:dd HH:mm:ss"));
    }
    exif_data_unref(ed);
    return taken.isValid() ? taken : QDateTime();
}

QDateTime readFileDateTaken(int fd)
{
    // Both a JPEG's APP1 block and a TIFF's first directories lie within the first 64 KiB.
    unsigned char head[0x10000];
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got < 8)
        return {};
    const size_t n = size_t(got);
    if (sniffExtraFormat(head, n) == ExtraFormat::Heif) {
        const QByteArray block = extra::heifExifBlock(fd).left(0xFFFF);
        return readExifDateTaken(
            reinterpret_cast<const unsigned char*>(block.constData()), size_t(block.size()));
    }
    if (std::memcmp(head, "II*\0", 4) == 0 || std::memcmp(head, "MM\0*", 4) == 0) {
        QByteArray block("Exif\0\0", 6);
        block.append(reinterpret_cast<const char*>(head), qsizetype(std::min<size_t>(n, 0xFFFF - 6)));
        return readExifDateTaken(
            reinterpret_cast<const unsigned char*>(block.constData()), size_t(block.size()));
    }
    if (head[0] != 0xFF || head[1] != 0xD8)
        return {};
    size_t at = 2;
    while (at + 4 <= n && head[at] == 0xFF) {
        const unsigned char marker = head[at + 1];
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01 || marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break; // the picture data starts: no EXIF block before it
        const size_t length = (size_t(head[at + 2]) << 8) | head[at + 3];
        if (length < 2)
            break;
        if (marker == 0xE1 && length >= 8 && at + 2 + length <= n
            && std::memcmp(head + at + 4, "Exif\0\0", 6) == 0)
            return readExifDateTaken(head + at + 4, length - 2);
        at += 2 + length;
    }
    return {};
}

namespace {

// A bar's pixels may stray this far from its colour (per channel): JPEG noise on a flat band.
constexpr int BarTolerance = 14;

// One line of the thumbnail (a row, or a column when across is false) read as colours.
struct Lines {
    const QImage& image;
    bool rows;
    int count() const { return rows ? image.height() : image.width(); }
    int length() const { return rows ? image.width() : image.height(); }
    QRgb at(int line, int i) const
    {
        return rows ? reinterpret_cast<const QRgb*>(image.constScanLine(line))[i]
                    : reinterpret_cast<const QRgb*>(image.constScanLine(i))[line];
    }
    // The line's mean colour, or false when a pixel strays from it.
    bool uniform(int line, QRgb* colour) const
    {
        long r = 0, g = 0, b = 0;
        const int n = length();
        for (int i = 0; i < n; ++i) {
            const QRgb p = at(line, i);
            r += qRed(p);
            g += qGreen(p);
            b += qBlue(p);
        }
        const QRgb mean = qRgb(int(r / n), int(g / n), int(b / n));
        for (int i = 0; i < n; ++i) {
            if (!closeColours(at(line, i), mean))
                return false;
        }
        *colour = mean;
        return true;
    }
    static bool closeColours(QRgb a, QRgb b)
    {
        return std::abs(qRed(a) - qRed(b)) <= BarTolerance && std::abs(qGreen(a) - qGreen(b)) <= BarTolerance
            && std::abs(qBlue(a) - qBlue(b)) <= BarTolerance;
    }
};

} // namespace

QImage cropUniformBars(const QImage& thumbnail, QSize mainSize)
{
    if (thumbnail.isNull() || mainSize.isEmpty())
        return {};
    const QImage image = thumbnail.convertToFormat(QImage::Format_RGB32);
    const double mainAspect = double(mainSize.width()) / mainSize.height();
    const double aspect = double(image.width()) / image.height();
    if (std::abs(aspect - mainAspect) <= 0.03 * mainAspect)
        return {};
    // Taller than the picture: bars top and bottom; wider: left and right.
    const bool rows = aspect < mainAspect;
    const Lines lines { image, rows };
    const int content
        = rows ? int(std::lround(image.width() / mainAspect)) : int(std::lround(image.height() * mainAspect));
    const int bars = lines.count() - content;
    if (content < 1 || bars < 2)
        return {};
    // Count the uniform lines of one colour from each edge. Each side's bar must be half the
    // difference (cameras centre the picture), give or take the line where picture meets bar
    // (blurred by the JPEG) and the odd line: a longer run of bar colour means the picture
    // does not fill the rest, a shorter one that there are no bars.
    const int first = bars / 2;
    const int slack = 2;
    const int limit = std::min(lines.count() / 2, bars + slack + 1);
    QRgb topColour = 0, bottomColour = 0, colour = 0;
    int top = 0, bottom = 0;
    while (
        top < limit && lines.uniform(top, &colour) && (top == 0 || Lines::closeColours(colour, topColour))) {
        if (top == 0)
            topColour = colour;
        ++top;
    }
    const int last = lines.count() - 1;
    while (bottom < limit && lines.uniform(last - bottom, &colour)
        && (bottom == 0 || Lines::closeColours(colour, bottomColour))) {
        if (bottom == 0)
            bottomColour = colour;
        ++bottom;
    }
    if (top == 0 || bottom == 0 || !Lines::closeColours(topColour, bottomColour))
        return {};
    if (std::abs(top - first) > slack || std::abs(bottom - (bars - first)) > slack)
        return {};
    // Where the picture starts is best told by the top bar's own end.
    const int start = std::min(top, bars);
    return rows ? image.copy(0, start, image.width(), content)
                : image.copy(start, 0, content, image.height());
}

QImage applyExifOrientation(QImage image, int orientation)
{
    if (image.isNull() || orientation <= 1 || orientation > 8)
        return image;
    if (orientation == 8)
        return image.transformed(QTransform().rotate(270));
    // 2 mirror, 3 half turn, 4 flip, 5 flip + quarter, 6 quarter, 7 mirror + quarter.
    const bool mirror = orientation == 2 || orientation == 3 || orientation == 7;
    const bool flip = orientation == 3 || orientation == 4 || orientation == 5;
    if (mirror || flip)
        image = std::move(image).mirrored(mirror, flip);
    if (orientation >= 5)
        image = image.transformed(QTransform().rotate(90));
    return image;
}

} // namespace ztv
