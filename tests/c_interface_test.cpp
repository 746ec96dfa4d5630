// The C interface as a host calls it, through the shared library: windows
// byte for byte as GetWindowBmp's, statuses and texts for every bad input,
// metadata, positions, allocators, and sweeps over heap limits and truncated
// files. The library never speaks on its own: every test runs with a message
// sink installed, and nothing may reach it but what the four exported calls
// say.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "c_interface_support.h"
#include "row_reads.h"

namespace {

using cinterface::Bytes;
using cinterface::CountingAllocator;
using cinterface::Geography;
using cinterface::Handle;
using cinterface::Open;
using cinterface::PixelWindow;
using cinterface::TestChart;
using cinterface::Window;
using cinterface::WorldRect;
using cinterface::WorldWindow;
using testsupport::HostHeap;
using testsupport::MessageLog;
using testsupport::TempDir;
using testsupport::Utf16Path;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const std::string kScope = "Your requirement is beyond the scope of the image.";

// The error text of a failure, without and with a path.
std::string Text(const bsbchart_error& error, const char* path = nullptr) {
    char text[600];
    size_t length = bsbchart_error_text(&error, path, text, sizeof text);
    EXPECT_EQ(length, std::strlen(text));
    return text;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// What one of the four exported calls returned, and the messages it showed.
struct Exported {
    bool ok = false;
    Bytes bytes;
    std::vector<std::string> messages;
};

class CInterface : public ::testing::Test {
protected:
    // Messages the exported calls showed are taken out by the helpers below;
    // anything left came from the C interface, which must show nothing.
    void TearDown() override {
        EXPECT_TRUE(log_.Snapshot().empty()) << ::testing::PrintToString(log_.Snapshot());
    }

    Exported TakeMessages(bool ok, Bytes bytes = {}) {
        Exported result;
        result.ok = ok;
        result.bytes = std::move(bytes);
        result.messages = log_.Snapshot();
        log_.Clear();
        return result;
    }

    Exported ExportedPixelWindow(const std::string& path, const bsbchart_rect& r) {
        EXPECT_TRUE(log_.Snapshot().empty());
        HostHeap heap;
        auto wide = Utf16Path(path);
        char* bitmap = GetWindowBmp(wide.data(), heap.get(), RECT{r.left, r.top, r.right, r.bottom});
        Bytes bytes;
        if (bitmap) bytes = cinterface::BitmapBytes(bitmap), FreeChartBlock(heap.get(), bitmap);
        EXPECT_EQ(heap.blocks(), 0u);
        return TakeMessages(bitmap != nullptr, bytes);
    }

    Exported ExportedWorldWindow(const std::string& path, const WorldRect& r) {
        EXPECT_TRUE(log_.Snapshot().empty());
        HostHeap heap;
        auto wide = Utf16Path(path);
        char* bitmap = GetWindowBmp(wide.data(), heap.get(), r.west, r.north, r.east, r.south);
        Bytes bytes;
        if (bitmap) bytes = cinterface::BitmapBytes(bitmap), FreeChartBlock(heap.get(), bitmap);
        EXPECT_EQ(heap.blocks(), 0u);
        return TakeMessages(bitmap != nullptr, bytes);
    }

    std::string Write(const std::string& name, const Bytes& bytes) {
        EXPECT_FALSE(bytes.empty()) << name;
        return dir_.Write(name, bytes);
    }

    MessageLog log_;
    TempDir dir_;
};

// ---- Windows: the bytes GetWindowBmp gives ----------------------------------

// Every compression type, upright and skewed.
std::vector<TestChart> AllCharts(const TempDir& dir) {
    std::vector<TestChart> charts;
    for (int type = 1; type <= 7; ++type) {
        charts.push_back(cinterface::WriteChart(dir, "upright" + std::to_string(type) + ".kap", type,
                                                cinterface::Upright()));
        charts.push_back(cinterface::WriteChart(dir, "skewed" + std::to_string(type) + ".kap", type,
                                                cinterface::Skewed()));
    }
    return charts;
}

std::string Describe(const bsbchart_rect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

std::string Describe(const WorldRect& r) {
    return "(" + cinterface::Decimal(r.west) + ", " + cinterface::Decimal(r.north) + ", " +
           cinterface::Decimal(r.east) + ", " + cinterface::Decimal(r.south) + ")";
}

// Charts are 45 × 23. Edges, corners, odd and even left columns, 2 × 2, the
// whole chart, and rectangles that reach past an edge.
const bsbchart_rect kPixelRects[] = {
    {0, 0, 44, 22}, {0, 0, 1, 1},   {43, 21, 44, 22}, {0, 21, 44, 22}, {43, 0, 44, 22},
    {3, 2, 7, 5},   {13, 1, 22, 9}, {9, 4, 34, 6},    {1, 0, 44, 22},  {8, 8, 15, 9},
    {44, 0, 45, 3}, {0, 21, 3, 23}, {-1, 0, 3, 3},    {0, -1, 3, 3},   {2, 2, 2, 2 + 30},
};

TEST_F(CInterface, PixelWindowsHoldGetWindowBmpsBytes) {
    for (const TestChart& chart : AllCharts(dir_)) {
        SCOPED_TRACE(chart.name);
        std::vector<Exported> references;
        for (const bsbchart_rect& r : kPixelRects) references.push_back(ExportedPixelWindow(chart.path, r));
        bsbchart_status status;
        Handle handle = Open(chart.path, &status);
        ASSERT_EQ(status, BSBCHART_OK);
        int successes = 0;
        for (size_t i = 0; i < std::size(kPixelRects); ++i) {
            SCOPED_TRACE(Describe(kPixelRects[i]));
            Window window = PixelWindow(handle.get(), kPixelRects[i]);
            const Exported& reference = references[i];
            if (reference.ok) {
                ++successes;
                EXPECT_EQ(window.status, BSBCHART_OK) << Text(window.error);
                EXPECT_EQ(window.bytes, reference.bytes);
            } else {
                EXPECT_EQ(reference.messages, std::vector<std::string>{kScope});
                EXPECT_EQ(window.status, BSBCHART_E_OUTSIDE);
                EXPECT_TRUE(window.bytes.empty());
            }
        }
        EXPECT_EQ(successes, 10);
    }
}

// World rectangles inside the chart, over its edges (an upright chart's
// window is clamped to it), wholly outside, and of zero size.
std::vector<WorldRect> WorldRects(const Geography& g) {
    if (!g.skewed) {
        // Column 8 (x + 0.5), row 8 (10 - y): x -0.5 … 5.125, y 10 … 7.25.
        return {{-0.5, 10.0, 5.0, 7.25},       {0.3, 9.3, 2.1, 8.1},   {-3.0, 12.0, 1.0, 9.0},
                {4.0, 8.0, 9.0, 5.0},          {-3.0, 12.0, 9.0, 5.0}, {1.0, 9.0, 1.0, 9.0},
                {0.0, 9.9, 0.24, 9.76},        {6.0, 9.0, 7.0, 8.0},   {1.0, 14.0, 2.0, 13.0},
                {-0.4999, 9.999, 5.1, 7.2501}};
    }
    // World in pixels from chart position (ox, oy) = (14, 3) at 30 degrees.
    return {{-10.0, 5.0, 20.0, -10.0}, {-5.0, 0.0, 5.0, -8.0},   {-30.0, 30.0, 40.0, -40.0},
            {2.0, -2.0, 3.0, -3.0},    {0.0, 0.0, 0.0, 0.0},     {200.0, 300.0, 210.0, 290.0},
            {-14.5, 3.25, 12.75, -21.0}};
}

TEST_F(CInterface, WorldWindowsHoldGetWindowBmpsBytes) {
    for (const TestChart& chart : AllCharts(dir_)) {
        SCOPED_TRACE(chart.name);
        std::vector<WorldRect> rects = WorldRects(chart.geography);
        std::vector<Exported> references;
        for (const WorldRect& r : rects) references.push_back(ExportedWorldWindow(chart.path, r));
        bsbchart_status status;
        Handle handle = Open(chart.path, &status);
        ASSERT_EQ(status, BSBCHART_OK);
        int successes = 0;
        for (size_t i = 0; i < rects.size(); ++i) {
            SCOPED_TRACE(Describe(rects[i]));
            Window window = WorldWindow(handle.get(), rects[i]);
            if (references[i].ok) {
                ++successes;
                EXPECT_EQ(window.status, BSBCHART_OK) << Text(window.error);
                EXPECT_EQ(window.bytes, references[i].bytes);
            } else {
                EXPECT_EQ(references[i].messages, std::vector<std::string>{kScope});
                EXPECT_EQ(window.status, BSBCHART_E_OUTSIDE);
                EXPECT_TRUE(window.bytes.empty());
            }
        }
        EXPECT_GE(successes, static_cast<int>(rects.size()) - 3);
    }
}

// Without the flag the colour table holds the values as the records store
// them; the rows are the same.
TEST_F(CInterface, WithoutDoubledColoursTheTableHoldsTheStoredValues) {
    for (int type : {1, 4, 7}) {
        TestChart chart = cinterface::WriteChart(dir_, "stored.kap", type, cinterface::Upright());
        SCOPED_TRACE(type);
        Handle handle = Open(chart.path);
        ASSERT_TRUE(handle);
        bsbchart_rect rect = {2, 3, 40, 20};
        Window doubled = PixelWindow(handle.get(), rect);
        Window stored = PixelWindow(handle.get(), rect, BSBCHART_PALETTE_RGB, 0);
        ASSERT_EQ(stored.status, BSBCHART_OK);
        ASSERT_EQ(doubled.status, BSBCHART_OK);
        int bpp = cinterface::BitsPerPixel(type);
        size_t entries = size_t{1} << bpp;
        Bytes table(4 * entries, 0);
        for (const auto& record : cinterface::kRgb) {
            size_t index = record[0] & 0xFF;
            if (index >= entries) continue;
            table[4 * index + 0] = static_cast<uint8_t>(record[3]);
            table[4 * index + 1] = static_cast<uint8_t>(record[2]);
            table[4 * index + 2] = static_cast<uint8_t>(record[1]);
        }
        ASSERT_EQ(stored.bytes.size(), doubled.bytes.size());
        EXPECT_EQ(Bytes(stored.bytes.begin() + 40, stored.bytes.begin() + 40 + table.size()), table);
        EXPECT_TRUE(std::equal(stored.bytes.begin(), stored.bytes.begin() + 40, doubled.bytes.begin()));
        EXPECT_TRUE(std::equal(stored.bytes.begin() + 40 + table.size(), stored.bytes.end(),
                               doubled.bytes.begin() + 40 + table.size()));
        // The palette query gives the same tables.
        uint8_t queried[1024];
        ASSERT_EQ(bsbchart_get_palette(handle.get(), BSBCHART_PALETTE_RGB, 0, queried), BSBCHART_OK);
        EXPECT_TRUE(std::equal(table.begin(), table.end(), queried));
        ASSERT_EQ(bsbchart_get_palette(handle.get(), BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS,
                                       queried),
                  BSBCHART_OK);
        EXPECT_TRUE(std::equal(doubled.bytes.begin() + 40, doubled.bytes.begin() + 40 + table.size(),
                               queried));
    }
}

// GetWindowBmp refuses windows under 2 × 2; a handle takes 1 × 1 and single
// rows and columns, with the bytes GetWindowBmp's rule gives: rows copied
// in whole bytes from the byte holding the left column.
TEST_F(CInterface, HandleTakesOnePixelWindows) {
    for (int type : {1, 4, 7}) {
        TestChart chart = cinterface::WriteChart(dir_, "small.kap", type, cinterface::Upright());
        SCOPED_TRACE(type);
        const bsbchart_rect rects[] = {{0, 0, 0, 0}, {44, 22, 44, 22}, {17, 9, 17, 9},
                                       {5, 7, 30, 7}, {40, 0, 40, 22}};
        for (const bsbchart_rect& r : rects) {
            EXPECT_FALSE(ExportedPixelWindow(chart.path, r).ok);
            EXPECT_TRUE(ExportedPixelWindow(chart.path, {0, 0, 1, 1}).ok);
        }
        Exported tableSource = ExportedPixelWindow(chart.path, {0, 0, 1, 1});
        Handle handle = Open(chart.path);
        ASSERT_TRUE(handle);
        int bpp = cinterface::BitsPerPixel(type);
        size_t tableSize = 4 * (size_t{1} << bpp);
        for (const bsbchart_rect& r : rects) {
            SCOPED_TRACE(Describe(r));
            Window window = PixelWindow(handle.get(), r);
            ASSERT_EQ(window.status, BSBCHART_OK) << Text(window.error);
            uint32_t w = r.right - r.left + 1, h = r.bottom - r.top + 1;
            uint32_t stride = (bpp * w + 31) / 32 * 4;
            const char* b = reinterpret_cast<const char*>(window.bytes.data());
            EXPECT_EQ(testsupport::LeI32(b + 4), static_cast<int32_t>(w));
            EXPECT_EQ(testsupport::LeI32(b + 8), -static_cast<int32_t>(h));
            EXPECT_EQ(testsupport::Le32(b + 20), stride * h);
            ASSERT_EQ(window.bytes.size(), 40 + tableSize + stride * h);
            EXPECT_TRUE(std::equal(tableSource.bytes.begin() + 40,
                                   tableSource.bytes.begin() + 40 + tableSize, window.bytes.begin() + 40));
            uint32_t perByte = 8 / bpp;
            uint32_t first = r.left / perByte * perByte;
            uint32_t copied = bpp * w / 8 * perByte;
            for (uint32_t j = 0; j < h; ++j) {
                Bytes row(stride, 0);
                for (uint32_t i = 0; i < copied; ++i)
                    row[i / perByte] |= static_cast<uint8_t>(chart.picture.at(first + i, r.top + j)
                                                             << (8 - bpp * (i % perByte + 1)));
                EXPECT_TRUE(std::equal(row.begin(), row.end(),
                                       window.bytes.begin() + 40 + tableSize + j * stride))
                    << "row " << j;
            }
        }
    }
}

// The block is the allocator's that the call names, and it alone stays.
TEST_F(CInterface, WindowsComeFromTheNamedAllocator) {
    TestChart chart = cinterface::WriteChart(dir_, "alloc.kap", 4, cinterface::Skewed());
    Exported pixelReference = ExportedPixelWindow(chart.path, {3, 2, 30, 20});
    Exported worldReference = ExportedWorldWindow(chart.path, {-10.0, 5.0, 20.0, -10.0});
    ASSERT_TRUE(pixelReference.ok && worldReference.ok);

    CountingAllocator handleMemory;
    bsbchart_allocator handleAllocator = handleMemory.get();
    bsbchart_status status;
    Handle handle = Open(chart.path, &status, &handleAllocator);
    ASSERT_EQ(status, BSBCHART_OK);
    size_t handleBlocks = handleMemory.live();
    EXPECT_GT(handleBlocks, 0u);

    CountingAllocator windowMemory;
    bsbchart_allocator windowAllocator = windowMemory.get();
    void* bitmap = nullptr;
    ASSERT_EQ(bsbchart_pixel_window(handle.get(), {3, 2, 30, 20}, BSBCHART_PALETTE_RGB,
                                    BSBCHART_DOUBLED_COLOURS, &windowAllocator, &bitmap, nullptr),
              BSBCHART_OK);
    EXPECT_EQ(windowMemory.live(), 1u);
    EXPECT_EQ(handleMemory.live(), handleBlocks);
    EXPECT_EQ(cinterface::BitmapBytes(bitmap), pixelReference.bytes);
    EXPECT_EQ(windowMemory.liveBytes(), pixelReference.bytes.size());
    windowAllocator.release(windowAllocator.context, bitmap);
    EXPECT_EQ(windowMemory.live(), 0u);

    // A host heap through bsbchart_heap_allocator: the bitmap is one of its
    // blocks, freed like GetWindowBmp's.
    HostHeap heap;
    bsbchart_allocator heapAllocator;
    ASSERT_EQ(bsbchart_heap_allocator(heap.get(), &heapAllocator), BSBCHART_OK);
    ASSERT_EQ(bsbchart_world_window(handle.get(), -10.0, 5.0, 20.0, -10.0, BSBCHART_PALETTE_RGB,
                                    BSBCHART_DOUBLED_COLOURS, &heapAllocator, &bitmap, nullptr),
              BSBCHART_OK);
    EXPECT_EQ(heap.blocks(), 1u);
    EXPECT_EQ(cinterface::BitmapBytes(bitmap), worldReference.bytes);
    FreeChartBlock(heap.get(), bitmap);
    EXPECT_EQ(heap.blocks(), 0u);
    handle.reset();
    EXPECT_EQ(handleMemory.live(), 0u);
    EXPECT_EQ(windowMemory.live(), 0u);
    EXPECT_EQ(handleMemory.foreignReleases() + windowMemory.foreignReleases(), 0u);

    // The handle itself in a host heap.
    {
        HostHeap handleHeap;
        bsbchart_allocator allocator;
        ASSERT_EQ(bsbchart_heap_allocator(handleHeap.get(), &allocator), BSBCHART_OK);
        Handle inHeap = Open(chart.path, &status, &allocator);
        ASSERT_EQ(status, BSBCHART_OK);
        EXPECT_GT(handleHeap.blocks(), 0u);
        inHeap.reset();
        EXPECT_EQ(handleHeap.blocks(), 0u);
    }
}

// ---- Statuses for bad arguments ---------------------------------------------

TEST_F(CInterface, NullPointersAndBadArgumentsAreStatuses) {
    TestChart chart = cinterface::WriteChart(dir_, "args.kap", 4, cinterface::Upright());
    Handle handle = Open(chart.path);
    ASSERT_TRUE(handle);
    const bsbchart* c = handle.get();
    bsbchart_error error;
    auto fresh = [&error] {
        std::memset(&error, 0x55, sizeof error);
        return &error;
    };
    auto argument = [&error](bsbchart_status status, const char* what) {
        EXPECT_EQ(status, BSBCHART_E_ARGUMENT) << what;
        EXPECT_EQ(error.status, BSBCHART_E_ARGUMENT) << what;
        EXPECT_EQ(error.row, -1) << what;
        EXPECT_STREQ(error.record, "") << what;
        EXPECT_EQ(error.system_error, 0) << what;
        EXPECT_EQ(Text(error), "bad argument") << what;
    };

    bsbchart* opened = reinterpret_cast<bsbchart*>(&error);  // garbage the call must clear
    argument(bsbchart_open(nullptr, nullptr, &opened, fresh()), "open: path");
    EXPECT_EQ(opened, nullptr);
    argument(bsbchart_open(chart.path.c_str(), nullptr, nullptr, fresh()), "open: out-pointer");
    auto wide = Utf16Path(chart.path);
    opened = reinterpret_cast<bsbchart*>(&error);
    argument(bsbchart_open_utf16(nullptr, nullptr, &opened, fresh()), "open_utf16: path");
    EXPECT_EQ(opened, nullptr);
    argument(bsbchart_open_utf16(reinterpret_cast<const uint16_t*>(wide.data()), nullptr, nullptr,
                                 fresh()),
             "open_utf16: out-pointer");
    CountingAllocator memory;
    bsbchart_allocator halves[2] = {memory.get(), memory.get()};
    halves[0].allocate = nullptr;
    halves[1].release = nullptr;
    for (const bsbchart_allocator& half : halves) {
        argument(bsbchart_open(chart.path.c_str(), &half, &opened, fresh()), "open: allocator");
        EXPECT_EQ(opened, nullptr);
    }
    EXPECT_EQ(memory.allocations(), 0u);
    // No error record at all is fine too.
    EXPECT_EQ(bsbchart_open(nullptr, nullptr, &opened, nullptr), BSBCHART_E_ARGUMENT);

    bsbchart_info info;
    EXPECT_EQ(bsbchart_get_info(nullptr, &info), BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_get_info(c, nullptr), BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_get_field(nullptr, BSBCHART_FIELD_NAME), nullptr);
    EXPECT_EQ(bsbchart_get_field(c, -1), nullptr);
    EXPECT_EQ(bsbchart_get_field(c, BSBCHART_FIELD_COUNT), nullptr);
    size_t length = 99;
    EXPECT_EQ(bsbchart_header_text(nullptr, &length), nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_NE(bsbchart_header_text(c, nullptr), nullptr);

    double x = 0, y = 0;
    argument(bsbchart_pixel_to_world(nullptr, 1, 1, &x, &y, fresh()), "pixel_to_world: chart");
    argument(bsbchart_pixel_to_world(c, 1, 1, nullptr, &y, fresh()), "pixel_to_world: x");
    argument(bsbchart_pixel_to_world(c, 1, 1, &x, nullptr, fresh()), "pixel_to_world: y");
    argument(bsbchart_world_to_pixel(nullptr, 1, 1, &x, &y, fresh()), "world_to_pixel: chart");
    argument(bsbchart_world_to_pixel(c, 1, 1, nullptr, &y, fresh()), "world_to_pixel: column");
    argument(bsbchart_world_to_pixel(c, 1, 1, &x, nullptr, fresh()), "world_to_pixel: row");
    double w, n, e, s;
    argument(bsbchart_world_extent(nullptr, &w, &n, &e, &s, fresh()), "world_extent: chart");
    argument(bsbchart_world_extent(c, nullptr, &n, &e, &s, fresh()), "world_extent: west");
    argument(bsbchart_world_extent(c, &w, nullptr, &e, &s, fresh()), "world_extent: north");
    argument(bsbchart_world_extent(c, &w, &n, nullptr, &s, fresh()), "world_extent: east");
    argument(bsbchart_world_extent(c, &w, &n, &e, nullptr, fresh()), "world_extent: south");

    struct PixelCase {
        const char* what;
        const bsbchart* chart;
        bsbchart_rect rect;
        int32_t palette;
        uint32_t flags;
        bool withBitmap;
        int allocator;  // 0 none, 1 without allocate, 2 without release
    };
    const bsbchart_rect ok = {1, 1, 10, 10};
    const PixelCase pixelCases[] = {
        {"chart", nullptr, ok, 0, 1, true, 0},
        {"bitmap", c, ok, 0, 1, false, 0},
        {"right < left", c, {5, 1, 4, 10}, 0, 1, true, 0},
        {"bottom < top", c, {1, 5, 10, 4}, 0, 1, true, 0},
        {"both inverted", c, {10, 10, 1, 1}, 0, 1, true, 0},
        {"palette -1", c, ok, -1, 1, true, 0},
        {"palette count", c, ok, BSBCHART_PALETTE_COUNT, 1, true, 0},
        {"palette 1000", c, ok, 1000, 1, true, 0},
        {"area average", c, ok, 0, BSBCHART_DOUBLED_COLOURS | BSBCHART_AREA_AVERAGE, true, 0},
        {"unknown flag", c, ok, 0, 4, true, 0},
        {"high flag", c, ok, 0, 0x80000000u, true, 0},
        {"allocate missing", c, ok, 0, 1, true, 1},
        {"release missing", c, ok, 0, 1, true, 2},
    };
    for (const PixelCase& pc : pixelCases) {
        void* bitmap = &error;
        bsbchart_allocator* allocator = pc.allocator ? &halves[pc.allocator - 1] : nullptr;
        argument(bsbchart_pixel_window(pc.chart, pc.rect, pc.palette, pc.flags, allocator,
                                       pc.withBitmap ? &bitmap : nullptr, fresh()),
                 pc.what);
        if (pc.withBitmap) EXPECT_EQ(bitmap, nullptr) << pc.what;
        bitmap = &error;
        WorldRect world = {0.5, 9.5, 1.5, 8.5};
        if (pc.rect.right < pc.rect.left || pc.rect.bottom < pc.rect.top) continue;
        argument(bsbchart_world_window(pc.chart, world.west, world.north, world.east, world.south,
                                       pc.palette, pc.flags, allocator,
                                       pc.withBitmap ? &bitmap : nullptr, fresh()),
                 pc.what);
        if (pc.withBitmap) EXPECT_EQ(bitmap, nullptr) << pc.what;
    }
    EXPECT_EQ(memory.allocations(), 0u);

    const WorldRect badWorld[] = {{kNaN, 9.5, 1.5, 8.5}, {0.5, kNaN, 1.5, 8.5}, {0.5, 9.5, kNaN, 8.5},
                                  {0.5, 9.5, 1.5, kNaN}, {1.5, 9.5, 0.5, 8.5},  {0.5, 8.5, 1.5, 9.5},
                                  {kInf, 9.5, -kInf, 8.5}};
    for (const WorldRect& r : badWorld) {
        void* bitmap = &error;
        argument(bsbchart_world_window(c, r.west, r.north, r.east, r.south, 0, 1, nullptr, &bitmap,
                                       fresh()),
                 Describe(r).c_str());
        EXPECT_EQ(bitmap, nullptr);
    }

    uint8_t table[1024];
    EXPECT_EQ(bsbchart_get_palette(nullptr, 0, 0, table), BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_get_palette(c, 0, 0, nullptr), BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_get_palette(c, -1, 0, table), BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_get_palette(c, BSBCHART_PALETTE_COUNT, 0, table), BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_get_palette(c, 0, BSBCHART_AREA_AVERAGE, table), BSBCHART_E_ARGUMENT);

    bsbchart_allocator allocator;
    HostHeap heap;
    EXPECT_EQ(bsbchart_heap_allocator(nullptr, &allocator), BSBCHART_E_ARGUMENT);
    EXPECT_EQ(bsbchart_heap_allocator(heap.get(), nullptr), BSBCHART_E_ARGUMENT);

    bsbchart_close(nullptr);
    bsbchart_free(nullptr);
    EXPECT_EQ(bsbchart_palette_key(-1), nullptr);
    EXPECT_EQ(bsbchart_palette_key(BSBCHART_PALETTE_COUNT), nullptr);
    char text[64];
    EXPECT_EQ(bsbchart_error_text(nullptr, nullptr, text, sizeof text), std::strlen("bad argument"));
    EXPECT_STREQ(text, "bad argument");
}

// A palette the chart does not carry is its own status, naming the record.
TEST_F(CInterface, MissingPaletteNamesItsRecord) {
    TestChart chart = cinterface::WriteChart(dir_, "palettes.kap", 4, cinterface::Upright());
    Handle handle = Open(chart.path);
    ASSERT_TRUE(handle);
    for (int32_t palette = BSBCHART_PALETTE_DAY; palette < BSBCHART_PALETTE_COUNT; ++palette) {
        const char* key = bsbchart_palette_key(palette);
        SCOPED_TRACE(key);
        for (uint32_t flags : {0u, BSBCHART_DOUBLED_COLOURS}) {
            Window window = PixelWindow(handle.get(), {0, 0, 5, 5}, palette, flags);
            EXPECT_EQ(window.status, BSBCHART_E_PALETTE);
            EXPECT_STREQ(window.error.record, key);
            EXPECT_EQ(Text(window.error), std::string("the chart has no ") + key + " palette");
            EXPECT_TRUE(window.bytes.empty());
            window = WorldWindow(handle.get(), {0.5, 9.5, 1.5, 8.5}, palette, flags);
            EXPECT_EQ(window.status, BSBCHART_E_PALETTE);
            EXPECT_STREQ(window.error.record, key);
            uint8_t table[1024];
            EXPECT_EQ(bsbchart_get_palette(handle.get(), palette, flags, table), BSBCHART_E_PALETTE);
        }
    }
}

// ---- Statuses for files -----------------------------------------------------

struct OpenResult {
    bsbchart_status status;
    bsbchart_error error;
    bool handle;
};

OpenResult OpenBytes(const char* path) {
    OpenResult result{};
    bsbchart* chart = reinterpret_cast<bsbchart*>(&result);
    std::memset(&result.error, 0x55, sizeof result.error);
    result.status = bsbchart_open(path, nullptr, &chart, &result.error);
    result.handle = chart != nullptr;
    bsbchart_close(chart);
    return result;
}

TEST_F(CInterface, FilesThatAreNoChartsGetTheirStatus) {
    TestChart chart = cinterface::WriteChart(dir_, "whole.kap", 4, cinterface::Upright());
    std::string text = "VER/3.0\r\nBSB/NA=NOT A CHART\r\nThis is a text file.\r\n";
    struct Case {
        const char* name;
        Bytes bytes;
        bsbchart_status status;
        const char* text;
    };
    Bytes noSize = chartwriter::BuildChart("VER/3.0\r\nBSB/NA=X,RB=4,4\r\n",
                                           cinterface::RunPicture(4, 4, 4, 1), 4);
    const Case cases[] = {
        {"empty", {}, BSBCHART_E_HEADER, "header missing or truncated"},
        {"three bytes", {1, 2, 3}, BSBCHART_E_HEADER, "header missing or truncated"},
        {"text", Bytes(text.begin(), text.end()), BSBCHART_E_HEADER, "header missing or truncated"},
        {"cut in its rows", Bytes(chart.bytes.begin(), chart.bytes.begin() + chart.header.size() + 60),
         BSBCHART_E_HEADER, "header missing or truncated"},
        {"without its trailer", Bytes(chart.bytes.begin(), chart.bytes.end() - 4), BSBCHART_E_HEADER,
         "header missing or truncated"},
        {"without its last byte", Bytes(chart.bytes.begin(), chart.bytes.end() - 1),
         BSBCHART_E_HEADER, "header missing or truncated"},
        {"without RA=", noSize, BSBCHART_E_RASTER_SIZE, "raster size record missing or invalid"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir_.Write(std::string(c.name) + ".kap", c.bytes);
        OpenResult result = OpenBytes(path.c_str());
        EXPECT_EQ(result.status, c.status);
        EXPECT_FALSE(result.handle);
        EXPECT_EQ(result.error.status, c.status);
        EXPECT_EQ(result.error.row, -1);
        EXPECT_STREQ(result.error.record, "");
        EXPECT_EQ(Text(result.error), c.text);
        EXPECT_EQ(Text(result.error, path.c_str()), std::string(c.text) + ": " + path);
    }
}

TEST_F(CInterface, OpenFailuresGetTheSystemsCause) {
    OpenResult missing = OpenBytes(dir_.PathOf("missing.kap").c_str());
    EXPECT_EQ(missing.status, BSBCHART_E_NOT_FOUND);
    EXPECT_FALSE(missing.handle);
    EXPECT_EQ(missing.error.system_error, 2);  // ENOENT, and ERROR_FILE_NOT_FOUND
    EXPECT_EQ(Text(missing.error, "charts/a.kap"), "no such file: charts/a.kap");

    OpenResult inMissingDirectory = OpenBytes(dir_.PathOf("none/chart.kap").c_str());
    EXPECT_EQ(inMissingDirectory.status, BSBCHART_E_NOT_FOUND);
}

// On Windows too, where the system refuses a directory as "access denied".
TEST_F(CInterface, DirectoryIsNotARegularFile) {
    for (const std::string& path : {dir_.path(), dir_.path() + "/"}) {
        OpenResult directory = OpenBytes(path.c_str());
        EXPECT_EQ(directory.status, BSBCHART_E_NOT_REGULAR) << Text(directory.error);
        EXPECT_FALSE(directory.handle);
        EXPECT_EQ(Text(directory.error, "d"), "not a regular file: d");
    }
}

#if !defined(_WIN32)
TEST_F(CInterface, UnreadableFileIsPermissionDenied) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root, which may read any file";
    TestChart chart = cinterface::WriteChart(dir_, "locked.kap", 4, cinterface::Upright());
    ASSERT_EQ(chmod(chart.path.c_str(), 0), 0);
    OpenResult result = OpenBytes(chart.path.c_str());
    EXPECT_EQ(result.status, BSBCHART_E_PERMISSION);
    EXPECT_EQ(result.error.system_error, EACCES);
    EXPECT_EQ(Text(result.error, "x.kap"), "permission denied: x.kap");
    chmod(chart.path.c_str(), 0600);
}

TEST_F(CInterface, SpecialFilesAreNotRegular) {
    OpenResult device = OpenBytes("/dev/null");
    EXPECT_EQ(device.status, BSBCHART_E_NOT_REGULAR);
    std::string fifo = dir_.PathOf("pipe");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    OpenResult pipe = OpenBytes(fifo.c_str());  // never blocks
    EXPECT_EQ(pipe.status, BSBCHART_E_NOT_REGULAR);
}

// POSIX names are bytes: one that is not UTF-8 opens as it is.
TEST_F(CInterface, PosixNameThatIsNotUtf8Opens) {
    TestChart chart = cinterface::WriteChart(dir_, "plain.kap", 4, cinterface::Upright());
    std::string name = dir_.PathOf("chart-\xff\xfe-\xc3.kap");
    ASSERT_EQ(std::rename(chart.path.c_str(), name.c_str()), 0);
    bsbchart_status status;
    Handle handle = Open(name, &status);
    EXPECT_EQ(status, BSBCHART_OK);
    EXPECT_TRUE(handle);
    // Named as bytes, it opens; named by a UTF-16 path it cannot be.
    OpenResult notThere = OpenBytes(dir_.PathOf("chart-\xff\xff.kap").c_str());
    EXPECT_EQ(notThere.status, BSBCHART_E_NOT_FOUND);
    handle.reset();
    std::remove(name.c_str());
}
#else
TEST_F(CInterface, InvalidUtf8IsABadPathOnWindows) {
    const char* paths[] = {"chart-\xff.kap", "chart-\xc3.kap", "chart-\xed\xa0\x80.kap",
                           "chart-\xc0\xaf.kap"};
    for (const char* path : paths) {
        OpenResult result = OpenBytes(path);
        EXPECT_EQ(result.status, BSBCHART_E_PATH) << path;
        EXPECT_EQ(Text(result.error), "path not valid or too long");
    }
}
#endif

// Paths over the limit or not valid UTF-16 never reach the system.
TEST_F(CInterface, BadPathsArePathStatuses) {
    for (size_t length : {size_t{4096}, size_t{4097}, size_t{100000}}) {
        std::string path = dir_.path() + "/" + std::string(length - dir_.path().size() - 1, 'a');
        OpenResult result = OpenBytes(path.c_str());
        EXPECT_EQ(result.status, BSBCHART_E_PATH) << length;
        EXPECT_EQ(Text(result.error), "path not valid or too long");
        std::vector<uint16_t> wide(path.begin(), path.end());
        wide.push_back(0);
        bsbchart* chart = nullptr;
        EXPECT_EQ(bsbchart_open_utf16(wide.data(), nullptr, &chart, nullptr), BSBCHART_E_PATH);
        EXPECT_EQ(chart, nullptr);
    }
#if !defined(_WIN32)
    // A name longer than the file system takes.
    OpenResult longName = OpenBytes((dir_.path() + "/" + std::string(300, 'n') + ".kap").c_str());
    EXPECT_EQ(longName.status, BSBCHART_E_PATH);
#endif
    TestChart chart = cinterface::WriteChart(dir_, "u16.kap", 4, cinterface::Upright());
    std::vector<uint16_t> base(chart.path.begin(), chart.path.end());
    const std::vector<uint16_t> bad[] = {{0xD800}, {0xDC00}, {0xDBFF, 'a'}, {0xD800, 0xD800, 0xDC00},
                                         {'a', 0xDFFF}};
    for (const auto& tail : bad) {
        std::vector<uint16_t> wide = base;
        wide.insert(wide.end(), tail.begin(), tail.end());
        wide.push_back(0);
        bsbchart_error error;
        bsbchart* handle = nullptr;
        EXPECT_EQ(bsbchart_open_utf16(wide.data(), nullptr, &handle, &error), BSBCHART_E_PATH);
        EXPECT_EQ(handle, nullptr);
    }
    // Valid UTF-16, a pair beyond the BMP among them, opens.
    std::string name = "chart-\xc3\xa4\xe2\x82\xac\xf0\x9d\x84\x9e.kap";
    std::string path = dir_.Write(name, chart.bytes);
    auto wide = Utf16Path(path);
    bsbchart* handle = nullptr;
    EXPECT_EQ(bsbchart_open_utf16(reinterpret_cast<const uint16_t*>(wide.data()), nullptr, &handle,
                                  nullptr),
              BSBCHART_OK);
    EXPECT_NE(handle, nullptr);
    bsbchart_close(handle);
    Handle byUtf8 = Open(path);
    EXPECT_TRUE(byUtf8);
}

// ---- Rows and records -------------------------------------------------------

// The chart's rows, row `bad` replaced by `replacement`.
Bytes ChartWithRow(const TestChart& chart, int bad, const Bytes& replacement) {
    std::vector<Bytes> rows;
    for (int y = 0; y < chart.picture.height; ++y)
        rows.push_back(y == bad ? replacement
                                : chartwriter::EncodeRow(chart.picture.row(y), chart.picture.width,
                                                         y + 1, chart.compressionType));
    return chartwriter::AssembleChart(chartwriter::MakeHeaderBlock(chart.header, chart.compressionType),
                                      rows);
}

TEST_F(CInterface, RowFailuresNameTheRow) {
    TestChart chart = cinterface::WriteChart(dir_, "rows.kap", 4, cinterface::Upright());
    const int width = chart.picture.width;
    // Row 17 decodes 25 pixels short.
    Bytes shortRow = chartwriter::EncodeRow(chart.picture.row(17), width - 25, 18, 4);
    std::string undecodable = Write("undecodable.kap", ChartWithRow(chart, 17, shortRow));
    // Row 12 runs longer than the raster is wide: every pixel a run of two
    // bytes.
    Bytes longRow = chartwriter::EncodeRow(chart.picture.row(12), width, 13, 4, {1, 2});
    std::string tooLong = Write("longrow.kap", ChartWithRow(chart, 12, longRow));
    // Row 9 starts and ends past the end of the file (row 8 then ends there
    // too, longer than the raster is wide).
    Bytes pastEnd = chart.bytes;
    uint32_t table = chartwriter::GetBe32(pastEnd, pastEnd.size() - 4);
    chartwriter::PutBe32(pastEnd, table + 4 * 9, static_cast<uint32_t>(pastEnd.size() + 1000));
    chartwriter::PutBe32(pastEnd, table + 4 * 10, static_cast<uint32_t>(pastEnd.size() + 1010));
    std::string unreadable = Write("pastend.kap", pastEnd);

    struct Case {
        const char* name;
        std::string path;
        bsbchart_status status;
        int top;  // of the window
        int row;
        const char* text;
        int above;     // the last row a window above it may reach
        int worldRow;  // the first bad row of the whole chart
    };
    const Case cases[] = {
        {"undecodable", undecodable, BSBCHART_E_ROW_DECODE, 5, 17, "row 17 does not decode", 16, 17},
        {"too long", tooLong, BSBCHART_E_ROW_READ, 5, 12, "row 12 cannot be read", 11, 12},
        {"past the end", unreadable, BSBCHART_E_ROW_READ, 9, 9, "row 9 cannot be read", 7, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exported exported = ExportedPixelWindow(c.path, {0, c.top, width - 1, 22});
        EXPECT_FALSE(exported.ok);
        EXPECT_EQ(exported.messages.size(), 1u);
        bsbchart_status status;
        Handle handle = Open(c.path, &status);
        ASSERT_EQ(status, BSBCHART_OK);
        Window window = PixelWindow(handle.get(), {3, c.top, width - 1, 22});
        EXPECT_EQ(window.status, c.status);
        EXPECT_EQ(window.error.status, c.status);
        EXPECT_EQ(window.error.row, c.row);
        EXPECT_TRUE(window.bytes.empty());
        EXPECT_EQ(Text(window.error), c.text);
        EXPECT_EQ(Text(window.error, "a.kap"), std::string(c.text) + ": a.kap");
        // A window above the row does not see it.
        EXPECT_EQ(PixelWindow(handle.get(), {0, 0, width - 1, c.above}).status, BSBCHART_OK);
        Window world = WorldWindow(handle.get(), {-0.5, 10.0, 5.0, 7.25});
        EXPECT_EQ(world.status, c.status);
        EXPECT_EQ(world.error.row, c.worldRow);
    }
}

#if !defined(_WIN32)
// A chart cut short while a handle holds it: the rows still wholly in the
// file come out, and the first row cut fails with its number, however many
// rows a read asks for at once.
TEST_F(CInterface, RowsCutAfterOpenFailAtTheFirstRowCut) {
    TestChart chart = cinterface::WriteChart(dir_, "cut.kap", 4, cinterface::Upright());
    std::string path = Write("cut.kap", chart.bytes);
    Handle handle = Open(path);
    ASSERT_TRUE(handle);
    Window before = PixelWindow(handle.get(), {0, 0, 44, 22});
    ASSERT_EQ(before.status, BSBCHART_OK);
    std::vector<uint32_t> offsets = testsupport::RowOffsets(chart.bytes, 23);
    ASSERT_EQ(truncate(path.c_str(), (offsets[15] + offsets[16]) / 2), 0);

    Window cut = PixelWindow(handle.get(), {0, 0, 44, 22});
    EXPECT_EQ(cut.status, BSBCHART_E_ROW_READ);
    EXPECT_EQ(cut.error.row, 15);
    Window intact = PixelWindow(handle.get(), {0, 0, 44, 14});
    ASSERT_EQ(intact.status, BSBCHART_OK);
    Handle whole = Open(Write("whole.kap", chart.bytes));
    EXPECT_EQ(intact.bytes, PixelWindow(whole.get(), {0, 0, 44, 14}).bytes);
    void* bitmap = nullptr;
    bsbchart_error error;
    EXPECT_EQ(bsbchart_reduced_window(handle.get(), {0, 0, 44, 22}, 9, 5, BSBCHART_PALETTE_RGB,
                                      BSBCHART_AREA_AVERAGE, nullptr, &bitmap, &error),
              BSBCHART_E_ROW_READ);
    EXPECT_EQ(error.row, 15);
    EXPECT_EQ(bitmap, nullptr);
}
#endif

TEST_F(CInterface, CompressionTypeOutsideItsRange) {
    for (int type : {0, 8, 0x7F, -1}) {
        SCOPED_TRACE(type);
        TestChart chart = cinterface::WriteChart(dir_, "type.kap", 4, cinterface::Upright());
        Bytes bytes = chart.bytes;
        bytes[chart.header.size() + 1] = static_cast<uint8_t>(type);
        std::string path = Write("type.kap", bytes);
        bsbchart_status status;
        Handle handle = Open(path, &status);
        ASSERT_EQ(status, BSBCHART_OK);
        bsbchart_info info;
        ASSERT_EQ(bsbchart_get_info(handle.get(), &info), BSBCHART_OK);
        EXPECT_EQ(info.compression_type, type);
        Window window = PixelWindow(handle.get(), {0, 0, 5, 5});
        EXPECT_EQ(window.status, BSBCHART_E_COMPRESSION);
        EXPECT_EQ(Text(window.error), "compression type invalid");
        handle.reset();
        Exported exported = ExportedPixelWindow(path, {0, 0, 5, 5});
        EXPECT_EQ(exported.messages,
                  std::vector<std::string>{"Compression type should be between 1 and 7!"});
    }
}

// The chart's header without `record`: its lines, or the SK= field.
std::string WithoutRecord(std::string header, const std::string& record) {
    size_t at = header.find(record);
    if (at == std::string::npos) return "";
    if (record == "SK=") return header.erase(at, header.find(',', at) + 1 - at);
    for (; at != std::string::npos; at = header.find(record))
        header.erase(at, header.find("\r\n", at) + 2 - at);
    return header;
}

// A chart without one of its records: the queries that need it name it,
// the others work.
TEST_F(CInterface, MissingRecordsAreNamed) {
    enum Need { kNo, kYes };
    struct Case {
        const char* record;
        Need pixelToWorld, worldToPixel, extent, worldWindow, pixelWindow;
    };
    const Case cases[] = {
        {"WPX/", kNo, kYes, kNo, kYes, kNo},   {"WPY/", kNo, kYes, kNo, kYes, kNo},
        {"PWX/", kYes, kNo, kYes, kNo, kNo},   {"PWY/", kYes, kNo, kYes, kNo, kNo},
        {"CPH/", kYes, kYes, kYes, kYes, kNo},       {"RGB/", kNo, kNo, kNo, kYes, kYes},
        {"SK=", kNo, kNo, kYes, kYes, kNo},
    };
    TestChart full = cinterface::WriteChart(dir_, "full.kap", 4, cinterface::Upright());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.record);
        std::string header = WithoutRecord(full.header, c.record);
        ASSERT_EQ(header.find(c.record), std::string::npos);
        ASSERT_FALSE(header.empty());
        std::string path = Write("missing.kap", chartwriter::BuildChart(header, full.picture, 4));
        bsbchart_status status;
        Handle handle = Open(path, &status);
        ASSERT_EQ(status, BSBCHART_OK);
        bsbchart_info info;
        ASSERT_EQ(bsbchart_get_info(handle.get(), &info), BSBCHART_OK);
        std::string key = c.record;
        EXPECT_EQ(info.georeferenced, key.back() == '/' && key != "CPH/" && key != "RGB/" ? 0 : 1);
        EXPECT_EQ(info.has_cph, key == "CPH/" ? 0 : 1);
        EXPECT_EQ(info.has_skew, key == "SK=" ? 0 : 1);
        auto expectRecord = [&](Need needed, bsbchart_status got, const bsbchart_error& error,
                                const char* call) {
            if (needed == kNo) {
                EXPECT_EQ(got, BSBCHART_OK) << call << ": " << Text(error);
                return;
            }
            EXPECT_EQ(got, BSBCHART_E_RECORD) << call;
            EXPECT_STREQ(error.record, c.record) << call;
            EXPECT_EQ(Text(error), "record " + key + " missing or unreadable") << call;
        };
        bsbchart_error error{};
        double a, b, d, e;
        expectRecord(c.pixelToWorld, bsbchart_pixel_to_world(handle.get(), 3, 4, &a, &b, &error), error,
                     "pixel_to_world");
        expectRecord(c.worldToPixel, bsbchart_world_to_pixel(handle.get(), 1, 9, &a, &b, &error), error,
                     "world_to_pixel");
        expectRecord(c.extent, bsbchart_world_extent(handle.get(), &a, &b, &d, &e, &error), error,
                     "world_extent");
        Window world = WorldWindow(handle.get(), {0.5, 9.5, 2.5, 8.5});
        expectRecord(c.worldWindow, world.status, world.error, "world_window");
        Window pixel = PixelWindow(handle.get(), {0, 0, 5, 5});
        expectRecord(c.pixelWindow, pixel.status, pixel.error, "pixel_window");
        uint8_t table[1024];
        EXPECT_EQ(bsbchart_get_palette(handle.get(), BSBCHART_PALETTE_RGB, 0, table),
                  key == "RGB/" ? BSBCHART_E_RECORD : BSBCHART_OK);
        handle.reset();
        // The exported world window fails in the same place.
        Exported exported = ExportedWorldWindow(path, {0.5, 9.5, 2.5, 8.5});
        EXPECT_EQ(exported.ok, c.worldWindow == kNo);
    }
}

// Pixel to world reads PWX/ and PWY/, world to pixel WPX/ and WPY/ (with
// CPH/ both): a chart that carries one direction converts in it. A chart
// with WPX/ and WPY/ alone has world windows, so world_to_pixel must give
// the corners they use.
TEST_F(CInterface, EachConversionNeedsOnlyItsOwnPolynomials) {
    TestChart full = cinterface::WriteChart(dir_, "full.kap", 4, cinterface::Upright());
    for (const char* record : {"PWX/", "PWY/"}) {
        SCOPED_TRACE(record);
        std::string path = Write("noPW.kap", chartwriter::BuildChart(WithoutRecord(full.header, record),
                                                                      full.picture, 4));
        Handle handle = Open(path);
        ASSERT_TRUE(handle);
        ASSERT_EQ(WorldWindow(handle.get(), {0.5, 9.5, 2.5, 8.5}).status, BSBCHART_OK);
        double column = 0, row = 0;
        bsbchart_error error{};
        EXPECT_EQ(bsbchart_world_to_pixel(handle.get(), 0.5, 9.5, &column, &row, &error), BSBCHART_OK)
            << Text(error);
        EXPECT_EQ(column, 8.0);
        EXPECT_EQ(row, 4.0);
    }
    for (const char* record : {"WPX/", "WPY/"}) {
        SCOPED_TRACE(record);
        std::string path = Write("noWP.kap", chartwriter::BuildChart(WithoutRecord(full.header, record),
                                                                      full.picture, 4));
        Handle handle = Open(path);
        ASSERT_TRUE(handle);
        double west, north, east, south;
        ASSERT_EQ(bsbchart_world_extent(handle.get(), &west, &north, &east, &south, nullptr), BSBCHART_OK);
        double x = 0, y = 0;
        bsbchart_error error{};
        EXPECT_EQ(bsbchart_pixel_to_world(handle.get(), 0, 0, &x, &y, &error), BSBCHART_OK) << Text(error);
        EXPECT_EQ(x, west);
        EXPECT_EQ(y, north);
    }
}

// ---- Sharing ----------------------------------------------------------------

TEST_F(CInterface, HandlesShareAChartWhileExportedCallsAreRefused) {
    TestChart chart = cinterface::WriteChart(dir_, "shared.kap", 7, cinterface::Skewed());
    Exported reference = ExportedWorldWindow(chart.path, {-10.0, 5.0, 20.0, -10.0});
    ASSERT_TRUE(reference.ok);
    std::vector<Handle> handles;
    for (int i = 0; i < 6; ++i) {
        bsbchart_status status;
        handles.push_back(Open(chart.path, &status));
        ASSERT_EQ(status, BSBCHART_OK) << i;
    }
    auto wide = Utf16Path(chart.path);
    bsbchart* byUtf16 = nullptr;
    ASSERT_EQ(bsbchart_open_utf16(reinterpret_cast<const uint16_t*>(wide.data()), nullptr, &byUtf16,
                                  nullptr),
              BSBCHART_OK);
    handles.emplace_back(byUtf16);
    for (const Handle& handle : handles)
        EXPECT_EQ(WorldWindow(handle.get(), {-10.0, 5.0, 20.0, -10.0}).bytes, reference.bytes);

    const std::vector<std::string> refused = {"Cannot open file: " + chart.path + "."};
    EXPECT_EQ(ExportedWorldWindow(chart.path, {-10.0, 5.0, 20.0, -10.0}).messages, refused);
    EXPECT_EQ(ExportedPixelWindow(chart.path, {0, 0, 5, 5}).messages, refused);
    RECT extent;
    int skewed = 0;
    EXPECT_EQ(GetBsbBorder(wide.data(), &extent, skewed), 0);
    EXPECT_EQ(TakeMessages(false).messages, refused);

    // Closed in another order than opened, the last one still reads.
    handles.erase(handles.begin() + 2);
    handles.erase(handles.begin());
    handles.pop_back();
    EXPECT_EQ(WorldWindow(handles.back().get(), {-10.0, 5.0, 20.0, -10.0}).bytes, reference.bytes);
    EXPECT_FALSE(ExportedPixelWindow(chart.path, {0, 0, 5, 5}).ok);
    handles.clear();
    EXPECT_EQ(ExportedWorldWindow(chart.path, {-10.0, 5.0, 20.0, -10.0}).bytes, reference.bytes);
}

// ---- Quiet ------------------------------------------------------------------

// Runs `calls` with the process's standard error going to a file; returns
// what reached it.
template <typename Calls>
std::string StandardErrorOf(const TempDir& dir, Calls calls) {
    std::string file = dir.PathOf("stderr.txt");
    std::fflush(stderr);
    int saved = dup(2);
    FILE* capture = std::fopen(file.c_str(), "wb");
    EXPECT_NE(capture, nullptr);
    dup2(fileno(capture), 2);
    calls();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::fclose(capture);
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every failure of the interface at once, with the sink installed (the
// fixture checks it heard nothing) and standard error captured.
TEST_F(CInterface, NothingReachesTheSinkOrStandardError) {
    TestChart chart = cinterface::WriteChart(dir_, "quiet.kap", 4, cinterface::Upright());
    std::string header = "VER/3.0\r\nBSB/NA=X,RA=45,23\r\n";
    std::string bare = Write("bare.kap", chartwriter::BuildChart(header, chart.picture, 4));
    Bytes badRow = ChartWithRow(chart, 3, chartwriter::EncodeRow(chart.picture.row(3), 10, 4, 4));
    std::string rowPath = Write("badrow.kap", badRow);
    std::string empty = dir_.Write("empty.kap", {});
    int failures = 0;
    std::string captured = StandardErrorOf(dir_, [&] {
        std::fputs("captured\n", stderr);  // the capture does see standard error
        for (const std::string& path : {dir_.PathOf("missing.kap"), dir_.path(), empty,
                                        std::string(5000, 'x')})
            failures += OpenBytes(path.c_str()).status != BSBCHART_OK;
        for (const std::string& path : {bare, rowPath}) {
            Handle handle = Open(path);
            if (!handle) continue;
            double a, b, c, d;
            failures += bsbchart_pixel_to_world(handle.get(), 1, 1, &a, &b, nullptr) != BSBCHART_OK;
            failures += bsbchart_world_to_pixel(handle.get(), 1, 1, &a, &b, nullptr) != BSBCHART_OK;
            failures += bsbchart_world_extent(handle.get(), &a, &b, &c, &d, nullptr) != BSBCHART_OK;
            failures += PixelWindow(handle.get(), {0, 0, 44, 22}).status != BSBCHART_OK;
            failures += PixelWindow(handle.get(), {0, 0, 45, 22}).status != BSBCHART_OK;
            failures += WorldWindow(handle.get(), {0, 9.9, 1, 8}).status != BSBCHART_OK;
            failures += PixelWindow(handle.get(), {0, 0, 4, 4}, BSBCHART_PALETTE_NIGHT).status !=
                        BSBCHART_OK;
        }
        Handle handle = Open(chart.path);
        CountingAllocator refusing;
        refusing.limit = 1;
        bsbchart_allocator allocator = refusing.get();
        void* bitmap = nullptr;
        failures += bsbchart_pixel_window(handle.get(), {0, 0, 44, 22}, 0, 1, &allocator, &bitmap,
                                          nullptr) != BSBCHART_OK;
        failures += bsbchart_open(chart.path.c_str(), &allocator, nullptr, nullptr) != BSBCHART_OK;
    });
    // Four opens; seven calls on the bare chart, four on the broken row's
    // chart; two refused for memory or an argument.
    EXPECT_EQ(failures, 4 + 7 + 4 + 2);
    EXPECT_EQ(captured, "captured\n");
}

// ---- Metadata ---------------------------------------------------------------

// A header as chart producers write them: comment, continuation lines,
// records whose keys also appear in other records.
const char kSampleHeader[] =
    "! Synthetic sample chart; not for navigation.\r\n"
    "VER/3.0\r\n"
    "CED/SE=7,RE=02,ED=06/15/2024\r\n"
    "BSB/NA=PORT CARREG HARBOUR,NU=BSBC-1,RA=45,23,DU=254\r\n"
    "KNP/SC=50000,GD=WGS84,PR=MERCATOR,PP=51.500,PI=UNKNOWN,SP=UNKNOWN,SK=15.0,TA=75.0\r\n"
    "    UN=METERS,SD=LOWEST ASTRONOMICAL TIDE,DX=5.00,DY=5.00\r\n"
    "KNQ/P1=UNKNOWN,P2=51.500,P3=NOT_APPLICABLE,P4=NOT_APPLICABLE\r\n"
    "    P7=NOT_APPLICABLE,GD=OTHER DATUM,VD=MEAN HIGH WATER SPRINGS\r\n"
    "CPH/0.25\r\n"
    "OST/1\r\n"
    "RGB/1,255,255,255\r\n"
    "RGB/2,0,0,0\r\n"
    "DAY/1,250,250,250\r\n"
    "DSK/1,120,120,120\r\n"
    "NGT/1,40,40,40\r\n"
    "NGR/1,40,0,0\r\n"
    "GRY/1,90,90,90\r\n"
    "PRC/1,200,200,200\r\n"
    "PRG/1,100,100,100\r\n"
    "DTM/0.0,0.0\r\n"
    "PWX/1,0.0,0.125,0.0\r\nPWY/1,10.0,0.0,-0.125\r\n"
    "WPX/1,0.0,8.0,0.0\r\nWPY/1,80.0,0.0,-8.0\r\n";

TEST_F(CInterface, MetadataOfASampleHeader) {
    chartwriter::Picture picture = cinterface::RunPicture(45, 23, 4, 3);
    std::string path = Write("sample.kap", chartwriter::BuildChart(kSampleHeader, picture, 4));
    Handle handle = Open(path);
    ASSERT_TRUE(handle);
    bsbchart_info info;
    ASSERT_EQ(bsbchart_get_info(handle.get(), &info), BSBCHART_OK);
    EXPECT_EQ(info.width, 45);
    EXPECT_EQ(info.height, 23);
    EXPECT_EQ(info.compression_type, 4);
    EXPECT_EQ(info.bits_per_pixel, 4);
    EXPECT_EQ(info.has_skew, 1);
    EXPECT_EQ(info.skewed, 1);
    EXPECT_EQ(info.skew_angle, 15.0);
    EXPECT_EQ(info.has_cph, 1);
    EXPECT_EQ(info.cph, 0.25);
    EXPECT_EQ(info.georeferenced, 1);
    EXPECT_EQ(info.palettes, 0xFFu);

    const char* const expected[BSBCHART_FIELD_COUNT] = {
        "PORT CARREG HARBOUR", "BSBC-1", "50000",  "WGS84", "MERCATOR",   "51.500",
        "METERS", "LOWEST ASTRONOMICAL TIDE", "254", "7", "06/15/2024", "02"};
    for (int field = 0; field < BSBCHART_FIELD_COUNT; ++field)
        EXPECT_STREQ(bsbchart_get_field(handle.get(), field), expected[field]) << "field " << field;

    size_t length = 0;
    const char* text = bsbchart_header_text(handle.get(), &length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(length, std::strlen(kSampleHeader));
    EXPECT_EQ(std::string(text, length), kSampleHeader);
    EXPECT_EQ(text[length], '\0');
}

TEST_F(CInterface, AbsentFieldsAreNull) {
    // The writer's header: no CED/, no UN= or SD=, no alternate palettes.
    TestChart chart = cinterface::WriteChart(dir_, "plain.kap", 7, cinterface::Upright(0.0));
    Handle handle = Open(chart.path);
    ASSERT_TRUE(handle);
    const char* const expected[BSBCHART_FIELD_COUNT] = {
        "TEST CHART", "1", "50000", "WGS84", "MERCATOR", "0.0", nullptr, nullptr, "254",
        nullptr,      nullptr, nullptr};
    for (int field = 0; field < BSBCHART_FIELD_COUNT; ++field) {
        if (expected[field]) EXPECT_STREQ(bsbchart_get_field(handle.get(), field), expected[field]);
        else EXPECT_EQ(bsbchart_get_field(handle.get(), field), nullptr) << "field " << field;
    }
    bsbchart_info info;
    ASSERT_EQ(bsbchart_get_info(handle.get(), &info), BSBCHART_OK);
    EXPECT_EQ(info.palettes, 1u << BSBCHART_PALETTE_RGB);
    EXPECT_EQ(info.skewed, 0);
    EXPECT_EQ(info.has_skew, 1);
    EXPECT_EQ(info.cph, 0.0);
    EXPECT_EQ(info.bits_per_pixel, 8);

    // No field at all, an old NOS/ record, a value cut at the header's end,
    // and one longer than the field's capacity.
    std::string longName(700, 'L');
    struct Case {
        std::string header;
        int field;
        const char* value;  // NULL: absent
    } cases[] = {
        {"VER/2.0\r\nBSB/RA=45,23\r\n", BSBCHART_FIELD_NAME, nullptr},
        {"VER/2.0\r\nBSB/RA=45,23\r\n", BSBCHART_FIELD_SCALE, nullptr},
        {"NOS/NA=OLD CHART ,NU=12,RA=45,23\r\n", BSBCHART_FIELD_NAME, "OLD CHART"},
        {"NOS/NA=OLD CHART ,NU=12,RA=45,23\r\n", BSBCHART_FIELD_NUMBER, "12"},
        {"BSB/RA=45,23\r\nKNP/SC=  1200  ", BSBCHART_FIELD_SCALE, "1200"},
        {"BSB/RA=45,23\r\nKNP/SC=", BSBCHART_FIELD_SCALE, ""},
        {"BSB/RA=45,23,NA=" + longName + "\r\n", BSBCHART_FIELD_NAME, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.header);
        std::string path = Write("fields.kap", chartwriter::BuildChart(c.header, chart.picture, 7));
        Handle fields = Open(path);
        ASSERT_TRUE(fields);
        const char* value = bsbchart_get_field(fields.get(), c.field);
        if (c.field == BSBCHART_FIELD_NAME && c.header.size() > 600) {
            ASSERT_NE(value, nullptr);
            EXPECT_EQ(std::string(value), std::string(499, 'L'));
        } else if (c.value) {
            EXPECT_STREQ(value, c.value);
        } else {
            EXPECT_EQ(value, nullptr);
        }
    }
}

// ---- Positions --------------------------------------------------------------

// The chart's corners through pixel_to_world, and the extent, are
// GetBsbBorder's values bit for bit.
TEST_F(CInterface, ExtentAndCornersAreGetBsbBordersValues) {
    const Geography geographies[] = {cinterface::Upright(0.5), cinterface::Upright(-1.75),
                                     cinterface::Skewed(30.0, 0.25), cinterface::Skewed(200.0)};
    int n = 0;
    for (const Geography& g : geographies) {
        TestChart chart = cinterface::WriteChart(dir_, "extent" + std::to_string(n++) + ".kap", 4, g);
        SCOPED_TRACE(chart.header);
        auto wide = Utf16Path(chart.path);
        double centerX, centerY, left, top, right, bottom;
        int skewed = -1;
        ASSERT_EQ(GetBsbBorder(wide.data(), &centerX, &centerY, &left, &top, &right, &bottom, skewed), 1);
        Handle handle = Open(chart.path);
        ASSERT_TRUE(handle);
        double west, north, east, south;
        ASSERT_EQ(bsbchart_world_extent(handle.get(), &west, &north, &east, &south, nullptr), BSBCHART_OK);
        EXPECT_TRUE(SameBits(west, left) && SameBits(north, top) && SameBits(east, right) &&
                    SameBits(south, bottom))
            << west << " " << north << " " << east << " " << south;
        double x[4], y[4];
        const double columns[4] = {0, 44, 44, 0}, rows[4] = {0, 0, 22, 22};
        for (int k = 0; k < 4; ++k)
            ASSERT_EQ(bsbchart_pixel_to_world(handle.get(), columns[k], rows[k], &x[k], &y[k], nullptr),
                      BSBCHART_OK);
        if (!g.skewed) {
            EXPECT_TRUE(SameBits(x[0], left) && SameBits(y[0], top));
            EXPECT_TRUE(SameBits(x[2], right) && SameBits(y[2], bottom));
        } else {
            EXPECT_TRUE(SameBits(*std::min_element(x, x + 4), left));
            EXPECT_TRUE(SameBits(*std::max_element(x, x + 4), right));
            EXPECT_TRUE(SameBits(*std::max_element(y, y + 4), top));
            EXPECT_TRUE(SameBits(*std::min_element(y, y + 4), bottom));
        }
        // Back to pixels: the corners again, to rounding.
        for (int k = 0; k < 4; ++k) {
            double column, row;
            ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), x[k], y[k], &column, &row, nullptr),
                      BSBCHART_OK);
            EXPECT_NEAR(column, columns[k], 1e-9);
            EXPECT_NEAR(row, rows[k], 1e-9);
        }
    }
}

// World rectangles whose corners land a rounding error away from a pixel
// boundary: the window cut is exactly where world_to_pixel puts the corners.
TEST_F(CInterface, WorldWindowCutsWhereWorldToPixelPutsTheCorners) {
    chartwriter::HeaderOptions options = cinterface::Options(45, 23, cinterface::Upright());
    // Column 7.7 (x + 0.3) + 0.1, row 3.3 - 2.9 y: coefficients no binary
    // fraction holds, so most corners fall a little off the integers.
    options.cph = "0.3";
    options.extraLines = {"PWX/1,0.0,0.1,0.0", "PWY/1,1.0,0.0,-0.3", "WPX/1,0.1,7.7,0.0",
                          "WPY/1,3.3,0.0,-2.9"};
    chartwriter::Picture picture = cinterface::RunPicture(45, 23, 7, 11);
    std::string path = Write("cut.kap", chartwriter::BuildChart(chartwriter::MakeHeaderText(options),
                                                                 picture, 7));
    Handle handle = Open(path);
    ASSERT_TRUE(handle);
    int belowInteger = 0;
    for (int i = 0; i < 25 * 9; ++i) {
        // World x whose column is k, give or take a few units in the last
        // place: x = (k - 0.1) / 7.7 - 0.3; the same for the row m.
        int k = 1 + i / 9, m = 1 + i % 7, ulps = i % 9 - 4;
        double west = (k - 0.1) / 7.7 - 0.3, north = (3.3 - m) / 2.9;
        for (int u = 0; u < std::abs(ulps); ++u) {
            west = std::nextafter(west, ulps < 0 ? -kInf : kInf);
            north = std::nextafter(north, ulps < 0 ? kInf : -kInf);
        }
        double east = west + 1.7, south = north - 2.1;
        double columns[2], rows[2], unused;
        ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), west, north, &columns[0], &rows[0], nullptr),
                  BSBCHART_OK);
        ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), east, north, &columns[1], &unused, nullptr),
                  BSBCHART_OK);
        ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), west, south, &unused, &rows[1], nullptr),
                  BSBCHART_OK);
        belowInteger += columns[0] < k && columns[0] > k - 1e-9;
        belowInteger += rows[0] < m && rows[0] > m - 1e-9;
        bsbchart_rect cut = {std::max(0, static_cast<int32_t>(columns[0])),
                             std::max(0, static_cast<int32_t>(rows[0])),
                             std::min(44, static_cast<int32_t>(columns[1])),
                             std::min(22, static_cast<int32_t>(rows[1]))};
        SCOPED_TRACE(Describe(cut));
        Window world = WorldWindow(handle.get(), {west, north, east, south});
        Window pixel = PixelWindow(handle.get(), cut);
        ASSERT_EQ(world.status, BSBCHART_OK) << Text(world.error);
        EXPECT_EQ(world.bytes, pixel.bytes);
    }
    EXPECT_GT(belowInteger, 40);  // the rectangles do test the rounding
}

