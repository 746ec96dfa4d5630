// Reduced windows and palettes of the C interface, called as a host calls
// them through the shared library.
//
// A reduced window is checked against what the library already cuts at full
// size: the pixel window of the whole chart, or the world window of the same
// rectangle, sampled or averaged here in the test. Beside the pixels: the
// rows each call reads, the memory it holds beyond its result, and that
// every failure (a heap too small, a file cut short, a palette the chart
// lacks) is a status with nothing left allocated.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#if defined(__linux__)
#include <dlfcn.h>
#include <sys/types.h>
#include <unistd.h>
#endif

#include "bsbchart.h"
#include "bsbchart_c.h"
#include "bsbchart_host.h"
#include "chart_reference.h"
#include "chart_writer.h"
#include "row_reads.h"
#include "test_support.h"

// ---- Row reads -----------------------------------------------------------
//
// The library reads a handle's rows with pread64, one or more a call. The
// system call counter of tests/support wraps the calls of objects linked
// into a test; this test links the shared library, whose calls bind at run
// time, so on Linux the executable interposes pread64 itself and records
// each call's offset and length while a test asks for it.
struct FileRead {
    int64_t offset;
    uint64_t count;
};
static std::vector<FileRead>* g_fileReads = nullptr;

#if defined(__linux__)
#define BSBCHART_TEST_COUNTS_READS 1
extern "C" ssize_t pread64(int fd, void* buffer, size_t count, off64_t offset) {
    using Pread = ssize_t (*)(int, void*, size_t, off64_t);
    static Pread real = reinterpret_cast<Pread>(dlsym(RTLD_NEXT, "pread64"));
    if (g_fileReads) g_fileReads->push_back({static_cast<int64_t>(offset), count});
    return real(fd, buffer, count, offset);
}
#else
#define BSBCHART_TEST_COUNTS_READS 0
#endif

namespace {

using Bytes = std::vector<uint8_t>;
using chartwriter::Picture;
using Records = std::vector<std::array<int, 4>>;
using testsupport::BitsPerPixel;
using testsupport::HostHeap;
using testsupport::kRadiansPerDegree;
using testsupport::TempDir;

// ---- Charts ----------------------------------------------------------------

// Runs of 3 to 9 pixels in random colours of the type's range: every row's
// encoding fits in the raster width.
Picture RunPicture(int width, int height, int type, uint32_t seed) {
    std::mt19937 random(seed);
    Picture picture = chartwriter::MakePicture(width, height, [](int, int) { return 0; });
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width;) {
            uint8_t colour = static_cast<uint8_t>(random() % (1u << type));
            int end = std::min(width, x + 3 + static_cast<int>(random() % 7));
            for (; x < end; ++x) picture.set(x, y, colour);
        }
    return picture;
}

// Records for every index of the type but a few, in colours all over 0 … 255.
Records RandomRecords(int type, uint32_t seed) {
    std::mt19937 random(seed);
    Records records;
    for (int index = 0; index < (1 << type); ++index)
        if (index % 7 != 5)
            records.push_back({index, static_cast<int>(random() % 256),
                               static_cast<int>(random() % 256), static_cast<int>(random() % 256)});
    return records;
}

std::vector<std::string> Lines(const char* key, const Records& records) {
    std::vector<std::string> lines;
    for (const auto& r : records)
        lines.push_back(std::string(key) + std::to_string(r[0]) + "," + std::to_string(r[1]) + "," +
                        std::to_string(r[2]) + "," + std::to_string(r[3]));
    return lines;
}

struct TestChart {
    std::string path;
    Picture picture;
    int type = 0;
    Bytes bytes;
    std::string header;
};

chartwriter::HeaderOptions Options(const Picture& picture, int type) {
    chartwriter::HeaderOptions options;
    options.width = picture.width;
    options.height = picture.height;
    options.rgb = RandomRecords(type, 1000u + static_cast<uint32_t>(type));
    return options;
}

TestChart WriteChart(const TempDir& dir, const std::string& name, const Picture& picture, int type,
                     const chartwriter::HeaderOptions& options) {
    TestChart chart;
    chart.picture = picture;
    chart.type = type;
    chart.header = chartwriter::MakeHeaderText(options);
    chart.bytes = chartwriter::BuildChart(chart.header, picture, type);
    EXPECT_FALSE(chart.bytes.empty()) << name;
    chart.path = dir.Write(name, chart.bytes);
    return chart;
}

TestChart WriteChart(const TempDir& dir, const std::string& name, const Picture& picture, int type) {
    return WriteChart(dir, name, picture, type, Options(picture, type));
}

// An open handle, closed at the end.
class Handle {
public:
    explicit Handle(const std::string& path) {
        bsbchart_error error{};
        EXPECT_EQ(bsbchart_open(path.c_str(), nullptr, &chart_, &error), BSBCHART_OK) << path;
    }
    ~Handle() { bsbchart_close(chart_); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    const bsbchart* get() const { return chart_; }

private:
    bsbchart* chart_ = nullptr;
};

// ---- Bitmaps ---------------------------------------------------------------

uint32_t Le32At(const Bytes& b, size_t at) { return testsupport::Le32(reinterpret_cast<const char*>(&b[at])); }

void PutLe32(Bytes& b, size_t at, uint32_t value) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(value >> (8 * k));
}

uint32_t Stride(int bpp, uint32_t width) { return (static_cast<uint32_t>(bpp) * width + 31) / 32 * 4; }
uint32_t TableBytes(int bpp) { return bpp == 24 ? 0 : 4u << bpp; }

// What a call returned: its status and specifics, and a copy of the bitmap
// block, which has gone back to its allocator.
struct Outcome {
    bsbchart_status status = BSBCHART_OK;
    bsbchart_error error{};
    bool gotBitmap = false;
    Bytes bitmap;

    int32_t width() const { return static_cast<int32_t>(Le32At(bitmap, 4)); }
    int32_t height() const { return -static_cast<int32_t>(Le32At(bitmap, 8)); }
    int bpp() const { return bitmap[14]; }
    uint32_t stride() const { return Stride(bpp(), static_cast<uint32_t>(width())); }
    const uint8_t* table() const { return &bitmap[40]; }
    const uint8_t* row(int y) const {
        return &bitmap[40 + TableBytes(bpp()) + static_cast<size_t>(y) * stride()];
    }
    uint32_t index(int x, int y) const {
        int b = bpp();
        uint32_t bit = static_cast<uint32_t>(x) * b;
        return (row(y)[bit / 8] >> (8 - b - bit % 8)) & ((1u << b) - 1);
    }
};

using Call = std::function<bsbchart_status(const bsbchart_allocator*, void**, bsbchart_error*)>;

// Runs the call with `allocator` (NULL: the library's own) and takes its
// bitmap. The block's size comes from its header, which must agree with it.
Outcome Take(const Call& call, const bsbchart_allocator* allocator = nullptr) {
    Outcome outcome;
    void* bitmap = reinterpret_cast<void*>(1);
    outcome.error.status = -1;
    outcome.status = call(allocator, &bitmap, &outcome.error);
    EXPECT_EQ(outcome.error.status, outcome.status);
    if (outcome.status != BSBCHART_OK) {
        EXPECT_EQ(bitmap, nullptr) << "status " << outcome.status;
        return outcome;
    }
    EXPECT_NE(bitmap, nullptr);
    if (!bitmap) return outcome;
    outcome.gotBitmap = true;
    const char* block = static_cast<const char*>(bitmap);
    uint32_t width = testsupport::Le32(block + 4);
    uint32_t height = 0u - testsupport::Le32(block + 8);
    int bpp = testsupport::Le16(block + 14);
    size_t size = 40 + TableBytes(bpp) + static_cast<size_t>(height) * Stride(bpp, width);
    EXPECT_EQ(testsupport::Le32(block + 20), static_cast<uint32_t>(size - 40 - TableBytes(bpp)));
    outcome.bitmap.assign(block, block + size);
    if (allocator) allocator->release(allocator->context, bitmap);
    else bsbchart_free(bitmap);
    return outcome;
}

Call PixelWindow(const bsbchart* chart, bsbchart_rect rect, int32_t palette = 0, uint32_t flags = 0) {
    return [=](const bsbchart_allocator* a, void** b, bsbchart_error* e) {
        return bsbchart_pixel_window(chart, rect, palette, flags, a, b, e);
    };
}

Call WorldWindow(const bsbchart* chart, const std::array<double, 4>& world, int32_t palette = 0,
                 uint32_t flags = 0) {
    return [=](const bsbchart_allocator* a, void** b, bsbchart_error* e) {
        return bsbchart_world_window(chart, world[0], world[1], world[2], world[3], palette, flags, a,
                                     b, e);
    };
}

