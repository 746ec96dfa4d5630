// DecodeRasterRow: run-length rows to packed colour indices.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "chart_writer.h"
#include "raster/row_decoder.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::MessageLog;

const std::string kDecodeError = "Error decoding the image line!";
const std::string kBadCompression = "Compression type should be between 1 and 7!";
const uint8_t kGuard = 0xEE;

struct Decoded {
    bool ok = false;
    uint32_t widthOut = 0;
    Bytes output;  // the whole output buffer, guard bytes included
};

// Decodes into a buffer of `width` bytes filled with `fill`, followed by
// `guard` bytes of kGuard that the decoder must never touch.
Decoded Decode(const Bytes& row, uint32_t width, int compressionType, uint8_t fill = 0,
               size_t guard = 0) {
    Decoded result;
    result.output.assign(width, fill);
    result.output.resize(width + guard, kGuard);
    result.widthOut = width;
    result.ok = bsb::DecodeRasterRow(row.data(), static_cast<uint32_t>(row.size()),
                                     result.output.data(), &result.widthOut, compressionType, testsupport::Shown());
    return result;
}

Bytes Head(const Bytes& bytes, size_t count) { return Bytes(bytes.begin(), bytes.begin() + count); }

// Packs colour indices most significant bits first; a partly filled last
// byte takes the last pixel's colour in its remaining slots.
Bytes Pack(const std::vector<uint8_t>& pixels, int bpp) {
    size_t perByte = 8 / bpp;
    Bytes packed((pixels.size() + perByte - 1) / perByte, 0);
    for (size_t slot = 0; slot < packed.size() * perByte; ++slot) {
        uint8_t colour = slot < pixels.size() ? pixels[slot] : pixels.back();
        size_t shift = 8 - bpp * (slot % perByte + 1);
        packed[slot / perByte] |= static_cast<uint8_t>(colour << shift);
    }
    return packed;
}

// One run of `length` pixels of `colour`, shortest encoding, as row 1.
Bytes SingleRun(uint8_t colour, int length, int compressionType) {
    std::vector<uint8_t> pixels(length, colour);
    return chartwriter::EncodeRow(pixels.data(), length, 1, compressionType);
}

TEST(RowDecoder, WorkedExample) {
    MessageLog log;
    Decoded d = Decode({0x05, 0x0A, 0x17, 0x29, 0x00}, 13, 4, 0x5A, 8);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.widthOut, 7u);
    Bytes expected = {0x11, 0x12, 0x22, 0x22, 0x22, 0x25, 0x55};
    expected.insert(expected.end(), 6, 0x5A);  // bytes past the row's pixels: not written
    expected.insert(expected.end(), 8, kGuard);
    EXPECT_EQ(d.output, expected);
    EXPECT_TRUE(log.messages.empty());
}

TEST(RowDecoder, TwoByteRunOf131Pixels) {
    Decoded d = Decode({0x01, 0x91, 0x02, 0x00}, 131, 4);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.widthOut, 66u);
    EXPECT_EQ(Head(d.output, 66), Bytes(66, 0x22));
    EXPECT_EQ(Bytes(d.output.begin() + 66, d.output.end()), Bytes(65, 0x00));
}

TEST(RowDecoder, WidthToleranceIs19PixelsEitherWay) {
    struct Case {
        int compressionType;
        int width;
        int total;
        bool ok;
    };
    const Case cases[] = {
        {4, 40, 40, true},  {4, 40, 59, true},  {4, 40, 21, true},  {4, 40, 60, false},
        {4, 40, 20, false}, {7, 40, 59, true},  {7, 40, 21, true},  {7, 40, 60, false},
        {7, 40, 20, false}, {1, 64, 83, true},  {1, 64, 45, true},  {1, 64, 84, false},
        {1, 64, 44, false}, {4, 19, 1, true},   {4, 20, 1, true},   {4, 21, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.compressionType) + ", width " +
                     std::to_string(c.width) + ", total " + std::to_string(c.total));
        MessageLog log;
        Decoded d = Decode(SingleRun(3 % (1 << c.compressionType), c.total, c.compressionType),
                           c.width, c.compressionType);
        EXPECT_EQ(d.ok, c.ok);
        if (c.ok) {
            EXPECT_TRUE(log.messages.empty());
        } else {
            EXPECT_EQ(log.messages, std::vector<std::string>{kDecodeError});
        }
    }
}

