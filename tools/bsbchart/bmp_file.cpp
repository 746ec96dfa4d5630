#include "bmp_file.h"

#include "output_file.h"

namespace command {

namespace {

uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void PutLe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

}  // namespace

std::optional<BitmapShape> ShapeOf(const char* packed) {
    const auto* b = reinterpret_cast<const unsigned char*>(packed);
    const int32_t width = static_cast<int32_t>(Le32(packed + 4));
    const int32_t height = static_cast<int32_t>(Le32(packed + 8));
    const int bpp = b[14] | (b[15] << 8);
    if (Le32(packed) != 40 || width <= 0 || height >= 0 || height == INT32_MIN) return std::nullopt;
    if (bpp != 1 && bpp != 4 && bpp != 8) return std::nullopt;
    BitmapShape shape;
    shape.width = width;
    shape.height = -height;
    shape.bitsPerPixel = bpp;
    const uint64_t stride = (static_cast<uint64_t>(bpp) * width + 31) / 32 * 4;
    const uint64_t tableBytes = 4ull << bpp;
    const uint64_t size = 40 + tableBytes + stride * shape.height;
    if (size + 14 > UINT32_MAX) return std::nullopt;
    shape.pixelOffset = static_cast<uint32_t>(14 + 40 + tableBytes);
    shape.packedSize = static_cast<uint32_t>(size);
    return shape;
}

std::string WriteBmpFile(const std::string& path, const char* packed, const BitmapShape& shape) {
    unsigned char fileHeader[14] = {'B', 'M'};
    PutLe32(fileHeader + 2, 14 + shape.packedSize);
    PutLe32(fileHeader + 10, shape.pixelOffset);
    return WriteOutput(path, {{fileHeader, sizeof fileHeader}, {packed, shape.packedSize}});
}

}  // namespace command