Call Reduced(const bsbchart* chart, bsbchart_rect rect, uint32_t w, uint32_t h, int32_t palette = 0,
             uint32_t flags = 0) {
    return [=](const bsbchart_allocator* a, void** b, bsbchart_error* e) {
        return bsbchart_reduced_window(chart, rect, w, h, palette, flags, a, b, e);
    };
}

Call ReducedWorld(const bsbchart* chart, const std::array<double, 4>& world, uint32_t w, uint32_t h,
                  int32_t palette = 0, uint32_t flags = 0) {
    return [=](const bsbchart_allocator* a, void** b, bsbchart_error* e) {
        return bsbchart_reduced_world_window(chart, world[0], world[1], world[2], world[3], w, h,
                                             palette, flags, a, b, e);
    };
}

// A blank bitmap block of w × h at bpp whose header is the full-size
// window's with the size changed, its colour table the full window's.
Bytes BlankLike(const Outcome& full, uint32_t w, uint32_t h, int bpp) {
    Bytes out(40 + TableBytes(bpp) + static_cast<size_t>(h) * Stride(bpp, w), 0);
    std::copy(full.bitmap.begin(), full.bitmap.begin() + 40, out.begin());
    PutLe32(out, 4, w);
    PutLe32(out, 8, 0u - h);
    out[14] = static_cast<uint8_t>(bpp);
    out[15] = 0;
    PutLe32(out, 20, h * Stride(bpp, w));
    if (bpp != 24) std::copy(full.table(), full.table() + TableBytes(bpp), out.begin() + 40);
    return out;
}

void PutIndex(Bytes& block, int bpp, uint32_t w, uint32_t i, uint32_t j, uint32_t value) {
    size_t at = 40 + TableBytes(bpp) + static_cast<size_t>(j) * Stride(bpp, w);
    uint32_t bit = i * bpp;
    block[at + bit / 8] |= static_cast<uint8_t>(value << (8 - bpp - bit % 8));
}

void PutColour(Bytes& block, uint32_t w, uint32_t i, uint32_t j, const uint8_t* bgr) {
    size_t at = 40 + static_cast<size_t>(j) * Stride(24, w) + 3 * i;
    std::copy(bgr, bgr + 3, block.begin() + at);
}

// Names the first byte where the bitmap differs from the expected one.
::testing::AssertionResult SameBitmap(const Bytes& expected, const Outcome& actual) {
    if (!actual.gotBitmap) return ::testing::AssertionFailure() << "no bitmap, status " << actual.status;
    if (actual.bitmap.size() != expected.size())
        return ::testing::AssertionFailure() << "block of " << actual.bitmap.size() << " bytes, expected "
                                             << expected.size() << " (" << actual.width() << " x "
                                             << actual.height() << " at " << actual.bpp() << ")";
    int bpp = expected[14];
    uint32_t stride = Stride(bpp, Le32At(expected, 4));
    size_t rows = 40 + TableBytes(bpp);
    for (size_t at = 0; at < expected.size(); ++at) {
        if (actual.bitmap[at] == expected[at]) continue;
        auto failure = ::testing::AssertionFailure();
        if (at < 40) failure << "header byte " << at;
        else if (at < rows) failure << "colour table byte " << at - 40;
        else failure << "row " << (at - rows) / stride << ", byte " << (at - rows) % stride;
        return failure << " is " << int(actual.bitmap[at]) << ", expected " << int(expected[at]);
    }
    return ::testing::AssertionSuccess();
}

// The chart pixel at (x, y) as the whole chart's full-size window shows it.
// A full window copies whole bytes of each row, so the columns past the last
// whole byte (at 1 bit, or at 4 bits with an odd width) are read from the
// picture the chart was written from.
uint32_t ChartPixel(const Outcome& full, const Picture& picture, int x, int y) {
    int bpp = full.bpp();
    int copied = picture.width * bpp / 8 * (8 / bpp);
    return x < copied ? full.index(x, y) : picture.at(x, y);
}

uint32_t Nearest(uint32_t i, uint32_t source, uint32_t out) {
    return static_cast<uint32_t>((2 * uint64_t{i} + 1) * source / (2 * uint64_t{out}));
}

uint32_t BoxStart(uint32_t i, uint32_t source, uint32_t out) {
    return static_cast<uint32_t>(uint64_t{i} * source / out);
}

// The nearest-sample reduction of `source` to w × h, from the whole chart's
// full-size window.
Bytes ExpectedNearest(const Outcome& full, const Picture& picture, bsbchart_rect s, uint32_t w,
                      uint32_t h) {
    int bpp = full.bpp();
    uint32_t sw = s.right - s.left + 1, sh = s.bottom - s.top + 1;
    Bytes out = BlankLike(full, w, h, bpp);
    for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i)
            PutIndex(out, bpp, w, i, j,
                     ChartPixel(full, picture, s.left + Nearest(i, sw, w), s.top + Nearest(j, sh, h)));
    return out;
}

// The area average of `source` to w × h, pixel by pixel, with the colours of
// the full window's table.
Bytes ExpectedAverage(const Outcome& full, const Picture& picture, bsbchart_rect s, uint32_t w,
                      uint32_t h) {
    uint32_t sw = s.right - s.left + 1, sh = s.bottom - s.top + 1;
    Bytes out = BlankLike(full, w, h, 24);
    for (uint32_t j = 0; j < h; ++j)
        for (uint32_t i = 0; i < w; ++i) {
            uint64_t sum[3] = {0, 0, 0}, n = 0;
            for (uint32_t y = BoxStart(j, sh, h); y < BoxStart(j + 1, sh, h); ++y)
                for (uint32_t x = BoxStart(i, sw, w); x < BoxStart(i + 1, sw, w); ++x, ++n) {
                    uint32_t index = ChartPixel(full, picture, s.left + x, s.top + y);
                    for (int c = 0; c < 3; ++c) sum[c] += full.table()[4 * index + c];
                }
            uint8_t bgr[3];
            for (int c = 0; c < 3; ++c) bgr[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
            PutColour(out, w, i, j, bgr);
        }
    return out;
}

std::string Describe(bsbchart_rect r, uint32_t w, uint32_t h) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " + std::to_string(r.right) +
           ", " + std::to_string(r.bottom) + ") to " + std::to_string(w) + " x " + std::to_string(h);
}

struct Size {
    uint32_t w, h;
};

// Output sizes for a source of sw × sh: reductions, the source's own size,
// odd ratios and enlargements up to 8 times.
std::vector<Size> SizesFor(uint32_t sw, uint32_t sh, bool average) {
    std::vector<Size> sizes = {{1, 1}, {sw, sh}, {std::max(1u, sw / 3), std::max(1u, sh / 2)},
                               {std::max(1u, sw - 1), sh}, {sw, std::max(1u, sh * 2 / 3 + 1)},
                               {std::max(1u, (sw + 1) / 2), 1}};
    if (!average) {
        sizes.push_back({2 * sw + 1, sh});
        sizes.push_back({3, 8 * sh});
        sizes.push_back({8 * sw, 8 * sh});
        sizes.push_back({5 * sw - 2, std::max(1u, sh / 4)});
    }
    return sizes;
}

// ---- Nearest sample --------------------------------------------------------

TEST(ReducedWindow, NearestSampleIsTheFullWindowAtTheStatedPositions) {
    TempDir dir;
    for (int type = 1; type <= 7; ++type) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        // Odd widths at every type; 45 leaves 5 columns of a 1-bit row and
        // one of a 4-bit row past the full window's whole bytes.
        Picture picture = RunPicture(45 - 2 * (type % 2 == 0), 29 + type, type, 7u * type);
        chartwriter::HeaderOptions options = Options(picture, type);
        options.extraLines = Lines("NGT/", RandomRecords(type, 99));
        TestChart chart = WriteChart(dir, "nearest" + std::to_string(type) + ".kap", picture, type, options);
        Handle handle(chart.path);
        const bsbchart* h = handle.get();
        const bsbchart_rect whole = {0, 0, picture.width - 1, picture.height - 1};
        // Palette and flags only choose the colour table, which is the full
        // window's for the same choice.
        const int32_t palette = type % 2 ? BSBCHART_PALETTE_RGB : BSBCHART_PALETTE_NIGHT;
        const uint32_t flags = type % 3 == 0 ? BSBCHART_DOUBLED_COLOURS : 0;
        Outcome full = Take(PixelWindow(h, whole, palette, flags));
        ASSERT_TRUE(full.gotBitmap);
        ASSERT_EQ(full.bpp(), BitsPerPixel(type));
        for (int y = 0; y < picture.height; ++y)
            for (int x = 0; x < picture.width * full.bpp() / 8 * (8 / full.bpp()); ++x)
                ASSERT_EQ(full.index(x, y), picture.at(x, y)) << "full window at " << x << ", " << y;

        const bsbchart_rect sources[] = {whole,
                                         {3, 1, picture.width - 5, picture.height - 2},
                                         {7, 4, 7, picture.height - 1},
                                         {picture.width - 3, 0, picture.width - 1, 0}};
        for (const bsbchart_rect& s : sources) {
            uint32_t sw = s.right - s.left + 1, sh = s.bottom - s.top + 1;
            for (const Size& size : SizesFor(sw, sh, false)) {
                SCOPED_TRACE(Describe(s, size.w, size.h));
                Outcome reduced = Take(Reduced(h, s, size.w, size.h, palette, flags));
                EXPECT_TRUE(SameBitmap(ExpectedNearest(full, picture, s, size.w, size.h), reduced));
            }
        }
    }
}

