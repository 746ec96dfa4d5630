// GetWindowBmp, pixel form, as a host calls it: charts written from known
// pictures, windows compared with the picture pixel for pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_reference.h"
#include "chart_writer.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Messages = std::vector<std::string>;
using chartwriter::Picture;
using testsupport::BitsPerPixel;
using testsupport::HostHeap;
using testsupport::MessageLog;
using testsupport::TempDir;
using testsupport::Utf16Path;

const std::string kScope = "Your requirement is beyond the scope of the image.";
const std::string kHeaderMemory = "Cannot allocate memory to save header section.";
const std::string kBitmapMemory = "Cannot allocate memory to save your required bmp.";
const std::string kLineMemory = "Cannot allocate memory for one line image";

const int kWidth = 37;
const int kHeight = 11;

// Some indices have no record (4, 6 …); 15 lies beyond a 2-entry table and
// 300 names entry 44, which only an 8-bit table has.
const std::vector<std::array<int, 4>> kRgb = {{0, 10, 20, 30},   {1, 255, 255, 255},
                                              {2, 0, 0, 0},      {3, 255, 0, 0},
                                              {5, 100, 200, 50}, {15, 1, 2, 3},
                                              {300, 10, 20, 30}};

std::string Header(int width, int height, const std::vector<std::array<int, 4>>& rgb = kRgb) {
    chartwriter::HeaderOptions options;
    options.width = width;
    options.height = height;
    options.rgb = rgb;
    return chartwriter::MakeHeaderText(options);
}

// Runs of 3 to 9 pixels in random colours of the type's range, so that
// every row's encoding fits in the raster width.
Picture RunPicture(int width, int height, int compressionType, uint32_t seed) {
    std::mt19937 random(seed);
    Picture picture = chartwriter::MakePicture(width, height, [](int, int) { return 0; });
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width;) {
            uint8_t colour = static_cast<uint8_t>(random() % (1u << compressionType));
            int end = std::min(width, x + 3 + static_cast<int>(random() % 7));
            for (; x < end; ++x) picture.set(x, y, colour);
        }
    }
    return picture;
}

std::vector<Bytes> EncodeRows(const Picture& picture, int compressionType) {
    std::vector<Bytes> rows;
    for (int y = 0; y < picture.height; ++y) {
        rows.push_back(chartwriter::EncodeRow(picture.row(y), picture.width,
                                              static_cast<uint32_t>(y + 1), compressionType));
        EXPECT_FALSE(rows.back().empty());
        EXPECT_LE(rows.back().size(), static_cast<size_t>(picture.width)) << "row " << y;
    }
    return rows;
}

Bytes Chart(const Picture& picture, int compressionType) {
    return chartwriter::AssembleChart(
        chartwriter::MakeHeaderBlock(Header(picture.width, picture.height), compressionType),
        EncodeRows(picture, compressionType));
}

struct Window {
    int32_t left, top, right, bottom;
    RECT rect() const { return RECT{left, top, right, bottom}; }
};

std::string Describe(const Window& w) {
    return "(" + std::to_string(w.left) + ", " + std::to_string(w.top) + ", " +
           std::to_string(w.right) + ", " + std::to_string(w.bottom) + ")";
}

