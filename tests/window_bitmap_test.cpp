// The window bitmap's layout and its pixel size.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/window_bitmap.h"
#include "raster/row_decoder.h"
#include "bsbchart_host.h"
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

}  // namespace
