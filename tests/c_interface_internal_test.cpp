// The C interface against the library's own insides: a window from a handle
// reads each chart row it needs once, several rows to a read (the test counts the system's file
// calls), a chart held exclusively is in use for a handle and the other way
// round, and the conversions are the polynomials' own arithmetic, bit for bit.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "api/world_window.h"
#include "c_interface_support.h"
#include "header/polynomial.h"
#include "header/records.h"
#include "internal_support.h"
#include "row_reads.h"
#include "system_calls.h"

namespace {

using cinterface::Handle;
using cinterface::Open;
using cinterface::PixelWindow;
using cinterface::TestChart;
using cinterface::WorldWindow;
using testsupport::TempDir;

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// ---- Reads ------------------------------------------------------------------

struct ReadCase {
    const char* name;
    int width, height, compressionType;
    bsbchart_rect window;
};

// Narrow rows that share one block of the file, and rows of several
// kilobytes.
const ReadCase kReadCases[] = {
    {"short rows, whole chart", 60, 300, 4, {0, 0, 59, 299}},
    {"short rows, middle band", 60, 300, 4, {10, 100, 40, 180}},
    {"short rows, one row", 60, 300, 1, {0, 77, 59, 77}},
    {"rows of kilobytes", 6000, 40, 7, {100, 3, 5000, 38}},
};

// The rows a call read, in order, and how many reads it took: every read
// takes whole rows and no more bytes than the raster is wide, the size of
// the window's row buffer.
struct RowReads {
    std::vector<int> rows;
    size_t calls = 0;
};

template <typename Call>
RowReads ReadsOf(const TestChart& chart, int width, int height, Call call) {
    std::vector<SystemRead> reads;
    RecordSystemReads(&reads);
    call();
    RecordSystemReads(nullptr);
    for (const SystemRead& read : reads) EXPECT_LE(read.count, static_cast<uint64_t>(width));
    RowReads result;
    result.rows = testsupport::RowsRead(reads, testsupport::RowOffsets(chart.bytes, height));
    result.calls = reads.size();
    return result;
}

std::vector<int> RowsFrom(int64_t first, int64_t last) {
    std::vector<int> rows;
    for (int64_t r = first; r <= last; ++r) rows.push_back(static_cast<int>(r));
    return rows;
}

TEST(CInterfaceReads, PixelWindowReadsEachRowOnce) {
    TempDir dir;
    for (const ReadCase& c : kReadCases) {
        SCOPED_TRACE(c.name);
        TestChart chart = cinterface::WriteChart(dir, "reads.kap", c.compressionType,
                                                 cinterface::Upright(), c.width, c.height);
        Handle handle = Open(chart.path);
        ASSERT_TRUE(handle);
        std::vector<int> rows = RowsFrom(c.window.top, c.window.bottom);
        for (int round = 0; round < 3; ++round) {
            cinterface::Window window;
            RowReads reads = ReadsOf(chart, c.width, c.height, [&] { window = PixelWindow(handle.get(), c.window); });
            ASSERT_EQ(window.status, BSBCHART_OK);
            EXPECT_EQ(reads.rows, rows) << "round " << round;
            // Short rows come several to a read; rows of kilobytes one each.
            if (c.width == 60 && rows.size() > 1) EXPECT_LT(reads.calls, rows.size()) << "round " << round;
        }
    }
}

TEST(CInterfaceReads, WorldWindowsReadEachRowTheyNeedOnce) {
    TempDir dir;
    // Upright: column 8 (x + 0.5), row 8 (10 - y); the window is clamped.
    TestChart upright = cinterface::WriteChart(dir, "upright.kap", 4, cinterface::Upright(), 200, 160);
    Handle handle = Open(upright.path);
    ASSERT_TRUE(handle);
    struct Case {
        cinterface::WorldRect rect;
        int first, last;
    } cases[] = {{{0.0, 9.0, 5.0, 4.0}, 8, 48}, {{-9.0, 30.0, 40.0, -30.0}, 0, 159}, {{1.0, 8.0, 2.0, 8.0}, 16, 16}};
    for (const Case& c : cases) {
        cinterface::Window window;
        RowReads reads = ReadsOf(upright, 200, 160, [&] { window = WorldWindow(handle.get(), c.rect); });
        ASSERT_EQ(window.status, BSBCHART_OK);
        EXPECT_EQ(reads.rows, RowsFrom(c.first, c.last));
    }

    // Skewed: the rows of the region under the corners, widened by a row
    // each way, as far as the chart has them.
    TestChart skewed = cinterface::WriteChart(dir, "skewed.kap", 7, cinterface::Skewed(30.0), 200, 160);
    handle = Open(skewed.path);
    ASSERT_TRUE(handle);
    const cinterface::WorldRect rects[] = {
        {0.0, -5.0, 60.0, -50.0}, {-5.0, 0.0, 5.0, -8.0}, {-300.0, 300.0, 300.0, -300.0}};
    for (const cinterface::WorldRect& r : rects) {
        const double xs[4] = {r.west, r.east, r.east, r.west}, ys[4] = {r.north, r.north, r.south, r.south};
        double top = 1e300, bottom = -1e300;
        for (int k = 0; k < 4; ++k) {
            double column, row;
            ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), xs[k], ys[k], &column, &row, nullptr),
                      BSBCHART_OK);
            top = std::min(top, row);
            bottom = std::max(bottom, row);
        }
        int64_t first = std::max<int64_t>(0, static_cast<int64_t>(top) - 1);
        int64_t last = std::min<int64_t>(159, static_cast<int64_t>(bottom) + 1);
        cinterface::Window window;
        RowReads reads = ReadsOf(skewed, 200, 160, [&] { window = WorldWindow(handle.get(), r); });
        ASSERT_EQ(window.status, BSBCHART_OK);
        EXPECT_EQ(reads.rows, RowsFrom(first, last));
    }
}

