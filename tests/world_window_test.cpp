// GetWindowBmp in its world form on upright charts, called as a host would.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_writer.h"
#include "test_support.h"

namespace {

using testsupport::Le16;
using testsupport::Le32;
using testsupport::LeI32;

constexpr int kWidth = 101;
constexpr int kHeight = 81;
constexpr double kInf = std::numeric_limits<double>::infinity();

// World (x, y) lies at column 100·x and row 100 − 100·y.
const std::vector<std::string> kLines = {"WPX/1,0.0,100.0,0.0", "WPY/1,100.0,0.0,-100.0"};

struct Rectangle {
    double left, top, right, bottom;
};

class WorldWindowTest : public ::testing::Test {
protected:
    WorldWindowTest()
        : picture_(chartwriter::MakePicture(kWidth, kHeight,
                                            [](int x, int y) { return (x / 4 * 5 + y * 3) % 128; })) {}

    // An 8-bit chart (compression type 7) of the picture, whose runs of four
    // pixels keep the encoded rows shorter than the raster width.
    std::string Chart(const std::vector<std::string>& lines = kLines, const char* cph = "0.0") {
        chartwriter::HeaderOptions options;
        options.width = kWidth;
        options.height = kHeight;
        options.cph = cph;
        options.extraLines = lines;
        auto bytes = chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture_, 7);
        return dir_.Write("chart" + std::to_string(++charts_) + ".kap", bytes);
    }

    char* Window(const std::string& path, const Rectangle& r) {
        auto wide = testsupport::Utf16Path(path);
        return GetWindowBmp(wide.data(), heap_.get(), r.left, r.top, r.right, r.bottom);
    }

    // The bitmap is the w × h window of the picture from (l, t).
    void ExpectWindow(const char* bitmap, int l, int t, int w, int h) {
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(Le32(bitmap + 0), 40u);
        ASSERT_EQ(LeI32(bitmap + 4), w);
        ASSERT_EQ(LeI32(bitmap + 8), -h);
        ASSERT_EQ(Le16(bitmap + 14), 8);
        int stride = (8 * w + 31) / 32 * 4;
        EXPECT_EQ(Le32(bitmap + 20), static_cast<uint32_t>(stride * h));
        const auto* pixels = reinterpret_cast<const unsigned char*>(bitmap + 40 + 1024);
        int wrong = 0;
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                if (pixels[j * stride + i] != picture_.at(l + i, t + j) && ++wrong <= 5)
                    ADD_FAILURE() << "pixel (" << i << ", " << j << ") is "
                                  << int(pixels[j * stride + i]) << ", chart pixel ("
                                  << l + i << ", " << t + j << ") is "
                                  << int(picture_.at(l + i, t + j));
        EXPECT_EQ(wrong, 0);
    }

    chartwriter::Picture picture_;
    testsupport::TempDir dir_;
    testsupport::MessageLog log_;
    testsupport::HostHeap heap_;
    int charts_ = 0;
};

TEST_F(WorldWindowTest, RectangleIsCutFromTheChartClampedToIt) {
    struct Case {
        const char* name;
        Rectangle world;
        int l, t, w, h;
    } cases[] = {
        {"the 51 × 51 example", {0.0, 1.0, 0.5, 0.5}, 0, 0, 51, 51},
        {"inside", {0.2, 0.9, 0.45, 0.6}, 20, 10, 26, 31},
        {"cut at the east edge", {0.8, 0.9, 1.5, 0.6}, 80, 10, kWidth - 80, 31},
        {"cut at the south edge", {0.1, 0.5, 0.3, -3.0}, 10, 50, 21, kHeight - 50},
        // Corners at columns −0.7 and 3.9, rows −0.7 and 3.9.
        {"corners truncated toward zero", {-0.007, 1.007, 0.039, 0.961}, 0, 0, 4, 4},
        // The east edge at column −0.7 truncates to 0, not −1.
        {"one pixel wide", {-0.5, 0.9, -0.007, 0.6}, 0, 10, 1, 31},
        {"one pixel high", {0.2, 1.5, 0.45, 1.007}, 20, 0, 26, 1},
        {"huge corners saturate", {-1e300, 1e300, 1e300, -1e300}, 0, 0, kWidth, kHeight},
    };
    std::string path = Chart();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        char* bitmap = Window(path, c.world);
        ExpectWindow(bitmap, c.l, c.t, c.w, c.h);
        EXPECT_EQ(heap_.blocks(), 1u);
        if (bitmap) FreeChartBlock(heap_.get(), bitmap);
    }
    EXPECT_EQ(log_.messages, std::vector<std::string>{});
    EXPECT_EQ(heap_.blocks(), 0u);
}

// Longitudes meet the polynomials with CPH added: here column = 100·(x + 10)
// − 1000, which is 100·x for these exactly representable longitudes.
TEST_F(WorldWindowTest, CphIsAddedToLongitudes) {
    std::string path = Chart({"WPX/1,-1000.0,100.0,0.0", kLines[1]}, "10.0");
    char* bitmap = Window(path, {0.25, 0.875, 0.5, 0.625});
    ExpectWindow(bitmap, 25, 12, 26, 26);
    if (bitmap) FreeChartBlock(heap_.get(), bitmap);
    EXPECT_EQ(log_.messages, std::vector<std::string>{});
}

TEST_F(WorldWindowTest, FailuresReportAndLeaveTheHeapEmpty) {
    const char* kScope = "Your requirement is beyond the scope of the image.";
    const char* kGeographic = "Error reading geographic parameters.";
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        Rectangle world;
        const char* message;
    } cases[] = {
        {"wholly east", kLines, {1.2, 0.9, 1.5, 0.6}, kScope},
        {"wholly west", kLines, {-0.5, 0.9, -0.2, 0.6}, kScope},
        {"wholly north", kLines, {0.2, 1.5, 0.4, 1.2}, kScope},
        {"wholly south", kLines, {0.2, 0.1, 0.4, 0.0}, kScope},
        {"west and east swapped", kLines, {0.5, 0.9, 0.2, 0.6}, kScope},
        {"north and south swapped", kLines, {0.2, 0.6, 0.4, 0.9}, kScope},
        // 0e+999 reads as 0 × 10^999, which is 0 × infinity.
        {"NaN column", {"WPX/1,0e+999,100.0,0.0", kLines[1]}, {0.0, 1.0, 0.5, 0.5}, kScope},
        {"NaN row", {kLines[0], "WPY/1,100.0,0e+999,-100.0"}, {0.0, 1.0, 0.5, 0.5}, kScope},
        // An infinite rectangle meets a zero coefficient.
        {"infinite rectangle", kLines, {-kInf, kInf, kInf, -kInf}, kScope},
        {"NaN rectangle", kLines, {std::nan(""), 1.0, 0.5, 0.5}, kScope},
        {"no WPX/", {kLines[1]}, {0.0, 1.0, 0.5, 0.5}, kGeographic},
        {"no WPY/", {kLines[0]}, {0.0, 1.0, 0.5, 0.5}, kGeographic},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_.Clear();
        std::string path = Chart(c.lines);
        EXPECT_EQ(Window(path, c.world), nullptr);
        EXPECT_EQ(log_.Snapshot(), std::vector<std::string>{c.message});
        EXPECT_EQ(heap_.blocks(), 0u);
    }
}

}  // namespace