// A row that decodes up to 19 pixels short keeps, past its end, the pixels
// of the row decoded before it: in a full window, the chart row above. A
// reduced window shows there what the full window shows. Disabled: a
// nearest-sample window decodes only the rows it samples, so past a short
// row's end it shows the row sampled before (or 0 for its first row).
// Where a row decodes short, the full window shows the row above it past its
// end. A nearest-sample window shows the same when it sampled the row above
// too; when it skipped rows, the tail is index 0, as before a window's first
// row, never what an earlier sampled row left.
TEST(ReducedWindow, RowsThatDecodeShortShowTheRowAboveOnlyWhenItWasSampled) {
    TempDir dir;
    const int type = 4, width = 41, height = 24, shortBy = 9;
    Picture picture = RunPicture(width, height, type, 5);
    chartwriter::HeaderOptions options = Options(picture, type);
    std::vector<Bytes> rows;
    for (int y = 0; y < height; ++y) {
        // Every third row stops 9 pixels short of the width.
        int decoded = y % 3 == 2 ? width - shortBy : width;
        rows.push_back(chartwriter::EncodeRow(picture.row(y), decoded, static_cast<uint32_t>(y + 1), type));
    }
    Bytes bytes = chartwriter::AssembleChart(
        chartwriter::MakeHeaderBlock(chartwriter::MakeHeaderText(options), type), rows);
    std::string path = dir.Write("short.kap", bytes);
    Handle handle(path);
    const bsbchart_rect whole = {0, 0, width - 1, height - 1};
    Outcome full = Take(PixelWindow(handle.get(), whole));
    ASSERT_TRUE(full.gotBitmap);
    // Every column of the full window but the last (odd width) is copied;
    // the reduced windows keep to those, at full width.
    const bsbchart_rect copied = {0, 0, width - 2, height - 1};
    for (uint32_t h : {48u, 24u, 8u, 5u, 3u}) {
        SCOPED_TRACE(Describe(copied, width - 1, h));
        Outcome reduced = Take(Reduced(handle.get(), copied, width - 1, h));
        Bytes expected = BlankLike(full, width - 1, h, 4);
        int64_t previous = -2;
        for (uint32_t j = 0; j < h; ++j) {
            int y = static_cast<int>(Nearest(j, height, h));
            bool skipped = y != previous && y != previous + 1;
            for (uint32_t i = 0; i < width - 1u; ++i) {
                bool tail = y % 3 == 2 && static_cast<int>(i) >= width - shortBy;
                PutIndex(expected, 4, width - 1, i, j,
                         tail && skipped ? 0 : full.index(static_cast<int>(i), y));
            }
            previous = y;
        }
        EXPECT_TRUE(SameBitmap(expected, reduced));
    }
}

struct LimitCase {
    const char* name;
    bsbchart_rect source;
    uint32_t w, h;
    uint32_t flags;
    bsbchart_status status;
};

TEST(ReducedWindow, SizesRectanglesAndFlagsOutsideTheLimitsAreRefused) {
    TempDir dir;
    Picture picture = RunPicture(30, 20, 4, 3);
    TestChart chart = WriteChart(dir, "limits.kap", picture, 4);
    Handle handle(chart.path);
    const uint32_t kAverage = BSBCHART_AREA_AVERAGE;
    const bsbchart_rect inner = {2, 3, 11, 7};  // 10 x 5
    const LimitCase cases[] = {
        {"nearest, 8 times wider", inner, 80, 5, 0, BSBCHART_OK},
        {"nearest, 8 times higher", inner, 10, 40, 0, BSBCHART_OK},
        {"nearest, wider than 8 times", inner, 81, 5, 0, BSBCHART_E_ARGUMENT},
        {"nearest, higher than 8 times", inner, 10, 41, 0, BSBCHART_E_ARGUMENT},
        {"nearest, no width", inner, 0, 5, 0, BSBCHART_E_ARGUMENT},
        {"nearest, no height", inner, 10, 0, 0, BSBCHART_E_ARGUMENT},
        {"nearest, the largest size", inner, UINT32_MAX, UINT32_MAX, 0, BSBCHART_E_ARGUMENT},
        {"average, the source's size", inner, 10, 5, kAverage, BSBCHART_OK},
        {"average, one pixel", inner, 1, 1, kAverage, BSBCHART_OK},
        {"average, wider than the source", inner, 11, 5, kAverage, BSBCHART_E_ARGUMENT},
        {"average, higher than the source", inner, 10, 6, kAverage, BSBCHART_E_ARGUMENT},
        {"average, no width", inner, 0, 1, kAverage, BSBCHART_E_ARGUMENT},
        {"average, no height", inner, 1, 0, kAverage, BSBCHART_E_ARGUMENT},
        {"an unknown flag", inner, 5, 5, 4, BSBCHART_E_ARGUMENT},
        {"every flag", inner, 5, 5, ~0u, BSBCHART_E_ARGUMENT},
        {"inverted columns", {5, 3, 4, 7}, 1, 1, 0, BSBCHART_E_ARGUMENT},
        {"inverted rows", {2, 7, 11, 6}, 1, 1, kAverage, BSBCHART_E_ARGUMENT},
        {"one column past the east edge", {20, 0, 30, 5}, 2, 2, 0, BSBCHART_E_OUTSIDE},
        {"one row past the south edge", {0, 15, 5, 20}, 2, 2, kAverage, BSBCHART_E_OUTSIDE},
        {"a negative left column", {-1, 0, 5, 5}, 2, 2, 0, BSBCHART_E_OUTSIDE},
        {"a negative top row", {0, -1, 5, 5}, 2, 2, 0, BSBCHART_E_OUTSIDE},
        {"wholly outside", {100, 100, 200, 200}, 2, 2, 0, BSBCHART_E_OUTSIDE},
        {"the whole chart, 8 times", {0, 0, 29, 19}, 240, 160, 0, BSBCHART_OK},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome outcome = Take(Reduced(handle.get(), c.source, c.w, c.h, 0, c.flags));
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.error.row, -1);
        EXPECT_STREQ(outcome.error.record, "");
        if (outcome.gotBitmap) {
            EXPECT_EQ(outcome.width(), static_cast<int32_t>(c.w));
            EXPECT_EQ(outcome.height(), static_cast<int32_t>(c.h));
            EXPECT_EQ(outcome.bpp(), c.flags & kAverage ? 24 : 4);
        }
    }

    // Arguments the calls refuse before anything else.
    bsbchart_error error{};
    void* bitmap = reinterpret_cast<void*>(1);
    const bsbchart_allocator halfAllocator = {nullptr, +[](void*, void*) {}, nullptr};
    EXPECT_EQ(bsbchart_reduced_window(nullptr, inner, 2, 2, 0, 0, nullptr, &bitmap, &error),
              BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bitmap, nullptr);
    EXPECT_EQ(bsbchart_reduced_window(handle.get(), inner, 2, 2, 0, 0, nullptr, nullptr, &error),
              BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_reduced_window(handle.get(), inner, 2, 2, 0, 0, &halfAllocator, &bitmap, &error),
              BSBCHART_E_ARGUMENT);
    for (int32_t palette : {int32_t{-1}, int32_t{BSBCHART_PALETTE_COUNT}, INT32_MAX}) {
        EXPECT_EQ(bsbchart_reduced_window(handle.get(), inner, 2, 2, palette, 0, nullptr, &bitmap, &error),
                  BSBCHART_E_ARGUMENT);
        EXPECT_EQ(bsbchart_reduced_world_window(handle.get(), 0, 1, 1, 0, 2, 2, palette, 0, nullptr,
                                                &bitmap, &error),
                  BSBCHART_E_ARGUMENT);
    }
    const double kNaN = std::nan("");
    const std::array<double, 4> disordered[] = {
        {5, 1, 4, 0}, {0, 0, 1, 1}, {kNaN, 1, 1, 0}, {0, kNaN, 1, 0}, {0, 1, kNaN, 0}, {0, 1, 1, kNaN}};
    for (const auto& world : disordered) {
        Outcome outcome = Take(ReducedWorld(handle.get(), world, 2, 2));
        EXPECT_EQ(outcome.status, BSBCHART_E_ARGUMENT);
    }
    Outcome flagged = Take(ReducedWorld(handle.get(), {0, 1, 1, 0}, 2, 2, 0, 8));
    EXPECT_EQ(flagged.status, BSBCHART_E_ARGUMENT);
}

