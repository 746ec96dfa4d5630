#include "bmp_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#if defined(_WIN32)
#include <process.h>
#else
#include <unistd.h>
#endif

namespace command {

namespace {

uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

void PutLe32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::FILE* OpenForWriting(const std::filesystem::path& path) {
#if defined(_WIN32)
    return _wfopen(path.c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

int ProcessId() {
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
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

std::string WriteBmpFile(const std::filesystem::path& path, const char* packed, const BitmapShape& shape) {
    unsigned char fileHeader[14] = {'B', 'M'};
    PutLe32(fileHeader + 2, 14 + shape.packedSize);
    PutLe32(fileHeader + 10, shape.pixelOffset);

    std::filesystem::path name = ".";
    name += path.filename().native();
    name += ".part-" + std::to_string(ProcessId());
    const std::filesystem::path temporary = path.parent_path() / name;
    std::FILE* file = OpenForWriting(temporary);
    if (!file) return std::strerror(errno);
    bool written = std::fwrite(fileHeader, 1, sizeof fileHeader, file) == sizeof fileHeader &&
                   std::fwrite(packed, 1, shape.packedSize, file) == shape.packedSize;
    int writeError = errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        writeError = errno;
    }
    std::error_code ignored;
    if (!written) {
        std::filesystem::remove(temporary, ignored);
        return std::strerror(writeError);
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        std::filesystem::remove(temporary, ignored);
        return error.message();
    }
    return "";
}

}  // namespace command
