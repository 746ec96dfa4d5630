// One run-length encoded raster row to packed colour indices.
#ifndef BSBCHART_ROW_DECODER_H
#define BSBCHART_ROW_DECODER_H

#include <stdint.h>

namespace bsb {

// Pixel size of decoded rows: 1 bit for compression type 1, 4 bits for 2 … 4,
// 8 bits for 5 … 7.
int DecodedBitsPerPixel(int compressionType);

// Decodes `encoded` into `output`, which holds *expectedWidth bytes (the
// raster width in pixels, at every pixel size), most significant bits first.
// Only the bytes of this row's pixels are written; pixels beyond the buffer
// are dropped. The row may come out up to 19 pixels longer or shorter than
// the width. On success `*expectedWidth` receives the bytes decoded.
bool DecodeRasterRow(const unsigned char* encoded, uint32_t encodedLength, unsigned char* output,
                     uint32_t* expectedWidth, int compressionType);

}  // namespace bsb

#endif