// ---- Area average ----------------------------------------------------------

struct PaletteChoice {
    int32_t palette;
    uint32_t flags;
};

TEST(ReducedWindow, AreaAverageIsTheMeanColourOfEachBox) {
    TempDir dir;
    const PaletteChoice choices[] = {{BSBCHART_PALETTE_RGB, 0},
                                     {BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS},
                                     {BSBCHART_PALETTE_NIGHT, 0},
                                     {BSBCHART_PALETTE_DUSK, BSBCHART_DOUBLED_COLOURS}};
    for (int type = 1; type <= 7; ++type) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        Picture picture = RunPicture(37 + 2 * (type % 3), 23 + type, type, 31u * type);
        chartwriter::HeaderOptions options = Options(picture, type);
        std::vector<std::string> night = Lines("NGT/", RandomRecords(type, 77u + type));
        std::vector<std::string> dusk = Lines("DSK/", RandomRecords(type, 88u + type));
        options.extraLines = night;
        options.extraLines.insert(options.extraLines.end(), dusk.begin(), dusk.end());
        TestChart chart = WriteChart(dir, "average" + std::to_string(type) + ".kap", picture, type, options);
        Handle handle(chart.path);
        const bsbchart_rect whole = {0, 0, picture.width - 1, picture.height - 1};
        const bsbchart_rect sources[] = {whole, {5, 2, picture.width - 1, picture.height - 4},
                                         {1, 0, 1, picture.height - 1}};
        for (const PaletteChoice& choice : choices) {
            SCOPED_TRACE("palette " + std::to_string(choice.palette) + ", flags " +
                         std::to_string(choice.flags));
            Outcome full = Take(PixelWindow(handle.get(), whole, choice.palette, choice.flags));
            ASSERT_TRUE(full.gotBitmap);
            for (const bsbchart_rect& s : sources) {
                uint32_t sw = s.right - s.left + 1, sh = s.bottom - s.top + 1;
                for (const Size& size : SizesFor(sw, sh, true)) {
                    SCOPED_TRACE(Describe(s, size.w, size.h));
                    Outcome average = Take(Reduced(handle.get(), s, size.w, size.h, choice.palette,
                                                  choice.flags | BSBCHART_AREA_AVERAGE));
                    EXPECT_TRUE(SameBitmap(ExpectedAverage(full, picture, s, size.w, size.h), average));
                }
            }
        }
    }
}

// Colours that round both ways: two pixels of 0 and 255 average to 128
// (127.5 rounds up), three of 0, 0 and 1 to 0, three of 0, 1, 1 to 1.
TEST(ReducedWindow, AreaAverageRoundsToNearest) {
    TempDir dir;
    const Records rgb = {{0, 0, 0, 0}, {1, 255, 1, 2}, {2, 1, 0, 1}};
    // Row 0 begins 0 1 | 0 0 2 | 0 2 2; the rest is 0. (Rows wide enough
    // for their runs' bytes.)
    Picture picture = chartwriter::MakePicture(24, 2, [](int x, int y) {
        const uint8_t row0[8] = {0, 1, 0, 0, 2, 0, 2, 2};
        return y == 0 && x < 8 ? row0[x] : uint8_t{0};
    });
    chartwriter::HeaderOptions options = Options(picture, 4);
    options.rgb = rgb;
    TestChart chart = WriteChart(dir, "round.kap", picture, 4, options);
    Handle handle(chart.path);
    // Boxes of 8 / 3: columns 0-1, 2-4 and 5-7, on row 0 alone.
    Outcome outcome = Take(Reduced(handle.get(), {0, 0, 7, 0}, 3, 1, 0, BSBCHART_AREA_AVERAGE));
    ASSERT_TRUE(outcome.gotBitmap) << "status " << outcome.status << " row " << outcome.error.row;
    const uint8_t expected[12] = {/* blue, green, red */ 1, 1, 128, 0, 0, 0, 1, 0, 1, 0, 0, 0};
    EXPECT_EQ(Bytes(outcome.row(0), outcome.row(0) + 12), Bytes(expected, expected + 12));
}

// Boxes whose sums grow large: 8224 columns of colour 255 are as much as one
// row of a box may hold in the library's packed sums, wider boxes and many
// rows of a wide box are added otherwise; every one is exact.
TEST(ReducedWindow, AreaAverageOfWideAndTallBoxesIsExact) {
    TempDir dir;
    struct Case {
        int width, height;
        uint32_t w, h;
    };
    const Case cases[] = {{16448, 3, 2, 1}, {16449, 3, 2, 1}, {16450, 2, 1, 2}, {1200, 60, 2, 1}, {600, 90, 3, 2}};
    for (bool white : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) + " to " +
                         std::to_string(c.w) + " x " + std::to_string(c.h) + (white ? ", white" : ""));
            Picture picture = RunPicture(c.width, c.height, 4, 7u + static_cast<uint32_t>(c.width));
            chartwriter::HeaderOptions options = Options(picture, 4);
            if (white) {
                options.rgb.clear();
                for (int index = 0; index < 16; ++index) options.rgb.push_back({index, 255, 255, 255});
            }
            TestChart chart = WriteChart(dir, "wide.kap", picture, 4, options);
            Handle handle(chart.path);
            const bsbchart_rect whole = {0, 0, c.width - 1, c.height - 1};
            Outcome full = Take(PixelWindow(handle.get(), whole, 0, 0));
            ASSERT_TRUE(full.gotBitmap);
            Outcome average = Take(Reduced(handle.get(), whole, c.w, c.h, 0, BSBCHART_AREA_AVERAGE));
            ASSERT_TRUE(average.gotBitmap) << "status " << average.status;
            EXPECT_TRUE(SameBitmap(ExpectedAverage(full, picture, whole, c.w, c.h), average));
            if (white) EXPECT_EQ(average.row(0)[0], 255);
        }
    }
}

// ---- Skewed and upright charts by world rectangle --------------------------

std::string Coefficient(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17f", value);
    return text;
}

// A chart rotated for real: world (x east, y north), in pixels, lies at
// column ox + cos θ·x + sin θ·y, row oy + sin θ·x − cos θ·y.
chartwriter::HeaderOptions RotatedOptions(const Picture& picture, int type, double skew) {
    chartwriter::HeaderOptions options = Options(picture, type);
    double c = std::cos(skew * kRadiansPerDegree), s = std::sin(skew * kRadiansPerDegree);
    double ox = picture.width / 2.0, oy = picture.height / 2.0;
    char text[32];
    std::snprintf(text, sizeof text, "%g", skew);
    options.skew = text;
    options.extraLines = {"WPX/1," + Coefficient(ox) + "," + Coefficient(c) + "," + Coefficient(s),
                          "WPY/1," + Coefficient(oy) + "," + Coefficient(s) + "," + Coefficient(-c),
                          "PWX/1,0.0,1.0,0.0", "PWY/1,0.0,0.0,-1.0"};
    return options;
}

struct SkewCase {
    int type;
    double skew;
    std::array<double, 4> world;  // west, north, east, south
};

