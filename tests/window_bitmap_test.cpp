// The window bitmap's layout and the colour table the RGB/ records fill.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/window_bitmap.h"
#include "raster/row_decoder.h"
#include "bsbchart_host.h"
#include "header/records.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::HostHeap;
using testsupport::Le16;
using testsupport::Le32;
using testsupport::LeI32;
using testsupport::MessageLog;

const std::string kBitmapError = "Cannot allocate memory to save your required bmp.";

struct Layout {
    uint32_t width, height;
    int bpp;
    uint32_t stride, imageSize, tableBytes, blockSize, pixelOffset;
};

TEST(WindowBitmap, LayoutFollowsWidthHeightAndPixelSize) {
    const Layout layouts[] = {
        {100, 50, 4, 52, 2600, 64, 2704, 104},
        {3, 2, 1, 4, 8, 8, 56, 48},
        {640, 480, 8, 640, 307200, 1024, 308264, 1064},
        {33, 1, 1, 8, 8, 8, 56, 48},
        {9, 3, 4, 8, 24, 64, 128, 104},
        {5, 2, 8, 8, 16, 1024, 1080, 1064},
    };
    for (const Layout& l : layouts) {
        SCOPED_TRACE(std::to_string(l.width) + " x " + std::to_string(l.height) + " at " +
                     std::to_string(l.bpp));
        // A heap that holds exactly the block: one byte less must refuse it.
        {
            MessageLog log;
            HostHeap tight(l.blockSize - 1);
            bsb::WindowBitmap bitmap = {};
            EXPECT_FALSE(bsb::CreateWindowBitmap(bsb::HeapAllocator(tight.get()), l.width, l.height, l.bpp, &bitmap, testsupport::Shown()));
            EXPECT_EQ(log.messages, std::vector<std::string>{kBitmapError});
            EXPECT_EQ(tight.blocks(), 0u);
        }
        MessageLog log;
        HostHeap heap(l.blockSize);
        bsb::WindowBitmap bitmap = {};
        ASSERT_TRUE(bsb::CreateWindowBitmap(bsb::HeapAllocator(heap.get()), l.width, l.height, l.bpp, &bitmap, testsupport::Shown()));
        EXPECT_TRUE(log.messages.empty());
        EXPECT_EQ(heap.blocks(), 1u);
        const char* block = reinterpret_cast<const char*>(bitmap.block);
        EXPECT_EQ(bitmap.colourTable - bitmap.block, 40);
        EXPECT_EQ(bitmap.pixels - bitmap.block, static_cast<ptrdiff_t>(l.pixelOffset));
        EXPECT_EQ(l.pixelOffset, 40 + l.tableBytes);
        EXPECT_EQ(bitmap.stride, l.stride);
        EXPECT_EQ(Le32(block + 0), 40u);
        EXPECT_EQ(LeI32(block + 4), static_cast<int32_t>(l.width));
        EXPECT_EQ(LeI32(block + 8), -static_cast<int32_t>(l.height));
        EXPECT_EQ(Le16(block + 12), 1u);
        EXPECT_EQ(Le16(block + 14), static_cast<uint16_t>(l.bpp));
        EXPECT_EQ(Le32(block + 16), 0u);
        EXPECT_EQ(Le32(block + 20), l.imageSize);
        EXPECT_EQ(Bytes(block + 24, block + 40), Bytes(16, 0));
        EXPECT_EQ(Bytes(block + 40, block + l.blockSize), Bytes(l.blockSize - 40, 0))
            << "colour table and pixel rows start zero";
        FreeChartBlock(heap.get(), bitmap.block);
    }
}

TEST(WindowBitmap, HeaderBytesAreLittleEndian) {
    HostHeap heap;
    bsb::WindowBitmap bitmap = {};
    ASSERT_TRUE(bsb::CreateWindowBitmap(bsb::HeapAllocator(heap.get()), 0x1234, 0x305, 8, &bitmap, testsupport::Shown()));
    // stride 0x1234, image size 0x1234 × 0x305 = 0x36F704, height -0x305.
    const Bytes expected = {0x28, 0x00, 0x00, 0x00, 0x34, 0x12, 0x00, 0x00, 0xFB, 0xFC,
                            0xFF, 0xFF, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x04, 0xF7, 0x36, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(bitmap.block, bitmap.block + 40), expected);
    FreeChartBlock(heap.get(), bitmap.block);
}

TEST(WindowBitmap, BitmapsOver2GiBAreRefused) {
    struct Size {
        uint32_t width, height;
        int bpp;
    };
    // 2^31 + 1064 bytes; one whose 32-bit row size would wrap to 0; the
    // largest sizes the arguments allow.
    const Size sizes[] = {{65536, 32768, 8}, {1u << 30, 4, 8}, {0xFFFFFFFF, 0xFFFFFFFF, 8},
                          {0xFFFFFFFF, 16, 1}};
    for (const Size& s : sizes) {
        SCOPED_TRACE(std::to_string(s.width) + " x " + std::to_string(s.height));
        MessageLog log;
        HostHeap heap;
        bsb::WindowBitmap bitmap = {};
        EXPECT_FALSE(bsb::CreateWindowBitmap(bsb::HeapAllocator(heap.get()), s.width, s.height, s.bpp, &bitmap, testsupport::Shown()));
        EXPECT_EQ(log.messages, std::vector<std::string>{kBitmapError});
        EXPECT_EQ(heap.blocks(), 0u);
    }
}

