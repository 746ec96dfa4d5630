// DecodeRasterColumns: a row decoded for a window writes only the bytes the
// window copies, and there they hold exactly what DecodeRasterRow leaves, row
// after row, for rows that decode whole, short, long or not at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "internal_support.h"
#include "raster/row_decoder.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::MessageLog;

const size_t kGuard = 24;  // bytes past the buffer, which no decoder may touch
const uint8_t kGuardByte = 0xE7;

// ---------------------------------------------------------------- rows

struct Run {
    uint32_t colour;
    uint64_t length;  // pixels, at least 1
    int groups;       // bytes of the run; more than it needs pads with zero groups
};

int LengthBits(int type) { return 7 - type; }

// Bytes a run needs at the least.
int MinimalGroups(int type, uint64_t length) {
    uint64_t stored = length - 1;
    int groups = 1;
    while (groups < 8 && (stored >> (LengthBits(type) + 7 * (groups - 1))) != 0) ++groups;
    return groups;
}

void Encode(const Run& run, int type, Bytes* out) {
    uint64_t stored = run.length - 1;
    int groups = run.groups;
    uint32_t first = (run.colour << LengthBits(type)) & 0x7Fu;
    first |= (uint32_t)(stored >> (7 * (groups - 1))) & ((1u << LengthBits(type)) - 1);
    out->push_back((uint8_t)(first | (groups > 1 ? 0x80 : 0)));
    for (int g = groups - 2; g >= 0; --g)
        out->push_back((uint8_t)(((stored >> (7 * g)) & 0x7F) | (g > 0 ? 0x80 : 0)));
}

Bytes Prefix(uint32_t rowNumber) {
    Bytes out;
    int groups = 1;
    while (groups < 5 && (rowNumber >> (7 * groups)) != 0) ++groups;
    for (int g = groups - 1; g >= 0; --g)
        out.push_back((uint8_t)(((rowNumber >> (7 * g)) & 0x7F) | (g > 0 ? 0x80 : 0)));
    return out;
}

// What a random row is made to be.
enum Shape {
    kWithin,        // within 19 pixels of the width
    kJustBeyond,    // 20 … 30 pixels short or long
    kFarTooLong,    // runs far past the buffer's end
    kTooManyGroups, // a run of seven groups somewhere
    kUnfinished,    // the row ends inside its last run
    kNoRuns,        // prefix and terminator only
    kShapeCount
};

struct RandomRows {
    std::mt19937 random;
    explicit RandomRows(uint32_t seed) : random(seed) {}

    uint64_t Below(uint64_t n) { return n == 0 ? 0 : random() % n; }

    // Mostly short runs, some long enough to take three bytes.
    uint64_t RunLength(uint64_t width) {
        uint64_t pick = Below(100);
        if (pick < 70) return 1 + Below(6);
        if (pick < 92) return 1 + Below(40);
        if (pick < 97) return 1 + Below(700);
        return 1 + Below(width * 2 / 3 + 1);
    }

    // Runs adding up to `total` pixels.
    std::vector<Run> Runs(int type, uint64_t total) {
        std::vector<Run> runs;
        uint64_t done = 0;
        while (done < total) {
            uint64_t length = std::min<uint64_t>(RunLength(total), total - done);
            runs.push_back({(uint32_t)Below(1u << type), length, 0});
            done += length;
        }
        for (Run& run : runs) {
            int minimal = MinimalGroups(type, run.length);
            run.groups = Below(8) == 0 ? minimal + (int)Below(7 - minimal) : minimal;
            // Three-byte runs whose first byte holds length bits.
            if (run.groups == 3 && ((run.length - 1) >> 14) != 0) ++threeByteRuns;
        }
        return runs;
    }

    int threeByteRuns = 0;