TEST(ReducedWorldWindow, SkewedChartSamplesTheFullWorldWindowAtTheReducedPositions) {
    TempDir dir;
    const SkewCase cases[] = {
        {4, 20.0, {-20.0, 15.5, 18.7, -13.2}},
        {1, 35.0, {-30.0, 25.0, 30.0, -25.0}},  // corners off the chart
        {7, 330.0, {-12.3, 9.0, 21.0, -17.5}},
        {2, 135.0, {-18.0, 14.0, 16.0, -12.0}},  // the output's columns run up the chart
        {6, 90.0, {-15.0, 20.0, 15.0, -20.0}},
        {4, 200.0, {-25.5, 10.0, 9.5, -19.0}},
    };
    int n = 0;
    for (const SkewCase& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + ", skew " + std::to_string(c.skew));
        Picture picture = RunPicture(53, 41, c.type, 13u + n);
        TestChart chart = WriteChart(dir, "skewed" + std::to_string(n++) + ".kap", picture, c.type,
                                     RotatedOptions(picture, c.type, c.skew));
        Handle handle(chart.path);
        bsbchart_info info{};
        ASSERT_EQ(bsbchart_get_info(handle.get(), &info), BSBCHART_OK);
        ASSERT_EQ(info.skewed, 1);
        for (const PaletteChoice& choice :
             {PaletteChoice{BSBCHART_PALETTE_RGB, 0}, PaletteChoice{BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS}}) {
            Outcome full = Take(WorldWindow(handle.get(), c.world, choice.palette, choice.flags));
            ASSERT_TRUE(full.gotBitmap);
            uint32_t w0 = static_cast<uint32_t>(full.width()), h0 = static_cast<uint32_t>(full.height());
            int bpp = full.bpp();
            std::vector<Size> sizes = {{1, 1},      {w0 / 4, h0 / 4},     {w0, h0},
                                       {w0 - 1, 3}, {2 * w0 + 3, h0 + 1}, {8 * w0, 8 * h0},
                                       {7, 8 * h0}};
            for (const Size& size : sizes) {
                SCOPED_TRACE(std::to_string(w0) + " x " + std::to_string(h0) + " to " +
                             std::to_string(size.w) + " x " + std::to_string(size.h));
                Bytes indexed = BlankLike(full, size.w, size.h, bpp);
                Bytes colour = BlankLike(full, size.w, size.h, 24);
                for (uint32_t j = 0; j < size.h; ++j)
                    for (uint32_t i = 0; i < size.w; ++i) {
                        uint32_t index = full.index(static_cast<int>(Nearest(i, w0, size.w)),
                                                    static_cast<int>(Nearest(j, h0, size.h)));
                        PutIndex(indexed, bpp, size.w, i, j, index);
                        PutColour(colour, size.w, i, j, full.table() + 4 * index);
                    }
                EXPECT_TRUE(SameBitmap(indexed, Take(ReducedWorld(handle.get(), c.world, size.w, size.h,
                                                                 choice.palette, choice.flags))));
                EXPECT_TRUE(SameBitmap(colour, Take(ReducedWorld(handle.get(), c.world, size.w, size.h,
                                                                choice.palette,
                                                                choice.flags | BSBCHART_AREA_AVERAGE))));
            }
            EXPECT_EQ(Take(ReducedWorld(handle.get(), c.world, 8 * w0 + 1, h0)).status, BSBCHART_E_ARGUMENT);
            EXPECT_EQ(Take(ReducedWorld(handle.get(), c.world, w0, 8 * h0 + 1)).status, BSBCHART_E_ARGUMENT);
            EXPECT_EQ(Take(ReducedWorld(handle.get(), c.world, 0, h0)).status, BSBCHART_E_ARGUMENT);
        }
    }
}

// The pixel rectangle the world window cuts from an upright chart: its
// corners' pixel positions truncated, clamped to the chart.
bsbchart_rect CutRectangle(const bsbchart* chart, const std::array<double, 4>& world, int width,
                           int height) {
    double c[2], r[2];
    EXPECT_EQ(bsbchart_world_to_pixel(chart, world[0], world[1], &c[0], &r[0], nullptr), BSBCHART_OK);
    EXPECT_EQ(bsbchart_world_to_pixel(chart, world[2], world[3], &c[1], &r[1], nullptr), BSBCHART_OK);
    bsbchart_rect rect;
    rect.left = std::max(0, static_cast<int32_t>(std::max(-1e9, c[0])));
    rect.top = std::max(0, static_cast<int32_t>(std::max(-1e9, r[0])));
    rect.right = std::min(width - 1, static_cast<int32_t>(std::min(1e9, c[1])));
    rect.bottom = std::min(height - 1, static_cast<int32_t>(std::min(1e9, r[1])));
    return rect;
}

TEST(ReducedWorldWindow, UprightChartReducesTheRectangleTheWorldWindowCuts) {
    TempDir dir;
    for (int type : {1, 4, 7}) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        Picture picture = RunPicture(101, 81, type, 3u * type);
        chartwriter::HeaderOptions options = Options(picture, type);
        // World (x, y) lies at column 100·x and row 100 − 100·y.
        options.extraLines = {"WPX/1,0.0,100.0,0.0", "WPY/1,100.0,0.0,-100.0",
                              "PWX/1,0.0,0.01,0.0", "PWY/1,1.0,0.0,-0.01"};
        TestChart chart = WriteChart(dir, "upright" + std::to_string(type) + ".kap", picture, type, options);
        Handle handle(chart.path);
        const std::array<double, 4> rectangles[] = {
            {0.2, 0.9, 0.45, 0.6}, {0.8, 0.9, 1.5, 0.6}, {0.1, 0.5, 0.3, -3.0},
            {-0.007, 1.007, 0.039, 0.961}, {-1e300, 1e300, 1e300, -1e300}};
        for (const auto& world : rectangles) {
            bsbchart_rect rect = CutRectangle(handle.get(), world, picture.width, picture.height);
            Outcome full = Take(WorldWindow(handle.get(), world));
            ASSERT_TRUE(full.gotBitmap);
            uint32_t sw = rect.right - rect.left + 1, sh = rect.bottom - rect.top + 1;
            ASSERT_EQ(full.width(), static_cast<int32_t>(sw));
            ASSERT_EQ(full.height(), static_cast<int32_t>(sh));
            for (uint32_t flags : {0u, 1u * BSBCHART_AREA_AVERAGE, 1u * BSBCHART_DOUBLED_COLOURS}) {
                for (const Size& size : SizesFor(sw, sh, flags & BSBCHART_AREA_AVERAGE)) {
                    SCOPED_TRACE(Describe(rect, size.w, size.h) + ", flags " + std::to_string(flags));
                    Outcome byPixels = Take(Reduced(handle.get(), rect, size.w, size.h, 0, flags));
                    ASSERT_TRUE(byPixels.gotBitmap);
                    Outcome byWorld = Take(ReducedWorld(handle.get(), world, size.w, size.h, 0, flags));
                    EXPECT_TRUE(SameBitmap(byPixels.bitmap, byWorld));
                }
            }
        }
        // A rectangle beside the chart cuts nothing.
        Outcome beside = Take(ReducedWorld(handle.get(), {1.5, 0.5, 2.0, 0.2}, 2, 2));
        EXPECT_EQ(beside.status, BSBCHART_E_OUTSIDE);
        EXPECT_EQ(Take(ReducedWorld(handle.get(), {0.2, 0.9, 0.45, 0.6}, 26, 32, 0, BSBCHART_AREA_AVERAGE))
                      .status,
                  BSBCHART_E_ARGUMENT);
    }
}

// ---- Palettes --------------------------------------------------------------

struct PaletteRecords {
    int32_t palette;
    Records records;
};

// The colour table a palette's records give: blue, green, red, 0, each value
// doubled modulo 256 when asked; entries the records do not name are 0.
std::array<uint8_t, 1024> TableOf(const Records& records, bool doubled) {
    std::array<uint8_t, 1024> table{};
    for (const auto& r : records) {
        uint8_t* entry = &table[4 * (r[0] & 0xFF)];
        for (int c = 0; c < 3; ++c) {
            unsigned value = static_cast<unsigned>(r[3 - c]) & 0xFF;
            entry[c] = static_cast<uint8_t>(doubled ? 2 * value : value);
        }
        entry[3] = 0;
    }
    return table;
}

