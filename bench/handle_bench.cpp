// What the open-chart handle costs beside the exported calls, and what its
// windows cost beside the work they cannot go below: reading the rows they
// need and counting their runs' pixels without writing any. Every figure is
// measured in the same run as its floor.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench_charts.h"
#include "bsbchart.h"
#include "bsbchart_c.h"
#include "bsbchart_host.h"
#include "chart_writer.h"
#include "raster/row_decoder.h"
#include "report/reporter.h"

namespace {

using bench::kChartHeight;
using bench::kChartWidth;

struct Chart {
    std::string path;
    std::vector<unsigned short> wide;
    std::vector<uint8_t> bytes;
    int type = 0;
    bsbchart* handle = nullptr;
};

Chart WriteChart(const std::string& dir, const std::string& name, const std::string& header,
                 const bench::EncodedChart& encoded) {
    Chart chart;
    chart.path = dir + "/" + name;
    chart.wide.assign(chart.path.begin(), chart.path.end());
    chart.wide.push_back(0);
    chart.type = encoded.compressionType;
    chart.bytes = chartwriter::AssembleChart(
        chartwriter::MakeHeaderBlock(header, encoded.compressionType), encoded.rows);
    if (chart.bytes.empty() || !chartwriter::WriteFileBytes(chart.path, chart.bytes)) {
        std::fprintf(stderr, "cannot write %s\n", chart.path.c_str());
        std::exit(1);
    }
    return chart;
}

// Seconds per call of each of `calls`: batches of each in turn, so that all
// of them see the machine as it is at the time, and the median of each
// one's batches, after a warm-up call.
std::vector<double> TimeTogether(const std::vector<std::function<void()>>& calls, double budget = 0.3) {
    for (const auto& call : calls) call();
    std::vector<std::vector<double>> samples(calls.size());
    auto start = std::chrono::steady_clock::now();
    do {
        for (size_t k = 0; k < calls.size(); ++k) {
            int repeats = 0;
            auto batch = std::chrono::steady_clock::now();
            double elapsed = 0;
            do {
                calls[k]();
                ++repeats;
                elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - batch).count();
            } while (elapsed < 0.01);
            samples[k].push_back(elapsed / repeats);
        }
    } while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() < budget ||
             samples[0].size() < 5);
    std::vector<double> medians;
    for (auto& s : samples) {
        std::sort(s.begin(), s.end());
        medians.push_back(s[s.size() / 2]);
    }
    return medians;
}

double Time(const std::function<void()>& call) { return TimeTogether({call})[0]; }

// A counting allocator: the largest live total, to tell the heap a call uses.
struct Counting {
    size_t live = 0;
    size_t peak = 0;
    static void* Allocate(void* context, size_t size) {
        auto* self = static_cast<Counting*>(context);
        auto* block = static_cast<size_t*>(std::malloc(size + sizeof(size_t) * 2));
        if (!block) return nullptr;
        block[0] = size;
        self->live += size;
        self->peak = std::max(self->peak, self->live);
        return block + 2;
    }
    static void Release(void* context, void* block) {
        auto* self = static_cast<Counting*>(context);
        size_t* header = static_cast<size_t*>(block) - 2;
        self->live -= header[0];
        std::free(header);
    }
    bsbchart_allocator allocator() { return {Allocate, Release, this}; }
};

// The floor: read the rows' bytes and count their runs' pixels.
struct Floor {
    const Chart* chart;
    int fd;
    std::vector<uint32_t> offsets;  // row starts, then the index table
};

Floor OpenFloor(const Chart& chart) {
    Floor floor{&chart, open(chart.path.c_str(), O_RDONLY), {}};
    uint32_t table = chartwriter::GetBe32(chart.bytes, chart.bytes.size() - 4);
    for (int r = 0; r <= kChartHeight; ++r)
        floor.offsets.push_back(chartwriter::GetBe32(chart.bytes, table + 4u * r));
    return floor;
}

