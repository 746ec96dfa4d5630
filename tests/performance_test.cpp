// What a window call costs: system calls per chart row read top to bottom,
// the heap it holds beyond its result, and that the resampling of skewed
// charts, made cheap per pixel, samples exactly where the formula says.
//
// The test is linked with --wrap for the system's read, pread and lseek, so
// every such call the library makes passes through the counters below.
#include <gtest/gtest.h>
#include <sys/types.h>

#if defined(_WIN32)
#include <windows.h>
#endif

#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_reference.h"
#include "chart_writer.h"
#include "system_calls.h"
#include "test_support.h"


namespace {

using testsupport::BitsPerPixel;
using testsupport::kRadiansPerDegree;
using testsupport::Le32;
using testsupport::LeI32;

// Pixels in short runs of random colours, so that rows are long for their
// width: about one encoded byte per run.
chartwriter::Picture Noise(int width, int height, int type, int maxRun, uint32_t seed) {
    std::mt19937 random(seed);
    chartwriter::Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(static_cast<size_t>(width) * height);
    uint32_t colours = type == 1 ? 2 : 15;
    for (size_t at = 0; at < picture.pixels.size();) {
        uint8_t colour = static_cast<uint8_t>(1 + random() % colours) & ((1u << type) - 1);
        for (int n = 1 + static_cast<int>(random() % maxRun); n > 0 && at < picture.pixels.size(); --n)
            picture.pixels[at++] = colour;
    }
    return picture;
}

struct ChartFile {
    std::string path;
    std::vector<unsigned short> wide;
    size_t headerBlock = 0;
    size_t largestRow = 0;
};

ChartFile WriteChart(const testsupport::TempDir& dir, const std::string& name,
                     const chartwriter::Picture& picture, int type,
                     const std::vector<std::string>& extraLines = {}, const std::string& skew = "0.0") {
    chartwriter::HeaderOptions options;
    options.width = picture.width;
    options.height = picture.height;
    options.skew = skew;
    options.extraLines = extraLines;
    std::string text = chartwriter::MakeHeaderText(options);
    std::vector<uint8_t> bytes = chartwriter::BuildChart(text, picture, type);
    EXPECT_FALSE(bytes.empty());
    ChartFile chart;
    chart.path = dir.Write(name, bytes);
    chart.wide = testsupport::Utf16Path(chart.path);
    chart.headerBlock = chartwriter::MakeHeaderBlock(text, type).size();
    uint32_t table = chartwriter::GetBe32(bytes, bytes.size() - 4);
    for (int r = 0; r < picture.height; ++r)
        chart.largestRow = std::max<size_t>(
            chart.largestRow, chartwriter::GetBe32(bytes, table + 4 * (r + 1)) -
                                  chartwriter::GetBe32(bytes, table + 4 * r));
    return chart;
}

// Pixel (x, y) of a bitmap the library returned.
uint32_t BitmapPixel(const char* bitmap, int x, int y) {
    int bpp = static_cast<unsigned char>(bitmap[14]);
    uint32_t width = Le32(bitmap + 4);
    uint32_t stride = (bpp * width + 31) / 32 * 4;
    const auto* row = reinterpret_cast<const unsigned char*>(bitmap) + 40 + (4u << bpp) +
                      static_cast<size_t>(y) * stride;
    int bit = x * bpp;
    return (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
}

size_t BitmapSize(const char* bitmap) {
    int bpp = static_cast<unsigned char>(bitmap[14]);
    uint32_t width = Le32(bitmap + 4);
    uint32_t height = static_cast<uint32_t>(-LeI32(bitmap + 8));
    return 40 + (4u << bpp) + static_cast<size_t>(height) * ((bpp * width + 31) / 32 * 4);
}

using WindowCall = std::function<char*(void* heap)>;

// The smallest heap maximum at which the call succeeds is the most it held
// at once; less the result, what it held for itself.
int64_t PeakBeyondResult(const WindowCall& call) {
    testsupport::MessageLog log;  // calls refused for want of memory report it
    uint64_t low = 0, high = uint64_t(1) << 26;
    size_t result = 0;
    {
        testsupport::HostHeap heap(high);
        char* bitmap = call(heap.get());
        if (!bitmap) return -1;
        result = BitmapSize(bitmap);
    }
    while (high - low > 1) {
        uint64_t middle = low + (high - low) / 2;
        testsupport::HostHeap heap(middle);
        (call(heap.get()) ? high : low) = middle;
    }
    return static_cast<int64_t>(high) - static_cast<int64_t>(result);
}

struct SequentialCase {
    const char* name;
    int width, height, type, maxRun;
    int top, bottom;
};

// Rows a few hundred bytes long fill the file's cached windows many rows at
// a time; rows of a few kilobytes and rows longer than a window are read
// whole; in each case the trailer and the two index entries are looked up
// again for every row.
TEST(Performance, RowsReadTopToBottomCostAtMostTwoSystemCallsEach) {
    const SequentialCase cases[] = {
        {"short rows, whole chart", 600, 2000, 4, 3, 0, 1999},
        {"short rows, middle band", 600, 2000, 4, 3, 700, 1299},
        {"rows of about 2.5 KB", 3000, 800, 7, 2, 0, 799},
        {"rows longer than a window", 7000, 400, 7, 2, 0, 399},
    };
    testsupport::TempDir dir;
    for (const SequentialCase& c : cases) {
        SCOPED_TRACE(c.name);
        chartwriter::Picture picture = Noise(c.width, c.height, c.type, c.maxRun, 7);
        ChartFile chart = WriteChart(dir, "rows.kap", picture, c.type);
        testsupport::HostHeap heap;
        RECT window = {0, c.top, c.width - 1, c.bottom};
        ResetSystemCalls();
        char* bitmap = GetWindowBmp(chart.wide.data(), heap.get(), window);
        uint64_t calls = SystemCalls();
        ASSERT_NE(bitmap, nullptr);
        int rows = c.bottom - c.top + 1;
        EXPECT_LE(calls, 2u * rows) << "largest row " << chart.largestRow << " bytes";
        // The buffering must not change what is read.
        int bpp = BitsPerPixel(c.type);
        int wholePixels = c.width * bpp / 8 * 8 / bpp;
        for (int y = 0; y < rows; y += 37)
            for (int x = 0; x < wholePixels; ++x)
                ASSERT_EQ(BitmapPixel(bitmap, x, y), picture.at(x, c.top + y)) << x << "," << y;
        FreeChartBlock(heap.get(), bitmap);
    }
}

// World coordinates equal pixels here (row = -y); SK= alone makes the chart
// skewed, which is all the region's size depends on.
const std::vector<std::string> kPixelPolynomials = {
    "PWX/1,0.0,1.0,0.0", "PWY/1,0.0,0.0,-1.0", "WPX/1,0.0,1.0,0.0", "WPY/1,0.0,0.0,-1.0"};

TEST(Performance, SkewedWindowReadsEachRegionRowForAtMostTwoSystemCalls) {
    testsupport::TempDir dir;
    chartwriter::Picture picture = Noise(600, 1500, 4, 3, 11);
    ChartFile chart = WriteChart(dir, "skewed.kap", picture, 4, kPixelPolynomials, "20.0");
    testsupport::HostHeap heap;
    ResetSystemCalls();
    // The region spans every chart row and more.
    char* bitmap = GetWindowBmp(chart.wide.data(), heap.get(), -10.0, 10.0, 610.0, -1510.0);
    uint64_t calls = SystemCalls();
    ASSERT_NE(bitmap, nullptr);
    EXPECT_LE(calls, 2u * 1500);
    FreeChartBlock(heap.get(), bitmap);
}

TEST(Performance, WindowCallHoldsOnlyTheHeaderBlockRowBuffersAndRegion) {
    testsupport::TempDir dir;
    const int width = 900, height = 300;
    for (int type : {1, 4, 7}) {
        SCOPED_TRACE(type);
        chartwriter::Picture picture = Noise(width, height, type, 6, 3);
        ChartFile upright = WriteChart(dir, "upright.kap", picture, type, kPixelPolynomials);
        ChartFile skewed = WriteChart(dir, "skewed.kap", picture, type, kPixelPolynomials, "30.0");
        int64_t rowBuffers = 2 * width;

        RECT window = {100, 50, 699, 249};
        int64_t pixelPeak = PeakBeyondResult(
            [&](void* heap) { return GetWindowBmp(upright.wide.data(), heap, window); });
        EXPECT_EQ(pixelPeak, static_cast<int64_t>(upright.headerBlock) + rowBuffers);

        int64_t worldPeak = PeakBeyondResult([&](void* heap) {
            return GetWindowBmp(upright.wide.data(), heap, 100.0, -50.0, 699.0, -249.0);
        });
        EXPECT_EQ(worldPeak, static_cast<int64_t>(upright.headerBlock) + rowBuffers);

        // Corners at columns 100 … 699 and rows 50 … 249: the region is their
        // box widened by a pixel, its columns widened to whole bytes.
        int perByte = 8 / BitsPerPixel(type);
        int64_t x0 = (99 / perByte) * perByte, x1 = (700 / perByte) * perByte + perByte - 1;
        int64_t region = (x1 - x0 + 1) / perByte * (250 - 49 + 1);
        int64_t skewedPeak = PeakBeyondResult([&](void* heap) {
            return GetWindowBmp(skewed.wide.data(), heap, 100.0, -50.0, 699.0, -249.0);
        });
        EXPECT_LE(skewedPeak, static_cast<int64_t>(skewed.headerBlock) + rowBuffers + region);
        EXPECT_GE(skewedPeak, region);
    }
}

// The resampling straight from its formula: a multiplication and a
// truncation per coordinate, clamped to the region; outside the chart 0.
struct Reference {
    const chartwriter::Picture* picture;
    int bpp;
    double px[4], py[4];  // corners in chart pixels
    double skew;

    int64_t x0, x1, y0, y1;

    void Bound() {
        double minX = px[0], maxX = px[0], minY = py[0], maxY = py[0];
        for (int k = 1; k < 4; ++k) {
            minX = std::min(minX, px[k]);
            maxX = std::max(maxX, px[k]);
            minY = std::min(minY, py[k]);
            maxY = std::max(maxY, py[k]);
        }
        int64_t perByte = 8 / bpp;
        auto floorTo = [perByte](int64_t v) { return v - ((v % perByte) + perByte) % perByte; };
        x0 = floorTo(static_cast<int64_t>(minX) - 1);
        x1 = floorTo(static_cast<int64_t>(maxX) + 1) + perByte - 1;
        y0 = static_cast<int64_t>(minY) - 1;
        y1 = static_cast<int64_t>(maxY) + 1;
    }

    uint32_t Pixel(int i, int j) const {
        double theta = skew * kRadiansPerDegree;
        double ipx0 = static_cast<int32_t>(px[0]), ipy0 = static_cast<int32_t>(py[0]);
        double sx = std::cos(theta) * i + (ipx0 - std::sin(theta) * j);
        double sy = std::sin(theta) * i + (std::cos(theta) * j + ipy0);
        int64_t x = sx < x0 || std::isnan(sx) ? x0 : sx > x1 ? x1 : static_cast<int64_t>(sx);
        int64_t y = sy < y0 || std::isnan(sy) ? y0 : sy > y1 ? y1 : static_cast<int64_t>(sy);
        if (x < 0 || y < 0 || x >= picture->width || y >= picture->height) return 0;
        return picture->at(static_cast<int>(x), static_cast<int>(y));
    }
};

// Angles in every quadrant, so that rows are walked up and down, and one
// just short of 90° where a sample can move two rows at once; windows inside
// the chart and reaching past its edges, where samples are clamped.
TEST(Performance, ResamplingTakesEverySampleTheFormulaGives) {
    testsupport::TempDir dir;
    const int width = 240, height = 200;  // whole bytes at every pixel size
    struct Window {
        double left, top, right, bottom;
    };
    const Window windows[] = {{60.25, -40.5, 180.75, -150.0}, {-30.0, 20.0, 150.5, -230.25}};
    for (int type : {1, 4, 7}) {
        chartwriter::Picture picture = Noise(width, height, type, 5, 5 + type);
        for (double skew : {15.0, 89.99, 135.0, 200.0, 300.0}) {
            char skewText[32];
            std::snprintf(skewText, sizeof(skewText), "%.2f", skew);
            ChartFile chart = WriteChart(dir, "turned.kap", picture, type, kPixelPolynomials, skewText);
            for (const Window& w : windows) {
                SCOPED_TRACE(testing::Message() << "type " << type << ", skew " << skew << ", window "
                                                << w.left << "," << w.top);
                testsupport::HostHeap heap;
                char* bitmap = GetWindowBmp(chart.wide.data(), heap.get(), w.left, w.top, w.right, w.bottom);
                ASSERT_NE(bitmap, nullptr);
                Reference reference{&picture, BitsPerPixel(type),
                                    {w.left, w.right, w.right, w.left},
                                    {-w.top, -w.top, -w.bottom, -w.bottom}, skew};
                reference.Bound();
                int outWidth = static_cast<int>(Le32(bitmap + 4));
                int outHeight = -LeI32(bitmap + 8);
                int mismatches = 0;
                for (int j = 0; j < outHeight; ++j)
                    for (int i = 0; i < outWidth; ++i)
                        if (BitmapPixel(bitmap, i, j) != reference.Pixel(i, j) && ++mismatches <= 3)
                            ADD_FAILURE() << "pixel " << i << "," << j;
                FreeChartBlock(heap.get(), bitmap);
            }
        }
    }
}

}  // namespace
