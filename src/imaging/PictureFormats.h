#pragma once

#include <array>
#include <span>

namespace ztv {

// The file formats the display writes, under the codes the save dialog and the saving
// handlers exchange. Each format lists the bits per pixel it can be written with; a request
// for 0 bits means the default.
namespace formats {

inline constexpr int Bmp = 75;
inline constexpr int Jpeg = 3;
inline constexpr int Png = 11;
inline constexpr int Gif = 29;

inline constexpr int DefaultJpegQuality = 85;

struct FormatInfo {
    int code;
    const char* name; // shown in the save dialog's filter ("PNG")
    const char* extension; // without the dot, lower case
    const char* qtFormat; // Qt's writer, or nullptr when the program writes it itself (GIF)
    std::span<const int> bits;
    int defaultBits;
    bool hasQuality; // JPEG only
    bool canInterlace; // progressive JPEG, interlaced PNG and GIF
    bool canKeepAlpha; // transparency can be stored (PNG 32 and 8, GIF)
};

inline constexpr std::array<int, 3> kBmpBits { 24, 8, 1 };
inline constexpr std::array<int, 1> kJpegBits { 24 };
inline constexpr std::array<int, 3> kPngBits { 32, 24, 8 };
inline constexpr std::array<int, 1> kGifBits { 8 };

inline constexpr std::array<FormatInfo, 4> kFormats { {
    { Bmp, "BMP", "bmp", "BMP", kBmpBits, 24, false, false, false },
    { Jpeg, "JPEG", "jpg", "JPEG", kJpegBits, 24, true, true, false },
    { Png, "PNG", "png", "PNG", kPngBits, 32, false, true, true },
    { Gif, "GIF", "gif", nullptr, kGifBits, 8, false, true, true },
} };

// nullptr for a code that is not one of the four.
constexpr const FormatInfo* formatInfo(int code)
{
    for (const FormatInfo& f : kFormats)
        if (f.code == code)
            return &f;
    return nullptr;
}

// The bits to write with: 0 gives the default; a depth the format cannot hold gives 0.
constexpr int resolveBits(const FormatInfo& f, int bits)
{
    if (bits == 0)
        return f.defaultBits;
    for (int b : f.bits)
        if (b == bits)
            return b;
    return 0;
}

} // namespace formats
} // namespace ztv
