// One run-length encoded raster row to packed colour indices.
#ifndef BSBCHART_ROW_DECODER_H
#define BSBCHART_ROW_DECODER_H

#include <stdint.h>

#include "report/reporter.h"

namespace bsb {

// Words read from memory with memcpy hold its first byte lowest.
#if (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_M_IX86) || \
    defined(_M_X64) || defined(_M_ARM) || defined(_M_ARM64)
const bool kLittleEndian = true;
#else
const bool kLittleEndian = false;
#endif

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

// The runs of a row one at a time, for callers that use the runs instead of
// pixels.
struct RunReader {
    const unsigned char* at;
    const unsigned char* end;  // the terminator
    int colourShift;
    uint32_t colourMask;
    uint32_t lengthMask;
    uint64_t total;  // pixels of the runs read so far
    int state;       // 1: reading; 0: the row is over; -1: a run of too many length groups
};

const int kMaxLengthGroups = 6;
// Pixel totals are held below this; any larger total fails the tolerance.
const uint64_t kTotalCeiling = (uint64_t)1 << 48;

// Reads the length groups after a run's first byte into *run. 1: a run;
// 0: the row ends inside the run, which draws nothing; -1: too many groups.
inline int ReadLengthGroups(const unsigned char** cursor, const unsigned char* end, uint64_t* run) {
    const unsigned char* at = *cursor;
    int groups = 1;
    while (at < end) {
        uint32_t next = *at++;
        if (++groups > kMaxLengthGroups) return -1;
        *run = (*run << 7) | (next & 0x7Fu);
        if ((next & 0x80) == 0) {
            *cursor = at;
            return 1;
        }
    }
    return 0;
}

// Starts on a row, failing as DecodeRasterRow does on a compression type
// outside 1 … 7 or a row too short for its prefix and terminator.
bool BeginRuns(const unsigned char* encoded, uint32_t encodedLength, int compressionType,
               RunReader* reader, Reporter* reporter);

// Hands each complete run ahead to visit(colour, end), `end` the row's pixel
// total after the run, until the row is over or visit returns false. The
// reader's fields are held in locals meanwhile, so that they can stay in
// registers.
template <typename Visit>
inline void VisitRuns(RunReader* reader, Visit& visit) {
    if (reader->state != 1) return;
    const unsigned char* at = reader->at;
    const unsigned char* end = reader->end;
    const uint32_t lengthMask = reader->lengthMask;
    const uint32_t colourMask = reader->colourMask;
    const int colourShift = reader->colourShift;
    uint64_t total = reader->total;
    int state = 1;
    while (at < end) {
        uint32_t first = *at++;
        uint64_t run = first & lengthMask;
        if (first & 0x80) {
            int read = ReadLengthGroups(&at, end, &run);
            if (read != 1) {
                state = read;
                break;
            }
        }
        uint64_t sum = total + run + 1;
        total = sum < kTotalCeiling ? sum : kTotalCeiling;
        if (!visit((first & colourMask) >> colourShift, total)) break;
    }
    if (state == 1 && at >= end) state = 0;
    reader->at = at;
    reader->total = total;
    reader->state = state;
}

// The reader moved over runs ahead, eight bytes at a time, without going
// past those whose pixels end by `limit`: it stands at a run's start as
// before, its total below or at the limit. Runs that need a closer look are
// left to VisitRuns. (By value, so that a caller's reader can stay in
// registers.)
RunReader SkipRuns(RunReader reader, uint64_t limit);

// After the last run: fails as DecodeRasterRow does on a run of too many
// length groups or a pixel total 20 or more away from the width.
bool EndRuns(const RunReader& reader, uint32_t expectedWidth, Reporter* reporter);

}  // namespace bsb

#endif
