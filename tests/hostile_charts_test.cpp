// Charts built to make a small window expensive: rows of 2^31 - 1 pixels,
// each one valid run, so that a 91-byte file declares a 2 GB row. A window
// costs time for the rows' encoded bytes and touches memory for the window
// alone: the row buffers keep the raster's width, so the heap must admit
// them, but only the pages the window's columns fall on are ever written.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#if defined(__has_include)
#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#endif
#endif

#include "bsbchart.h"
#include "bsbchart_c.h"
#include "bsbchart_host.h"
#include "chart_writer.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using testsupport::MessageLog;
using testsupport::TempDir;

const int32_t kWideWidth = 2147483647;

// Sanitizers and valgrind hand out and take back memory in their own ways
// (valgrind fills every block, AddressSanitizer marks a freed block in its
// shadow, an eighth of the block's size), so the bounds hold for plain
// builds only.
bool UnderMemoryTool() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
    return true;
#endif
#endif
#if defined(RUNNING_ON_VALGRIND)
    if (RUNNING_ON_VALGRIND) return true;
#endif
    return false;
}

// ---------------------------------------------------------------- charts

int LengthBits(int type) { return 7 - type; }

// Row `rowNumber`: one run of `pixels` pixels of colour 1, in as few bytes
// as it takes.
Bytes OneRunRow(uint32_t rowNumber, int type, uint64_t pixels) {
    Bytes row;
    int prefix = 1;
    while ((rowNumber >> (7 * prefix)) != 0) ++prefix;
    for (int g = prefix - 1; g >= 0; --g)
        row.push_back((uint8_t)(((rowNumber >> (7 * g)) & 0x7F) | (g > 0 ? 0x80 : 0)));
    uint64_t stored = pixels - 1;
    int groups = 1;
    while ((stored >> (LengthBits(type) + 7 * (groups - 1))) != 0) ++groups;
    row.push_back((uint8_t)((groups > 1 ? 0x80 : 0) | ((1u << LengthBits(type)) & 0x7F) |
                            (stored >> (7 * (groups - 1)))));
    for (int g = groups - 2; g >= 0; --g)
        row.push_back((uint8_t)(((stored >> (7 * g)) & 0x7F) | (g > 0 ? 0x80 : 0)));
    row.push_back(0x00);
    return row;
}

// A chart of `width` × `height` pixels, all colour 1. Without `world` the
// header is only the raster size and the colours; with it, an upright or a
// skewed chart at one pixel per world unit (column = x, row = -y).
Bytes UniformChart(int32_t width, int height, int type, const char* world = nullptr) {
    std::string text;
    if (!world) {
        text = "BSB/NA=WIDER,NU=1,RA=" + std::to_string(width) + "," + std::to_string(height) +
               ",DU=254\r\nRGB/1,255,255,255\r\n";
    } else {
        chartwriter::HeaderOptions options;
        options.width = width;
        options.height = height;
        options.skew = world;
        options.extraLines = {"PWX/1,0.0,1.0,0.0", "PWY/1,0.0,0.0,-1.0", "WPX/1,0.0,1.0,0.0",
                              "WPY/1,0.0,0.0,-1.0"};
        text = chartwriter::MakeHeaderText(options);
    }
    std::vector<Bytes> rows;
    for (int r = 1; r <= height; ++r) rows.push_back(OneRunRow((uint32_t)r, type, (uint64_t)width));
    return chartwriter::AssembleChart(chartwriter::MakeHeaderBlock(text, type), rows);
}

// ---------------------------------------------------------------- measuring

// The process's peak resident memory in KiB (VmHWM), or -1; ResetPeak()
// brings the peak down to what is resident now where the system allows.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmHWM:") == 0) return std::stol(line.substr(6));
    return -1;
}

void ResetPeak() {
    std::ofstream refs("/proc/self/clear_refs");
    if (refs) refs << "5";
}

struct Cost {
    double seconds = 0;
    long residentKiB = -1;  // growth of the peak over the call; -1 if unknown
};

struct Result {
    Bytes block;  // the bitmap block, empty on failure
    std::vector<std::string> messages;
    size_t blocksLeft = 0;
    Cost cost;
};

