// The library against what its work cannot go below, measured in one run:
// row decoding beside a pixel-at-a-time decoder and memset, windows beside
// reading the file plus memset of the bitmap, the skewed resampling per
// output pixel, system calls per row and the heap a call holds beyond its
// result. Prints one table.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "api/rotated_window.h"
#include "api/window_bitmap.h"
#include "bench_charts.h"
#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_writer.h"
#include "header/polynomial.h"
#include "platform/platform.h"
#include "naive_decoder.h"
#include "raster/row_decoder.h"
#include "system_calls.h"

namespace bench {
namespace {

// The bench's calls of internal functions keep their messages to themselves.
bsb::Reporter* QuietReporter() {
    static bsb::Reporter reporter;
    reporter = bsb::QuietReporter();
    return &reporter;
}

constexpr int W = kChartWidth;
constexpr int H = kChartHeight;

std::vector<unsigned short> Utf16(const std::string& path) {
    std::vector<unsigned short> wide(path.begin(), path.end());
    wide.push_back(0);
    return wide;
}

struct Chart {
    std::string path;
    std::vector<unsigned short> wide;
    std::vector<uint8_t> bytes;  // the file as written
    int type = 0;
    uint32_t headerLength = 0;
};

Chart WriteChart(const std::string& dir, const std::string& name, const std::string& header,
                 const EncodedChart& encoded) {
    Chart chart;
    chart.path = dir + "/" + name;
    chart.wide = Utf16(chart.path);
    chart.type = encoded.compressionType;
    std::vector<uint8_t> block = chartwriter::MakeHeaderBlock(header, encoded.compressionType);
    chart.headerLength = static_cast<uint32_t>(block.size());
    chart.bytes = chartwriter::AssembleChart(block, encoded.rows);
    if (chart.bytes.empty() || !chartwriter::WriteFileBytes(chart.path, chart.bytes)) {
        std::fprintf(stderr, "cannot write %s\n", chart.path.c_str());
        std::exit(1);
    }
    return chart;
}

// Byte offset of 0-based row r in the file (r = H gives the index table).
uint32_t RowOffset(const Chart& chart, int r) {
    uint32_t table = chartwriter::GetBe32(chart.bytes, chart.bytes.size() - 4);
    return chartwriter::GetBe32(chart.bytes, table + 4u * static_cast<uint32_t>(r));
}

void Silence(const unsigned short*, void*) {}

// ---------------------------------------------------------------- results

struct Result {
    double seconds = 0;  // CPU seconds per iteration
};
std::map<std::string, Result> g_results;

class Collector : public benchmark::BenchmarkReporter {
public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                std::fprintf(stderr, "%s failed: %s\n", run.benchmark_name().c_str(),
                             run.error_message.c_str());
                std::exit(1);
            }
            Result& r = g_results[run.run_name.function_name];
            r.seconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
            std::fprintf(stderr, ".");
        }
    }
};

// ---------------------------------------------------------------- decoding

struct RowSet {
    std::vector<const std::vector<uint8_t>*> rows;
    uint64_t pixels() const { return rows.size() * static_cast<uint64_t>(W); }
};

RowSet PickRows(const EncodedChart& chart, int from, int to, int step) {
    RowSet set;
    for (int y = from; y < to; y += step) set.rows.push_back(&chart.rows[y]);
    return set;
}

void CheckDecodersAgree(const RowSet& set, int type) {
    std::vector<uint8_t> ours(W), naive(W);
    for (const auto* row : set.rows) {
        uint32_t width = W;
        bool a = bsb::DecodeRasterRow(row->data(), static_cast<uint32_t>(row->size()), ours.data(),
                                      &width, type, QuietReporter());
        bool b = DecodeRowPixelByPixel(row->data(), static_cast<uint32_t>(row->size()), naive.data(),
                                       W, type);
        if (!a || !b || ours != naive) {
            std::fprintf(stderr, "decoders disagree on a type %d row\n", type);
            std::exit(1);
        }
    }
}