// A skewed window's size comes from its corners in pixels: the corners
// world_to_pixel gives make exactly the window's width and height.
TEST_F(CInterface, SkewedWindowSizeComesFromWorldToPixelCorners) {
    TestChart chart = cinterface::WriteChart(dir_, "size.kap", 7, cinterface::Skewed(33.3, 0.7));
    Handle handle = Open(chart.path);
    ASSERT_TRUE(handle);
    for (int i = 0; i < 30; ++i) {
        WorldRect r = {-10.0 + 0.37 * i, 4.0 - 0.21 * i, 9.0 + 0.53 * i, -12.0 + 0.11 * i};
        SCOPED_TRACE(Describe(r));
        double px[4], py[4];
        const double xs[4] = {r.west, r.east, r.east, r.west}, ys[4] = {r.north, r.north, r.south, r.south};
        for (int k = 0; k < 4; ++k)
            ASSERT_EQ(bsbchart_world_to_pixel(handle.get(), xs[k], ys[k], &px[k], &py[k], nullptr),
                      BSBCHART_OK);
        auto side = [](double dx, double dy) {
            return static_cast<int64_t>(std::sqrt(dx * dx + dy * dy) + 1.5);
        };
        int64_t w = side(px[1] - px[0], py[1] - py[0]);
        int64_t h = side(px[3] - px[0], py[3] - py[0]);
        Window window = WorldWindow(handle.get(), r);
        ASSERT_EQ(window.status, BSBCHART_OK) << Text(window.error);
        const char* b = reinterpret_cast<const char*>(window.bytes.data());
        EXPECT_EQ(testsupport::LeI32(b + 4), w);
        EXPECT_EQ(testsupport::LeI32(b + 8), -h);
    }
}