uint64_t CountRunPixels(const uint8_t* row, size_t length, int type) {
    size_t at = 0;
    while (at < length && (row[at] & 0x80)) ++at;
    ++at;
    uint32_t lengthMask = 0x7Fu >> type;
    uint64_t pixels = 0;
    size_t end = length - 1;
    while (at < end) {
        uint32_t first = row[at++];
        uint64_t run = first & lengthMask;
        if (first & 0x80) {
            uint32_t next = 0x80;
            while (at < end && (next & 0x80)) {
                next = row[at++];
                run = (run << 7) | (next & 0x7F);
            }
        }
        pixels += run + 1;
    }
    return pixels;
}

uint64_t g_sink = 0;

void ReadAndCount(const Floor& floor, const std::vector<int>& rows, std::vector<uint8_t>& buffer) {
    for (int r : rows) {
        uint32_t start = floor.offsets[r];
        uint32_t length = floor.offsets[r + 1] - start;
        buffer.resize(std::max<size_t>(buffer.size(), length));
        if (pread(floor.fd, buffer.data(), length, start) != static_cast<ssize_t>(length)) std::exit(1);
        g_sink += CountRunPixels(buffer.data(), length, floor.chart->type);
    }
}

std::vector<int> RowRange(int first, int count) {
    std::vector<int> rows;
    for (int r = first; r < first + count; ++r) rows.push_back(r);
    return rows;
}

std::vector<int> SampledRows(int height, int out) {
    std::vector<int> rows;
    for (int j = 0; j < out; ++j)
        rows.push_back(static_cast<int>((2ull * j + 1) * height / (2ull * out)));
    return rows;
}

// Today's road for a window: decode every row it touches in full, then copy.
void FullRowWindow(const Floor& floor, int left, int top, int width, int height,
                   std::vector<uint8_t>& encoded, std::vector<uint8_t>& decoded,
                   std::vector<uint8_t>& out) {
    int bpp = bsb::BitsPerPixel(floor.chart->type);
    decoded.resize(kChartWidth);
    out.resize(static_cast<size_t>(width) * height);
    for (int j = 0; j < height; ++j) {
        uint32_t start = floor.offsets[top + j];
        uint32_t length = floor.offsets[top + j + 1] - start;
        encoded.resize(std::max<size_t>(encoded.size(), length));
        if (pread(floor.fd, encoded.data(), length, start) != static_cast<ssize_t>(length)) std::exit(1);
        uint32_t w = kChartWidth;
        bsb::Reporter reporter = bsb::QuietReporter();
        bsb::DecodeRasterRow(encoded.data(), length, decoded.data(), &w, floor.chart->type, &reporter);
        std::copy_n(decoded.data() + left * bpp / 8, width * bpp / 8, out.data() + j * width * bpp / 8);
    }
}

void Line(const char* label, double seconds, const char* versus, double baseline, const char* target) {
    std::printf("| %s | %s | %s | %s | %.2fx | %s |\n", label,
                seconds < 1e-3 ? (std::to_string(seconds * 1e6).substr(0, 6) + " us").c_str()
                               : (std::to_string(seconds * 1e3).substr(0, 6) + " ms").c_str(),
                versus,
                baseline < 1e-3 ? (std::to_string(baseline * 1e6).substr(0, 6) + " us").c_str()
                                : (std::to_string(baseline * 1e3).substr(0, 6) + " ms").c_str(),
                seconds / baseline, target);
}

void* Must(bsbchart_status status, void* bitmap) {
    if (status != BSBCHART_OK) {
        std::fprintf(stderr, "call failed: %s\n", bsbchart_strerror(status));
        std::exit(1);
    }
    return bitmap;
}

void Open(Chart& chart);