void RegisterDecoding(const std::string& name, const RowSet& set, int type) {
    int bpp = bsb::BitsPerPixel(type);
    size_t rowBytes = static_cast<size_t>(W) * bpp / 8;
    benchmark::RegisterBenchmark((name + "/library").c_str(), [set, type](benchmark::State& state) {
        std::vector<uint8_t> out(W);
        for (auto _ : state)
            for (const auto* row : set.rows) {
                uint32_t width = W;
                bsb::DecodeRasterRow(row->data(), static_cast<uint32_t>(row->size()), out.data(),
                                     &width, type, QuietReporter());
                benchmark::DoNotOptimize(out.data());
                benchmark::ClobberMemory();
            }
    })->MinTime(0.2);
    benchmark::RegisterBenchmark((name + "/naive").c_str(), [set, type](benchmark::State& state) {
        std::vector<uint8_t> out(W);
        for (auto _ : state)
            for (const auto* row : set.rows) {
                DecodeRowPixelByPixel(row->data(), static_cast<uint32_t>(row->size()), out.data(), W,
                                      type);
                benchmark::DoNotOptimize(out.data());
                benchmark::ClobberMemory();
            }
    })->MinTime(0.2);
    benchmark::RegisterBenchmark((name + "/memset").c_str(),
                                 [set, rowBytes](benchmark::State& state) {
                                     std::vector<uint8_t> out(W);
                                     int colour = 0;
                                     for (auto _ : state)
                                         for (size_t r = 0; r < set.rows.size(); ++r) {
                                             std::memset(out.data(), ++colour & 0x77, rowBytes);
                                             benchmark::DoNotOptimize(out.data());
                                             benchmark::ClobberMemory();
                                         }
                                 })
        ->MinTime(0.2);
}

// ---------------------------------------------------------------- windows

// The bitmap block the library returns for w × h pixels at bpp.
size_t BitmapBytes(uint32_t w, uint32_t h, int bpp) {
    size_t words = (static_cast<size_t>(bpp) * w + 31) / 32;
    return 4 * (10 + (size_t(1) << bpp) + static_cast<size_t>(h) * words);
}

// Reads `count` bytes at `offset` into fresh memory and writes every byte of
// a fresh bitmap: what any window call must at least do.
void ReadPlusMemset(const std::string& path, off_t offset, size_t count, size_t bitmapBytes) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    char* file = static_cast<char*>(std::malloc(count));
    size_t done = 0;
    if (offset != 0 && lseek(fd, offset, SEEK_SET) != offset) std::abort();
    while (done < count) {
        ssize_t got = read(fd, file + done, count - done);
        if (got <= 0) std::abort();
        done += static_cast<size_t>(got);
    }
    close(fd);
    char* bitmap = static_cast<char*>(std::malloc(bitmapBytes));
    std::memset(bitmap, 0x11, bitmapBytes);
    benchmark::DoNotOptimize(file);
    benchmark::DoNotOptimize(bitmap);
    benchmark::ClobberMemory();
    std::free(bitmap);
    std::free(file);
}

void RegisterPixelWindow(const std::string& name, const Chart& chart, RECT window, double minTime) {
    benchmark::RegisterBenchmark(name.c_str(), [&chart, window](benchmark::State& state) {
        void* heap = CreateChartHeap(0);
        for (auto _ : state) {
            char* bitmap = GetWindowBmp(chart.wide.data(), heap, window);
            if (!bitmap) {
                state.SkipWithError("window failed");
                break;
            }
            FreeChartBlock(heap, bitmap);
        }
        DestroyChartHeap(heap);
    })->MinTime(minTime);
}

void RegisterReadBaseline(const std::string& name, const Chart& chart, off_t offset, size_t count,
                          size_t bitmapBytes, double minTime) {
    benchmark::RegisterBenchmark(name.c_str(), [&chart, offset, count, bitmapBytes](
                                                   benchmark::State& state) {
        for (auto _ : state) ReadPlusMemset(chart.path, offset, count, bitmapBytes);
    })->MinTime(minTime);
}

// ---------------------------------------------------------------- skewed

struct WorldWindow {
    double left, top, right, bottom;
};

// 1000 × 1000 output pixels about the skewed chart's centre.
WorldWindow CentreWorldWindow() {
    double half = 999.0 * kWorldPerPixel / 2.0;
    return {kCentreX - half, kCentreY + half, kCentreX + half, kCentreY - half};
}