// ---- Texts ------------------------------------------------------------------

TEST_F(CInterface, StatusTexts) {
    const char* const texts[] = {"success",
                                 "bad argument",
                                 "path not valid or too long",
                                 "no such file",
                                 "permission denied",
                                 "chart in use",
                                 "not a regular file",
                                 "cannot open file",
                                 "header missing or truncated",
                                 "raster size record missing or invalid",
                                 "record missing or unreadable",
                                 "compression type invalid",
                                 "row cannot be read",
                                 "row does not decode",
                                 "out of memory",
                                 "window outside the chart",
                                 "the chart has no such palette"};
    for (int32_t status = 0; status <= BSBCHART_E_PALETTE; ++status)
        EXPECT_STREQ(bsbchart_strerror(status), texts[status]);
    for (int32_t status : {-1, 17, 1000, INT32_MIN})
        EXPECT_STREQ(bsbchart_strerror(status), "unknown status");

    struct Case {
        bsbchart_error error;
        const char* path;
        const char* text;
    };
    const Case cases[] = {
        {{BSBCHART_OK, -1, "", 0}, "a.kap", "success"},
        {{BSBCHART_E_ROW_DECODE, 2147483647, "", 0}, nullptr, "row 2147483647 does not decode"},
        {{BSBCHART_E_ROW_READ, 0, "", 0}, "x", "row 0 cannot be read: x"},
        {{BSBCHART_E_ROW_READ, -1, "", 0}, nullptr, "row cannot be read"},
        {{BSBCHART_E_RECORD, -1, "PWY/", 0}, nullptr, "record PWY/ missing or unreadable"},
        {{BSBCHART_E_RECORD, -1, {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}, 0}, nullptr,
         "record ABCDEFGH missing or unreadable"},
        {{BSBCHART_E_RECORD, -1, "", 0}, nullptr, "record missing or unreadable"},
        {{BSBCHART_E_PALETTE, -1, "NGR/", 0}, nullptr, "the chart has no NGR/ palette"},
        {{BSBCHART_E_IN_USE, -1, "", 11}, "c:\\charts\\b.kap", "chart in use: c:\\charts\\b.kap"},
        {{99, -1, "", 0}, "p", "unknown status: p"},
    };
    for (const Case& c : cases) EXPECT_EQ(Text(c.error, c.path), c.text);

    // Cut to the capacity, the terminator included; the full length returned.
    bsbchart_error error = {BSBCHART_E_ROW_DECODE, 1234, "", 0};
    const std::string full = "row 1234 does not decode: chart.kap";
    for (size_t capacity : {size_t{0}, size_t{1}, size_t{2}, size_t{5}, full.size(), full.size() + 1,
                            full.size() + 10}) {
        char text[64];
        std::memset(text, '#', sizeof text);
        EXPECT_EQ(bsbchart_error_text(&error, "chart.kap", capacity ? text : nullptr, capacity),
                  full.size());
        if (capacity == 0) continue;
        size_t kept = std::min(capacity - 1, full.size());
        EXPECT_EQ(std::string(text), full.substr(0, kept)) << capacity;
        EXPECT_EQ(text[kept + 1], '#');
    }
    EXPECT_STREQ(bsbchart_version(), "1.1.0");
}

