#include "raster/row_decoder.h"

#include <string.h>

namespace bsb {

const int64_t kWidthTolerance = 19;

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
// the shadow reads ahead, and never past the range. A row that fails gets
// the bytes past its last pixel back from the shadow: what the last such
// word's bytes held before the row, where no run has written them.
const bool kWordStores = kLittleEndian;  // the shadow is kept in little-endian order
const int64_t kNoShadow = -16;

struct RowWriter {
    unsigned char* output;
    uint64_t total;      // pixels decoded, including dropped ones
    uint64_t capacity;   // pixels that fit in the output
    uint64_t firstByte;  // bytes written: firstByte … endByte - 1
    uint64_t endByte;
    uint64_t firstPixel;  // the first pixel of firstByte
    uint64_t endPixel;    // pixels from here on are not written
    uint64_t wordLimit;   // a word store starting after byte b needs b + 17 <= wordLimit
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

static inline uint64_t AddPixels(uint64_t total, uint64_t length) {
    uint64_t sum = total + length;
    return sum < kTotalCeiling ? sum : kTotalCeiling;
}

// Writes the part inside the range of a run of kBpp-bit pixels starting at
// pixel `position`, which lies before the range's end. The byte the run
// starts in keeps the slots before it and takes the colour in every other
// slot; the bytes after it up to the one holding the run's last pixel are
// filled whole. So the bytes that later runs do not reach end in the last
// run's colour.
template <int kBpp>
static inline void WriteRun(RowWriter* writer, uint64_t position, uint32_t colour,
                            uint64_t length) {
    const int kShift = PixelsPerByteShift(kBpp);
    const uint32_t kSlotMask = (1u << kShift) - 1;
    uint64_t room = writer->endPixel - position;
    uint64_t count = length < room ? length : room;
    unsigned char pattern = (unsigned char)(colour * (kBpp == 8 ? 1u : (kBpp == 4 ? 0x11u : 0xFFu)));
    uint64_t first = position >> kShift;
    uint64_t last = (position + count - 1) >> kShift;
    uint64_t from = writer->firstByte;
    if (first >= from) {
        unsigned char* byte = writer->output + first;
        uint32_t slot = (uint32_t)position & kSlotMask;
        unsigned char keep = (unsigned char)(0xFF00u >> (slot * kBpp));
        *byte = (unsigned char)((*byte & keep) | (pattern & ~keep));
        if (kWordStores && last - first <= 8 && first + 17 <= writer->wordLimit) {
            AdvanceShadow(writer, (int64_t)first + 1);
            uint64_t wide = pattern * 0x0101010101010101ull;
            memcpy(byte + 1, &wide, 8);
            return;
        }
        from = first + 1;
    }
    if (last >= from) FillBytes(writer->output + from, pattern, last + 1 - from);
}

// Runs outside the range are only counted, eight bytes at a time while no
// run among them takes more than three bytes, as nearly none does. A byte
// with its top bit clear closes a run; the bytes of a run add their length
// bits (a run's first byte) or 7 bits (the others) times 128 for each byte
// that follows them in the run. The pixel total is those sums plus one per
// run.
const bool kWordCounts = kLittleEndian;
const uint64_t kTopBits = 0x8080808080808080ull;

// The sum of the eight bytes of `x`, each below 0x80.
static inline uint64_t ByteSum(uint64_t x) {
    x = (x & 0x00FF00FF00FF00FFull) + ((x >> 8) & 0x00FF00FF00FF00FFull);
    return (x * 0x0001000100010001ull) >> 48;
}

// 0xFF in each byte whose top bit `top` holds.
static inline uint64_t ByteMask(uint64_t top) {
    return (top >> 7) * 0xFF;
}

// Adds to `total` the pixels of the runs from *cursor, where a run starts,
// and returns it. Stops before a run of four bytes or more, where fewer than
// ten bytes are left (the last eight bytes of a run's count look two bytes
// ahead) and before eight bytes that would take the total past `limit`,
// leaving *cursor at the start of a run again.
static uint64_t CountRunWords(const unsigned char** cursor, const unsigned char* end,
                              uint32_t lengthMask, uint64_t total, uint64_t limit) {
    const unsigned char* at = *cursor;
    const uint64_t lengths = lengthMask * 0x0101010101010101ull;
    uint64_t before = 0;  // 0x80: the byte before `at` does not close its run
    while (end - at >= 10) {
        uint64_t word, next1, next2;
        memcpy(&word, at, 8);
        memcpy(&next1, at + 1, 8);
        memcpy(&next2, at + 2, 8);
        uint64_t top = word & kTopBits;
        uint64_t top1 = next1 & kTopBits;
        uint64_t top2 = next2 & kTopBits;
        if (top & top1 & top2) break;
        uint64_t bits = word & ~kTopBits & (ByteMask((top << 8) | before) | lengths);
        uint64_t one = ByteMask(top & ~top1);  // one byte follows in the run
        uint64_t two = ByteMask(top & top1);   // two bytes follow
        uint64_t sum = total + ByteSum((~word & kTopBits) >> 7) + ByteSum(bits & ~(one | two)) +
                       (ByteSum(bits & one) << 7) + (ByteSum(bits & two) << 14);
        if (sum > limit) break;
        total = sum;
        before = top >> 56;
        at += 8;
    }
    // Back to the start of a run that the last eight bytes opened.
    if (before) {
        if (at[-2] & 0x80) {
            at -= 2;
            total -= ((uint64_t)(at[0] & lengthMask) << 14) + ((uint64_t)(at[1] & 0x7F) << 7);
        } else {
            at -= 1;
            total -= (uint64_t)(at[0] & lengthMask) << (at[1] & 0x80 ? 14 : 7);
        }
    }
    *cursor = at;
    return total;
}

// Decodes the runs in [at, end) in three stretches: runs that end before the
// range are counted, runs that reach into it are written, and once the
// range is full the rest are counted. False on a run of too many length
// groups.
template <int kBpp>
static bool DecodeRuns(const unsigned char* at, const unsigned char* end, const RunFormat& format,
                       RowWriter* writer) {
    uint64_t total = 0;
    int read = 1;
    while (at < end) {
        if (kWordCounts && writer->firstPixel > 0) {
            total = CountRunWords(&at, end, format.lengthMask, total, writer->firstPixel);
            if (at == end) break;
        }
        uint32_t first = *at++;
        uint64_t run = first & format.lengthMask;
        if ((first & 0x80) && (read = ReadLengthGroups(&at, end, &run)) != 1) break;
        uint64_t position = total;
        total = AddPixels(total, run + 1);
        if (total > writer->firstPixel) {
            if (position < writer->endPixel)
                WriteRun<kBpp>(writer, position, (first & format.colourMask) >> format.colourShift,
                               run + 1);
            break;
        }
    }
    while (read == 1 && at < end && total < writer->endPixel) {
        uint32_t first = *at++;
        uint64_t run = first & format.lengthMask;
        if ((first & 0x80) && (read = ReadLengthGroups(&at, end, &run)) != 1) break;
        uint64_t position = total;
        total = AddPixels(total, run + 1);
        WriteRun<kBpp>(writer, position, (first & format.colourMask) >> format.colourShift, run + 1);
    }
    while (read == 1 && at < end) {
        if (kWordCounts) {
            total = CountRunWords(&at, end, format.lengthMask, total, kTotalCeiling);
            if (at == end) break;
        }
        uint32_t first = *at++;
        uint64_t run = first & format.lengthMask;
        if ((first & 0x80) && (read = ReadLengthGroups(&at, end, &run)) != 1) break;
        total = AddPixels(total, run + 1);
    }
    writer->total = total;
    return read >= 0;
}

static uint32_t PrefixLength(const unsigned char* encoded, uint32_t length) {
    uint32_t at = 0;
    while (at < length && (encoded[at] & 0x80)) ++at;
    return at + 1;
}

static RunFormat FormatOf(int compressionType) {
    RunFormat format;
    format.colourShift = 7 - compressionType;
    format.colourMask = (0xFFu << format.colourShift) & 0x7Fu;
    format.lengthMask = 0x7Fu - format.colourMask;
    return format;
}

// The checks before any run: a valid compression type and a row that holds
// its prefix and terminator.
static bool CheckRow(const unsigned char* encoded, uint32_t encodedLength, int compressionType,
                     uint32_t* prefix, Reporter* reporter) {
    if (compressionType < 1 || compressionType > 7) return Fail(reporter, kCompressionTypeInvalid);
    *prefix = PrefixLength(encoded, encodedLength);
    if ((uint64_t)encodedLength < (uint64_t)*prefix + 1) return Fail(reporter, kErrorDecodingRow);
    return true;
}

static bool WithinTolerance(uint64_t total, uint64_t width) {
    int64_t difference = (int64_t)total - (int64_t)width;
    return difference <= kWidthTolerance && difference >= -kWidthTolerance;
}

bool DecodeRasterColumns(const unsigned char* encoded, uint32_t encodedLength,
                         unsigned char* output, uint32_t* expectedWidth, int compressionType,
                         uint32_t firstByte, uint32_t byteCount, Reporter* reporter) {
    uint32_t prefix = 0;
    if (!CheckRow(encoded, encodedLength, compressionType, &prefix, reporter)) return false;
    RunFormat format = FormatOf(compressionType);
    int bpp = BitsPerPixel(compressionType);
    int shift = PixelsPerByteShift(bpp);
    uint64_t width = *expectedWidth;
    uint64_t endByte = (uint64_t)firstByte + byteCount;
    RowWriter writer;
    writer.output = output;
    writer.total = 0;
    writer.capacity = width << shift;
    writer.firstByte = firstByte;
    writer.endByte = endByte < width ? endByte : width;
    writer.firstPixel = writer.firstByte << shift;
    writer.endPixel = writer.endByte << shift;
    uint64_t safeBytes = kWordStores && width > kWidthTolerance ? (width - kWidthTolerance) >> shift : 0;
    writer.wordLimit = safeBytes < writer.endByte + 8 ? safeBytes : writer.endByte + 8;
    writer.shadowStart = kNoShadow;
    writer.shadow = 0;
    const unsigned char* at = encoded + prefix;
    const unsigned char* end = encoded + encodedLength - 1;
    bool decoded = bpp == 8   ? DecodeRuns<8>(at, end, format, &writer)
                   : bpp == 4 ? DecodeRuns<4>(at, end, format, &writer)
                              : DecodeRuns<1>(at, end, format, &writer);
    if (!decoded || !WithinTolerance(writer.total, width)) {
        RestoreShadow(writer, shift);
        return Fail(reporter, kErrorDecodingRow);
    }
    uint32_t slotMask = (1u << shift) - 1;
    *expectedWidth = (uint32_t)((writer.total + slotMask) >> shift);
    return true;
}

bool BeginRuns(const unsigned char* encoded, uint32_t encodedLength, int compressionType,
               RunReader* reader, Reporter* reporter) {
    uint32_t prefix = 0;
    if (!CheckRow(encoded, encodedLength, compressionType, &prefix, reporter)) return false;
    RunFormat format = FormatOf(compressionType);
    reader->at = encoded + prefix;
    reader->end = encoded + encodedLength - 1;
    reader->colourShift = format.colourShift;
    reader->colourMask = format.colourMask;
    reader->lengthMask = format.lengthMask;
    reader->total = 0;
    reader->state = 1;
    return true;
}

RunReader SkipRuns(RunReader reader, uint64_t limit) {
    if (!kWordCounts || reader.state != 1) return reader;
    reader.total = CountRunWords(&reader.at, reader.end, reader.lengthMask, reader.total,
                                 limit < kTotalCeiling ? limit : kTotalCeiling);
    return reader;
}

bool EndRuns(const RunReader& reader, uint32_t expectedWidth, Reporter* reporter) {
    if (reader.state < 0 || !WithinTolerance(reader.total, expectedWidth))
        return Fail(reporter, kErrorDecodingRow);
    return true;
}

bool DecodeRasterRow(const unsigned char* encoded, uint32_t encodedLength, unsigned char* output,
                     uint32_t* expectedWidth, int compressionType, Reporter* reporter) {
    return DecodeRasterColumns(encoded, encodedLength, output, expectedWidth, compressionType, 0,
                               *expectedWidth, reporter);
}

}  // namespace bsb