template <typename Call>
Result Measure(const std::string& path, size_t heapLimit, Call call) {
    std::vector<unsigned short> wide = testsupport::Utf16Path(path);
    testsupport::HostHeap heap(heapLimit);
    Result result;
    MessageLog log;
    ResetPeak();
    long before = PeakResidentKiB();
    auto start = std::chrono::steady_clock::now();
    char* bitmap = call(wide.data(), heap.get());
    result.cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    long after = PeakResidentKiB();
    if (before >= 0 && after >= 0) result.cost.residentKiB = after - before;
    result.messages = log.messages;
    if (bitmap) {
        size_t size = 40 + 4 * (size_t{1} << testsupport::Le16(bitmap + 14)) + testsupport::Le32(bitmap + 20);
        result.block.assign(bitmap, bitmap + size);
        FreeChartBlock(heap.get(), bitmap);
    }
    result.blocksLeft = heap.blocks();
    return result;
}

// Within a second (twenty under a memory tool) and 64 MB of resident memory
// beyond what the process held before; the whole-row decoding these charts
// were built against took seconds and 2 GB for a 2 × 2 window, minutes for
// one 2 pixels wide and 1000 high.
void ExpectCheap(const Cost& cost) {
    EXPECT_LT(cost.seconds, UnderMemoryTool() ? 20.0 : 1.0);
    if (!UnderMemoryTool() && cost.residentKiB >= 0) EXPECT_LT(cost.residentKiB, 64 * 1024);
}

const char kCannotAllocateRow[] = "Cannot allocate memory for one line image";

// The window, cheaply; where two rows of 2 GB do not fit the address space,
// the row buffers' failure and nothing left behind.
void ExpectWindow(const Result& got, const Result& expected) {
    EXPECT_EQ(got.blocksLeft, 0u);
    ExpectCheap(got.cost);
    if (sizeof(void*) < 8) {
        EXPECT_TRUE(got.block.empty());
        EXPECT_EQ(got.messages, std::vector<std::string>{kCannotAllocateRow});
        return;
    }
    EXPECT_TRUE(got.messages.empty()) << got.messages[0];
    EXPECT_EQ(got.block, expected.block);
}

char* PixelWindow(const unsigned short* path, void* heap, RECT window) {
    return GetWindowBmp(path, heap, window);
}

// ---------------------------------------------------------------- tests

struct PixelCase {
    const char* what;
    int type;
    int height;
    RECT window;
    RECT narrowWindow;  // the same window on a 16-pixel-wide chart
};

// Every window equals the same window of a narrow chart of the same rows,
// byte for byte, and costs what the rows' bytes cost.
TEST(HostileCharts, PixelWindowsOfRowsOfTwoGigapixelsAreCheap) {
    const PixelCase cases[] = {
        {"2 rows, west edge", 7, 2, {0, 0, 1, 1}, {0, 0, 1, 1}},
        {"2 rows, middle", 7, 2, {1073741823, 0, 1073741824, 1}, {7, 0, 8, 1}},
        {"2 rows, east edge", 7, 2, {kWideWidth - 2, 0, kWideWidth - 1, 1}, {14, 0, 15, 1}},
        {"2 rows, 4 bits, middle", 4, 2, {1073741822, 0, 1073741825, 1}, {6, 0, 9, 1}},
        {"2 rows, 1 bit, east edge", 1, 2, {kWideWidth - 16, 0, kWideWidth - 1, 1}, {0, 0, 15, 1}},
        {"1000 rows, 2 × 2 at the bottom", 7, 1000, {500000000, 998, 500000001, 999}, {3, 998, 4, 999}},
        {"1000 rows, 2 × 1000", 7, 1000, {2000000000, 0, 2000000001, 999}, {10, 0, 11, 999}},
        {"1000 rows, 4 bits, 3 × 1000 at the east edge", 4, 1000, {kWideWidth - 3, 0, kWideWidth - 1, 999},
         {13, 0, 15, 999}},
    };
    TempDir dir;
    for (const PixelCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes chart = UniformChart(kWideWidth, c.height, c.type);
        if (c.type == 7 && c.height == 2) EXPECT_EQ(chart.size(), 91u);
        if (c.type == 7 && c.height == 1000) EXPECT_EQ(chart.size(), 12943u);
        std::string wide = dir.Write("wide.kap", chart);
        std::string narrow = dir.Write("narrow.kap", UniformChart(16, c.height, c.type));
        Result expected = Measure(narrow, 0, [&](const unsigned short* p, void* h) {
            return PixelWindow(p, h, c.narrowWindow);
        });
        ASSERT_FALSE(expected.block.empty());
        Result got = Measure(wide, 0, [&](const unsigned short* p, void* h) {
            return PixelWindow(p, h, c.window);
        });
        ExpectWindow(got, expected);
    }
}