// ---- Sweeps -----------------------------------------------------------------

// What a handle gives for one chart: statuses and window bytes.
struct Results {
    bsbchart_status open;
    std::vector<bsbchart_status> statuses;
    std::vector<Bytes> windows;
};

bool InRange(int32_t status) { return status >= BSBCHART_OK && status <= BSBCHART_E_PALETTE; }

// Opens the chart with `allocator` and runs every query and window on it,
// the windows' blocks from the same allocator.
Results RunAll(const std::string& path, const bsbchart_allocator* allocator) {
    Results results{};
    bsbchart* chart = nullptr;
    bsbchart_error error;
    results.open = bsbchart_open(path.c_str(), allocator, &chart, &error);
    EXPECT_EQ(error.status, results.open);
    EXPECT_TRUE(InRange(results.open));
    EXPECT_EQ(chart != nullptr, results.open == BSBCHART_OK);
    if (!chart) return results;
    bsbchart_info info;
    results.statuses.push_back(bsbchart_get_info(chart, &info));
    for (int field = 0; field < BSBCHART_FIELD_COUNT; ++field) {
        const char* value = bsbchart_get_field(chart, field);
        if (value) EXPECT_LT(std::strlen(value), 500u);
    }
    size_t length = 0;
    const char* text = bsbchart_header_text(chart, &length);
    EXPECT_EQ(std::strlen(text), length);
    double a, b, c, d;
    results.statuses.push_back(bsbchart_pixel_to_world(chart, 3, 4, &a, &b, &error));
    results.statuses.push_back(bsbchart_world_to_pixel(chart, 0.5, 0.5, &a, &b, &error));
    results.statuses.push_back(bsbchart_world_extent(chart, &a, &b, &c, &d, &error));
    uint8_t table[1024];
    results.statuses.push_back(bsbchart_get_palette(chart, BSBCHART_PALETTE_RGB, 1, table));
    void* bitmap = nullptr;
    auto window = [&](bsbchart_status status) {
        EXPECT_TRUE(InRange(status));
        EXPECT_EQ(bitmap != nullptr, status == BSBCHART_OK);
        results.statuses.push_back(status);
        results.windows.push_back(bitmap ? cinterface::BitmapBytes(bitmap) : Bytes());
        if (bitmap) {
            if (allocator) allocator->release(allocator->context, bitmap);
            else bsbchart_free(bitmap);
        }
    };
    window(bsbchart_pixel_window(chart, {1, 1, 10, 6}, 0, 1, allocator, &bitmap, &error));
    window(bsbchart_pixel_window(chart, {0, 0, 11, 7}, 0, 0, allocator, &bitmap, &error));
    window(bsbchart_world_window(chart, 0.125, 0.875, 1.25, 0.25, 0, 1, allocator, &bitmap, &error));
    for (int32_t status : results.statuses) EXPECT_TRUE(InRange(status));
    bsbchart_close(chart);
    return results;
}

