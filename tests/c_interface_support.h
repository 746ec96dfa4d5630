// Shared by the tests of the C interface: charts of every compression type,
// upright and skewed, an allocator that counts its blocks, handles that close
// themselves, and window bitmaps as bytes.
#ifndef BSBCHART_C_INTERFACE_SUPPORT_H
#define BSBCHART_C_INTERFACE_SUPPORT_H

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "bsbchart_c.h"
#include "bsbchart_host.h"
#include "chart_reference.h"
#include "chart_writer.h"
#include "test_support.h"

namespace cinterface {

using Bytes = std::vector<uint8_t>;

using testsupport::BitsPerPixel;

// The whole block of a window bitmap: header, colour table, rows.
inline Bytes BitmapBytes(const void* bitmap) {
    const char* b = static_cast<const char*>(bitmap);
    uint16_t bpp = testsupport::Le16(b + 14);
    size_t table = bpp <= 8 ? 4 * (size_t{1} << bpp) : 0;
    size_t size = 40 + table + testsupport::Le32(b + 20);
    return Bytes(b, b + size);
}

// Runs of 3 to 9 pixels in random colours of the type's range, so that
// every row's encoding fits in the raster width.
inline chartwriter::Picture RunPicture(int width, int height, int compressionType, uint32_t seed) {
    std::mt19937 random(seed);
    chartwriter::Picture picture = chartwriter::MakePicture(width, height, [](int, int) { return 0; });
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width;) {
            uint8_t colour = static_cast<uint8_t>(random() % (1u << compressionType));
            int end = std::min(width, x + 3 + static_cast<int>(random() % 7));
            for (; x < end; ++x) picture.set(x, y, colour);
        }
    return picture;
}