// ---- Sharing with the exclusive open ---------------------------------------

TEST(CInterfaceSharing, ExclusiveOpenAndHandlesExcludeEachOther) {
    TempDir dir;
    TestChart chart = cinterface::WriteChart(dir, "held.kap", 4, cinterface::Upright());
    {
        testsupport::OpenedChart held(chart.path);
        ASSERT_TRUE(held.open);
        bsbchart* handle = nullptr;
        bsbchart_error error;
        EXPECT_EQ(bsbchart_open(chart.path.c_str(), nullptr, &handle, &error), BSBCHART_E_IN_USE);
        EXPECT_EQ(handle, nullptr);
        EXPECT_EQ(error.status, BSBCHART_E_IN_USE);
#if defined(_WIN32)
        EXPECT_EQ(error.system_error, 32);  // ERROR_SHARING_VIOLATION
#else
        EXPECT_EQ(error.system_error, EWOULDBLOCK);
#endif
        char text[300];
        bsbchart_error_text(&error, chart.path.c_str(), text, sizeof text);
        EXPECT_EQ(std::string(text), "chart in use: " + chart.path);
        auto wide = testsupport::Utf16Path(chart.path);
        EXPECT_EQ(bsbchart_open_utf16(reinterpret_cast<const uint16_t*>(wide.data()), nullptr, &handle,
                                      nullptr),
                  BSBCHART_E_IN_USE);
    }
    Handle handle = Open(chart.path);
    ASSERT_TRUE(handle);
    EXPECT_FALSE(testsupport::ChartOpensAgain(chart.path));
    Handle second = Open(chart.path);
    EXPECT_TRUE(second);
    handle.reset();
    EXPECT_FALSE(testsupport::ChartOpensAgain(chart.path));
    second.reset();
    EXPECT_TRUE(testsupport::ChartOpensAgain(chart.path));
}

// ---- Conversions ------------------------------------------------------------

