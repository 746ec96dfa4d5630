// A window bitmap written as a BMP file: the 14-byte file header in front of
// the packed bitmap the library returned, byte for byte.
#ifndef BSBCHART_COMMAND_BMP_FILE_H
#define BSBCHART_COMMAND_BMP_FILE_H

#include <cstdint>
#include <optional>
#include <string>

namespace command {

struct BitmapShape {
    int32_t width = 0;
    int32_t height = 0;  // rows, counted positive
    int bitsPerPixel = 0;
    uint32_t pixelOffset = 0;  // from the start of the file
    uint32_t packedSize = 0;   // header, colour table and rows
};

// Reads the shape from the returned bitmap's header; nullopt if the header
// is not one of a top-down 1, 4 or 8 bit bitmap.
std::optional<BitmapShape> ShapeOf(const char* packed);

// Writes the file through WriteOutput: "-" is standard output, any other
// path gets a temporary file renamed into place. Empty on success, else the
// reason.
std::string WriteBmpFile(const std::string& path, const char* packed, const BitmapShape& shape);

}  // namespace command

#endif
