#include "raster/row_decoder.h"

#include <string.h>

namespace bsb {

const int kMaxLengthGroups = 6;
const int64_t kWidthTolerance = 19;
// Pixel totals are held below this; any larger total fails the tolerance.
const uint64_t kTotalCeiling = (uint64_t)1 << 48;

int BitsPerPixel(int compressionType) {
    if (compressionType == 1) return 1;
    return (uint32_t)compressionType <= 4 ? 4 : 8;
}


struct RunFormat {
    int colourShift;  // 7 - compression type
    uint32_t colourMask;
    uint32_t lengthMask;
};

// Short runs are stored as one 8-byte word that may reach past the run. The
// bytes every row within the tolerance writes (safeBytes) are rewritten by
// the runs that follow, so the word may reach up to there, less the 8 bytes
// the shadow reads ahead. A row that fails gets the bytes past its last pixel
// back from the shadow: what the last such word's bytes held before the row,
// where no run has written them.
#if (defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) || defined(_M_IX86) || \
    defined(_M_X64) || defined(_M_ARM) || defined(_M_ARM64)
const bool kWordStores = true;
#else
const bool kWordStores = false;  // the shadow is kept in little-endian order
#endif
const int64_t kNoShadow = -16;

struct RowWriter {
    unsigned char* output;
    uint64_t capacity;   // pixels that fit in the output
    uint64_t total;      // pixels decoded, including dropped ones
    uint64_t safeBytes;  // word stores stay below this byte
    int64_t shadowStart;  // first byte of the last word store past a run
    uint64_t shadow;      // byte k: what byte shadowStart + k held before the row
};

// The shadow of a word store `distance` bytes after the previous one: the
// bytes that word covered keep their shadow, the rest are read from the
// output before the store, from just past the previous word, so that the
// read never overlaps the store just made.
static inline void AdvanceShadow(RowWriter* writer, int64_t start) {
    int64_t distance = start - writer->shadowStart;
    if (distance < 8) {
        uint64_t next;
        memcpy(&next, writer->output + writer->shadowStart + 8, 8);
        writer->shadow = (writer->shadow >> (8 * distance)) | ((next << 1) << (63 - 8 * distance));
    } else {
        memcpy(&writer->shadow, writer->output + start, 8);
    }
    writer->shadowStart = start;
}

// Puts back the bytes past the row's last pixel that a word store reached.
static void RestoreShadow(const RowWriter& writer, int shift) {
    if (writer.shadowStart == kNoShadow) return;
    uint64_t pixels = writer.total < writer.capacity ? writer.total : writer.capacity;
    int64_t firstUnwritten = (int64_t)((pixels + (1u << shift) - 1) >> shift);
    for (int k = 0; k < 8; ++k)
        if (writer.shadowStart + k >= firstUnwritten)
            writer.output[writer.shadowStart + k] = (unsigned char)(writer.shadow >> (8 * k));
}

// Most runs cover a few bytes: they are stored with a pair of overlapping
// word stores that stay inside the run's bytes, without a call to memset.
static inline void FillBytes(unsigned char* at, unsigned char pattern, uint64_t count) {
    if (count >= 64) {
        memset(at, pattern, (size_t)count);
        return;
    }
    uint64_t wide = pattern * 0x0101010101010101ull;
    if (count >= 8) {
        for (uint64_t done = 0; done + 8 < count; done += 8) memcpy(at + done, &wide, 8);
        memcpy(at + count - 8, &wide, 8);
    } else if (count >= 4) {
        uint32_t word = (uint32_t)wide;
        memcpy(at, &word, 4);
        memcpy(at + count - 4, &word, 4);
    } else if (count >= 2) {
        uint16_t half = (uint16_t)wide;
        memcpy(at, &half, 2);
        memcpy(at + count - 2, &half, 2);
    } else if (count == 1) {
        *at = pattern;
    }
}

// Writes a run of kBpp-bit pixels. The byte the run starts in keeps the
// slots before it and takes the colour in every other slot; the bytes after
// it up to the one holding the run's last pixel are filled whole. So the
// bytes that later runs do not reach end in the last run's colour.
template <int kBpp>
static inline void WriteRun(RowWriter* writer, uint32_t colour, uint64_t length) {
    const int kShift = PixelsPerByteShift(kBpp);
    const uint32_t kSlotMask = (1u << kShift) - 1;
    uint64_t position = writer->total;
    writer->total = length < kTotalCeiling - position ? position + length : kTotalCeiling;
    if (position >= writer->capacity) return;
    uint64_t room = writer->capacity - position;
    uint64_t count = length < room ? length : room;
    unsigned char pattern = (unsigned char)(colour * (kBpp == 8 ? 1u : (kBpp == 4 ? 0x11u : 0xFFu)));
    uint64_t first = position >> kShift;
    uint64_t last = (position + count - 1) >> kShift;
    unsigned char* byte = writer->output + first;
    uint32_t slot = (uint32_t)position & kSlotMask;
    unsigned char keep = (unsigned char)(0xFF00u >> (slot * kBpp));
    *byte = (unsigned char)((*byte & keep) | (pattern & ~keep));
    uint64_t whole = last - first;
    if (whole <= 8 && first + 17 <= writer->safeBytes) {
        AdvanceShadow(writer, (int64_t)first + 1);
        uint64_t wide = pattern * 0x0101010101010101ull;
        memcpy(byte + 1, &wide, 8);
        return;
    }
    FillBytes(byte + 1, pattern, whole);
}

// Decodes the runs in [at, end); false on a run of too many length groups.
template <int kBpp>
static bool DecodeRuns(const unsigned char* at, const unsigned char* end, const RunFormat& format,
                       RowWriter* writer) {
    while (at < end) {
        uint32_t first = *at++;
        uint32_t colour = (first & format.colourMask) >> format.colourShift;
        uint64_t run = first & format.lengthMask;
        if (first & 0x80) {
            int groups = 1;
            bool closed = false;
            while (at < end && !closed) {
                uint32_t next = *at++;
                if (++groups > kMaxLengthGroups) return false;
                run = (run << 7) | (next & 0x7Fu);
                closed = (next & 0x80) == 0;
            }
            if (!closed) break;  // the row ends inside the run: it draws nothing
        }
        WriteRun<kBpp>(writer, colour, run + 1);
    }
    return true;
}

static uint32_t PrefixLength(const unsigned char* encoded, uint32_t length) {
    uint32_t at = 0;
    while (at < length && (encoded[at] & 0x80)) ++at;
    return at + 1;
}

bool DecodeRasterRow(const unsigned char* encoded, uint32_t encodedLength, unsigned char* output,
                     uint32_t* expectedWidth, int compressionType, Reporter* reporter) {
    if (compressionType < 1 || compressionType > 7) return Fail(reporter, kCompressionTypeInvalid);
    uint32_t prefix = PrefixLength(encoded, encodedLength);
    if ((uint64_t)encodedLength < (uint64_t)prefix + 1) return Fail(reporter, kErrorDecodingRow);
    RunFormat format;
    format.colourShift = 7 - compressionType;
    format.colourMask = (0xFFu << format.colourShift) & 0x7Fu;
    format.lengthMask = 0x7Fu - format.colourMask;
    int bpp = BitsPerPixel(compressionType);
    int shift = PixelsPerByteShift(bpp);
    RowWriter writer;
    writer.output = output;
    writer.capacity = (uint64_t)*expectedWidth << shift;
    writer.total = 0;
    writer.safeBytes = kWordStores && *expectedWidth > kWidthTolerance
                           ? ((uint64_t)*expectedWidth - kWidthTolerance) >> shift
                           : 0;
    writer.shadowStart = kNoShadow;
    writer.shadow = 0;
    const unsigned char* at = encoded + prefix;
    const unsigned char* end = encoded + encodedLength - 1;
    bool decoded = bpp == 8   ? DecodeRuns<8>(at, end, format, &writer)
                   : bpp == 4 ? DecodeRuns<4>(at, end, format, &writer)
                              : DecodeRuns<1>(at, end, format, &writer);
    int64_t difference = (int64_t)writer.total - (int64_t)*expectedWidth;
    if (!decoded || difference > kWidthTolerance || difference < -kWidthTolerance) {
        RestoreShadow(writer, shift);
        return Fail(reporter, kErrorDecodingRow);
    }
    uint32_t slotMask = (1u << shift) - 1;
    *expectedWidth = (uint32_t)((writer.total + slotMask) >> shift);
    return true;
}

}  // namespace bsb