TEST(RowDecoder, CompressionTypeSevenHasOnePixelOneByteRuns) {
    // 05, 06, 7F: one pixel each; 85 02: colour 5, three pixels.
    Decoded d = Decode({0x01, 0x05, 0x06, 0x7F, 0x85, 0x02, 0x00}, 6, 7, 0x00, 4);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.widthOut, 6u);
    EXPECT_EQ(d.output, (Bytes{0x05, 0x06, 0x7F, 0x05, 0x05, 0x05, kGuard, kGuard, kGuard, kGuard}));
}

TEST(RowDecoder, CompressionTypeOnePacksEightPixelsPerByte) {
    // 02: colour 0, 3 pixels; 44: colour 1, 5 pixels; 40: colour 1, 1 pixel.
    Decoded d = Decode({0x01, 0x02, 0x44, 0x40, 0x00}, 9, 1, 0xAA);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.widthOut, 2u);
    EXPECT_EQ(Head(d.output, 2), (Bytes{0x1F, 0xFF}));
    EXPECT_EQ(Bytes(d.output.begin() + 2, d.output.end()), Bytes(7, 0xAA));
}

TEST(RowDecoder, PartlyFilledLastByteTakesTheLastRunsColour) {
    struct Case {
        Bytes row;
        uint32_t width;
        int compressionType;
        Bytes packed;
    };
    const Case cases[] = {
        // 4 bits: colour 1 × 3, then colour 0 × 2 — the low nibble of the
        // last byte is colour 0, whatever the buffer held.
        {{0x01, 0x0A, 0x01, 0x00}, 5, 4, {0x11, 0x10, 0x00}},
        // 1 bit: colour 1 × 1, colour 0 × 2: the byte's five free slots are 0.
        {{0x01, 0x40, 0x01, 0x00}, 3, 1, {0x80}},
        // 1 bit: colour 0 × 1, colour 1 × 2: the five free slots are 1.
        {{0x01, 0x80, 0x00, 0x41, 0x00}, 3, 1, {0x7F}},
        // 4 bits, the worked example cut after its fifth pixel.
        {{0x01, 0x0A, 0x11, 0x00}, 5, 4, {0x11, 0x12, 0x22}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.row));
        Decoded d = Decode(c.row, c.width, c.compressionType, 0xFF);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.widthOut, c.packed.size());
        EXPECT_EQ(Head(d.output, c.packed.size()), c.packed);
    }
}

TEST(RowDecoder, RowNumberPrefixOfAnyLengthIsSkipped) {
    const Bytes runs = {0x0A, 0x17, 0x29, 0x00};
    const Bytes prefixes[] = {{0x05}, {0x81, 0x05}, {0xFF, 0x7F}, {0x81, 0x80, 0x05}};
    for (const Bytes& prefix : prefixes) {
        SCOPED_TRACE(::testing::PrintToString(prefix));
        Bytes row = prefix;
        row.insert(row.end(), runs.begin(), runs.end());
        MessageLog log;
        Decoded d = Decode(row, 13, 4);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.widthOut, 7u);
        EXPECT_EQ(Head(d.output, 7), (Bytes{0x11, 0x12, 0x22, 0x22, 0x22, 0x25, 0x55}));
        EXPECT_TRUE(log.messages.empty());
    }
}

