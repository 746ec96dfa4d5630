// One run-length encoded raster row to packed colour indices.
#ifndef BSBCHART_ROW_DECODER_H
#define BSBCHART_ROW_DECODER_H

#include <stdint.h>

#include "report/reporter.h"

namespace bsb {

// Pixel size of decoded rows and of a chart's windows: 1 bit for compression
// type 1, 4 bits for types up to 4 taken as unsigned (0 included), 8 bits for
// the rest.
int BitsPerPixel(int compressionType);

// log2 of the pixels a byte holds at `bpp` bits per pixel.
constexpr int PixelsPerByteShift(int bpp) {
    return bpp == 8 ? 0 : (bpp == 4 ? 1 : 3);
}

// Decodes `encoded` into `output`, which holds *expectedWidth bytes (the
// raster width in pixels, at every pixel size), most significant bits first.
// Only the bytes of this row's pixels are written; pixels beyond the buffer
// are dropped. The row may come out up to 19 pixels longer or shorter than
// the width. On success `*expectedWidth` receives the bytes decoded.
bool DecodeRasterRow(const unsigned char* encoded, uint32_t encodedLength, unsigned char* output,
                     uint32_t* expectedWidth, int compressionType, Reporter* reporter);

}  // namespace bsb

#endif