TEST(HandlePalettes, AlternatePalettesGiveTheirRecordsValues) {
    TempDir dir;
    const std::vector<PaletteRecords> present = {
        {BSBCHART_PALETTE_RGB, {{1, 255, 255, 255}, {2, 0, 0, 0}, {3, 200, 100, 50}, {255, 9, 8, 7}}},
        {BSBCHART_PALETTE_DAY, {{0, 10, 20, 30}, {1, 128, 127, 129}, {15, 1, 2, 3}, {200, 255, 254, 253}}},
        {BSBCHART_PALETTE_NIGHT, {{1, 40, 0, 0}, {2, 0, 1, 0}, {3, 0, 0, 2}}},
        {BSBCHART_PALETTE_NIGHT_RED, {{1, 60, 5, 6}, {4, 250, 0, 130}}},
        {BSBCHART_PALETTE_PRINT_GREY, {{2, 77, 77, 77}, {5, 160, 160, 160}}},
    };
    const char* const keys[BSBCHART_PALETTE_COUNT] = {"RGB/", "DAY/", "DSK/", "NGT/",
                                                       "NGR/", "GRY/", "PRC/", "PRG/"};
    for (int32_t p = 0; p < BSBCHART_PALETTE_COUNT; ++p) EXPECT_STREQ(bsbchart_palette_key(p), keys[p]);
    EXPECT_EQ(bsbchart_palette_key(-1), nullptr);
    EXPECT_EQ(bsbchart_palette_key(BSBCHART_PALETTE_COUNT), nullptr);

    for (int type : {1, 4, 7}) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        Picture picture = RunPicture(19, 7, type, 17);
        chartwriter::HeaderOptions options = Options(picture, type);
        options.rgb = present[0].records;
        options.extraLines = {"WPX/1,0.0,1.0,0.0", "WPY/1,0.0,0.0,-1.0"};
        // The alternates in an order of their own, NGR/ before NGT/.
        for (size_t k : {3u, 1u, 4u, 2u}) {
            std::vector<std::string> lines = Lines(keys[present[k].palette], present[k].records);
            options.extraLines.insert(options.extraLines.end(), lines.begin(), lines.end());
        }
        TestChart chart = WriteChart(dir, "palettes" + std::to_string(type) + ".kap", picture, type, options);
        HostHeap heap;
        bsbchart_allocator allocator{};
        ASSERT_EQ(bsbchart_heap_allocator(heap.get(), &allocator), BSBCHART_OK);
        Handle handle(chart.path);
        bsbchart_info info{};
        ASSERT_EQ(bsbchart_get_info(handle.get(), &info), BSBCHART_OK);
        uint32_t bits = 0;
        for (const auto& p : present) bits |= 1u << p.palette;
        EXPECT_EQ(info.palettes, bits);

        const bsbchart_rect rect = {1, 1, 17, 5};
        int bpp = BitsPerPixel(type);
        for (int32_t palette = 0; palette < BSBCHART_PALETTE_COUNT; ++palette) {
            SCOPED_TRACE(keys[palette]);
            auto found = std::find_if(present.begin(), present.end(),
                                      [&](const PaletteRecords& p) { return p.palette == palette; });
            for (uint32_t flags : {0u, 1u * BSBCHART_DOUBLED_COLOURS}) {
                SCOPED_TRACE("flags " + std::to_string(flags));
                std::array<uint8_t, 1024> table{};
                table.fill(0xA5);
                bsbchart_status status = bsbchart_get_palette(handle.get(), palette, flags, table.data());
                const std::vector<Call> windows = {
                    PixelWindow(handle.get(), rect, palette, flags),
                    WorldWindow(handle.get(), {1.0, -1.0, 17.0, -5.0}, palette, flags),
                    Reduced(handle.get(), rect, 5, 3, palette, flags),
                    Reduced(handle.get(), rect, 5, 3, palette, flags | BSBCHART_AREA_AVERAGE),
                    ReducedWorld(handle.get(), {1.0, -1.0, 17.0, -5.0}, 5, 3, palette, flags)};
                if (found == present.end()) {
                    EXPECT_EQ(status, BSBCHART_E_PALETTE);
                    for (const Call& call : windows) {
                        Outcome outcome = Take(call, &allocator);
                        EXPECT_EQ(outcome.status, BSBCHART_E_PALETTE);
                        EXPECT_STREQ(outcome.error.record, keys[palette]);
                        EXPECT_EQ(outcome.error.row, -1);
                        EXPECT_EQ(heap.blocks(), 0u);
                    }
                    continue;
                }
                ASSERT_EQ(status, BSBCHART_OK);
                std::array<uint8_t, 1024> expected = TableOf(found->records, flags != 0);
                EXPECT_EQ(table, expected);
                // The indexed windows carry the table's first 2^bpp entries.
                for (size_t k : {0u, 1u, 2u, 4u}) {
                    Outcome outcome = Take(windows[k], &allocator);
                    ASSERT_TRUE(outcome.gotBitmap) << k;
                    ASSERT_EQ(outcome.bpp(), bpp);
                    EXPECT_EQ(Bytes(outcome.table(), outcome.table() + TableBytes(bpp)),
                              Bytes(expected.begin(), expected.begin() + TableBytes(bpp)))
                        << "window " << k;
                }
                EXPECT_EQ(heap.blocks(), 0u);
            }
        }
        std::array<uint8_t, 1024> table{};
        EXPECT_EQ(bsbchart_get_palette(handle.get(), BSBCHART_PALETTE_COUNT, 0, table.data()),
                  BSBCHART_E_ARGUMENT);
        EXPECT_EQ(bsbchart_get_palette(handle.get(), 0, BSBCHART_AREA_AVERAGE, table.data()),
                  BSBCHART_E_ARGUMENT);
        EXPECT_EQ(bsbchart_get_palette(handle.get(), 0, 0, nullptr), BSBCHART_E_ARGUMENT);
        EXPECT_EQ(bsbchart_get_palette(nullptr, 0, 0, table.data()), BSBCHART_E_ARGUMENT);
    }
}

// With doubled colours the windows are GetWindowBmp's to the byte, including
// the table it makes of records that repeat an index, name one beyond 255 or
// hold values past 127, past 255 or below 0.
TEST(HandlePalettes, DoubledColoursAreGetWindowBmpsTable) {
    TempDir dir;
    const Records rgb = {{0, 128, 129, 255}, {1, 127, 64, 1},   {2, 300, -1, 511}, {1, 5, 6, 7},
                         {3, 0, 0, 0},       {300, 10, 200, 90}, {15, 200, 201, 202}};
    for (int type : {1, 4, 7}) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        Picture picture = RunPicture(23, 9, type, 23);
        chartwriter::HeaderOptions options = Options(picture, type);
        options.rgb = rgb;
        TestChart chart = WriteChart(dir, "doubled" + std::to_string(type) + ".kap", picture, type, options);
        RECT rect = {0, 0, 22, 8};
        Bytes exported;
        {
            HostHeap heap;
            std::vector<unsigned short> wide = testsupport::Utf16Path(chart.path);
            char* bitmap = GetWindowBmp(wide.data(), heap.get(), rect);
            ASSERT_NE(bitmap, nullptr);
            int bpp = BitsPerPixel(type);
            exported.assign(bitmap, bitmap + 40 + TableBytes(bpp) + 9 * Stride(bpp, 23));
            FreeChartBlock(heap.get(), bitmap);
        }
        Handle handle(chart.path);
        Outcome doubled = Take(PixelWindow(handle.get(), {0, 0, 22, 8}, 0, BSBCHART_DOUBLED_COLOURS));
        EXPECT_TRUE(SameBitmap(exported, doubled));
        std::array<uint8_t, 1024> table{};
        ASSERT_EQ(bsbchart_get_palette(handle.get(), 0, BSBCHART_DOUBLED_COLOURS, table.data()), BSBCHART_OK);
        size_t tableBytes = TableBytes(BitsPerPixel(type));
        EXPECT_EQ(Bytes(table.begin(), table.begin() + tableBytes),
                  Bytes(exported.begin() + 40, exported.begin() + 40 + tableBytes));
        // Stored values: the same records, not doubled.
        ASSERT_EQ(bsbchart_get_palette(handle.get(), 0, 0, table.data()), BSBCHART_OK);
        EXPECT_EQ(table, TableOf(rgb, false));
    }
}

// ---- Rows read -------------------------------------------------------------

// Corrupt rows (a row number and nothing else: far too short) everywhere a
// nearest-sample window does not sample: it is made without them.
TEST(ReducedWindowReads, NearestSampleDecodesOnlyTheSampledRows) {
    TempDir dir;
    const int type = 4, width = 40, height = 60;
    Picture picture = RunPicture(width, height, type, 41);
    const bsbchart_rect source = {3, 7, 38, 52};  // 46 rows
    const uint32_t w = 9, h = 11;
    std::set<int> sampled;
    for (uint32_t j = 0; j < h; ++j) sampled.insert(source.top + static_cast<int>(Nearest(j, 46, h)));
    std::vector<Bytes> rows;
    for (int y = 0; y < height; ++y) {
        uint8_t prefix = static_cast<uint8_t>(y + 1);
        rows.push_back(sampled.count(y) ? chartwriter::EncodeRow(picture.row(y), width, y + 1, type)
                                        : Bytes{prefix, 0});
    }
    chartwriter::HeaderOptions options = Options(picture, type);
    std::string header = chartwriter::MakeHeaderText(options);
    std::string path = dir.Write(
        "sparse.kap", chartwriter::AssembleChart(chartwriter::MakeHeaderBlock(header, type), rows));
    TestChart intact = WriteChart(dir, "intact.kap", picture, type);
    Handle good(intact.path);
    Handle sparse(path);
    Outcome expected = Take(Reduced(good.get(), source, w, h));
    ASSERT_TRUE(expected.gotBitmap);
    EXPECT_TRUE(SameBitmap(expected.bitmap, Take(Reduced(sparse.get(), source, w, h))));
    // An unsampled row is corrupt indeed.
    Outcome average = Take(Reduced(sparse.get(), source, w, h, 0, BSBCHART_AREA_AVERAGE));
    EXPECT_EQ(average.status, BSBCHART_E_ROW_DECODE);
    EXPECT_EQ(average.error.row, source.top);
}

