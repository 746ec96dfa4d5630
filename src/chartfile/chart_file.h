// The physical layout of a chart: header block, raster rows, index table of
// big-endian row offsets, and a trailer holding the index table's offset.
#ifndef BSBCHART_CHART_FILE_H
#define BSBCHART_CHART_FILE_H

#include <stdint.h>

#include "../platform/platform.h"

namespace bsb {

// Bytes 0 … size - 1 of the chart. The header text ends at the first NUL or
// at the block's end, whichever comes first.
struct HeaderBlock {
    char* bytes;
    uint32_t size;
    uint32_t textLength;
};

// Opens the chart exclusively for reading, reporting a failure.
bool OpenChart(ChartFile* file, const unsigned short* path);

// The trailer: the offset of the index table. Fails on a short read.
bool ReadTrailer(ChartFile* file, uint32_t* value);

// The big-endian word at `offset`. Fails on a short read or an offset the
// platform's signed 32-bit positioning cannot reach.
bool ReadBigEndian32(ChartFile* file, uint64_t offset, uint32_t* value);

// The header block's length: the first index entry. Reports a length of 0 or
// one past the end of the file as a header that cannot be read.
bool ReadHeaderLength(ChartFile* file, uint32_t* length);

// Allocates `length` bytes from `heap` and reads the header block into them.
// On a failed read the block stays allocated in `block` for the caller.
bool LoadHeaderBlock(ChartFile* file, void* heap, uint32_t length, HeaderBlock* block);

// The last byte of the header block, signed.
int CompressionType(const HeaderBlock& block);

// Reads the encoded bytes of 1-based row `rowNumber` into `buffer`, which
// holds `*capacity` bytes. On success and on a row longer than the buffer,
// `*capacity` receives the row's length.
bool ReadRasterRow(ChartFile* file, unsigned char* buffer, uint32_t* capacity, uint32_t rowNumber);

}  // namespace bsb

#endif