// The region and rotation the library resamples the window from, built the
// same way: corners through WPX/WPY, their bounding box widened by a pixel.
struct SkewedSetup {
    double px[4], py[4];
    int64_t x0, x1, y0, y1;
    uint64_t stride;
    uint64_t regionBytes;
};

SkewedSetup LocateWindow(const std::string& header, const WorldWindow& window, int bpp) {
    bsb::HeaderText text = {header.c_str(), static_cast<uint32_t>(header.size())};
    bsb::ChartPolynomial wpx{}, wpy{};
    if (!bsb::ParsePolynomial(text, "WPX/", &wpx, QuietReporter()) || !bsb::ParsePolynomial(text, "WPY/", &wpy, QuietReporter()))
        std::abort();
    double xs[4] = {window.left, window.right, window.right, window.left};
    double ys[4] = {window.top, window.top, window.bottom, window.bottom};
    SkewedSetup setup{};
    for (int i = 0; i < 4; ++i) {
        setup.px[i] = bsb::EvaluatePolynomial(wpx.order, wpx.coefficients, xs[i], ys[i]);
        setup.py[i] = bsb::EvaluatePolynomial(wpy.order, wpy.coefficients, xs[i], ys[i]);
    }
    double minX = *std::min_element(setup.px, setup.px + 4);
    double maxX = *std::max_element(setup.px, setup.px + 4);
    double minY = *std::min_element(setup.py, setup.py + 4);
    double maxY = *std::max_element(setup.py, setup.py + 4);
    int64_t perByte = 8 / bpp;
    auto floorTo = [perByte](int64_t v) {
        int64_t r = v % perByte;
        return r < 0 ? v - r - perByte : v - r;
    };
    setup.x0 = floorTo(static_cast<int64_t>(minX) - 1);
    setup.x1 = floorTo(static_cast<int64_t>(maxX) + 1) + perByte - 1;
    setup.y0 = static_cast<int64_t>(minY) - 1;
    setup.y1 = static_cast<int64_t>(maxY) + 1;
    setup.stride = static_cast<uint64_t>(setup.x1 - setup.x0 + 1) / static_cast<uint64_t>(perByte);
    setup.regionBytes = setup.stride * static_cast<uint64_t>(setup.y1 - setup.y0 + 1);
    return setup;
}

void RegisterWorldWindow(const std::string& name, const Chart& chart) {
    benchmark::RegisterBenchmark(name.c_str(), [&chart](benchmark::State& state) {
        void* heap = CreateChartHeap(0);
        WorldWindow w = CentreWorldWindow();
        for (auto _ : state) {
            char* bitmap = GetWindowBmp(chart.wide.data(), heap, w.left, w.top, w.right, w.bottom);
            if (!bitmap) {
                state.SkipWithError("world window failed");
                break;
            }
            FreeChartBlock(heap, bitmap);
        }
        DestroyChartHeap(heap);
    })->MinTime(0.5);
}

