#include "window_rows.h"

#include <string.h>

#include "../raster/row_decoder.h"

namespace bsb {

bool ReadDecodedRow(CallFrame* frame, const RasterShape& shape, int32_t row) {
    uint32_t capacity = (uint32_t)shape.width;
    uint32_t width = (uint32_t)shape.width;
    return ReadRasterRow(&frame->file, frame->encodedRow, &capacity, (uint32_t)row + 1) &&
           DecodeRasterRow(frame->encodedRow, capacity, frame->decodedRow, &width,
                           shape.compressionType);
}

bool CopyWindowRows(CallFrame* frame, const RasterShape& shape, int32_t left, int32_t top) {
    const WindowBitmap& bitmap = frame->bitmap;
    uint64_t from = (uint64_t)bitmap.bpp * (uint64_t)left / 8;
    uint64_t count = (uint64_t)bitmap.bpp * bitmap.width / 8;
    unsigned char* out = bitmap.pixels;
    for (uint32_t j = 0; j < bitmap.height; ++j, out += bitmap.stride) {
        if (!ReadDecodedRow(frame, shape, top + (int32_t)j)) return false;
        memcpy(out, frame->decodedRow + from, (size_t)count);
    }
    return true;
}

}  // namespace bsb