    Bytes Row(int type, uint32_t width, Shape shape) {
        int64_t total = width;
        if (shape == kWithin) total += (int64_t)Below(39) - 19;
        if (shape == kJustBeyond) total += (Below(2) ? 1 : -1) * (20 + (int64_t)Below(11));
        if (shape == kFarTooLong) total = (int64_t)width * (2 + (int64_t)Below(8)) + (int64_t)Below(50);
        if (shape == kNoRuns) total = 0;
        std::vector<Run> runs = Runs(type, total > 0 ? (uint64_t)total : 0);
        if (shape == kFarTooLong && Below(3) == 0)  // one run of about 2^40 pixels
            runs.push_back({(uint32_t)Below(1u << type), ((uint64_t)1 << 40) + Below(1000), 6});
        Bytes row = Prefix(1 + (uint32_t)Below(Below(2) ? 100 : 100000));
        size_t broken = runs.empty() ? 0 : Below(runs.size());
        for (size_t k = 0; k < runs.size(); ++k) {
            if (shape == kTooManyGroups && k == broken) {
                Run padded = runs[k];
                padded.groups = 7;
                Encode(padded, type, &row);
                continue;
            }
            Encode(runs[k], type, &row);
        }
        if (shape == kUnfinished) {
            row.push_back((uint8_t)(0x80 | ((Below(1u << type) << LengthBits(type)) & 0x7F)));
            for (uint64_t n = Below(4); n > 0; --n) row.push_back((uint8_t)(0x80 | Below(128)));
        }
        row.push_back(0x00);
        return row;
    }

    Shape AnyShape() {
        uint64_t pick = Below(100);
        if (pick < 60) return kWithin;
        if (pick < 75) return kJustBeyond;
        if (pick < 83) return kFarTooLong;
        if (pick < 90) return kTooManyGroups;
        if (pick < 96) return kUnfinished;
        return kNoRuns;
    }
};

// ---------------------------------------------------------------- reference

// The row's runs pixel by pixel: each run sets its pixels that fit in the
// buffer and the free slots after its last one in that pixel's byte. Every
// byte past the last pixel is left alone; a failing row keeps what it wrote.
struct Reference {
    bool ok = false;
    uint32_t bytesOut = 0;
};

Reference ReferenceDecode(const Bytes& row, uint32_t width, int type, uint8_t* buffer) {
    Reference result;
    int bpp = bsb::BitsPerPixel(type);
    uint64_t perByte = 8 / bpp;
    uint64_t capacity = (uint64_t)width * perByte;
    size_t at = 0;
    while (at < row.size() && (row[at] & 0x80)) ++at;
    ++at;
    if (row.size() < at + 1) return result;
    size_t end = row.size() - 1;
    uint64_t total = 0;
    while (at < end) {
        uint32_t first = row[at++];
        uint32_t colour = (first & 0x7F) >> LengthBits(type);
        uint64_t stored = first & ((1u << LengthBits(type)) - 1);
        bool closed = (first & 0x80) == 0;
        int groups = 1;
        while (!closed && at < end) {
            uint32_t next = row[at++];
            if (++groups > 6) return result;
            stored = (stored << 7) | (next & 0x7F);
            closed = (next & 0x80) == 0;
        }
        if (!closed) break;
        uint64_t length = stored + 1;
        if (total < capacity) {
            uint64_t stop = std::min(total + length, capacity);
            stop = (stop + perByte - 1) / perByte * perByte;  // to the end of the last pixel's byte
            for (uint64_t slot = total; slot < stop; ++slot) {
                uint8_t& byte = buffer[slot / perByte];
                int shift = (int)(8 - bpp * (slot % perByte + 1));
                uint8_t mask = (uint8_t)(((1u << bpp) - 1) << shift);
                byte = (uint8_t)((byte & ~mask) | ((colour << shift) & mask));
            }
        }
        total = std::min<uint64_t>(total + length, (uint64_t)1 << 48);
    }
    int64_t difference = (int64_t)total - (int64_t)width;
    if (difference > 19 || difference < -19) return result;
    result.ok = true;
    result.bytesOut = (uint32_t)((total + perByte - 1) / perByte);
    return result;
}

// ---------------------------------------------------------------- decoders

struct Outcome {
    bool ok = false;
    uint32_t bytesOut = 0;
    int32_t status = 0;
    int32_t row = 0;
    std::vector<std::string> messages;

    bool operator==(const Outcome& o) const {
        return ok == o.ok && bytesOut == o.bytesOut && status == o.status && row == o.row &&
               messages == o.messages;
    }
};

std::string Describe(const Outcome& o) {
    std::string text = (o.ok ? "ok, " : "failed, ") + std::to_string(o.bytesOut) + " bytes, status " +
                       std::to_string(o.status) + ",";
    for (const auto& m : o.messages) text += " \"" + m + "\"";
    return text;
}