// The exported calls are timed first: they cannot open the chart while a
// handle holds it.
void FixedCost(Chart& chart) {
    void* heap = CreateChartHeap(0);
    RECT tiny = {5400, 4200, 5401, 4201};
    double exported = Time([&] { FreeChartBlock(heap, GetWindowBmp(chart.wide.data(), heap, tiny)); });
    double cx, cy, l, t, r, b;
    int skewed;
    double border = Time([&] { GetBsbBorder(chart.wide.data(), &cx, &cy, &l, &t, &r, &b, skewed); });
    Open(chart);
    bsbchart_rect rect = {5400, 4200, 5401, 4201};
    double handle = Time([&] {
        void* bitmap = nullptr;
        bsbchart_pixel_window(chart.handle, rect, 0, 0, nullptr, &bitmap, nullptr);
        bsbchart_free(bitmap);
    });
    Line("2 x 2 window through a handle, type 4", handle, "GetWindowBmp", exported, "<= 0.33x");
    double x = 0, y = 0;
    double convert = Time([&] {
        bsbchart_pixel_to_world(chart.handle, 5400.5, 4200.5, &x, &y, nullptr);
        g_sink += static_cast<uint64_t>(x);
    });
    Line("pixel -> world through a handle", convert, "GetBsbBorder (world)", border, "< 1 us");
    DestroyChartHeap(heap);
}

void ScreenWindow(const Chart& chart, const char* label) {
    Floor floor = OpenFloor(chart);
    std::vector<uint8_t> encoded, decoded, out, buffer;
    int left = (kChartWidth - 800) / 2, top = (kChartHeight - 480) / 2;
    bsbchart_rect rect = {left, top, left + 799, top + 479};
    std::vector<int> rows = RowRange(top, 480);
    std::vector<double> t = TimeTogether({[&] {
                                              void* bitmap = nullptr;
                                              bsbchart_pixel_window(chart.handle, rect, 0, 0, nullptr, &bitmap,
                                                                    nullptr);
                                              bsbchart_free(bitmap);
                                          },
                                          [&] { FullRowWindow(floor, left, top, 800, 480, encoded, decoded, out); },
                                          [&] { ReadAndCount(floor, rows, buffer); }});
    std::string name = std::string("800 x 480 window in the middle, ") + label;
    Line(name.c_str(), t[0], "full-row decoding", t[1], "<= 0.33x (3x faster)");
    Line("", t[0], "floor: its 480 rows read and counted", t[2], "<= 2x");
    close(floor.fd);
}

// A whole-chart reduction to 800 x 600 and the heap it holds besides its
// result.
struct Reduction {
    const Chart* chart;
    uint32_t flags;
    Counting heap;
    size_t result = 0;

    void operator()() {
        bsbchart_allocator allocator = heap.allocator();
        bsbchart_rect whole = {0, 0, kChartWidth - 1, kChartHeight - 1};
        void* bitmap = nullptr;
        Must(bsbchart_reduced_window(chart->handle, whole, 800, 600, 0, flags, &allocator, &bitmap, nullptr),
             bitmap);
        int bpp = flags & BSBCHART_AREA_AVERAGE ? 24 : bsb::BitsPerPixel(chart->type);
        result = 40 + (bpp < 24 ? 4 << bpp : 0) + 600 * ((bpp * 800 + 31) / 32 * 4);
        allocator.release(&heap, bitmap);
    }
    size_t beyond() const { return heap.peak - result; }
};

void WholeChart(const Chart& chart, const char* label) {
    Floor floor = OpenFloor(chart);
    std::vector<uint8_t> buffer;
    Reduction nearest{&chart, 0, {}}, average{&chart, BSBCHART_AREA_AVERAGE, {}};
    std::vector<int> sampled = SampledRows(kChartHeight, 600);
    std::vector<int> all = RowRange(0, kChartHeight);
    std::vector<double> n = TimeTogether({std::ref(nearest), [&] { ReadAndCount(floor, sampled, buffer); }});
    std::vector<double> a = TimeTogether({std::ref(average), [&] { ReadAndCount(floor, all, buffer); }}, 2.0);
    std::string name = std::string("whole chart to 800 x 600, nearest sample, ") + label;
    Line(name.c_str(), n[0], "floor: its 600 sampled rows", n[1], "<= 2x");
    name = std::string("whole chart to 800 x 600, area average, ") + label;
    Line(name.c_str(), a[0], "floor: all 8400 rows", a[1], "<= 3x");
    std::printf("| heap beyond the result, nearest / area average, %s | %zu B / %zu B | full window | %zu B | | < 1 MB |\n",
                label, nearest.beyond(), average.beyond(),
                static_cast<size_t>(kChartWidth) * kChartHeight * bsb::BitsPerPixel(chart.type) / 8);
    close(floor.fd);
}