// The resampling alone, on the region the call would have gathered.
void RegisterResampling(const std::string& name, const Chart& chart, const EncodedChart& encoded) {
    benchmark::RegisterBenchmark((name + "/library").c_str(), [&chart, &encoded](
                                                                  benchmark::State& state) {
        int bpp = bsb::BitsPerPixel(chart.type);
        SkewedSetup setup = LocateWindow(SkewedHeader(), CentreWorldWindow(), bpp);
        std::vector<uint8_t> bytes(setup.regionBytes);
        std::vector<uint8_t> decoded(W);
        for (int64_t y = setup.y0; y <= setup.y1; ++y) {
            const auto& row = encoded.rows[static_cast<size_t>(y)];
            uint32_t width = W;
            bsb::DecodeRasterRow(row.data(), static_cast<uint32_t>(row.size()), decoded.data(), &width,
                                 chart.type, QuietReporter());
            std::memcpy(&bytes[static_cast<size_t>(y - setup.y0) * setup.stride],
                        &decoded[static_cast<size_t>(setup.x0 * bpp / 8)], setup.stride);
        }
        bsb::Region region{setup.x0, setup.x1, setup.y0, setup.y1,
                           setup.x1 - setup.x0 + 1, setup.stride, bpp, bytes.data()};
        double theta = kSkewDegrees * bsb::kRadiansPerDegree;
        bsb::Rotation rotation{std::sin(theta), std::cos(theta),
                               static_cast<double>(static_cast<int32_t>(setup.px[0])),
                               static_cast<double>(static_cast<int32_t>(setup.py[0]))};
        void* heap = CreateChartHeap(0);
        for (auto _ : state) {
            state.PauseTiming();
            bsb::WindowBitmap bitmap;
            bsb::CreateWindowBitmap(bsb::HeapAllocator(heap), 1000, 1000, bpp, &bitmap, QuietReporter());
            state.ResumeTiming();
            bsb::ResampleRegion(region, rotation, &bitmap);
            benchmark::DoNotOptimize(bitmap.pixels);
            state.PauseTiming();
            FreeChartBlock(heap, bitmap.block);
            state.ResumeTiming();
        }
        DestroyChartHeap(heap);
    })->MinTime(0.3);
    // The floor: copying the output's bytes out of the region row by row.
    benchmark::RegisterBenchmark((name + "/copy").c_str(), [&chart](benchmark::State& state) {
        int bpp = bsb::BitsPerPixel(chart.type);
        SkewedSetup setup = LocateWindow(SkewedHeader(), CentreWorldWindow(), bpp);
        std::vector<uint8_t> bytes(setup.regionBytes, 0x12);
        size_t rowBytes = 1000u * static_cast<size_t>(bpp) / 8;
        std::vector<uint8_t> out(rowBytes * 1000);
        for (auto _ : state) {
            for (size_t j = 0; j < 1000; ++j)
                std::memcpy(&out[j * rowBytes], &bytes[j * setup.stride], rowBytes);
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
        }
    })->MinTime(0.2);
}

// ---------------------------------------------------------------- memory

// The smallest heap maximum at which the call succeeds is its peak of live
// bytes; less the result's size, what the call held for itself.
int64_t PeakBeyondResult(const std::function<char*(void* heap)>& call) {
    uint64_t low = 0, high = uint64_t(1) << 31;  // call fails at low, succeeds at high
    size_t result = 0;
    {
        void* heap = CreateChartHeap(high);
        char* bitmap = call(heap);
        if (!bitmap) return -1;
        DestroyChartHeap(heap);
    }
    while (high - low > 1) {
        uint64_t middle = low + (high - low) / 2;
        void* heap = CreateChartHeap(middle);
        char* bitmap = call(heap);
        (bitmap ? high : low) = middle;
        DestroyChartHeap(heap);
    }
    void* heap = CreateChartHeap(0);
    char* bitmap = call(heap);
    const char* header = bitmap;
    uint32_t bpp = static_cast<uint8_t>(header[14]);
    uint32_t width = static_cast<uint8_t>(header[4]) | static_cast<uint8_t>(header[5]) << 8 |
                     static_cast<uint8_t>(header[6]) << 16;
    int32_t height = 0;
    std::memcpy(&height, header + 8, 4);
    result = BitmapBytes(width, static_cast<uint32_t>(height < 0 ? -height : height),
                         static_cast<int>(bpp));
    DestroyChartHeap(heap);
    return static_cast<int64_t>(high) - static_cast<int64_t>(result);
}

// ---------------------------------------------------------------- calls

double SystemCallsPerRow(const std::function<char*(void* heap)>& call, int rows) {
    void* heap = CreateChartHeap(0);
    ResetSystemCalls();
    char* bitmap = call(heap);
    uint64_t calls = SystemCalls();
    if (!bitmap) std::abort();
    DestroyChartHeap(heap);
    return static_cast<double>(calls) / rows;
}

// ---------------------------------------------------------------- table

struct Line {
    std::string measure, figure, baseline, baselineFigure, ratio, target;
};
std::vector<Line> g_lines;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

double Seconds(const std::string& name) {
    auto it = g_results.find(name);
    return it == g_results.end() ? NAN : it->second.seconds;
}

std::string Verdict(bool met) { return met ? " — met" : " — NOT MET"; }

