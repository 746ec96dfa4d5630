// The baseline the library's row decoder is measured against: the same row
// format and the same output, written one pixel at a time with a
// read-modify-write of the byte that holds it.
#ifndef BSBCHART_BENCH_NAIVE_DECODER_H
#define BSBCHART_BENCH_NAIVE_DECODER_H

#include <cstdint>

namespace bench {

// Same contract as bsb::DecodeRasterRow for well-formed rows, without the
// messages: false if the pixel total is off the width by 20 or more.
bool DecodeRowPixelByPixel(const uint8_t* encoded, uint32_t length, uint8_t* output,
                           uint32_t width, int compressionType);

}  // namespace bench

#endif
