// The physical layout of a chart: header block, raster rows, index table of
// big-endian row offsets, and a trailer holding the index table's offset.
#ifndef BSBCHART_CHART_FILE_H
#define BSBCHART_CHART_FILE_H

#include <stdint.h>

#include "chartfile/allocator.h"
#include "chartfile/read_cache.h"
#include "report/reporter.h"

namespace bsb {

// A chart's path as the host gives it: UTF-16, or bytes (UTF-8 on Windows).
struct ChartPath {
    const unsigned short* utf16;
    const char* bytes;
};

// Opens the chart for reading in the given sharing, converting the path to
// the system's form. A path that does not convert or fit fails like a name
// the system refuses.
bool OpenPortChart(ChartPath path, PortShare share, PortFile* file, Reporter* reporter);

// Opens the chart exclusively and reads it through a cache.
bool OpenChart(ChartFile* file, const unsigned short* path, Reporter* reporter);
void CloseChartFile(ChartFile* file);

// Bytes 0 … size - 1 of the chart. The header text ends at the first NUL or
// at the block's end, whichever comes first.
struct HeaderBlock {
    char* bytes;
    uint32_t size;
    uint32_t textLength;
};

// The trailer: the offset of the index table. Fails on a short read.
bool ReadTrailer(ChartFile* file, uint32_t* value);

// The big-endian word at `offset`. Fails on a short read or an offset the
// platform's signed 32-bit positioning cannot reach.
bool ReadBigEndian32(ChartFile* file, uint64_t offset, uint32_t* value);

// The header block's length: the first index entry. Reports a length of 0 or
// one past the end of the file as a header that cannot be read.
bool ReadHeaderLength(ChartFile* file, uint32_t* length, Reporter* reporter);

// Allocates `length` bytes and reads the header block into them. On a failed
// read the block stays allocated in `block` for the caller.
bool LoadHeaderBlock(ChartFile* file, const Allocator& allocator, uint32_t length,
                     HeaderBlock* block, Reporter* reporter);

// The same into a block of `room` bytes (at least `length`), the bytes past
// the header zero: a room of length + 1 always ends the text with a NUL.
bool LoadHeaderBytes(ChartFile* file, const Allocator& allocator, uint32_t length, uint64_t room,
                     HeaderBlock* block, Reporter* reporter);

// The last byte of the header block, signed.
int CompressionType(const HeaderBlock& block);

// Reads the encoded bytes of 1-based row `rowNumber` into `buffer`, which
// holds `*capacity` bytes. On success and on a row longer than the buffer,
// `*capacity` receives the row's length.
bool ReadRasterRow(ChartFile* file, unsigned char* buffer, uint32_t* capacity, uint32_t rowNumber,
                   Reporter* reporter);

// The index table as an open chart keeps it: entry n - 1 is where row n
// starts, and the entry after the last row's is the trailer, where it ends.
struct RowIndex {
    const uint32_t* offsets;
    uint32_t count;  // entries the file holds; rows past them cannot be read
};

// Loads the entries of rows 1 … rowCount and the trailer word after them,
// as far as the file holds them, into a block of `allocator`.
bool LoadRowIndex(ChartFile* file, const Allocator& allocator, uint32_t rowCount, RowIndex* index,
                  Reporter* reporter);

// ReadRasterRow from a kept index table: one read of the row's bytes, which
// may run on several threads at once.
bool ReadIndexedRow(const PortFile& file, const RowIndex& index, unsigned char* buffer,
                    uint32_t* capacity, uint32_t rowNumber, Reporter* reporter);

// Rows read by one call: rows first … end - 1, the first at the start of the
// buffer and each of the others where its offset lies from the first's.
struct RowBatch {
    uint32_t first;
    uint32_t end;
};

// ReadIndexedRow of row `rowNumber`, reading in the same call the rows after
// it, up to `lastRow`, whose bytes follow it and fit in the buffer with it.
// A row that the read does not deliver whole is left out of the batch, to
// fail when it is read on its own.
bool ReadIndexedRows(const PortFile& file, const RowIndex& index, unsigned char* buffer,
                     uint32_t* capacity, uint32_t rowNumber, uint32_t lastRow, RowBatch* batch,
                     Reporter* reporter);

}  // namespace bsb

#endif