// World windows cut from an upright chart and resampled from a skewed one
// decode only the columns under them too.
TEST(HostileCharts, WorldWindowsOfRowsOfTwoGigapixelsAreCheap) {
    struct Case {
        const char* what;
        const char* skew;
        double left, top, right, bottom;        // on the wide chart
        double nLeft, nTop, nRight, nBottom;    // the same window on a narrow one
    };
    const Case cases[] = {
        {"upright", "0.0", 1500000000.5, -400.5, 1500000002.5, -402.5, 5.5, -400.5, 7.5, -402.5},
        {"skewed", "30.0", 2100000000.5, -500.5, 2100000003.5, -503.5, 6.5, -500.5, 9.5, -503.5},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string wide = dir.Write("wide.kap", UniformChart(kWideWidth, 1000, 4, c.skew));
        std::string narrow = dir.Write("narrow.kap", UniformChart(16, 1000, 4, c.skew));
        Result expected = Measure(narrow, 0, [&](const unsigned short* p, void* h) {
            return GetWindowBmp(p, h, c.nLeft, c.nTop, c.nRight, c.nBottom);
        });
        ASSERT_FALSE(expected.block.empty());
        Result got = Measure(wide, 0, [&](const unsigned short* p, void* h) {
            return GetWindowBmp(p, h, c.left, c.top, c.right, c.bottom);
        });
        ExpectWindow(got, expected);
    }
}

// A host allocator that hands out blocks as the C library does, neither
// cleared nor touched: the handle's windows touch only their own columns of
// the row buffers too.
void* HostAllocate(void*, size_t size) { return std::malloc(size); }
void HostRelease(void*, void* block) { std::free(block); }

