#include "row_decoder.h"

#include <string.h>

#include "../platform/platform.h"

namespace bsb {

const int kMaxLengthGroups = 6;
const int64_t kWidthTolerance = 19;
// Pixel totals are held below this; any larger total fails the tolerance.
const uint64_t kTotalCeiling = (uint64_t)1 << 48;

int DecodedBitsPerPixel(int compressionType) {
    if (compressionType == 1) return 1;
    return compressionType <= 4 ? 4 : 8;
}

struct RowWriter {
    unsigned char* output;
    uint64_t capacity;  // pixels that fit in the output
    uint64_t total;     // pixels decoded, including dropped ones
    int bpp;
    int shift;          // log2 of the pixels per byte
    uint32_t slotMask;  // pixels per byte - 1
};

static unsigned char PatternOf(uint32_t colour, int bpp) {
    if (bpp == 8) return (unsigned char)colour;
    if (bpp == 4) return (unsigned char)(colour * 0x11u);
    return colour ? 0xFF : 0x00;
}

// Writes a run; a byte the run starts is filled with its colour in every
// slot, so the bytes that later runs do not reach end in the last run's
// colour.
static void WriteRun(RowWriter* writer, uint32_t colour, uint64_t length) {
    uint64_t position = writer->total;
    writer->total = length < kTotalCeiling - position ? position + length : kTotalCeiling;
    if (position >= writer->capacity) return;
    uint64_t room = writer->capacity - position;
    uint64_t count = length < room ? length : room;
    unsigned char pattern = PatternOf(colour, writer->bpp);
    unsigned char* byte = writer->output + (position >> writer->shift);
    uint32_t slot = (uint32_t)position & writer->slotMask;
    if (slot != 0) {
        uint32_t keptBits = slot * (uint32_t)writer->bpp;
        unsigned char keep = (unsigned char)(0xFF00u >> keptBits);
        *byte = (unsigned char)((*byte & keep) | (pattern & ~keep));
        uint64_t filled = writer->slotMask + 1 - slot;
        if (count <= filled) return;
        count -= filled;
        ++byte;
    }
    uint64_t wholeBytes = count >> writer->shift;
    if (wholeBytes == 1) *byte = pattern;
    else if (wholeBytes > 1) memset(byte, pattern, (size_t)wholeBytes);
    if (count & writer->slotMask) byte[wholeBytes] = pattern;
}

static uint32_t PrefixLength(const unsigned char* encoded, uint32_t length) {
    uint32_t at = 0;
    while (at < length && (encoded[at] & 0x80)) ++at;
    return at + 1;
}

static bool Fail() {
    ReportMessage("Error decoding the image line!");
    return false;
}

bool DecodeRasterRow(const unsigned char* encoded, uint32_t encodedLength, unsigned char* output,
                     uint32_t* expectedWidth, int compressionType) {
    if (compressionType < 1 || compressionType > 7) {
        ReportMessage("Compression type should be between 1 and 7!");
        return false;
    }
    uint32_t prefix = PrefixLength(encoded, encodedLength);
    if ((uint64_t)encodedLength < (uint64_t)prefix + 1) return Fail();
    int shift = 7 - compressionType;
    uint32_t colourMask = (0xFFu << shift) & 0x7Fu;
    uint32_t lengthMask = 0x7Fu - colourMask;
    int bpp = DecodedBitsPerPixel(compressionType);
    RowWriter writer;
    writer.output = output;
    writer.bpp = bpp;
    writer.shift = bpp == 8 ? 0 : (bpp == 4 ? 1 : 3);
    writer.slotMask = (1u << writer.shift) - 1;
    writer.capacity = (uint64_t)*expectedWidth << writer.shift;
    writer.total = 0;
    const unsigned char* at = encoded + prefix;
    const unsigned char* end = encoded + encodedLength - 1;
    while (at < end) {
        uint32_t first = *at++;
        uint32_t colour = (first & colourMask) >> shift;
        uint64_t run = first & lengthMask;
        if (first & 0x80) {
            int groups = 1;
            bool closed = false;
            while (at < end && !closed) {
                uint32_t next = *at++;
                if (++groups > kMaxLengthGroups) return Fail();
                run = (run << 7) | (next & 0x7Fu);
                closed = (next & 0x80) == 0;
            }
            if (!closed) break;
        }
        WriteRun(&writer, colour, run + 1);
    }
    int64_t difference = (int64_t)writer.total - (int64_t)*expectedWidth;
    if (difference > kWidthTolerance || difference < -kWidthTolerance) return Fail();
    *expectedWidth = (uint32_t)((writer.total + writer.slotMask) >> writer.shift);
    return true;
}

}  // namespace bsb