// Decodes into `buffer` (width bytes and the guard); a range of
// (0, UINT32_MAX) stands for the whole-row decoder.
Outcome Decode(const Bytes& row, uint32_t width, int type, Bytes* buffer, uint32_t firstByte,
               uint32_t byteCount, bool wholeRow) {
    MessageLog log;
    Outcome outcome;
    bsb::Reporter reporter = bsb::ShowingReporter();
    outcome.bytesOut = width;
    outcome.ok = wholeRow ? bsb::DecodeRasterRow(row.data(), (uint32_t)row.size(), buffer->data(),
                                                 &outcome.bytesOut, type, &reporter)
                          : bsb::DecodeRasterColumns(row.data(), (uint32_t)row.size(), buffer->data(),
                                                     &outcome.bytesOut, type, firstByte, byteCount,
                                                     &reporter);
    outcome.status = reporter.status;
    outcome.row = reporter.row;
    outcome.messages = log.messages;
    return outcome;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t to) {
    return Bytes(bytes.begin() + (ptrdiff_t)from, bytes.begin() + (ptrdiff_t)to);
}

// A window's columns as bytes of the buffer: anywhere from nothing to more
// than all of it, often at its edges.
void PickRange(RandomRows* r, uint32_t width, uint32_t* firstByte, uint32_t* byteCount) {
    uint64_t pick = r->Below(10);
    if (pick == 0) {
        *firstByte = 0;
        *byteCount = width;
    } else if (pick == 1) {
        *firstByte = (uint32_t)r->Below(width + 4);
        *byteCount = r->Below(2) ? 0 : 0xFFFFFFFFu;
    } else if (pick == 2) {
        *firstByte = 0;
        *byteCount = 1 + (uint32_t)r->Below(width);
    } else if (pick == 3) {
        *byteCount = 1 + (uint32_t)r->Below(width);
        *firstByte = width - std::min(*byteCount, width) + (uint32_t)r->Below(3);
    } else {
        *firstByte = (uint32_t)r->Below(width);
        *byteCount = 1 + (uint32_t)r->Below(std::min<uint32_t>(width - *firstByte + 2, r->Below(2) ? 12 : width));
    }
}

// ---------------------------------------------------------------- tests

// Windows of several rows on random rows of every compression type: the
// whole-row decoder leaves exactly what the pixel-by-pixel reference does,
// and the clipped decoder, given the same rows one after another into a
// buffer it alone has used, gives the same result and messages, the same
// bytes over its range and leaves every other byte as it was.
TEST(ClippedDecoder, MatchesTheWholeRowDecoderOverItsRangeRowAfterRow) {
    RandomRows r(20261211);
    int counts[kShapeCount] = {};
    int succeeded = 0, failed = 0, shortAfterLonger = 0, clippedRows = 0;
    for (int type = 1; type <= 7; ++type) {
        for (int window = 0; window < 160; ++window) {
            uint64_t pick = r.Below(12);
            uint32_t width = pick == 0 ? 2000 + (uint32_t)r.Below(70000)
                                       : 1 + (uint32_t)r.Below(pick < 4 ? 2000 : 160);
            uint32_t firstByte = 0, byteCount = 0;
            PickRange(&r, width, &firstByte, &byteCount);
            uint64_t rangeEnd = std::min<uint64_t>((uint64_t)firstByte + byteCount, width);
            uint64_t rangeStart = std::min<uint64_t>(firstByte, rangeEnd);
            Bytes start(width + kGuard, kGuardByte);
            for (uint32_t k = 0; k < width; ++k) start[k] = (uint8_t)r.Below(256);
            Bytes whole = start, clipped = start, reference = start;
            uint32_t previousBytes = 0;
            for (int rowIndex = 0; rowIndex < 8; ++rowIndex) {
                Shape shape = r.AnyShape();
                ++counts[shape];
                Bytes row = r.Row(type, width, shape);
                SCOPED_TRACE("type " + std::to_string(type) + ", width " + std::to_string(width) +
                             ", window " + std::to_string(window) + ", row " + std::to_string(rowIndex) +
                             ", bytes " + std::to_string(firstByte) + " + " + std::to_string(byteCount) +
                             ", row " + ::testing::PrintToString(row.size() < 80 ? row : Bytes()));
                Reference expected = ReferenceDecode(row, width, type, reference.data());
                Outcome full = Decode(row, width, type, &whole, 0, 0, true);
                Outcome part = Decode(row, width, type, &clipped, firstByte, byteCount, false);
                ASSERT_EQ(full.ok, expected.ok);
                if (expected.ok) ASSERT_EQ(full.bytesOut, expected.bytesOut);
                ASSERT_EQ(full.messages,
                          expected.ok ? std::vector<std::string>{}
                                      : std::vector<std::string>{"Error decoding the image line!"});
                ASSERT_EQ(whole, reference);
                ASSERT_TRUE(part == full) << Describe(part) << " against " << Describe(full);
                ASSERT_EQ(Slice(clipped, rangeStart, rangeEnd), Slice(whole, rangeStart, rangeEnd));
                ASSERT_EQ(Slice(clipped, 0, rangeStart), Slice(start, 0, rangeStart));
                ASSERT_EQ(Slice(clipped, rangeEnd, width + kGuard), Slice(start, rangeEnd, width + kGuard));
                (full.ok ? succeeded : failed) += 1;
                if (full.ok && full.bytesOut < previousBytes && full.bytesOut < rangeEnd) ++shortAfterLonger;
                if (rangeEnd - rangeStart < width) ++clippedRows;
                if (full.ok) previousBytes = full.bytesOut;
            }
        }
    }
    // Each kind of row came up often enough to matter.
    for (int shape = 0; shape < kShapeCount; ++shape) EXPECT_GT(counts[shape], 100) << "shape " << shape;
    EXPECT_GT(succeeded, 3000);
    EXPECT_GT(failed, 2000);
    EXPECT_GT(shortAfterLonger, 500);
    EXPECT_GT(clippedRows, 6000);
    EXPECT_GT(r.threeByteRuns, 200);
}