TEST(RowDecoder, ShortRowLeavesThePreviousRowsBytes) {
    std::vector<uint8_t> buffer(13, 0);
    uint32_t width = 13;
    const Bytes first = {0x05, 0x0A, 0x17, 0x29, 0x00};
    ASSERT_TRUE(bsb::DecodeRasterRow(first.data(), 5, buffer.data(), &width, 4, testsupport::Shown()));
    // 4F: colour 9, 8 pixels — five short of the width.
    const Bytes second = {0x06, 0x4F, 0x00};
    width = 13;
    ASSERT_TRUE(bsb::DecodeRasterRow(second.data(), 3, buffer.data(), &width, 4, testsupport::Shown()));
    EXPECT_EQ(width, 4u);
    EXPECT_EQ(Head(buffer, 7), (Bytes{0x99, 0x99, 0x99, 0x99, 0x22, 0x25, 0x55}));
    // A row without runs writes nothing at all.
    width = 13;
    const Bytes empty = {0x07, 0x00};
    ASSERT_TRUE(bsb::DecodeRasterRow(empty.data(), 2, buffer.data(), &width, 4, testsupport::Shown()));
    EXPECT_EQ(Head(buffer, 7), (Bytes{0x99, 0x99, 0x99, 0x99, 0x22, 0x25, 0x55}));
}

TEST(RowDecoder, ColourZeroRunsAreDrawnAndCounted) {
    // Colour 1 × 3, colour 0 × 3, colour 1 × 3, the middle run in one byte
    // or in two.
    const Bytes rows[] = {{0x01, 0x0A, 0x02, 0x0A, 0x00}, {0x01, 0x0A, 0x80, 0x02, 0x0A, 0x00}};
    for (const Bytes& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row));
        Decoded d = Decode(row, 9, 4, 0xFF);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.widthOut, 5u);
        EXPECT_EQ(Head(d.output, 5), (Bytes{0x11, 0x10, 0x00, 0x11, 0x11}));
    }
    // Colour-0 one-byte runs count towards the width: 25 one-pixel runs of
    // colour 0 at type 7 fill a 25-pixel row that would otherwise be 25 short.
    Bytes row = {0x01};
    row.insert(row.end(), 25, 0x00);
    row.push_back(0x00);
    Decoded d = Decode(row, 25, 7, 0x33);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.output, Bytes(25, 0x00));
}

TEST(RowDecoder, UnfinishedRunAtTheEndWritesNothing) {
    // 90 opens a colour-2 run whose closing byte would be the terminator.
    Decoded d = Decode({0x01, 0x0A, 0x90, 0x00}, 3, 4, 0x77);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.widthOut, 2u);
    EXPECT_EQ(Head(d.output, 3), (Bytes{0x11, 0x11, 0x77}));
}

TEST(RowDecoder, PixelsBeyondTheBufferAreDropped) {
    struct Case {
        int compressionType;
        uint32_t width;
        Bytes row;
        bool ok;
        uint8_t pattern;
    };
    const Case cases[] = {
        // 8 bits: 29 pixels into a 10-byte buffer, within the tolerance.
        {7, 10, SingleRun(0x41, 29, 7), true, 0x41},
        // 8 bits: 30 pixels, 20 over: the dropped pixels still count.
        {7, 10, SingleRun(0x41, 30, 7), false, 0x41},
        // 4 bits: a run far longer than the row.
        {4, 4, SingleRun(0x0C, 1000, 4), false, 0xCC},
        // 1 bit: a six-group run of about 2^41 pixels.
        {1, 2, {0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00}, false, 0xFF},
        // 8 bits: many runs, each past the buffer's end.
        {5, 3, {0x01, 0x1F, 0x1C, 0x1D, 0x00}, true, 0x07},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.row));
        MessageLog log;
        Decoded d = Decode(c.row, c.width, c.compressionType, 0x00, 32);
        EXPECT_EQ(d.ok, c.ok);
        EXPECT_EQ(log.messages.size(), c.ok ? 0u : 1u);
        EXPECT_EQ(Head(d.output, c.width), Bytes(c.width, c.pattern));
        EXPECT_EQ(Bytes(d.output.begin() + c.width, d.output.end()), Bytes(32, kGuard));
    }
}