void SkewedReduced(const Chart& chart, const char* label) {
    double west = bench::kCentreX - 0.5, east = bench::kCentreX + 0.5;
    double north = bench::kCentreY + 0.5, south = bench::kCentreY - 0.5;
    Counting fullHeap, reducedHeap;
    bsbchart_allocator fullAllocator = fullHeap.allocator();
    bsbchart_allocator reducedAllocator = reducedHeap.allocator();
    uint32_t fullWidth = 0, fullHeight = 0;
    // The full-size window is timed first: it gives the reduced one its size.
    std::vector<double> t = TimeTogether(
        {[&] {
             void* bitmap = nullptr;
             Must(bsbchart_world_window(chart.handle, west, north, east, south, 0, 0, &fullAllocator, &bitmap,
                                        nullptr),
                  bitmap);
             const auto* b = static_cast<const uint8_t*>(bitmap);
             fullWidth = b[4] | b[5] << 8 | b[6] << 16 | static_cast<uint32_t>(b[7]) << 24;
             fullHeight = 0u - (b[8] | b[9] << 8 | b[10] << 16 | static_cast<uint32_t>(b[11]) << 24);
             fullAllocator.release(&fullHeap, bitmap);
         },
         [&] {
             void* bitmap = nullptr;
             Must(bsbchart_reduced_world_window(chart.handle, west, north, east, south, fullWidth / 4,
                                                fullHeight / 4, 0, 0, &reducedAllocator, &bitmap, nullptr),
                  bitmap);
             reducedAllocator.release(&reducedHeap, bitmap);
         }});
    double full = t[0], reduced = t[1];
    std::string name = std::string("skewed world window reduced 4x, ") + label;
    Line(name.c_str(), reduced, "the full-size window", full, "");
    std::printf("| heap, reduced 4x / full-size, %s (with the result) | %zu B | | %zu B | %.3fx | |\n", label,
                reducedHeap.peak, fullHeap.peak,
                static_cast<double>(reducedHeap.peak) / static_cast<double>(fullHeap.peak));
}

void Open(Chart& chart) {
    bsbchart_error error;
    if (bsbchart_open(chart.path.c_str(), nullptr, &chart.handle, &error) != BSBCHART_OK) {
        std::fprintf(stderr, "cannot open %s: %s\n", chart.path.c_str(), bsbchart_strerror(error.status));
        std::exit(1);
    }
}

}  // namespace

int main() {
    char dir[] = "/tmp/bsbchart-handle-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    bench::EncodedChart type4, type7;
    bench::EncodeCharts(&type4, &type7);
    Chart up4 = WriteChart(dir, "upright4.kap", bench::UprightHeader(), type4);
    Chart up7 = WriteChart(dir, "upright7.kap", bench::UprightHeader(), type7);
    Chart sk4 = WriteChart(dir, "skewed4.kap", bench::SkewedHeader(), type4);
    std::printf("| Measure (10800 x 8400 charts) | Figure | Against | Its figure | Ratio | Target |\n");
    std::printf("|---|---:|---|---:|---:|---|\n");
    FixedCost(up4);
    for (Chart* chart : {&up7, &sk4}) Open(*chart);
    ScreenWindow(up4, "type 4");
    ScreenWindow(up7, "type 7");
    WholeChart(up4, "type 4");
    WholeChart(up7, "type 7");
    SkewedReduced(sk4, "type 4");
    for (Chart* chart : {&up4, &up7, &sk4}) {
        bsbchart_close(chart->handle);
        unlink(chart->path.c_str());
    }
    rmdir(dir);
    return g_sink == 42 ? 1 : 0;
}
