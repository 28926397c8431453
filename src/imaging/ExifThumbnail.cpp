#include "ExifThumbnail.h"

#include <QTransform>

#include <libexif/exif-data.h>

#include <cstring>

namespace ztv {

ExifFacts readExifFacts(const unsigned char* data, size_t size)
{
    ExifFacts facts;
    if (!data || size < 6 || size > 0xFFFF || std::memcmp(data, "Exif\0\0", 6) != 0)
        return facts;
    ExifData* ed = exif_data_new();
    if (!ed)
        return facts;
    // Reading only: keep just "ignore unknown tags", so the block is not fixed up while it
    // loads, and never rewrite the maker note.
    exif_data_unset_option(ed, static_cast<ExifDataOption>(~EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS));
    exif_data_set_option(ed, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    exif_data_load_data(ed, data, static_cast<unsigned int>(size));
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