// Coefficients that need every bit, for every order the records have.
std::string PolynomialLine(const char* key, int order, std::mt19937_64& random) {
    static const int kCounts[6] = {0, 3, 6, 10, 11, 12};
    std::uniform_real_distribution<double> value(-2.0, 2.0);
    std::string line = std::string(key) + std::to_string(order);
    for (int i = 0; i < kCounts[order]; ++i) {
        double scale = i == 0 ? 50.0 : i < 3 ? 1.0 : i < 6 ? 1e-3 : 1e-6;
        line += "," + cinterface::Decimal(value(random) * scale);
    }
    return line;
}

TEST(CInterfacePositions, ConversionsAreThePolynomialsBitForBit) {
    TempDir dir;
    std::mt19937_64 random(12);
    std::uniform_real_distribution<double> position(-10.0, 60.0);
    int n = 0;
    for (int order = 1; order <= 5; ++order) {
        for (const char* cph : {"0.0", "-0.731", "180.125"}) {
            SCOPED_TRACE("order " + std::to_string(order) + ", CPH " + cph);
            chartwriter::HeaderOptions options = cinterface::Options(45, 23, cinterface::Upright());
            options.cph = cph;
            options.extraLines = {PolynomialLine("PWX/", order, random), PolynomialLine("PWY/", order, random),
                                  PolynomialLine("WPX/", order, random), PolynomialLine("WPY/", order, random)};
            std::string header = chartwriter::MakeHeaderText(options);
            chartwriter::Picture picture = cinterface::RunPicture(45, 23, 7, 5);
            std::string path =
                dir.Write("poly" + std::to_string(n++) + ".kap", chartwriter::BuildChart(header, picture, 7));
            Handle handle = Open(path);
            ASSERT_TRUE(handle);

            bsb::HeaderText text = {header.c_str(), static_cast<uint32_t>(header.size())};
            bsb::ChartPolynomial pwx{}, pwy{}, wpx{}, wpy{};
            double cphValue = 0.0;
            ASSERT_TRUE(bsb::ParsePolynomial(text, "PWX/", &pwx, testsupport::Shown()));
            ASSERT_TRUE(bsb::ParsePolynomial(text, "PWY/", &pwy, testsupport::Shown()));
            ASSERT_TRUE(bsb::ParsePolynomial(text, "WPX/", &wpx, testsupport::Shown()));
            ASSERT_TRUE(bsb::ParsePolynomial(text, "WPY/", &wpy, testsupport::Shown()));
            ASSERT_TRUE(bsb::ParseCph(text, &cphValue, testsupport::Shown()));
            for (int i = 0; i < 50; ++i) {
                double a = position(random), b = position(random);
                double x, y, column, row;
                ASSERT_EQ(bsbchart_pixel_to_world(handle.get(), a, b, &x, &y, nullptr), BSBCHART_OK);
                EXPECT_TRUE(SameBits(x, bsb::EvaluatePolynomial(pwx.order, pwx.coefficients, a, b) - cphValue));
                EXPECT_TRUE(SameBits(y, bsb::EvaluatePolynomial(pwy.order, pwy.coefficients, a, b)));
                ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), a, b, &column, &row, nullptr), BSBCHART_OK);
                EXPECT_TRUE(
                    SameBits(column, bsb::EvaluatePolynomial(wpx.order, wpx.coefficients, a + cphValue, b)));
                EXPECT_TRUE(SameBits(row, bsb::EvaluatePolynomial(wpy.order, wpy.coefficients, a + cphValue, b)));
            }
            // The corners a world window locates are world_to_pixel's.
            for (int i = 0; i < 20; ++i) {
                double west = position(random), north = position(random);
                double east = west + 3.0, south = north - 2.0;
                bsb::PixelCorners corners;
                ASSERT_TRUE(bsb::LocateCorners(text, bsb::RequestOf(west, north, east, south), cphValue,
                                               &corners, testsupport::Shown()));
                const double xs[4] = {west, east, east, west}, ys[4] = {north, north, south, south};
                for (int k = 0; k < 4; ++k) {
                    double column, row;
                    ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), xs[k], ys[k], &column, &row, nullptr),
                              BSBCHART_OK);
                    EXPECT_TRUE(SameBits(column, corners.px[k]) && SameBits(row, corners.py[k])) << k;
                }
            }
        }
    }
}

}  // namespace
