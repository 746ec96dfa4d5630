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
// raster width in pixels, at every pixel size), most significant bits first,
// writing only the output bytes firstByte … firstByte + byteCount - 1 that lie
// in the buffer; every other byte keeps what it held. Each run sets the slots
// of its pixels and the free slots after them in the byte holding its last
// pixel; bytes past the row's last pixel are not written, so where a row
// decodes short the range keeps what the previous row left there. Every run
// of the row is read whatever the range: the row may come out up to 19
// pixels longer or shorter than the width, and its failures and messages are
// those of the whole row. On success `*expectedWidth` receives the bytes the
// whole row decoded to.
bool DecodeRasterColumns(const unsigned char* encoded, uint32_t encodedLength,
                         unsigned char* output, uint32_t* expectedWidth, int compressionType,
                         uint32_t firstByte, uint32_t byteCount, Reporter* reporter);

// DecodeRasterColumns over the whole buffer: pixels beyond it are dropped.
bool DecodeRasterRow(const unsigned char* encoded, uint32_t encodedLength, unsigned char* output,
                     uint32_t* expectedWidth, int compressionType, Reporter* reporter);

// Receives the runs of a row in order: `length` pixels of `colour` from
// pixel `position` on.
typedef void (*RunVisitor)(void* context, uint32_t colour, uint64_t position, uint64_t length);

// Reads every run of the row like DecodeRasterRow, with its failures and
// messages, handing each complete run to `visit` instead of writing pixels.
// On success `*pixels` receives the row's pixel total.
bool VisitRasterRuns(const unsigned char* encoded, uint32_t encodedLength, uint32_t expectedWidth,
                     int compressionType, RunVisitor visit, void* context, uint64_t* pixels,
                     Reporter* reporter);

}  // namespace bsb

#endif