// Each row a window needs is read once, and no other: nearest sample reads
// the sampled rows, area average every row of the source (several in one
// read, as many as the row buffer holds), a skewed chart's reduced world
// window the rows its samples fall on.
TEST(ReducedWindowReads, EachNeededRowIsReadOnceAndNoOther) {
#if !BSBCHART_TEST_COUNTS_READS
    GTEST_SKIP() << "reads are counted only where the executable can interpose them";
#else
    TempDir dir;
    const int type = 7, width = 120, height = 300;
    Picture picture = RunPicture(width, height, type, 61);
    TestChart chart = WriteChart(dir, "rows.kap", picture, type, RotatedOptions(picture, type, 0.0));
    TestChart skewed = WriteChart(dir, "rows-skewed.kap", picture, type, RotatedOptions(picture, type, 25.0));
    std::vector<uint32_t> offsets = testsupport::RowOffsets(chart.bytes, height);
    std::vector<uint32_t> skewedOffsets = testsupport::RowOffsets(skewed.bytes, height);
    Handle handle(chart.path);
    Handle rotated(skewed.path);

    size_t calls = 0;
    auto readsOf = [&calls](const Call& call, const std::vector<uint32_t>& rowOffsets) {
        std::vector<FileRead> reads;
        g_fileReads = &reads;
        Outcome outcome = Take(call);
        g_fileReads = nullptr;
        EXPECT_TRUE(outcome.gotBitmap) << "status " << outcome.status;
        calls = reads.size();
        return testsupport::RowsRead(reads, rowOffsets);
    };
    auto sorted = [](std::vector<int> rows) {
        std::sort(rows.begin(), rows.end());
        return rows;
    };

    struct Case {
        const char* name;
        bsbchart_rect source;
        uint32_t w, h;
    };
    const Case cases[] = {{"whole chart, 25 of 300 rows", {0, 0, width - 1, height - 1}, 20, 25},
                          {"a band, 7 of 61 rows", {10, 100, 39, 160}, 15, 7},
                          {"every row of a band", {0, 40, 49, 59}, 10, 20},
                          {"8 times higher: each row sampled 8 times", {5, 200, 20, 209}, 16, 80},
                          {"one row", {0, 299, 49, 299}, 3, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t sh = c.source.bottom - c.source.top + 1;
        std::set<int> sampled;
        for (uint32_t j = 0; j < c.h; ++j) sampled.insert(c.source.top + static_cast<int>(Nearest(j, sh, c.h)));
        std::vector<int> rows = readsOf(Reduced(handle.get(), c.source, c.w, c.h), offsets);
        EXPECT_EQ(sorted(rows), std::vector<int>(sampled.begin(), sampled.end()));

        if (c.h > sh) continue;
        std::vector<int> every;
        for (int y = c.source.top; y <= c.source.bottom; ++y) every.push_back(y);
        rows = readsOf(Reduced(handle.get(), c.source, c.w, c.h, 0, BSBCHART_AREA_AVERAGE), offsets);
        EXPECT_EQ(rows, every);
        if (sh > 1) EXPECT_LT(calls, every.size()) << "rows are read several at a time";
    }

    // The reduced world window of the skewed chart: the rows its samples
    // land on, worked out as the full-size window samples, at the reduced
    // positions. World (x, y) is pixel (60 + x·cos + y·sin, 150 + x·sin − y·cos),
    // so every sample lies on the chart.
    const std::array<double, 4> world = {-20.0, 60.0, 20.0, -60.0};
    Outcome full = Take(WorldWindow(rotated.get(), world));
    ASSERT_TRUE(full.gotBitmap);
    double px[4], py[4];
    const double xs[4] = {world[0], world[2], world[2], world[0]};
    const double ys[4] = {world[1], world[1], world[3], world[3]};
    for (int k = 0; k < 4; ++k)
        ASSERT_EQ(bsbchart_world_to_pixel(rotated.get(), xs[k], ys[k], &px[k], &py[k], nullptr), BSBCHART_OK);
    double top = *std::min_element(py, py + 4), bottom = *std::max_element(py, py + 4);
    int64_t y0 = static_cast<int64_t>(top) - 1, y1 = static_cast<int64_t>(bottom) + 1;
    double theta = 25.0 * kRadiansPerDegree, s = std::sin(theta), c = std::cos(theta);
    double ipy0 = static_cast<double>(static_cast<int64_t>(py[0]));
    uint32_t w0 = static_cast<uint32_t>(full.width()), h0 = static_cast<uint32_t>(full.height());
    for (Size size : {Size{w0 / 4, h0 / 4}, Size{w0 / 10, h0 / 7}, Size{w0, h0 / 30}}) {
        SCOPED_TRACE(std::to_string(size.w) + " x " + std::to_string(size.h));
        std::set<int> needed;
        for (uint32_t j = 0; j < size.h; ++j)
            for (uint32_t i = 0; i < size.w; ++i) {
                double ii = Nearest(i, w0, size.w), jj = Nearest(j, h0, size.h);
                double y = s * ii + (c * jj + ipy0);
                y = std::min(std::max(y, static_cast<double>(y0)), static_cast<double>(y1));
                int64_t row = static_cast<int64_t>(y);
                if (row >= 0 && row < height) needed.insert(static_cast<int>(row));
            }
        std::vector<int> rows = readsOf(ReducedWorld(rotated.get(), world, size.w, size.h), skewedOffsets);
        EXPECT_EQ(sorted(rows), std::vector<int>(needed.begin(), needed.end()));
    }
#endif
}

// ---- Memory ----------------------------------------------------------------

// The state a reduced window may keep per output column: eight 64-bit words
// (an area average's three slopes and three offsets, where its box starts
// and the table that finds it; nearest samples and the walk of a skewed
// chart's samples take less), and a little for the whole window.
const size_t kColumnState = 64;
const size_t kWindowState = 128;

// An allocator that hands out blocks full of junk and logs every block it
// gives and takes back.
struct CountingAllocator {
    struct Event {
        void* block;
        size_t size;  // 0 for a release
    };
    std::vector<Event> events;
    std::map<void*, size_t> live;

    static void* Allocate(void* context, size_t size) {
        auto* self = static_cast<CountingAllocator*>(context);
        void* block = std::malloc(size ? size : 1);
        if (!block) return nullptr;
        std::memset(block, 0xA5, size);
        self->live[block] = size;
        self->events.push_back({block, size});
        return block;
    }
    static void Release(void* context, void* block) {
        auto* self = static_cast<CountingAllocator*>(context);
        auto at = self->live.find(block);
        if (at == self->live.end()) {
            ADD_FAILURE() << "released a block it was not given";
            return;
        }
        self->live.erase(at);
        self->events.push_back({block, 0});
        std::free(block);
    }
    bsbchart_allocator allocator() { return {&Allocate, &Release, this}; }

    // The most it held at once besides `result`, and its largest such block.
    void Peak(const void* result, size_t* peak, size_t* largest) const {
        std::map<void*, size_t> held;
        size_t now = 0;
        *peak = *largest = 0;
        for (const Event& e : events) {
            if (e.block == result) continue;
            if (e.size) {
                held[e.block] = e.size;
                now += e.size;
                *largest = std::max(*largest, e.size);
            } else {
                now -= held[e.block];
            }
            *peak = std::max(*peak, now);
        }
    }
};

// Everything a reduced window holds besides its result: the two row buffers
// of the raster's width and one output row of per-column state, never a
// full-size window.
TEST(ReducedWindowMemory, ReducedWindowsHoldRowBuffersAndOneOutputRowBesideTheResult) {
    TempDir dir;
    const int width = 1501, height = 1203;
    for (int type : {4, 7}) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        Picture picture = RunPicture(width, height, type, 5);
        TestChart upright = WriteChart(dir, "big.kap", picture, type, RotatedOptions(picture, type, 0.0));
        TestChart skewed = WriteChart(dir, "big-skewed.kap", picture, type, RotatedOptions(picture, type, 30.0));
        Handle handle(upright.path);
        Handle rotated(skewed.path);
        const bsbchart_rect whole = {0, 0, width - 1, height - 1};
        const std::array<double, 4> world = {-500.0, 400.0, 500.0, -400.0};
        struct Case {
            const char* name;
            Call call;
            uint32_t w;
        } cases[] = {
            {"nearest, whole chart to 150 x 120", Reduced(handle.get(), whole, 150, 120), 150},
            {"average, whole chart to 150 x 120",
             Reduced(handle.get(), whole, 150, 120, 0, BSBCHART_AREA_AVERAGE), 150},
            {"average, a band to its width", Reduced(handle.get(), {0, 10, width - 1, 19}, width, 1, 0,
                                                     BSBCHART_AREA_AVERAGE), width},
            {"nearest, 8 times a corner", Reduced(handle.get(), {0, 0, 39, 29}, 320, 240), 320},
            {"skewed, reduced 4 times", ReducedWorld(rotated.get(), world, 250, 200), 250},
            {"skewed, reduced 4 times, colour",
             ReducedWorld(rotated.get(), world, 250, 200, 0, BSBCHART_AREA_AVERAGE), 250},
        };
        size_t headerBlock = chartwriter::MakeHeaderBlock(upright.header, type).size();
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            CountingAllocator counting;
            bsbchart_allocator allocator = counting.allocator();
            void* bitmap = nullptr;
            bsbchart_error error{};
            ASSERT_EQ(c.call(&allocator, &bitmap, &error), BSBCHART_OK);
            size_t peak = 0, largest = 0;
            counting.Peak(bitmap, &peak, &largest);
            size_t bound = headerBlock + 2 * width + kColumnState * size_t{c.w} + kWindowState;
            EXPECT_LE(peak, bound);
            EXPECT_LE(largest, std::max<size_t>(width, kColumnState * size_t{c.w} + kWindowState));
            ASSERT_EQ(counting.live.size(), 1u);
            EXPECT_EQ(counting.live.begin()->first, bitmap);
            allocator.release(allocator.context, bitmap);
        }
    }
}

