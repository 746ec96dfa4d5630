// A host of the installed headers calling the four functions with char16_t
// text (u"..." literals) instead of unsigned short: the inline overloads of
// bsbchart.h give the same results as the exported calls.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_writer.h"
#include "test_support.h"

namespace {

using testsupport::HostHeap;
using testsupport::MessageLog;
using testsupport::TempDir;

// An upright 40 x 30 chart with a georeference of 0.01 degrees a pixel.
std::string WriteChart(const TempDir& dir) {
    chartwriter::HeaderOptions options;
    options.width = 40;
    options.height = 30;
    options.extraLines = {"PWX/1,-4.0,0.01,0.0", "PWY/1,50.0,0.0,-0.01", "WPX/1,400.0,100.0,0.0",
                          "WPY/1,5000.0,0.0,-100.0"};
    const chartwriter::Picture picture =
        chartwriter::MakePicture(40, 30, [](int x, int y) { return static_cast<uint8_t>(1 + (x / 4 + y) % 4); });
    return dir.Write("chart.kap", chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture, 4));
}

std::u16string Char16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

size_t BitmapBytes(const char* bitmap) {
    const int32_t width = testsupport::LeI32(bitmap + 4), height = -testsupport::LeI32(bitmap + 8);
    const int bpp = testsupport::Le16(bitmap + 14);
    return 40 + (4u << bpp) + static_cast<size_t>((bpp * width + 31) / 32 * 4) * height;
}

TEST(Char16Overloads, GiveWhatTheExportedCallsGive) {
    TempDir dir;
    const std::string path = WriteChart(dir);
    const std::u16string text = Char16(path);
    const std::vector<unsigned short> wide = testsupport::Utf16Path(path);

    RECT viaChar16{}, viaShort{};
    int skewed16 = -1, skewed = -1;
    ASSERT_EQ(GetBsbBorder(text.c_str(), &viaChar16, skewed16), 1);
    ASSERT_EQ(GetBsbBorder(wide.data(), &viaShort, skewed), 1);
    EXPECT_EQ(std::memcmp(&viaChar16, &viaShort, sizeof(RECT)), 0);
    EXPECT_EQ(viaChar16.right, 39);
    EXPECT_EQ(skewed16, skewed);

    double a[6], b[6];
    ASSERT_EQ(GetBsbBorder(text.c_str(), &a[0], &a[1], &a[2], &a[3], &a[4], &a[5], skewed16), 1);
    ASSERT_EQ(GetBsbBorder(wide.data(), &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], skewed), 1);
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
    EXPECT_EQ(a[2], -4.0);

    HostHeap heap;
    const RECT window = {3, 4, 20, 25};
    char* pixels16 = GetWindowBmp(text.c_str(), heap.get(), window);
    char* pixels = GetWindowBmp(wide.data(), heap.get(), window);
    char* world16 = GetWindowBmp(text.c_str(), heap.get(), -3.95, 49.95, -3.8, 49.8);
    char* world = GetWindowBmp(wide.data(), heap.get(), -3.95, 49.95, -3.8, 49.8);
    ASSERT_TRUE(pixels16 && pixels && world16 && world);
    ASSERT_EQ(BitmapBytes(pixels16), BitmapBytes(pixels));
    EXPECT_EQ(std::memcmp(pixels16, pixels, BitmapBytes(pixels)), 0);
    ASSERT_EQ(BitmapBytes(world16), BitmapBytes(world));
    EXPECT_EQ(std::memcmp(world16, world, BitmapBytes(world)), 0);
    EXPECT_EQ(testsupport::LeI32(world16 + 4), 16);
    for (char* block : {pixels16, pixels, world16, world}) FreeChartBlock(heap.get(), block);
    EXPECT_EQ(heap.blocks(), 0u);
}

TEST(Char16Overloads, TakeALiteral) {
    MessageLog log;
    RECT extent{};
    int skewed = 0;
    EXPECT_EQ(GetBsbBorder(u"no such chart \u00e6.kap", &extent, skewed), 0);
    EXPECT_EQ(log.messages, std::vector<std::string>{"Cannot open file: no such chart \u00e6.kap."});
}

}  // namespace