inline std::string Decimal(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

// Palette records with stored values of every size: some entries have no
// record, 15 lies beyond a 2-entry table, 300 names entry 44.
const std::vector<std::array<int, 4>> kRgb = {{0, 10, 20, 30},   {1, 127, 128, 255},
                                              {2, 0, 0, 0},      {3, 200, 0, 100},
                                              {5, 100, 200, 50}, {15, 1, 2, 3},
                                              {300, 10, 20, 30}, {77, 129, 130, 131}};

// How a test chart maps world to pixels. Upright: column = 8 (x + cph),
// row = 8 (10 - y). Skewed: world x (east) and y (north), in pixels, lie at
// column = ox + cos θ·(x + cph) + sin θ·y and row = oy + sin θ·(x + cph) − cos θ·y.
struct Geography {
    bool skewed = false;
    double skew = 0.0;  // degrees
    double ox = 0.0, oy = 0.0;
    double cph = 0.0;
};

inline Geography Upright(double cph = 0.5) {
    Geography g;
    g.cph = cph;
    return g;
}

inline Geography Skewed(double degrees = 30.0, double cph = 0.0) {
    Geography g;
    g.skewed = true;
    g.skew = degrees;
    g.ox = 14.0;
    g.oy = 3.0;
    g.cph = cph;
    return g;
}

// The PWX/, PWY/, WPX/ and WPY/ lines of a geography.
inline std::vector<std::string> PolynomialLines(const Geography& g) {
    if (!g.skewed)
        return {"PWX/1,0.0,0.125,0.0", "PWY/1,10.0,0.0,-0.125", "WPX/1,0.0,8.0,0.0",
                "WPY/1,80.0,0.0,-8.0"};
    const double radians = g.skew * testsupport::kRadiansPerDegree;
    const double c = std::cos(radians), s = std::sin(radians);
    // The inverse of the rotation: x = c (col - ox) + s (row - oy),
    // y = s (col - ox) - c (row - oy).
    return {"PWX/1," + Decimal(-c * g.ox - s * g.oy) + "," + Decimal(c) + "," + Decimal(s),
            "PWY/1," + Decimal(-s * g.ox + c * g.oy) + "," + Decimal(s) + "," + Decimal(-c),
            "WPX/1," + Decimal(g.ox) + "," + Decimal(c) + "," + Decimal(s),
            "WPY/1," + Decimal(g.oy) + "," + Decimal(s) + "," + Decimal(-c)};
}

inline chartwriter::HeaderOptions Options(int width, int height, const Geography& g) {
    chartwriter::HeaderOptions options;
    options.width = width;
    options.height = height;
    options.rgb = kRgb;
    options.skew = g.skewed ? Decimal(g.skew) : "0.0";
    options.cph = Decimal(g.cph);
    options.extraLines = PolynomialLines(g);
    return options;
}

struct TestChart {
    std::string name;
    std::string path;
    std::string header;
    chartwriter::Picture picture;
    int compressionType = 0;
    Geography geography;
    Bytes bytes;
};

inline TestChart WriteChart(const testsupport::TempDir& dir, const std::string& name,
                            int compressionType, const Geography& g, int width = 45,
                            int height = 23) {
    TestChart chart;
    chart.name = name;
    chart.compressionType = compressionType;
    chart.geography = g;
    chart.picture = RunPicture(width, height, compressionType, 7u * compressionType + (g.skewed ? 1 : 0));
    chart.header = chartwriter::MakeHeaderText(Options(width, height, g));
    chart.bytes = chartwriter::BuildChart(chart.header, chart.picture, compressionType);
    chart.path = dir.Write(name, chart.bytes);
    return chart;
}

struct Closer {
    void operator()(bsbchart* chart) const { bsbchart_close(chart); }
};
using Handle = std::unique_ptr<bsbchart, Closer>;

inline Handle Open(const std::string& path, bsbchart_status* status = nullptr,
                   const bsbchart_allocator* allocator = nullptr, bsbchart_error* error = nullptr) {
    bsbchart* chart = nullptr;
    bsbchart_status result = bsbchart_open(path.c_str(), allocator, &chart, error);
    if (status) *status = result;
    return Handle(chart);
}

// A window taken from a handle, its block from the library's allocator.
struct Window {
    bsbchart_status status = BSBCHART_E_ARGUMENT;
    bsbchart_error error{};
    Bytes bytes;  // empty on failure
};

inline Window Take(bsbchart_status status, void* bitmap, const bsbchart_error& error) {
    Window window;
    window.status = status;
    window.error = error;
    if (bitmap) {
        window.bytes = BitmapBytes(bitmap);
        bsbchart_free(bitmap);
    }
    return window;
}

inline Window PixelWindow(const bsbchart* chart, bsbchart_rect rect,
                          int32_t palette = BSBCHART_PALETTE_RGB,
                          uint32_t flags = BSBCHART_DOUBLED_COLOURS) {
    void* bitmap = nullptr;
    bsbchart_error error{};
    bsbchart_status status = bsbchart_pixel_window(chart, rect, palette, flags, nullptr, &bitmap, &error);
    return Take(status, bitmap, error);
}

struct WorldRect {
    double west, north, east, south;
};

inline Window WorldWindow(const bsbchart* chart, const WorldRect& r,
                          int32_t palette = BSBCHART_PALETTE_RGB,
                          uint32_t flags = BSBCHART_DOUBLED_COLOURS) {
    void* bitmap = nullptr;
    bsbchart_error error{};
    bsbchart_status status = bsbchart_world_window(chart, r.west, r.north, r.east, r.south, palette,
                                                   flags, nullptr, &bitmap, &error);
    return Take(status, bitmap, error);
}

// An allocator that keeps every live block's size, counts the calls and can
// refuse: the `failAt`-th allocation (1-based; 0 never), or any that would
// bring the live bytes over `limit` (0: none). Not thread-safe.
class CountingAllocator {
public:
    bsbchart_allocator get() {
        bsbchart_allocator allocator = {&CountingAllocator::Allocate, &CountingAllocator::Release, this};
        return allocator;
    }

    size_t live() const { return blocks_.size(); }
    size_t liveBytes() const { return liveBytes_; }
    size_t allocations() const { return allocations_; }
    size_t refused() const { return refused_; }
    size_t foreignReleases() const { return foreign_; }
    size_t failAt = 0;
    size_t limit = 0;

    ~CountingAllocator() {
        for (auto& block : blocks_) std::free(block.first);
    }

private:
    static void* Allocate(void* context, size_t size) {
        auto* self = static_cast<CountingAllocator*>(context);
        ++self->allocations_;
        if ((self->failAt != 0 && self->allocations_ == self->failAt) ||
            (self->limit != 0 && self->liveBytes_ + size > self->limit)) {
            ++self->refused_;
            return nullptr;
        }
        void* block = std::malloc(size ? size : 1);
        // Not zero-filled, as the interface allows: garbage the library must
        // not rely on.
        if (block) std::memset(block, 0xA7, size);
        self->blocks_[block] = size;
        self->liveBytes_ += size;
        return block;
    }

    static void Release(void* context, void* block) {
        auto* self = static_cast<CountingAllocator*>(context);
        auto found = self->blocks_.find(block);
        if (found == self->blocks_.end()) {
            ++self->foreign_;
            return;
        }
        self->liveBytes_ -= found->second;
        self->blocks_.erase(found);
        std::free(block);
    }

    std::map<void*, size_t> blocks_;
    size_t liveBytes_ = 0;
    size_t allocations_ = 0;
    size_t refused_ = 0;
    size_t foreign_ = 0;
};

}  // namespace cinterface

#endif
