// PNG images written with libspng: the viewer's tiles, and window bitmaps
// saved as .png files (the bytes go out through WriteOutput). Without
// libspng (cross builds) every call says so.
#ifndef BSBCHART_COMMAND_PNG_FILE_H
#define BSBCHART_COMMAND_PNG_FILE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace command {

enum class PngKind { Indexed, Rgb, Rgba };

struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    PngKind kind = PngKind::Rgb;
    int bitDepth = 8;  // indexed: 1, 2, 4 or 8 bits per pixel; otherwise 8
    std::vector<std::array<uint8_t, 3>> palette;  // indexed: red, green, blue, at most 256
    std::vector<uint8_t> alpha;  // indexed: alpha of the first entries (tRNS); may be empty
    const uint8_t* rows = nullptr;  // row y starts at rows + y * stride, packed from the top bit
    size_t stride = 0;
};

// zlib's levels: 1 is fastest, 9 smallest.
constexpr int kDefaultPngCompression = 6;

// Encodes `image` into `png`. Empty on success, else the reason.
std::string EncodePng(const PngImage& image, std::vector<uint8_t>& png,
                      int compressionLevel = kDefaultPngCompression);

// A packed bitmap as the library returns it (40-byte header with a negative
// height, colour table, rows padded to 4 bytes) at 1, 4 or 8 bits per pixel
// (an indexed PNG with the colour table as its palette) or 24 (an RGB PNG).
std::string PngFromBitmap(const void* packed, std::vector<uint8_t>& png,
                          int compressionLevel = kDefaultPngCompression);

}  // namespace command

#endif