TEST(WindowBitmap, PixelSizeFollowsTheCompressionType) {
    const std::pair<int, int> cases[] = {{1, 1}, {0, 4},  {2, 4},    {3, 4},  {4, 4},
                                         {5, 8}, {6, 8},  {7, 8},    {-1, 8}, {8, 8},
                                         {127, 8}, {-128, 8}};
    for (const auto& [type, bpp] : cases) EXPECT_EQ(bsb::BitsPerPixel(type), bpp) << type;
}

struct Palette {
    std::vector<uint8_t> memory;  // the table followed by guard bytes
    bool ok = false;
    std::vector<std::string> messages;

    Bytes entry(uint32_t index) const {
        return Bytes(memory.begin() + 4 * index, memory.begin() + 4 * index + 4);
    }
};

const uint8_t kGuard = 0xEE;
const size_t kGuardBytes = 64;

Palette Parse(const std::string& header, uint32_t entries) {
    Palette palette;
    palette.memory.assign(4 * entries, 0);
    palette.memory.resize(4 * entries + kGuardBytes, kGuard);
    MessageLog log;
    bsb::HeaderText text = {header.data(), static_cast<uint32_t>(header.size())};
    palette.ok = bsb::ParsePalette(text, palette.memory.data(), entries, testsupport::Shown());
    palette.messages = log.messages;
    return palette;
}

TEST(Palette, RecordsFillTheirEntriesDoubled) {
    struct Case {
        std::string header;
        uint32_t entries;
        uint32_t index;
        Bytes entry;  // blue, green, red, reserved
    };
    const Case cases[] = {
        {"RGB/1,0,0,0\r\nRGB/2,127,127,127\r\n", 16, 2, {254, 254, 254, 0}},
        {"RGB/4,255,0,10\r\n", 16, 4, {20, 0, 254, 0}},
        {"RGB/5,1,2,3\r\nRGB/5,10,20,30\r\n", 16, 5, {60, 40, 20, 0}},
        {"RGB/6,100,200,0\r\n", 16, 6, {0, 144, 200, 0}},
        {"RGB/300,1,2,3\r\n", 256, 44, {6, 4, 2, 0}},
        {"RGB/255,261,0,128\r\n", 256, 255, {0, 0, 10, 0}},
        {"RGB/1,1,2,3", 2, 1, {6, 4, 2, 0}},
        {"VER/3.0\r\nBSB/RA=10,10\r\nRGB/15,3,2,1\rOST/1\r\n", 16, 15, {2, 4, 6, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        Palette palette = Parse(c.header, c.entries);
        ASSERT_TRUE(palette.ok);
        EXPECT_TRUE(palette.messages.empty());
        EXPECT_EQ(palette.entry(c.index), c.entry);
        for (uint32_t i = 0; i < c.entries; ++i)
            if (i != c.index && c.header.find("RGB/" + std::to_string(i) + ",") == std::string::npos)
                EXPECT_EQ(palette.entry(i), Bytes(4, 0)) << "entry " << i;
        EXPECT_EQ(Bytes(palette.memory.end() - kGuardBytes, palette.memory.end()),
                  Bytes(kGuardBytes, kGuard));
    }
    // Entry 1 of the first example is black, like every unnamed entry.
    EXPECT_EQ(Parse("RGB/1,0,0,0\r\nRGB/2,127,127,127\r\n", 16).entry(1), Bytes(4, 0));
}

TEST(Palette, RecordsBeyondTheTableAreSkipped) {
    // 16 entries: indices 16 and 200 name no entry; the records after them
    // still apply.
    Palette palette = Parse("RGB/16,1,1,1\r\nRGB/200,9,9,9\r\nRGB/3,5,6,7\r\nRGB/15,1,2,3\r\n", 16);
    ASSERT_TRUE(palette.ok);
    EXPECT_TRUE(palette.messages.empty());
    Bytes expected(64, 0);
    const Bytes three = {14, 12, 10, 0}, fifteen = {6, 4, 2, 0};
    std::copy(three.begin(), three.end(), expected.begin() + 12);
    std::copy(fifteen.begin(), fifteen.end(), expected.begin() + 60);
    EXPECT_EQ(Bytes(palette.memory.begin(), palette.memory.begin() + 64), expected);
    EXPECT_EQ(Bytes(palette.memory.begin() + 64, palette.memory.end()), Bytes(kGuardBytes, kGuard));

    // 2 entries (1 bit per pixel): only indices 0 and 1.
    Palette small = Parse("RGB/2,50,50,50\r\nRGB/1,50,50,50\r\nRGB/4,1,1,1\r\n", 2);
    ASSERT_TRUE(small.ok);
    EXPECT_EQ(Bytes(small.memory.begin(), small.memory.begin() + 8),
              (Bytes{0, 0, 0, 0, 100, 100, 100, 0}));
    EXPECT_EQ(Bytes(small.memory.begin() + 8, small.memory.end()), Bytes(kGuardBytes, kGuard));
}

TEST(Palette, HeaderWithoutRgbRecordsFails) {
    for (const std::string header : {"", "VER/3.0\r\nBSB/RA=10,10\r\n", "RGB 1,2,3,4\r\nRG/1"}) {
        SCOPED_TRACE(header);
        Palette palette = Parse(header, 16);
        EXPECT_FALSE(palette.ok);
        EXPECT_EQ(palette.messages, std::vector<std::string>{"Error reading RGB records."});
        EXPECT_EQ(Bytes(palette.memory.begin(), palette.memory.begin() + 64), Bytes(64, 0));
    }
}

}  // namespace