// The robustness charts: 12 × 8, pixel (x, y) at world (x / 8, 1 - y / 8).
Bytes SmallChart(bool skewed) {
    chartwriter::HeaderOptions options;
    options.width = 12;
    options.height = 8;
    options.skew = skewed ? "30.0" : "0.0";
    options.extraLines = {"PWX/1,0.0,0.125,0.0", "PWY/1,1.0,0.0,-0.125", "WPX/1,0.0,8.0,0.0",
                          "WPY/1,8.0,0.0,-8.0"};
    chartwriter::Picture picture =
        chartwriter::MakePicture(12, 8, [](int x, int y) { return (uint8_t)((x / 3 + y) % 16); });
    return chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture, 4);
}

class CInterfaceSweep : public CInterface, public ::testing::WithParamInterface<bool> {};

// Every maximum size of a host heap: open and each window either succeed
// with the unlimited results or fail for memory, and the heap is empty
// after close.
TEST_P(CInterfaceSweep, EveryHeapLimitSucceedsOrRunsOutCleanly) {
    std::string path = Write("heap.kap", SmallChart(GetParam()));
    Results reference = RunAll(path, nullptr);
    ASSERT_EQ(reference.open, BSBCHART_OK);
    for (bsbchart_status status : reference.statuses) ASSERT_EQ(status, BSBCHART_OK);
    size_t firstOpen = 0, firstComplete = 0;
    for (size_t limit = 1; limit <= (1u << 16) && firstComplete == 0; ++limit) {
        SCOPED_TRACE("heap of at most " + std::to_string(limit) + " bytes");
        HostHeap heap(limit);
        bsbchart_allocator allocator;
        ASSERT_EQ(bsbchart_heap_allocator(heap.get(), &allocator), BSBCHART_OK);
        Results results = RunAll(path, &allocator);
        ASSERT_EQ(heap.blocks(), 0u);
        if (results.open != BSBCHART_OK) {
            ASSERT_EQ(results.open, BSBCHART_E_NO_MEMORY);
            continue;
        }
        if (firstOpen == 0) firstOpen = limit;
        bool complete = true;
        for (size_t i = 0; i < results.statuses.size(); ++i) {
            if (results.statuses[i] == BSBCHART_OK) continue;
            ASSERT_EQ(results.statuses[i], BSBCHART_E_NO_MEMORY) << "query " << i;
            complete = false;
        }
        for (size_t i = 0; i < results.windows.size(); ++i)
            if (!results.windows[i].empty()) EXPECT_EQ(results.windows[i], reference.windows[i]);
        if (complete) firstComplete = limit;
    }
    EXPECT_GT(firstOpen, 1u);
    EXPECT_GT(firstComplete, firstOpen);
}