void DecodingLines(const std::string& label, const std::string& name, uint64_t pixels,
                   double target) {
    if (std::isnan(Seconds(name + "/library"))) return;  // filtered out
    double ours = static_cast<double>(pixels) / Seconds(name + "/library");
    double naive = static_cast<double>(pixels) / Seconds(name + "/naive");
    double floor = static_cast<double>(pixels) / Seconds(name + "/memset");
    g_lines.push_back({label, Format("%.0f Mpx/s", ours / 1e6), "pixel-at-a-time decoder",
                       Format("%.0f Mpx/s", naive / 1e6), Format("%.2f×", ours / naive),
                       "≥ " + Format("%.1f×", target) + Verdict(ours / naive >= target)});
    g_lines.push_back({"", "", "memset of the output bytes", Format("%.0f Mpx/s", floor / 1e6),
                       Format("%.3f×", ours / floor), ""});
}

std::string Duration(double seconds) {
    return seconds < 1e-3 ? Format("%.0f µs", seconds * 1e6) : Format("%.1f ms", seconds * 1e3);
}

void WindowLine(const std::string& label, const std::string& name, const std::string& baseline,
                const std::string& baselineName, double target) {
    double ours = Seconds(name), floor = Seconds(baselineName);
    if (std::isnan(ours)) return;
    std::string verdict = target > 0 ? "≤ " + Format("%.0f×", target) + Verdict(ours / floor <= target) : "";
    g_lines.push_back({label, Duration(ours), baseline, Duration(floor),
                       Format("%.2f×", ours / floor), verdict});
}

void PrintTable() {
    std::vector<std::string> heads = {"Measure", "Figure", "Baseline", "Baseline figure",
                                      "Ratio", "Target"};
    std::printf("\n| %s | %s | %s | %s | %s | %s |\n", heads[0].c_str(), heads[1].c_str(),
                heads[2].c_str(), heads[3].c_str(), heads[4].c_str(), heads[5].c_str());
    std::printf("|---|---:|---|---:|---:|---|\n");
    for (const Line& l : g_lines)
        std::printf("| %s | %s | %s | %s | %s | %s |\n", l.measure.c_str(), l.figure.c_str(),
                    l.baseline.c_str(), l.baselineFigure.c_str(), l.ratio.c_str(), l.target.c_str());
}

// ---------------------------------------------------------------- steps

// The four charts the run measures, in a fresh temporary directory, and the
// encoded rows they were written from.
struct Charts {
    EncodedChart type4, type7;
    std::string dir;
    Chart up4, up7, sk4, sk7;
    double generationSeconds = 0;

    std::vector<const Chart*> Uprights() const { return {&up4, &up7}; }
};

void WriteCharts(Charts* charts) {
    auto started = std::chrono::steady_clock::now();
    EncodeCharts(&charts->type4, &charts->type7);
    char dirTemplate[] = "/tmp/bsbchart-bench-XXXXXX";
    if (!mkdtemp(dirTemplate)) std::exit(1);
    charts->dir = dirTemplate;
    charts->up4 = WriteChart(charts->dir, "upright4.kap", UprightHeader(), charts->type4);
    charts->up7 = WriteChart(charts->dir, "upright7.kap", UprightHeader(), charts->type7);
    charts->sk4 = WriteChart(charts->dir, "skewed4.kap", SkewedHeader(), charts->type4);
    charts->sk7 = WriteChart(charts->dir, "skewed7.kap", SkewedHeader(), charts->type7);
    charts->generationSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "charts of %d × %d generated in %.1f s: type 4 %.1f MB, type 7 %.1f MB\n",
                 W, H, charts->generationSeconds, charts->up4.bytes.size() / 1e6,
                 charts->up7.bytes.size() / 1e6);
}

void RemoveCharts(const Charts& charts) {
    for (const Chart* chart : {&charts.up4, &charts.up7, &charts.sk4, &charts.sk7})
        std::remove(chart->path.c_str());
    rmdir(charts.dir.c_str());
}

// The rows the decoders are timed on: every 40th row below the margin
// (realistic rows) and rows of the margin (long runs).
struct DecodingRows {
    RowSet real4, real7, long4, long7;
};

