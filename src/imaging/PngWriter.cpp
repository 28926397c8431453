#include "imaging/PngWriter.h"

#include "imaging/texts.h"

#include <png.h>
#include <vector>

namespace ztv {

namespace {

void appendOutput(png_structp png, png_bytep data, png_size_t length)
{
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

void flushNothing(png_structp) { }

struct PngInput {
    QImage pixels; // RGBA8888, RGB888 or Indexed8
    int colourType;
    std::vector<png_color> palette;
    std::vector<png_byte> alphas;
    std::vector<png_bytep> rows;
};

// Everything libpng may jump out of lives in the caller, so no C++ object is skipped over.
bool encode(PngInput& in, QByteArray& out)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, info ? &info : nullptr);
        return false;
    }
    png_set_write_fn(png, &out, appendOutput, flushNothing);
    png_set_IHDR(png, info, png_uint_32(in.pixels.width()), png_uint_32(in.pixels.height()), 8, in.colourType,
        PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (in.colourType == PNG_COLOR_TYPE_PALETTE) {
        png_set_PLTE(png, info, in.palette.data(), int(in.palette.size()));
        if (!in.alphas.empty())
            png_set_tRNS(png, info, in.alphas.data(), int(in.alphas.size()), nullptr);
    }
    png_write_info(png, info);
    png_write_image(png, in.rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

QByteArray writeInterlacedPng(const QImage& image, QString* error)
{
    PngInput in;
    if (image.format() == QImage::Format_Indexed8) {
        in.pixels = image;
        in.colourType = PNG_COLOR_TYPE_PALETTE;
        const QList<QRgb> table = image.colorTable();
        bool anyAlpha = false;
        for (QRgb c : table) {
            in.palette.push_back(png_color { png_byte(qRed(c)), png_byte(qGreen(c)), png_byte(qBlue(c)) });
            in.alphas.push_back(png_byte(qAlpha(c)));
            anyAlpha = anyAlpha || qAlpha(c) != 255;
        }
        if (!anyAlpha)
            in.alphas.clear();
    } else if (image.hasAlphaChannel()) {
        in.pixels = image.convertToFormat(QImage::Format_RGBA8888);
        in.colourType = PNG_COLOR_TYPE_RGBA;
    } else {
        in.pixels = image.convertToFormat(QImage::Format_RGB888);
        in.colourType = PNG_COLOR_TYPE_RGB;
    }
    if (in.pixels.isNull() || (in.colourType == PNG_COLOR_TYPE_PALETTE && in.palette.empty())) {
        if (error)
            *error = QString::fromUtf16(texts::imaging::EncodeFailed);
        return {};
    }
    for (int y = 0; y < in.pixels.height(); ++y)
        in.rows.push_back(in.pixels.scanLine(y));
    QByteArray out;
    if (!encode(in, out)) {
        if (error)
            *error = QString::fromUtf16(texts::imaging::EncodeFailed);
        return {};
    }
    return out;
}

} // namespace ztv