// Every allocation in turn refused: the call fails for memory, and nothing
// the allocator gave stays.
TEST_P(CInterfaceSweep, EachRefusedAllocationFailsCleanly) {
    std::string path = Write("refuse.kap", SmallChart(GetParam()));
    CountingAllocator counting;
    bsbchart_allocator allocator = counting.get();
    Results reference = RunAll(path, &allocator);
    ASSERT_EQ(counting.live(), 0u);
    size_t total = counting.allocations();
    ASSERT_GT(total, 5u);
    for (size_t failAt = 1; failAt <= total; ++failAt) {
        SCOPED_TRACE("allocation " + std::to_string(failAt) + " refused");
        CountingAllocator refusing;
        refusing.failAt = failAt;
        bsbchart_allocator a = refusing.get();
        Results results = RunAll(path, &a);
        EXPECT_EQ(refusing.live(), 0u);
        EXPECT_EQ(refusing.foreignReleases(), 0u);
        EXPECT_EQ(refusing.refused(), 1u);
        int memoryFailures = results.open == BSBCHART_E_NO_MEMORY;
        for (bsbchart_status status : results.statuses) {
            EXPECT_TRUE(status == BSBCHART_OK || status == BSBCHART_E_NO_MEMORY) << status;
            memoryFailures += status == BSBCHART_E_NO_MEMORY;
        }
        EXPECT_EQ(memoryFailures, 1);
    }
}

// Every prefix of the chart: a status for each call, never a crash, nothing
// left allocated; only the whole file opens.
TEST_P(CInterfaceSweep, EveryTruncationGivesStatusesAndLeaksNothing) {
    Bytes chart = SmallChart(GetParam());
    Results whole;
    for (size_t length = 0; length <= chart.size(); ++length) {
        SCOPED_TRACE(std::to_string(length) + " of " + std::to_string(chart.size()) + " bytes");
        std::string path = dir_.Write("cut.kap", Bytes(chart.begin(), chart.begin() + length));
        CountingAllocator counting;
        bsbchart_allocator allocator = counting.get();
        Results results = RunAll(path, &allocator);
        EXPECT_EQ(counting.live(), 0u);
        EXPECT_EQ(counting.foreignReleases(), 0u);
        if (length < chart.size()) {
            EXPECT_EQ(results.open, BSBCHART_E_HEADER);
        } else {
            ASSERT_EQ(results.open, BSBCHART_OK);
            for (bsbchart_status status : results.statuses) EXPECT_EQ(status, BSBCHART_OK);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(UprightAndSkewed, CInterfaceSweep, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Skewed" : "Upright";
                         });

}  // namespace