DecodingRows PickDecodingRows(const Charts& charts) {
    DecodingRows rows;
    rows.real4 = PickRows(charts.type4, kMarginRows, H, 40);
    rows.real7 = PickRows(charts.type7, kMarginRows, H, 40);
    rows.long4 = PickRows(charts.type4, 102, 500, 2);
    rows.long7 = PickRows(charts.type7, 102, 500, 2);
    for (auto [set, type] : {std::pair{&rows.real4, 4}, {&rows.real7, 7}, {&rows.long4, 4},
                             {&rows.long7, 7}})
        CheckDecodersAgree(*set, type);
    return rows;
}

// The whole chart, and a screen of 800 × 480 pixels in its middle.
constexpr RECT kFull = {0, 0, W - 1, H - 1};
constexpr RECT kScreen = {W / 2 - 400, H / 2 - 240, W / 2 + 399, H / 2 + 239};

void RegisterTimings(const Charts& charts, const DecodingRows& rows) {
    RegisterDecoding("decode/realistic/4", rows.real4, 4);
    RegisterDecoding("decode/realistic/7", rows.real7, 7);
    RegisterDecoding("decode/long/4", rows.long4, 4);
    RegisterDecoding("decode/long/7", rows.long7, 7);
    for (const Chart* chart : charts.Uprights()) {
        std::string t = std::to_string(chart->type);
        int bpp = bsb::BitsPerPixel(chart->type);
        RegisterPixelWindow("full/" + t, *chart, kFull, 1.0);
        RegisterReadBaseline("full/" + t + "/floor", *chart, 0, chart->bytes.size(),
                             BitmapBytes(W, H, bpp), 1.0);
        RegisterPixelWindow("screen/" + t, *chart, kScreen, 0.3);
        RegisterReadBaseline("screen/" + t + "/floor", *chart, 0, chart->bytes.size(),
                             BitmapBytes(800, 480, bpp), 0.3);
        uint32_t from = RowOffset(*chart, kScreen.top), to = RowOffset(*chart, kScreen.bottom + 1);
        RegisterReadBaseline("screen/" + t + "/rowsfloor", *chart, from, to - from,
                             BitmapBytes(800, 480, bpp), 0.3);
    }
    RegisterWorldWindow("world/4", charts.sk4);
    RegisterWorldWindow("world/7", charts.sk7);
    RegisterResampling("resample/4", charts.sk4, charts.type4);
    RegisterResampling("resample/7", charts.sk7, charts.type7);
}

// The table's lines of the timings that ran.
void TimingLines(const Charts& charts, const DecodingRows& rows) {
    DecodingLines("Decode realistic rows, type 4", "decode/realistic/4", rows.real4.pixels(), 1.5);
    DecodingLines("Decode realistic rows, type 7", "decode/realistic/7", rows.real7.pixels(), 1.5);
    DecodingLines("Decode long-run rows, type 4", "decode/long/4", rows.long4.pixels(), 4.0);
    DecodingLines("Decode long-run rows, type 7", "decode/long/7", rows.long7.pixels(), 4.0);
    for (const Chart* chart : charts.Uprights()) {
        std::string t = std::to_string(chart->type);
        std::string size = Format("%.1f MB", chart->bytes.size() / 1e6);
        WindowLine("Full-chart pixel window, type " + t, "full/" + t,
                   "read() of the whole file (" + size + ") + memset of the bitmap",
                   "full/" + t + "/floor", 3.0);
        WindowLine("800 × 480 window in the middle, type " + t, "screen/" + t,
                   "read() of the whole file + memset of the bitmap", "screen/" + t + "/floor", 0);
        WindowLine("", "screen/" + t, "read() of the window's 480 rows + memset of the bitmap",
                   "screen/" + t + "/rowsfloor", 0);
    }
    for (int t : {4, 7}) {
        std::string ts = std::to_string(t);
        if (std::isnan(Seconds("world/" + ts))) continue;
        double call = Seconds("world/" + ts) / 1e6 * 1e9;
        double resample = Seconds("resample/" + ts + "/library") / 1e6 * 1e9;
        double copy = Seconds("resample/" + ts + "/copy") / 1e6 * 1e9;
        g_lines.push_back({"1000 × 1000 world window, skewed 15°, type " + ts + ": whole call",
                           Format("%.2f ns/px", call), "the resampling alone (below)",
                           Format("%.2f ns/px", resample), Format("%.2f×", call / resample), ""});
        g_lines.push_back({"  resampling alone", Format("%.2f ns/px", resample),
                           "memcpy of the output bytes from the region", Format("%.2f ns/px", copy),
                           Format("%.1f×", resample / copy),
                           "< 5 ns/px" + Verdict(resample < 5.0)});
    }
}