TEST(RowDecoder, MalformedRowsFail) {
    struct Case {
        const char* what;
        Bytes row;
    };
    const Case cases[] = {
        {"seven length groups", {0x01, 0x88, 0x80, 0x80, 0x80, 0x80, 0x80, 0x02, 0x00}},
        {"seven length groups of all ones",
         {0x01, 0x8F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00}},
        {"empty row", {}},
        {"prefix only", {0x05}},
        {"two-byte prefix only", {0x81, 0x05}},
        {"unfinished prefix", {0x81}},
        {"prefix running to the end", {0x81, 0x82, 0x83}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MessageLog log;
        Decoded d = Decode(c.row, 5, 4, 0x5A, 8);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(log.messages, std::vector<std::string>{kDecodeError});
        EXPECT_EQ(Bytes(d.output.begin() + 5, d.output.end()), Bytes(8, kGuard));
    }
    // Six groups (the first byte and five more) are accepted.
    MessageLog log;
    Decoded d = Decode({0x01, 0x88, 0x80, 0x80, 0x80, 0x80, 0x02, 0x00}, 3, 4);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(Head(d.output, 2), (Bytes{0x11, 0x11}));
    EXPECT_TRUE(log.messages.empty());
}

TEST(RowDecoder, CompressionTypeOutsideOneToSevenIsRefused) {
    for (int type : {0, 8, -1, 127, -128}) {
        SCOPED_TRACE(type);
        MessageLog log;
        Decoded d = Decode({0x05, 0x0A, 0x17, 0x29, 0x00}, 13, type, 0x5A);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(log.messages, std::vector<std::string>{kBadCompression});
        EXPECT_EQ(d.output, Bytes(13, 0x5A));
        EXPECT_EQ(d.widthOut, 13u);
    }
}

TEST(RowDecoder, PixelSizeFollowsTheCompressionType) {
    const int expected[] = {0, 1, 4, 4, 4, 8, 8, 8};
    for (int type = 1; type <= 7; ++type) EXPECT_EQ(bsb::BitsPerPixel(type), expected[type]);
}

// Random rows, written by the chart writer in several encodings, decode to
// the packed pixels.
TEST(RowDecoder, RoundTripOfWrittenRows) {
    const chartwriter::RowOptions encodings[] = {
        {}, {1, 1}, {3, 2}, {0, 3}, {200, 1}, {0, 6}, {17, 4},
    };
    std::mt19937 random(20240611);
    for (int type = 1; type <= 7; ++type) {
        int bpp = bsb::BitsPerPixel(type);
        for (const auto& encoding : encodings) {
            for (int sample = 0; sample < 6; ++sample) {
                int width = 1 + static_cast<int>(random() % 700);
                std::vector<uint8_t> pixels;
                while (static_cast<int>(pixels.size()) < width) {
                    uint8_t colour = static_cast<uint8_t>(random() % (1u << type));
                    int length = random() % 4 == 0 ? 1 + random() % 300 : 1 + random() % 4;
                    pixels.insert(pixels.end(), length, colour);
                }
                pixels.resize(width);
                uint32_t rowNumber = 1 + random() % 40000;
                SCOPED_TRACE("type " + std::to_string(type) + ", width " + std::to_string(width) +
                             ", row " + std::to_string(rowNumber) + ", max run " +
                             std::to_string(encoding.maxRunLength) + ", groups " +
                             std::to_string(encoding.minGroups));
                Bytes row = chartwriter::EncodeRow(pixels.data(), width, rowNumber, type, encoding);
                ASSERT_FALSE(row.empty());
                Bytes packed = Pack(pixels, bpp);
                Decoded d = Decode(row, static_cast<uint32_t>(width), type, 0xEE, 16);
                ASSERT_TRUE(d.ok);
                EXPECT_EQ(d.widthOut, packed.size());
                ASSERT_EQ(Head(d.output, packed.size()), packed);
                EXPECT_EQ(Bytes(d.output.begin() + packed.size(), d.output.end()),
                          Bytes(width + 16 - packed.size(), 0xEE));
            }
        }
    }
}

}  // namespace