// ---- Failures: heaps too small, files cut short ----------------------------

struct SweepCall {
    const char* name;
    Call call;
};

// The new calls on a small chart (see SmallChart), each with a request that
// succeeds on the intact chart.
std::vector<SweepCall> SweepCalls(const bsbchart* chart, bool skewed) {
    const std::array<double, 4> world = {-5.0, 3.0, 4.0, -3.0};
    std::vector<SweepCall> calls = {
        {"nearest", Reduced(chart, {1, 1, 10, 6}, 4, 3)},
        {"nearest, enlarged", Reduced(chart, {0, 0, 11, 7}, 50, 9, BSBCHART_PALETTE_NIGHT, 0)},
        {"average", Reduced(chart, {0, 0, 11, 7}, 5, 3, 0, BSBCHART_AREA_AVERAGE)},
        {"average, doubled", Reduced(chart, {2, 1, 11, 7}, 10, 7, BSBCHART_PALETTE_NIGHT,
                                     BSBCHART_AREA_AVERAGE | BSBCHART_DOUBLED_COLOURS)}};
    if (skewed) {
        calls.push_back({"world, skewed", ReducedWorld(chart, world, 6, 4)});
        calls.push_back({"world, skewed, colour", ReducedWorld(chart, world, 20, 16, 0, BSBCHART_AREA_AVERAGE)});
    } else {
        calls.push_back({"world, upright", ReducedWorld(chart, world, 3, 2)});
        calls.push_back({"world, upright, average", ReducedWorld(chart, world, 3, 2, 0, BSBCHART_AREA_AVERAGE)});
    }
    return calls;
}

// Pixel (x, y) lies at world (x, −y); the skewed chart is rotated by 30°.
std::vector<uint8_t> SmallChart(int type, double skew) {
    Picture picture = chartwriter::MakePicture(
        12, 8, [type](int x, int y) { return static_cast<uint8_t>((x / 3 + y) % (1 << type)); });
    chartwriter::HeaderOptions options = RotatedOptions(picture, type, skew);
    // Records for the colours it uses only, which keeps the file short.
    options.rgb = RandomRecords(std::min(type, 4), 4);
    std::vector<std::string> night = Lines("NGT/", RandomRecords(std::min(type, 4), 5));
    options.extraLines.insert(options.extraLines.end(), night.begin(), night.end());
    return chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture, type);
}

TEST(ReducedWindowFailures, EveryHeapTooSmallIsNoMemoryWithNothingLeftAllocated) {
    TempDir dir;
    for (int type : {1, 4, 7}) {
        SCOPED_TRACE("compression type " + std::to_string(type));
        std::string upright = dir.Write("upright.kap", SmallChart(type, 0.0));
        std::string skewed = dir.Write("skewed.kap", SmallChart(type, 30.0));
        Handle a(upright), b(skewed);
        std::vector<SweepCall> calls = SweepCalls(a.get(), false);
        for (const SweepCall& call : SweepCalls(b.get(), true)) calls.push_back(call);
        for (const SweepCall& sweep : calls) {
            SCOPED_TRACE(sweep.name);
            Outcome reference = Take(sweep.call);
            ASSERT_TRUE(reference.gotBitmap) << "status " << reference.status;
            size_t limit = 1;
            for (;; ++limit) {
                HostHeap heap(limit);
                bsbchart_allocator allocator{};
                ASSERT_EQ(bsbchart_heap_allocator(heap.get(), &allocator), BSBCHART_OK);
                Outcome outcome = Take(sweep.call, &allocator);
                EXPECT_EQ(heap.blocks(), 0u) << "limit " << limit;
                if (outcome.status == BSBCHART_OK) {
                    EXPECT_TRUE(SameBitmap(reference.bitmap, outcome)) << "limit " << limit;
                    break;
                }
                ASSERT_EQ(outcome.status, BSBCHART_E_NO_MEMORY) << "limit " << limit;
                EXPECT_EQ(outcome.error.row, -1);
                EXPECT_STREQ(outcome.error.record, "");
                ASSERT_LT(limit, reference.bitmap.size() + 1000000u);
            }
            // What it needed: the result, two rows of 12 pixels and at most
            // one output row of per-column state.
            EXPECT_GE(limit, reference.bitmap.size());
            EXPECT_LE(limit, reference.bitmap.size() + 2 * 12 + kColumnState * size_t(reference.width()) +
                                 kWindowState);
        }
    }
}

// What a damaged file can make a call fail with.
const bsbchart_status kFileStatuses[] = {BSBCHART_E_HEADER,      BSBCHART_E_RASTER_SIZE,
                                         BSBCHART_E_RECORD,      BSBCHART_E_COMPRESSION,
                                         BSBCHART_E_ROW_READ,    BSBCHART_E_ROW_DECODE,
                                         BSBCHART_E_OUTSIDE,     BSBCHART_E_PALETTE};

bool IsFileStatus(bsbchart_status status) {
    return std::find(std::begin(kFileStatuses), std::end(kFileStatuses), status) != std::end(kFileStatuses);
}

struct Damaged {
    std::string name;
    Bytes bytes;
};

// Every prefix of the chart; then its rows cut at every length with the
// index table and trailer moved up behind them, so that the chart opens and
// its windows meet rows that end early or lie past the end of the file.
std::vector<Damaged> Truncations(const Bytes& bytes) {
    std::vector<Damaged> damaged;
    for (size_t n = 0; n < bytes.size(); ++n)
        damaged.push_back({"first " + std::to_string(n) + " bytes", Bytes(bytes.begin(), bytes.begin() + n)});
    uint32_t table = chartwriter::GetBe32(bytes, bytes.size() - 4);
    uint32_t rows = chartwriter::GetBe32(bytes, table);
    for (uint32_t n = rows; n < table; ++n) {
        Bytes cut(bytes.begin(), bytes.begin() + n);
        cut.insert(cut.end(), bytes.begin() + table, bytes.end() - 4);
        cut.resize(cut.size() + 4);
        chartwriter::PutBe32(cut, cut.size() - 4, n);
        damaged.push_back({"rows cut after " + std::to_string(n - rows) + " bytes", cut});
    }
    return damaged;
}

TEST(ReducedWindowFailures, EveryTruncatedChartFailsWithAStatusAndNothingLeft) {
    TempDir dir;
    for (double skew : {0.0, 30.0}) {
        for (int type : {1, 4, 7}) {
            SCOPED_TRACE("compression type " + std::to_string(type) + ", skew " + std::to_string(skew));
            int opened = 0, succeeded = 0, failed = 0, files = 0;
            for (const Damaged& damaged : Truncations(SmallChart(type, skew))) {
                SCOPED_TRACE(damaged.name);
                // A new file each time: cutting one file short again and
                // again waits for the disk on some file systems.
                std::string path = dir.Write("cut" + std::to_string(++files) + ".kap", damaged.bytes);
                HostHeap heap;
                bsbchart_allocator allocator{};
                ASSERT_EQ(bsbchart_heap_allocator(heap.get(), &allocator), BSBCHART_OK);
                bsbchart* chart = reinterpret_cast<bsbchart*>(1);
                bsbchart_error error{};
                bsbchart_status status = bsbchart_open(path.c_str(), &allocator, &chart, &error);
                EXPECT_EQ(error.status, status);
                if (status != BSBCHART_OK) {
                    EXPECT_TRUE(IsFileStatus(status)) << "open: status " << status;
                    EXPECT_EQ(chart, nullptr);
                    EXPECT_EQ(heap.blocks(), 0u);
                    std::remove(path.c_str());
                    continue;
                }
                ++opened;
                size_t handleBlocks = heap.blocks();
                for (const SweepCall& sweep : SweepCalls(chart, skew != 0.0)) {
                    SCOPED_TRACE(sweep.name);
                    Outcome outcome = Take(sweep.call, &allocator);
                    if (outcome.status == BSBCHART_OK) {
                        ++succeeded;
                    } else {
                        ++failed;
                        EXPECT_TRUE(IsFileStatus(outcome.status)) << "status " << outcome.status;
                    }
                    EXPECT_EQ(heap.blocks(), handleBlocks);
                }
                bsbchart_close(chart);
                EXPECT_EQ(heap.blocks(), 0u);
                std::remove(path.c_str());
            }
            // The sweep reaches the windows, both ways.
            EXPECT_GT(opened, 0);
            EXPECT_GT(succeeded, 0);
            EXPECT_GT(failed, 0);
        }
    }
}

}  // namespace
