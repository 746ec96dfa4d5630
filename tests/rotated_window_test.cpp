// World windows of skewed charts: resampled upright from the rotated raster.
//
// The charts here are rotated for real: world x (east) and y (north), in
// pixels, map to column = ox + cos θ·x + sin θ·y and row = oy + sin θ·x −
// cos θ·y, so a window's north edge runs along (cos θ, sin θ) in the chart.
// The pictures are drawn in the same frame, and the expected bitmaps are
// worked out here from the pictures, sample by sample.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_reference.h"
#include "chart_writer.h"
#include "chartfile/read_cache.h"
#include "header/polynomial.h"
#include "internal_support.h"
#include "system_calls.h"
#include "test_support.h"

namespace {

using testsupport::BitsPerPixel;
using testsupport::kRadiansPerDegree;
using testsupport::Le16;
using testsupport::LeI32;

const char* kBmpMessage = "Cannot allocate memory to save your required bmp.";

// The rotation between world and chart, with the chart position of world
// (0, 0).
struct Frame {
    double skew;  // degrees, as written in SK=
    double ox, oy;
    double Cos() const { return std::cos(skew * kRadiansPerDegree); }
    double Sin() const { return std::sin(skew * kRadiansPerDegree); }
    // World position (east, south) of chart position (c, r), in pixels.
    double East(double c, double r) const { return Cos() * (c - ox) + Sin() * (r - oy); }
    double South(double c, double r) const { return -Sin() * (c - ox) + Cos() * (r - oy); }
};

struct World {
    double left, top, right, bottom;
};

// The world rectangle whose north-west corner lies at chart position (c, r),
// `width` pixels east and `height` pixels south of it.
World RectangleAt(const Frame& f, double c, double r, double width, double height) {
    double west = f.East(c, r), north = -f.South(c, r);
    return {west, north, west + width, north - height};
}

std::string Coefficient(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17f", value);
    return text;
}

struct Chart {
    std::string path;
    std::string header;
    std::vector<uint8_t> bytes;
    chartwriter::Picture picture;
    int compressionType;
    double skew;
};

// `commentBytes` > 0 adds a comment line of that many characters to the header.
Chart MakeChart(const testsupport::TempDir& dir, const std::string& name, const Frame& f,
                const chartwriter::Picture& picture, int compressionType, size_t commentBytes = 0) {
    chartwriter::HeaderOptions options;
    options.width = picture.width;
    options.height = picture.height;
    char skew[32];
    std::snprintf(skew, sizeof skew, "%g", f.skew);
    options.skew = skew;
    options.extraLines = {
        "WPX/1," + Coefficient(f.ox) + "," + Coefficient(f.Cos()) + "," + Coefficient(f.Sin()),
        "WPY/1," + Coefficient(f.oy) + "," + Coefficient(f.Sin()) + "," + Coefficient(-f.Cos())};
    if (commentBytes > 0) options.extraLines.push_back("!" + std::string(commentBytes - 1, '-'));
    Chart chart;
    chart.header = chartwriter::MakeHeaderText(options);
    chart.bytes = chartwriter::BuildChart(chart.header, picture, compressionType);
    chart.path = dir.Write(name, chart.bytes);
    chart.picture = picture;
    chart.compressionType = compressionType;
    chart.skew = f.skew;
    return chart;
}

// Where the window's corners land, read with the chart's own polynomials,
// and the region of chart pixels its samples are clamped to: the corners'
// bounding box widened by a pixel, then to whole bytes of the region's rows.
struct Geometry {
    double px[4], py[4];
    int64_t ipx0, ipy0;
    int64_t w, h;
    int64_t x0, x1, y0, y1;
};

Geometry Locate(const Chart& chart, const World& r) {
    bsb::HeaderText text = {chart.header.c_str(), static_cast<uint32_t>(chart.header.size())};
    bsb::ChartPolynomial wpx{}, wpy{};
    EXPECT_TRUE(bsb::ParsePolynomial(text, "WPX/", &wpx, testsupport::Shown()));
    EXPECT_TRUE(bsb::ParsePolynomial(text, "WPY/", &wpy, testsupport::Shown()));
    const double x[4] = {r.left, r.right, r.right, r.left};
    const double y[4] = {r.top, r.top, r.bottom, r.bottom};
    Geometry g;
    for (int k = 0; k < 4; ++k) {
        g.px[k] = bsb::EvaluatePolynomial(wpx.order, wpx.coefficients, x[k], y[k]);
        g.py[k] = bsb::EvaluatePolynomial(wpy.order, wpy.coefficients, x[k], y[k]);
    }
    g.ipx0 = static_cast<int64_t>(g.px[0]);
    g.ipy0 = static_cast<int64_t>(g.py[0]);
    g.w = static_cast<int64_t>(std::hypot(g.px[1] - g.px[0], g.py[1] - g.py[0]) + 1.5);
    g.h = static_cast<int64_t>(std::hypot(g.px[3] - g.px[0], g.py[3] - g.py[0]) + 1.5);
    double minX = g.px[0], maxX = g.px[0], minY = g.py[0], maxY = g.py[0];
    for (int k = 1; k < 4; ++k) {
        minX = std::min(minX, g.px[k]);
        maxX = std::max(maxX, g.px[k]);
        minY = std::min(minY, g.py[k]);
        maxY = std::max(maxY, g.py[k]);
    }
    g.x0 = static_cast<int64_t>(minX) - 1;
    g.x1 = static_cast<int64_t>(maxX) + 1;
    g.y0 = static_cast<int64_t>(minY) - 1;
    g.y1 = static_cast<int64_t>(maxY) + 1;
    int bpp = BitsPerPixel(chart.compressionType);
    if (bpp == 4) {
        if (g.x0 % 2 != 0) g.x0 -= 1;
        if (g.x1 % 2 == 0) g.x1 += 1;
    } else if (bpp == 1) {
        g.x0 = static_cast<int64_t>(std::floor(g.x0 / 8.0)) * 8;
        g.x1 = static_cast<int64_t>(std::floor(g.x1 / 8.0)) * 8 + 7;
    }
    return g;
}

// The chart position output pixel (i, j) samples, before clamping.
void Sample(const Chart& chart, const Geometry& g, int64_t i, int64_t j, int64_t* x, int64_t* y) {
    double theta = chart.skew * kRadiansPerDegree;
    double s = std::sin(theta), c = std::cos(theta);
    double di = static_cast<double>(i), dj = static_cast<double>(j);
    *x = static_cast<int64_t>(c * di + (static_cast<double>(g.ipx0) - s * dj));
    *y = static_cast<int64_t>(s * di + (c * dj + static_cast<double>(g.ipy0)));
}

struct Expected {
    std::vector<uint8_t> pixels;  // w × h, row-major
    int clampedOnChart = 0;       // samples the region's edge moved onto the chart
    int lastColumn = 0;           // samples of chart column W − 1
    int outside = 0;              // samples off the chart
};

// Each sample clamped to the region reads the chart pixel there, or 0 off
// the chart. At 4 bits per pixel the region's rows copy whole bytes, so with
// an odd raster width column W − 1 is never copied and reads 0.
Expected Model(const Chart& chart, const Geometry& g) {
    const auto& pic = chart.picture;
    int bpp = BitsPerPixel(chart.compressionType);
    Expected e;
    e.pixels.assign(static_cast<size_t>(g.w * g.h), 0);
    for (int64_t j = 0; j < g.h; ++j) {
        for (int64_t i = 0; i < g.w; ++i) {
            int64_t x, y;
            Sample(chart, g, i, j, &x, &y);
            int64_t cx = std::min(std::max(x, g.x0), g.x1);
            int64_t cy = std::min(std::max(y, g.y0), g.y1);
            uint8_t value = 0;
            if (cx >= 0 && cx < pic.width && cy >= 0 && cy < pic.height) {
                if (cx != x || cy != y) ++e.clampedOnChart;
                value = pic.at(static_cast<int>(cx), static_cast<int>(cy));
                if (cx == pic.width - 1) {
                    ++e.lastColumn;
                    if (bpp == 4 && pic.width % 2 == 1) value = 0;
                }
            } else {
                ++e.outside;
            }
            e.pixels[static_cast<size_t>(j * g.w + i)] = value;
        }
    }
    return e;
}

struct Bitmap {
    int width = 0, height = 0, bpp = 0, stride = 0;
    const unsigned char* pixels = nullptr;
    int at(int i, int j) const {
        const unsigned char* row = pixels + static_cast<size_t>(j) * stride;
        if (bpp == 8) return row[i];
        if (bpp == 4) return (row[i / 2] >> (i % 2 ? 0 : 4)) & 0x0F;
        return (row[i / 8] >> (7 - i % 8)) & 1;
    }
};

Bitmap Read(const char* block) {
    Bitmap b;
    b.width = LeI32(block + 4);
    b.height = -LeI32(block + 8);
    b.bpp = Le16(block + 14);
    b.stride = (b.bpp * b.width + 31) / 32 * 4;
    b.pixels = reinterpret_cast<const unsigned char*>(block + 40 + (4 << b.bpp));
    return b;
}

class RotatedWindowTest : public ::testing::Test {
protected:
    char* Window(const Chart& chart, const World& r) {
        auto wide = testsupport::Utf16Path(chart.path);
        return GetWindowBmp(wide.data(), heap_.get(), r.left, r.top, r.right, r.bottom);
    }