TEST(HostileCharts, HandleWindowsFromAHostsOwnAllocatorAreCheap) {
    TempDir dir;
    std::string upright = dir.Write("upright.kap", UniformChart(kWideWidth, 1000, 7, "0.0"));
    std::string skewed = dir.Write("skewed.kap", UniformChart(kWideWidth, 1000, 4, "30.0"));
    bsbchart_allocator host = {HostAllocate, HostRelease, nullptr};
    struct Case {
        const char* what;
        const std::string* path;
        bool world;
        RECT window;
        double left, top, right, bottom;
    };
    const Case cases[] = {
        {"pixel window", &upright, false, {1900000000, 100, 1900000001, 999}, 0, 0, 0, 0},
        {"upright world window", &upright, true, {}, 1500000000.5, -400.5, 1500000002.5, -402.5},
        {"skewed world window", &skewed, true, {}, 2100000000.5, -500.5, 2100000003.5, -503.5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Result expected = Measure(*c.path, 0, [&](const unsigned short* p, void* h) {
            return c.world ? GetWindowBmp(p, h, c.left, c.top, c.right, c.bottom) : PixelWindow(p, h, c.window);
        });
        bsbchart* chart = nullptr;
        ASSERT_EQ(bsbchart_open(c.path->c_str(), &host, &chart, nullptr), BSBCHART_OK);
        bsbchart_status status = BSBCHART_OK;
        void* bitmap = nullptr;
        Result got = Measure(*c.path, 0, [&](const unsigned short*, void*) -> char* {
            bsbchart_rect rect = {c.window.left, c.window.top, c.window.right, c.window.bottom};
            status = c.world ? bsbchart_world_window(chart, c.left, c.top, c.right, c.bottom, BSBCHART_PALETTE_RGB,
                                                     BSBCHART_DOUBLED_COLOURS, &host, &bitmap, nullptr)
                             : bsbchart_pixel_window(chart, rect, BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS,
                                                     &host, &bitmap, nullptr);
            return nullptr;
        });
        bsbchart_close(chart);
        if (sizeof(void*) < 8) {
            EXPECT_EQ(status, BSBCHART_E_NO_MEMORY);
            continue;
        }
        ASSERT_EQ(status, BSBCHART_OK);
        ASSERT_FALSE(expected.block.empty());
        EXPECT_EQ(Bytes((const uint8_t*)bitmap, (const uint8_t*)bitmap + expected.block.size()), expected.block);
        std::free(bitmap);
        ExpectCheap(got.cost);
    }
}

// Reductions of the whole two-gigapixel raster cost its runs, not its width:
// the nearest samples and the area averages of one colour are that colour.
// An output side of 2^31 or more is refused at once.
TEST(HostileCharts, ReducedWindowsOfRowsOfTwoGigapixelsAreCheap) {
    TempDir dir;
    std::string path = dir.Write("upright.kap", UniformChart(kWideWidth, 1000, 7, "0.0"));
    bsbchart_allocator host = {HostAllocate, HostRelease, nullptr};
    bsbchart* chart = nullptr;
    ASSERT_EQ(bsbchart_open(path.c_str(), &host, &chart, nullptr), BSBCHART_OK);
    const bsbchart_rect whole = {0, 0, kWideWidth - 1, 999};
    struct Case {
        const char* what;
        uint32_t w, h, flags;
    };
    const Case cases[] = {{"nearest", 100, 10, 0},
                          {"area average", 100, 10, BSBCHART_AREA_AVERAGE},
                          {"area average, one pixel", 1, 1, BSBCHART_AREA_AVERAGE}};
    uint8_t colour[3] = {0, 0, 0};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        void* bitmap = nullptr;
        bsbchart_status status = BSBCHART_OK;
        Result got = Measure(path, 0, [&](const unsigned short*, void*) -> char* {
            status = bsbchart_reduced_window(chart, whole, c.w, c.h, BSBCHART_PALETTE_RGB, c.flags, &host,
                                             &bitmap, nullptr);
            return nullptr;
        });
        if (sizeof(void*) < 8) {
            EXPECT_EQ(status, BSBCHART_E_NO_MEMORY);
            continue;
        }
        ASSERT_EQ(status, BSBCHART_OK);
        ExpectCheap(got.cost);
        const char* b = static_cast<const char*>(bitmap);
        const uint8_t* pixels = reinterpret_cast<const uint8_t*>(b) + 40 + (c.flags == 0 ? 4 * 256 : 0);
        if (c.flags == 0) {
            std::memcpy(colour, b + 40 + 4, 3);  // the table's entry 1
            for (uint32_t i = 0; i < c.w; ++i) EXPECT_EQ(pixels[i], 1) << i;
        } else {
            for (uint32_t i = 0; i < c.w; ++i)
                EXPECT_EQ(Bytes(pixels + 3 * i, pixels + 3 * i + 3), Bytes(colour, colour + 3)) << i;
        }
        std::free(bitmap);
    }
    void* bitmap = nullptr;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bsbchart_reduced_window(chart, {0, 0, (1 << 28) - 1, 0}, 1u << 31, 1, BSBCHART_PALETTE_RGB, 0,
                                      &host, &bitmap, nullptr),
              BSBCHART_E_ARGUMENT);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_EQ(bitmap, nullptr);
    bsbchart_close(chart);
}

// The two row buffers still take the raster's width each: a heap that cannot
// hold both refuses the window, as before, and one that can serves it.
TEST(HostileCharts, RowBuffersKeepTheRastersWidth) {
    TempDir dir;
    std::string path = dir.Write("wide.kap", UniformChart(kWideWidth, 2, 7));
    const uint64_t kRow = (uint64_t)kWideWidth;
    const uint64_t kRest = 64 * 1024;  // more than the header block and the bitmap take
    struct Case {
        uint64_t heapLimit;
        bool ok;
    };
    std::vector<Case> cases = {{kRow + kRest, false}, {2 * kRow - 1, false}};
    if (sizeof(void*) >= 8) cases.push_back({2 * kRow + kRest, true});
    for (const Case& c : cases) {
        SCOPED_TRACE("heap limit " + std::to_string(c.heapLimit));
        Result got = Measure(path, (size_t)c.heapLimit, [&](const unsigned short* p, void* h) {
            return PixelWindow(p, h, RECT{7, 0, 8, 1});
        });
        EXPECT_EQ(!got.block.empty(), c.ok);
        EXPECT_EQ(got.messages, c.ok ? std::vector<std::string>{}
                                     : std::vector<std::string>{kCannotAllocateRow});
        EXPECT_EQ(got.blocksLeft, 0u);
        ExpectCheap(got.cost);
    }
}

}  // namespace