// Hand-made rows at the edges of a range, 4 bits per pixel unless said.
TEST(ClippedDecoder, RangeEdges) {
    struct Case {
        const char* what;
        int type;
        std::vector<Bytes> rows;  // decoded one after another
        uint32_t width;
        uint32_t firstByte, byteCount;
        Bytes expected;  // the buffer afterwards, which starts as 0x5A
    };
    const Case cases[] = {
        // 3 × colour 1, 2 × colour 2, 8 × colour 3: 11 12 23 33 33 33 33.
        {"a range inside one run", 4, {{0x01, 0x0A, 0x11, 0x1F, 0x00}}, 13, 3, 2,
         {0x5A, 0x5A, 0x5A, 0x33, 0x33, 0x5A, 0x5A}},
        {"a range starting inside a run's first byte", 4, {{0x01, 0x0A, 0x11, 0x1F, 0x00}}, 13, 1, 1,
         {0x5A, 0x12, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}},
        {"the row's partly filled last byte at the range's end", 4, {{0x01, 0x0A, 0x11, 0x1D, 0x00}}, 13,
         5, 2, {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x33, 0x5A}},
        {"a range past the row's end keeps the buffer", 4, {{0x01, 0x0A, 0x11, 0x1D, 0x00}}, 13, 6, 1,
         {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}},
        {"a short row keeps the longer row's bytes in the range", 4,
         {{0x01, 0x0A, 0x11, 0x1F, 0x00}, {0x02, 0x27, 0x00}}, 13, 2, 5,
         {0x5A, 0x5A, 0x44, 0x44, 0x33, 0x33, 0x33}},
        {"a failing row keeps what it wrote in the range", 4,
         {{0x01, 0x0A, 0x11, 0x1F, 0x00}, {0x02, 0x23, 0x88, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00, 0x00}},
         13, 1, 4, {0x5A, 0x44, 0x23, 0x33, 0x33, 0x5A, 0x5A}},
        {"an empty range writes nothing", 4, {{0x01, 0x0A, 0x11, 0x1F, 0x00}}, 13, 2, 0,
         {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}},
        {"a range past the buffer writes nothing", 4, {{0x01, 0x0A, 0x11, 0x1F, 0x00}}, 7, 7, 9,
         {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}},
        // 1 bit: 3 × 0, 11 × 1: 1F FF, the last two slots free ones taking colour 1.
        {"1 bit, the last byte's free slots", 1, {{0x01, 0x02, 0x4A, 0x00}}, 14, 1, 1,
         {0x5A, 0xFF, 0x5A}},
        {"8 bits, a run through the whole range", 7, {{0x01, 0x05, 0x86, 0x08, 0x07, 0x00}}, 11, 2, 3,
         {0x5A, 0x5A, 0x06, 0x06, 0x06, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buffer(c.width, 0x5A);
        for (const Bytes& row : c.rows) {
            uint32_t bytes = c.width;
            bsb::Reporter reporter = bsb::QuietReporter();
            bsb::DecodeRasterColumns(row.data(), (uint32_t)row.size(), buffer.data(), &bytes, c.type,
                                     c.firstByte, c.byteCount, &reporter);
        }
        EXPECT_EQ(Slice(buffer, 0, c.expected.size()), c.expected);
    }
}

}  // namespace