// The heap each kind of window holds beyond its result, against what it
// needs, and the file buffer on the stack.
void MemoryLines(const Charts& charts) {
    struct MemoryCase {
        std::string label;
        const Chart* chart;
        bool skewed;
    };
    const MemoryCase memoryCases[] = {{"800 × 480 window, type 4", &charts.up4, false},
                                      {"800 × 480 window, type 7", &charts.up7, false},
                                      {"1000 × 1000 world window, skewed, type 4", &charts.sk4, true},
                                      {"1000 × 1000 world window, skewed, type 7", &charts.sk7, true}};
    for (const MemoryCase& m : memoryCases) {
        const Chart& chart = *m.chart;
        WorldWindow w = CentreWorldWindow();
        std::function<char*(void*)> call = [&](void* heap) {
            return m.skewed ? GetWindowBmp(chart.wide.data(), heap, w.left, w.top, w.right, w.bottom)
                            : GetWindowBmp(chart.wide.data(), heap, kScreen);
        };
        int64_t peak = PeakBeyondResult(call);
        uint64_t allowed = chart.headerLength + 2ull * W;
        std::string what = "header block " + std::to_string(chart.headerLength) + " B + 2 row buffers";
        if (m.skewed) {
            uint64_t region = LocateWindow(SkewedHeader(), w, bsb::BitsPerPixel(chart.type)).regionBytes;
            allowed += region;
            what += " + region " + std::to_string(region) + " B";
        }
        g_lines.push_back({"Heap beyond the result: " + m.label, std::to_string(peak) + " B", what,
                           std::to_string(allowed) + " B",
                           Format("%.3f×", static_cast<double>(peak) / static_cast<double>(allowed)),
                           "≤ 1×" + Verdict(peak >= 0 && static_cast<uint64_t>(peak) <= allowed)});
    }
    g_lines.push_back({"File buffer on the stack of each call", std::to_string(sizeof(bsb::ChartFile)) + " B",
                       "", "", "", "fixed"});
}

// System calls per row of a full-chart window.
void SystemCallLines(const Charts& charts) {
    for (const Chart* chart : charts.Uprights()) {
        double perRow = SystemCallsPerRow(
            [&](void* heap) { return GetWindowBmp(chart->wide.data(), heap, kFull); }, H);
        g_lines.push_back({"System calls per row, full-chart window, type " + std::to_string(chart->type),
                           Format("%.3f", perRow), "limit", "2", Format("%.2f×", perRow / 2),
                           "≤ 2" + Verdict(perRow <= 2.0)});
    }
}

void PrintRunSummary(const Charts& charts, double totalSeconds) {
    std::printf("\nCharts %d × %d, generated in %.1f s; type 4 file %.1f MB, type 7 file %.1f MB. "
                "CPU time per call; whole run %.0f s.\n",
                W, H, charts.generationSeconds, charts.up4.bytes.size() / 1e6,
                charts.up7.bytes.size() / 1e6, totalSeconds);
}

// With a filter only the timings it selects are run and shown.
bool Filtered(int argc, char** argv) {
    bool filtered = false;
    for (int i = 1; i < argc; ++i) filtered |= std::strncmp(argv[i], "--benchmark_filter", 18) == 0;
    return filtered;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
    using namespace bench;
    bool filtered = Filtered(argc, argv);
    benchmark::Initialize(&argc, argv);
    SetMessageSink(Silence, nullptr);
    auto started = std::chrono::steady_clock::now();

    Charts charts;
    WriteCharts(&charts);
    DecodingRows rows = PickDecodingRows(charts);
    RegisterTimings(charts, rows);
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    std::fprintf(stderr, "\n");

    TimingLines(charts, rows);
    if (!filtered) {
        MemoryLines(charts);
        SystemCallLines(charts);
    }
    PrintTable();
    PrintRunSummary(charts, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    RemoveCharts(charts);
    return 0;
}