    // Requests the window and compares every pixel with the model.
    Expected Check(const Chart& chart, const World& r) {
        Geometry g = Locate(chart, r);
        Expected e = Model(chart, g);
        char* block = Window(chart, r);
        EXPECT_NE(block, nullptr);
        if (!block) return e;
        Bitmap b = Read(block);
        EXPECT_EQ(b.width, g.w);
        EXPECT_EQ(b.height, g.h);
        EXPECT_EQ(b.bpp, BitsPerPixel(chart.compressionType));
        int wrong = 0;
        if (b.width == g.w && b.height == g.h) {
            for (int j = 0; j < b.height; ++j) {
                for (int i = 0; i < b.width; ++i) {
                    int want = e.pixels[static_cast<size_t>(j) * b.width + i];
                    if (b.at(i, j) != want && ++wrong <= 5) {
                        int64_t x, y;
                        Sample(chart, g, i, j, &x, &y);
                        ADD_FAILURE() << "pixel (" << i << ", " << j << ") is " << b.at(i, j)
                                      << ", expected " << want << " from chart (" << x << ", "
                                      << y << ")";
                    }
                }
                // Row padding stays zero.
                int used = (b.bpp * b.width + 7) / 8;
                for (int k = b.bpp * b.width; k < used * 8; ++k)
                    EXPECT_EQ((b.pixels[j * b.stride + k / 8] >> (7 - k % 8)) & 1, 0) << "row " << j;
                for (int k = used; k < b.stride; ++k) EXPECT_EQ(b.pixels[j * b.stride + k], 0);
            }
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_EQ(heap_.blocks(), 1u);
        FreeChartBlock(heap_.get(), block);
        EXPECT_EQ(heap_.blocks(), 0u);
        return e;
    }

    testsupport::TempDir dir_;
    testsupport::MessageLog log_;
    testsupport::HostHeap heap_;
};

// 61 × 47 pixels: odd, and not a whole number of bytes at 1 bit per pixel.
const int kWidth = 61;
const int kHeight = 47;
const Frame kFrame30 = {30.0, 20.3, 2.2};

// Runs of three, so that rows encode shorter than the raster width, and no
// index 0 on the chart, so that 0 always means "off the chart".
chartwriter::Picture Colours(int colours) {
    return chartwriter::MakePicture(kWidth, kHeight, [colours](int x, int y) {
        if (colours == 2) return (x / 3 + y) % 2;
        return 1 + (x / 3 * 7 + y * 5) % (colours - 1);
    });
}

// Where a window's samples fall, beyond matching the model pixel for pixel.
enum Coverage {
    kAllOnChart,        // no sample off the chart
    kPartlyOffChart,    // some samples off the chart, not all
    kAllOffChart,
    kReachesLastColumn, // some samples read chart column W - 1
    kClampedOntoChart,  // some samples the region's edge moved onto the chart
};

void ExpectCoverage(Coverage coverage, const Expected& e) {
    const int samples = static_cast<int>(e.pixels.size());
    switch (coverage) {
    case kAllOnChart: EXPECT_EQ(e.outside, 0); break;
    case kPartlyOffChart:
        EXPECT_GT(e.outside, 0);
        EXPECT_LT(e.outside, samples);
        break;
    case kAllOffChart: EXPECT_EQ(e.outside, samples); break;
    case kReachesLastColumn: EXPECT_GT(e.lastColumn, 0); break;
    case kClampedOntoChart: EXPECT_GT(e.clampedOnChart, 0); break;
    }
}

TEST_F(RotatedWindowTest, EveryPixelIsTheChartPixelUnderItsSample) {
    struct Place {
        const char* name;
        double c, r, width, height;
        Coverage coverage;
    } places[] = {
        {"inside", 25.3, 6.6, 20.0, 15.0, kAllOnChart},
        {"inside, one column further", 26.3, 6.6, 20.0, 15.0, kAllOnChart},
        {"inside, narrow", 30.7, 12.2, 7.2, 9.5, kAllOnChart},
        {"past the south edge", 20.5, 25.4, 18.0, 30.0, kPartlyOffChart},
        {"past the east edge", 45.6, 8.3, 25.0, 20.0, kReachesLastColumn},
        {"past the north-west corner", -3.4, -6.8, 20.0, 16.0, kPartlyOffChart},
        // Corner 0 truncates toward the chart and the edges round up, so that
        // the last samples fall past the region onto its chart pixels.
        {"clamped onto the chart", -2.95, -2.95, 20.55, 16.55, kClampedOntoChart},
        {"wholly east", 80.2, 10.1, 12.0, 10.0, kAllOffChart},
        {"wholly west", -40.2, 10.1, 12.0, 10.0, kAllOffChart},
    };
    struct Kind {
        int compressionType;
        int colours;
    } kinds[] = {{1, 2}, {4, 16}, {7, 128}};
    for (const Kind& kind : kinds) {
        Chart chart = MakeChart(dir_, "c" + std::to_string(kind.compressionType) + ".kap", kFrame30,
                                Colours(kind.colours), kind.compressionType);
        ASSERT_FALSE(chart.bytes.empty());
        for (const Place& p : places) {
            SCOPED_TRACE(std::string(p.name) + ", compression type " +
                         std::to_string(kind.compressionType));
            World r = RectangleAt(kFrame30, p.c, p.r, p.width, p.height);
            ExpectCoverage(p.coverage, Check(chart, r));
        }
    }
    EXPECT_EQ(log_.messages, std::vector<std::string>{});
}

TEST_F(RotatedWindowTest, NorthEdgeFollowsTheSkewFromTheFirstCorner) {
    for (double skew : {30.0, 12.5, 63.0}) {
        SCOPED_TRACE(skew);
        Frame f = {skew, 24.6, 3.7};
        Chart chart = MakeChart(dir_, "edge.kap", f, Colours(128), 7);
        World r = RectangleAt(f, 10.8, 5.3, 30.0, 12.0);
        Geometry g = Locate(chart, r);
        char* block = Window(chart, r);
        ASSERT_NE(block, nullptr);
        Bitmap b = Read(block);
        ASSERT_EQ(b.width, g.w);
        EXPECT_EQ(b.at(0, 0), chart.picture.at(static_cast<int>(g.ipx0), static_cast<int>(g.ipy0)));
        // Row 0 samples at (ipx0 + i·cos θ, ipy0 + i·sin θ), truncated.
        double theta = skew * kRadiansPerDegree;
        for (int i = 0; i < b.width; ++i) {
            int x = static_cast<int>(std::cos(theta) * i + static_cast<double>(g.ipx0));
            int y = static_cast<int>(std::sin(theta) * i + static_cast<double>(g.ipy0));
            ASSERT_LT(x, kWidth);
            ASSERT_LT(y, kHeight);
            EXPECT_EQ(b.at(i, 0), chart.picture.at(x, y)) << "column " << i;
        }
        FreeChartBlock(heap_.get(), block);
    }
}

// A world of stripes: every `band` pixels east the colour's low two bits
// change, every `band` pixels south its high two bits.
chartwriter::Picture Stripes(const Frame& f, int band) {
    return chartwriter::MakePicture(kWidth, kHeight, [&f, band](int c, int r) {
        int east = static_cast<int>(std::floor(f.East(c, r) / band));
        int south = static_cast<int>(std::floor(f.South(c, r) / band));
        return 1 + ((east % 4 + 4) % 4) + 4 * ((south % 3 + 3) % 3);
    });
}

TEST_F(RotatedWindowTest, WorldStripesComeBackAxisParallel) {
    const int band = 9;
    for (double skew : {30.0, 20.0}) {
        SCOPED_TRACE(skew);
        Frame f = {skew, 20.3, 2.2};
        Chart chart = MakeChart(dir_, "stripes.kap", f, Stripes(f, band), 4);
        ASSERT_FALSE(chart.bytes.empty());
        World r = RectangleAt(f, 24.5, 6.5, 21.0, 18.0);
        char* block = Window(chart, r);
        ASSERT_NE(block, nullptr);
        Bitmap b = Read(block);
        // A sample lies within 1.5 pixels of its exact position along each
        // world axis, and so does the window's first corner: away from a
        // stripe's border, a whole bitmap row (column) shows one stripe.
        int uniformRows = 0, uniformColumns = 0;
        for (int j = 0; j < b.height; ++j) {
            double south = -r.top + j;
            if (std::floor((south - 3) / band) != std::floor((south + 3) / band)) continue;
            int want = (static_cast<int>(std::floor(south / band)) % 3 + 3) % 3;
            for (int i = 0; i < b.width; ++i)
                EXPECT_EQ((b.at(i, j) - 1) / 4, want) << "row " << j << " column " << i;
            ++uniformRows;
        }
        for (int i = 0; i < b.width; ++i) {
            double east = r.left + i;
            if (std::floor((east - 3) / band) != std::floor((east + 3) / band)) continue;
            int want = (static_cast<int>(std::floor(east / band)) % 4 + 4) % 4;
            for (int j = 0; j < b.height; ++j)
                EXPECT_EQ((b.at(i, j) - 1) % 4, want) << "row " << j << " column " << i;
            ++uniformColumns;
        }
        EXPECT_GE(uniformRows, 4);
        EXPECT_GE(uniformColumns, 4);
        FreeChartBlock(heap_.get(), block);
    }
}

TEST_F(RotatedWindowTest, FourAndEightBitChartsOfOnePictureAgree) {
    chartwriter::Picture picture = Colours(16);
    Chart four = MakeChart(dir_, "four.kap", kFrame30, picture, 4);
    Chart eight = MakeChart(dir_, "eight.kap", kFrame30, picture, 7);
    for (World r : {RectangleAt(kFrame30, 25.3, 6.6, 20.0, 15.0),
                    RectangleAt(kFrame30, 45.6, 8.3, 25.0, 20.0)}) {
        Geometry g4 = Locate(four, r), g8 = Locate(eight, r);
        char* a = Window(four, r);
        char* b = Window(eight, r);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        Bitmap ba = Read(a), bb = Read(b);
        ASSERT_EQ(ba.width, bb.width);
        ASSERT_EQ(ba.height, bb.height);
        int compared = 0;
        for (int j = 0; j < ba.height; ++j) {
            for (int i = 0; i < ba.width; ++i) {
                int64_t x, y;
                Sample(four, g4, i, j, &x, &y);
                bool clamped = x < g4.x0 || x > g4.x1 || y < g4.y0 || y > g4.y1 || x < g8.x0 ||
                               x > g8.x1 || y < g8.y0 || y > g8.y1;
                if (clamped || x == kWidth - 1) continue;
                EXPECT_EQ(ba.at(i, j), bb.at(i, j)) << "pixel (" << i << ", " << j << ")";
                ++compared;
            }
        }
        EXPECT_GT(compared, ba.width * ba.height / 2);
        FreeChartBlock(heap_.get(), a);
        FreeChartBlock(heap_.get(), b);
    }
}

TEST_F(RotatedWindowTest, WindowsTooLargeToHoldAreRefused) {
    Chart chart = MakeChart(dir_, "big.kap", kFrame30, Colours(16), 4);
    struct Case {
        const char* name;
        World world;
    } cases[] = {
        // A bitmap of 2^36 × 2^36 pixels.
        {"bitmap", RectangleAt(kFrame30, 10.0, 10.0, 68719476736.0, 68719476736.0)},
        // A one-row bitmap of 2^24 pixels, whose rotated region is some
        // 2^24 × 2^23 pixels.
        {"region", RectangleAt(kFrame30, 10.0, 10.0, 16777216.0, 0.0)},
        // Corners past the largest 32-bit pixel position.
        {"saturated corners", {-1e300, 1e300, 1e300, -1e300}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log_.Clear();
        EXPECT_EQ(Window(chart, c.world), nullptr);
        EXPECT_EQ(log_.Snapshot(), std::vector<std::string>{kBmpMessage});
        EXPECT_EQ(heap_.blocks(), 0u);
    }
}

// Infinite corners: the window's edge lengths are not numbers at all.
TEST_F(RotatedWindowTest, InfiniteCornersAreRefused) {
    chartwriter::HeaderOptions options;
    options.width = kWidth;
    options.height = kHeight;
    options.skew = "30.0";
    options.extraLines = {"WPX/1,1e+999,1.0,0.0", "WPY/1,1e+999,0.0,-1.0"};
    auto bytes = chartwriter::BuildChart(chartwriter::MakeHeaderText(options), Colours(16), 4);
    auto wide = testsupport::Utf16Path(dir_.Write("infinite.kap", bytes));
    EXPECT_EQ(GetWindowBmp(wide.data(), heap_.get(), 1.0, 2.0, 3.0, 1.0), nullptr);
    EXPECT_EQ(log_.messages, std::vector<std::string>{kBmpMessage});
    EXPECT_EQ(heap_.blocks(), 0u);
}

// The reads are those the system is asked for (the test links the systemcalls
// target). The chart's header and each of its rows are longer than a block of
// the read cache, so that the cache passes every read of them on to the
// platform unchanged: one system read per row read.
TEST_F(RotatedWindowTest, OnlyTheRegionsRowsAreReadEachOnce) {
    // Runs of two pixels, a byte each at 4 bits per pixel: rows of some
    // width / 2 bytes.
    const int width = 2 * static_cast<int>(bsb::kCacheBlockSize) + 128;
    chartwriter::Picture picture = chartwriter::MakePicture(
        width, kHeight, [](int x, int y) { return 1 + (x / 2 * 7 + y * 5) % 15; });
    Chart chart = MakeChart(dir_, "rows.kap", kFrame30, picture, 4, bsb::kCacheBlockSize);
    struct Place {
        const char* name;
        double c, r, width, height;
    } places[] = {
        {"inside", 25.3, 6.6, 20.0, 15.0},
        {"past the north-west corner", -3.4, -6.8, 20.0, 16.0},
        {"past the south edge", 20.5, 25.4, 18.0, 30.0},
        {"wholly east", width + 19.2, 10.1, 12.0, 10.0},
    };
    uint32_t table = chartwriter::GetBe32(chart.bytes, chart.bytes.size() - 4);
    uint32_t firstRow = chartwriter::GetBe32(chart.bytes, table);
    ASSERT_GE(firstRow, bsb::kCacheBlockSize);
    auto rowRead = [&](int64_t row) {
        uint32_t start = chartwriter::GetBe32(chart.bytes, table + 4 * row);
        uint32_t end = chartwriter::GetBe32(chart.bytes, table + 4 * (row + 1));
        return SystemRead{start, end - start};
    };
    for (int64_t y = 0; y < kHeight; ++y) ASSERT_GE(rowRead(y).count, bsb::kCacheBlockSize) << y;
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        World r = RectangleAt(kFrame30, p.c, p.r, p.width, p.height);
        Geometry g = Locate(chart, r);
        std::vector<SystemRead> expected;
        for (int64_t y = std::max<int64_t>(g.y0, 0); y <= std::min<int64_t>(g.y1, kHeight - 1); ++y)
            expected.push_back(rowRead(y));
        ASSERT_FALSE(expected.empty());
        std::vector<SystemRead> reads;
        RecordSystemReads(&reads);
        char* block = Window(chart, r);
        RecordSystemReads(nullptr);
        ASSERT_NE(block, nullptr);
        FreeChartBlock(heap_.get(), block);
        // The reads of raster bytes alone: not the header's, nor the block
        // at the file's end that holds the index table and the trailer.
        std::vector<SystemRead> rowReads;
        for (const SystemRead& read : reads)
            if (read.offset >= firstRow && read.offset + static_cast<int64_t>(read.count) <= table)
                rowReads.push_back(read);
        ASSERT_EQ(rowReads.size(), expected.size());
        for (size_t k = 0; k < expected.size(); ++k) {
            EXPECT_EQ(rowReads[k].offset, expected[k].offset) << "read " << k;
            EXPECT_EQ(rowReads[k].count, expected[k].count) << "read " << k;
        }
    }
}

}  // namespace