void PutLe32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The bitmap a window must come back as: the window starts at the first
// pixel of the byte holding its left column, only whole bytes of the row are
// copied, and everything else is index 0.
Bytes ExpectedBitmap(const Picture& picture, int bpp, const Window& window) {
    uint32_t w = window.right - window.left + 1, h = window.bottom - window.top + 1;
    uint32_t stride = (bpp * w + 31) / 32 * 4;
    uint32_t entries = 1u << bpp;
    Bytes out;
    PutLe32(out, 40);
    PutLe32(out, w);
    PutLe32(out, 0u - h);
    PutLe32(out, 1u | (static_cast<uint32_t>(bpp) << 16));
    PutLe32(out, 0);
    PutLe32(out, stride * h);
    for (int i = 0; i < 4; ++i) PutLe32(out, 0);
    Bytes table(4 * entries, 0);
    for (const auto& record : kRgb) {
        uint32_t index = record[0] & 0xFF;
        if (index >= entries) continue;
        table[4 * index + 0] = static_cast<uint8_t>(2 * record[3]);
        table[4 * index + 1] = static_cast<uint8_t>(2 * record[2]);
        table[4 * index + 2] = static_cast<uint8_t>(2 * record[1]);
    }
    out.insert(out.end(), table.begin(), table.end());
    uint32_t perByte = 8 / bpp;
    uint32_t first = window.left / perByte * perByte;
    uint32_t copied = bpp * w / 8 * perByte;
    for (uint32_t j = 0; j < h; ++j) {
        Bytes row(stride, 0);
        for (uint32_t i = 0; i < copied; ++i) {
            uint8_t colour = picture.at(first + i, window.top + j);
            row[i / perByte] |= static_cast<uint8_t>(colour << (8 - bpp * (i % perByte + 1)));
        }
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

// Names the first byte where the bitmap differs from the expected one.
::testing::AssertionResult SameBitmap(const Bytes& expected, const char* bitmap, int bpp) {
    const char* header = reinterpret_cast<const char*>(expected.data());
    size_t rows = 40 + 4 * (size_t{1} << bpp);
    uint32_t stride = testsupport::Le32(header + 20) / (0u - testsupport::Le32(header + 8));
    for (size_t at = 0; at < expected.size(); ++at) {
        uint8_t actual = static_cast<uint8_t>(bitmap[at]);
        if (actual == expected[at]) continue;
        auto failure = ::testing::AssertionFailure();
        if (at < 40) failure << "header byte " << at;
        else if (at < rows) failure << "colour table byte " << at - 40;
        else failure << "row " << (at - rows) / stride << ", byte " << (at - rows) % stride;
        return failure << ": " << int{actual} << " instead of " << int{expected[at]};
    }
    return ::testing::AssertionSuccess();
}

class PixelWindow : public ::testing::Test {
protected:
    std::vector<unsigned short> Write(const std::string& name, const Bytes& chart) {
        EXPECT_FALSE(chart.empty());
        return Utf16Path(dir_.Write(name, chart));
    }

    // A successful call leaves exactly its bitmap in the heap.
    void ExpectWindow(const std::vector<unsigned short>& path, const Picture& picture, int bpp,
                      const Window& window) {
        SCOPED_TRACE(Describe(window));
        HostHeap heap;
        MessageLog log;
        char* bitmap = GetWindowBmp(path.data(), heap.get(), window.rect());
        ASSERT_NE(bitmap, nullptr) << ::testing::PrintToString(log.messages);
        EXPECT_TRUE(log.messages.empty()) << ::testing::PrintToString(log.messages);
        EXPECT_EQ(heap.blocks(), 1u);
        EXPECT_TRUE(SameBitmap(ExpectedBitmap(picture, bpp, window), bitmap, bpp));
        FreeChartBlock(heap.get(), bitmap);
        EXPECT_EQ(heap.blocks(), 0u);
    }

    // A failed call returns NULL and leaves nothing in the heap.
    Messages Fail(const std::vector<unsigned short>& path, const Window& window,
                  size_t heapLimit = 0) {
        HostHeap heap(heapLimit);
        MessageLog log;
        char* bitmap = GetWindowBmp(path.data(), heap.get(), window.rect());
        EXPECT_EQ(bitmap, nullptr);
        EXPECT_EQ(heap.blocks(), 0u);
        if (bitmap) FreeChartBlock(heap.get(), bitmap);
        return log.messages;
    }

    TempDir dir_;
};

const Window kWindows[] = {
    {0, 0, kWidth - 1, kHeight - 1},  // the full chart
    {5, 3, 20, 7},   {0, 0, 9, 10},   {27, 0, 36, 10}, {0, 0, 36, 1},
    {0, 9, 36, 10},  {30, 8, 36, 10}, {0, 0, 1, 1},    {35, 9, 36, 10},
    {3, 2, 7, 5},    // left edge inside a byte at 4 bits: starts at pixel 2
    {13, 1, 22, 9},  // inside a byte at 1 and 4 bits, partial last byte at 1 bit
    {9, 4, 34, 6},   {4, 4, 6, 6},    {1, 0, 36, 10},  {11, 2, 12, 3},
};

TEST_F(PixelWindow, WindowsMatchThePictureAtEveryCompressionType) {
    for (int type = 1; type <= 7; ++type) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        Picture picture = RunPicture(kWidth, kHeight, type, 100 + type);
        auto path = Write("chart" + std::to_string(type) + ".kap", Chart(picture, type));
        for (const Window& window : kWindows) ExpectWindow(path, picture, BitsPerPixel(type), window);
    }
}

// Unpacks pixel x of bitmap row 0.
int PixelOf(const char* bitmap, int x) {
    int bpp = testsupport::Le16(bitmap + 14);
    const auto* row = reinterpret_cast<const uint8_t*>(bitmap) + 40 + 4 * (1 << bpp);
    int perByte = 8 / bpp;
    return (row[x / perByte] >> (8 - bpp * (x % perByte + 1))) & ((1 << bpp) - 1);
}

TEST_F(PixelWindow, LeftEdgeInsideAByteStartsAtThatBytesFirstPixel) {
    // Pixels come in pairs: 0 0 1 1 2 2 … (modulo the type's colours).
    for (int type : {1, 4}) {
        SCOPED_TRACE(type);
        Picture picture = chartwriter::MakePicture(
            40, 2, [type](int x, int) { return static_cast<uint8_t>(x / 2 % (1 << type)); });
        auto path = Write("edge.kap", Chart(picture, type));
        HostHeap heap;
        MessageLog log;
        // 4 bits: left 3, width 5 gives chart pixels 2, 3, 4, 5, then 0.
        // 1 bit: left 11, width 11 gives chart pixels 8 … 15, then 0, 0, 0.
        const Window window = type == 4 ? Window{3, 0, 7, 1} : Window{11, 0, 21, 1};
        const std::vector<int> expected = type == 4
                                              ? std::vector<int>{1, 1, 2, 2, 0}
                                              : std::vector<int>{0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0};
        char* bitmap = GetWindowBmp(path.data(), heap.get(), window.rect());
        ASSERT_NE(bitmap, nullptr) << ::testing::PrintToString(log.messages);
        std::vector<int> pixels;
        for (size_t x = 0; x < expected.size(); ++x) pixels.push_back(PixelOf(bitmap, x));
        EXPECT_EQ(pixels, expected);
        FreeChartBlock(heap.get(), bitmap);
    }
}

TEST_F(PixelWindow, LargerChartAcrossManyFileReads) {
    for (int type : {2, 7}) {
        SCOPED_TRACE(type);
        Picture picture = RunPicture(300, 200, type, 7 + type);
        auto path = Write("large.kap", Chart(picture, type));
        ExpectWindow(path, picture, BitsPerPixel(type), {0, 0, 299, 199});
        ExpectWindow(path, picture, BitsPerPixel(type), {101, 150, 254, 198});
    }
}

TEST_F(PixelWindow, RowsNumberedPast16383) {
    // A narrow chart tall enough for three-byte row numbers.
    const int height = 16400;
    Picture picture = chartwriter::MakePicture(
        8, height, [](int x, int y) { return static_cast<uint8_t>(x < 4 ? y % 16 : 15 - y % 16); });
    auto path = Write("tall.kap", Chart(picture, 4));
    ExpectWindow(path, picture, 4, {0, 16370, 7, 16399});
}

TEST_F(PixelWindow, WindowsOutsideTheChartOrTooSmallAreRefused) {
    Picture picture = RunPicture(kWidth, kHeight, 4, 1);
    auto path = Write("chart.kap", Chart(picture, 4));
    const Window refused[] = {
        {0, 0, kWidth, kHeight - 1},  {0, 0, kWidth - 1, kHeight},
        {5, 0, 5, 10},                {0, 5, 36, 5},
        {-1, 0, 10, 5},               {0, -1, 10, 5},
        {10, 0, 5, 5},                {0, 8, 10, 2},
        {0, 0, -1, -1},               {36, 0, 37, 5},
        {0, 0, INT_MAX, 10},          {INT_MIN, 0, INT_MAX, 10},
        {INT_MIN, INT_MIN, 5, 5},     {0, INT_MIN, 10, INT_MAX},
    };
    for (const Window& window : refused) {
        SCOPED_TRACE(Describe(window));
        EXPECT_EQ(Fail(path, window), Messages{kScope});
    }
}

TEST_F(PixelWindow, NullHeapIsRefusedFirst) {
    MessageLog log;
    auto missing = Utf16Path(dir_.PathOf("missing.kap"));
    EXPECT_EQ(GetWindowBmp(missing.data(), nullptr, RECT{0, 0, 1, 1}), nullptr);
    EXPECT_EQ(log.messages, Messages{"Create a heap first please."});
}

TEST_F(PixelWindow, ChartWithoutRgbRecordsFails) {
    Picture picture = RunPicture(kWidth, kHeight, 4, 2);
    auto path = Write("norgb.kap", chartwriter::AssembleChart(
                                       chartwriter::MakeHeaderBlock(Header(kWidth, kHeight, {}), 4),
                                       EncodeRows(picture, 4)));
    EXPECT_EQ(Fail(path, {0, 0, 36, 10}), Messages{"Error reading RGB records."});
}

TEST_F(PixelWindow, RowLongerThanTheRasterWidthFails) {
    // Ten one-pixel runs, a prefix and a terminator: 12 bytes for 10 pixels.
    Picture picture = chartwriter::MakePicture(
        10, 3, [](int x, int) { return static_cast<uint8_t>(1 + x % 2); });
    auto path = Write("narrow.kap", chartwriter::BuildChart(Header(10, 3), picture, 4));
    EXPECT_EQ(Fail(path, {0, 0, 9, 2}), Messages{"real line size is bigger than you expected."});
}

TEST_F(PixelWindow, RowThatFailsToDecodeFailsTheWindow) {
    Picture picture = RunPicture(kWidth, kHeight, 4, 3);
    std::vector<Bytes> rows = EncodeRows(picture, 4);
    rows[5] = chartwriter::EncodeRow(picture.row(5), kWidth - 20, 6, 4);  // 20 pixels short
    auto shortRow = Write("short.kap", chartwriter::AssembleChart(
                                           chartwriter::MakeHeaderBlock(Header(kWidth, kHeight), 4),
                                           rows));
    EXPECT_EQ(Fail(shortRow, {0, 2, 36, 8}), Messages{"Error decoding the image line!"});

    // A compression type the decoder rejects: 0 (4 bits per pixel), and
    // 0xFF and 8 (8 bits per pixel).
    for (int type : {0, -1, 8}) {
        SCOPED_TRACE(type);
        auto path = Write("type.kap", chartwriter::AssembleChart(
                                          chartwriter::MakeHeaderBlock(Header(kWidth, kHeight), type),
                                          EncodeRows(picture, 4)));
        EXPECT_EQ(Fail(path, {0, 0, 36, 10}),
                  Messages{"Compression type should be between 1 and 7!"});
    }
}

TEST_F(PixelWindow, ShortRowsKeepThePreviousRowsPixels) {
    // Chart rows 2 and 4 decode 5 pixels short: the first window row ends
    // in index 0, the later one in the pixels of the row above it.
    for (int type : {1, 4, 7}) {
        SCOPED_TRACE(type);
        Picture picture = RunPicture(kWidth, kHeight, type, 40 + type);
        std::vector<Bytes> rows = EncodeRows(picture, type);
        for (int y : {2, 4})
            rows[y] = chartwriter::EncodeRow(picture.row(y), kWidth - 5, y + 1, type);
        auto path = Write("stale.kap", chartwriter::AssembleChart(
                                           chartwriter::MakeHeaderBlock(Header(kWidth, kHeight), type),
                                           rows));
        Picture seen = picture;
        for (int x = kWidth - 5; x < kWidth; ++x) {
            seen.set(x, 2, 0);
            seen.set(x, 4, picture.at(x, 3));
        }
        ExpectWindow(path, seen, BitsPerPixel(type), {0, 2, 36, 5});
    }
}

TEST_F(PixelWindow, RowsOutsideTheWindowAreNeverRead) {
    Picture picture = RunPicture(kWidth, kHeight, 4, 4);
    std::vector<Bytes> rows = EncodeRows(picture, 4);
    // Above: rows that do not decode; below: rows too long to be read.
    for (int y = 0; y < 4; ++y) rows[y] = {static_cast<uint8_t>(y + 1)};
    for (int y = 7; y < kHeight; ++y) rows[y] = Bytes(kWidth + 5, 0x0A);
    auto path = Write("guarded.kap", chartwriter::AssembleChart(
                                         chartwriter::MakeHeaderBlock(Header(kWidth, kHeight), 4),
                                         rows));
    ExpectWindow(path, picture, 4, {0, 4, 36, 6});
    ExpectWindow(path, picture, 4, {3, 4, 20, 5});
    // The guard rows do break windows that include them.
    EXPECT_EQ(Fail(path, {0, 3, 36, 6}), Messages{"Error decoding the image line!"});
    EXPECT_EQ(Fail(path, {0, 4, 36, 7}), Messages{"real line size is bigger than you expected."});
}

// Every heap limit from 0 (no limit) up to what the window needs: the call
// succeeds only with room for the header block, the bitmap and two rows of
// the raster width, and otherwise fails with the one message of the block
// that did not fit.
TEST_F(PixelWindow, HeapTooSmallFailsCleanlyAtEveryLimit) {
    const int width = 20, height = 6;
    const Window window = {2, 1, 17, 4};
    for (int type : {1, 4, 7}) {
        SCOPED_TRACE(type);
        int bpp = BitsPerPixel(type);
        Picture picture = RunPicture(width, height, type, 60 + type);
        Bytes chart = Chart(picture, type);
        auto path = Write("heap.kap", chart);
        size_t header = chartwriter::GetBe32(chart, chartwriter::GetBe32(chart, chart.size() - 4));
        size_t bitmap = 4 * (10 + (1u << bpp) + 4 * ((bpp * 16 + 31) / 32));  // 16 × 4
        size_t needed = header + bitmap + 2 * width;
        for (size_t limit = 0; limit <= needed; ++limit) {
            SCOPED_TRACE("heap limit " + std::to_string(limit));
            HostHeap heap(limit);
            MessageLog log;
            char* result = GetWindowBmp(path.data(), heap.get(), window.rect());
            if (limit == 0 || limit == needed) {
                ASSERT_NE(result, nullptr);
                EXPECT_TRUE(log.messages.empty());
                EXPECT_EQ(heap.blocks(), 1u);
                EXPECT_TRUE(SameBitmap(ExpectedBitmap(picture, bpp, window), result, bpp));
                FreeChartBlock(heap.get(), result);
                continue;
            }
            const std::string& message = limit < header            ? kHeaderMemory
                                         : limit < header + bitmap ? kBitmapMemory
                                                                   : kLineMemory;
            ASSERT_EQ(result, nullptr);
            EXPECT_EQ(log.messages, Messages{message});
            EXPECT_EQ(heap.blocks(), 0u);
        }
    }
}

#if defined(_WIN32)
// A heap the host made with HeapCreate serves as well as one of
// CreateChartHeap. A fixed-size one too small for the bitmap refuses it
// through the system's own limit, and the call still leaves nothing behind.
TEST_F(PixelWindow, WorksOnHeapsMadeWithHeapCreate) {
    const int width = 1200, height = 300;
    Picture picture = RunPicture(width, height, 7, 77);
    auto path = Write("system.kap", Chart(picture, 7));
    const Window whole = {0, 0, width - 1, height - 1};  // a 360 000-byte bitmap
    const Window part = {100, 10, 139, 19};

    HANDLE heap = HeapCreate(0, 0, 0);
    ASSERT_NE(heap, nullptr);
    {
        MessageLog log;
        char* bitmap = GetWindowBmp(path.data(), heap, whole.rect());
        ASSERT_NE(bitmap, nullptr) << ::testing::PrintToString(log.messages);
        EXPECT_EQ(CountChartBlocks(heap), 1u);
        EXPECT_TRUE(SameBitmap(ExpectedBitmap(picture, 8, whole), bitmap, 8));
        EXPECT_TRUE(HeapFree(heap, 0, bitmap));
        EXPECT_EQ(CountChartBlocks(heap), 0u);
    }
    HeapDestroy(heap);

    HANDLE fixed = HeapCreate(HEAP_NO_SERIALIZE, 0, 128 * 1024);
    ASSERT_NE(fixed, nullptr);
    {
        MessageLog log;
        EXPECT_EQ(GetWindowBmp(path.data(), fixed, whole.rect()), nullptr);
        EXPECT_EQ(log.messages, Messages{kBitmapMemory});
        EXPECT_EQ(CountChartBlocks(fixed), 0u);
        log.Clear();
        char* bitmap = GetWindowBmp(path.data(), fixed, part.rect());
        ASSERT_NE(bitmap, nullptr) << ::testing::PrintToString(log.messages);
        EXPECT_TRUE(SameBitmap(ExpectedBitmap(picture, 8, part), bitmap, 8));
        EXPECT_EQ(CountChartBlocks(fixed), 1u);
    }
    HeapDestroy(fixed);
}
#endif

}  // namespace
