#include "commands.h"

#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bmp_file.h"
#include "bsbchart.h"
#include "bsbchart_host.h"
#include "output_file.h"
#include "text.h"

namespace command {

namespace {

// ------------------------------------------------------------ messages

// The library's messages of the call in progress. A probe call (one whose
// failure the command handles itself) keeps them to itself.
std::vector<std::string> g_messages;

void CollectMessage(const unsigned short* text, void*) { g_messages.push_back(Utf8FromUtf16(text)); }

void PrintMessages() {
    for (const std::string& message : g_messages) std::fprintf(stderr, "bsbchart: %s\n", message.c_str());
    std::fflush(stderr);
    g_messages.clear();
}

// Runs one library call; on failure its messages are printed, unless the
// call is a probe.
template <typename Call>
auto Library(Call call, bool probe = false) {
    g_messages.clear();
    auto result = call();
    if (!result && !probe) PrintMessages();
    g_messages.clear();
    return result;
}

// ------------------------------------------------------------ info

struct WorldExtent {
    double centreX, centreY, west, north, east, south;
};

struct ChartSummary {
    std::string chart;
    RECT pixels{};
    bool skewed = false;
    std::optional<WorldExtent> world;
};

std::string JsonNumber(double value) { return std::isfinite(value) ? ShortestDouble(value) : "null"; }

void PrintText(const ChartSummary& s) {
    std::printf("chart:   %s\n", s.chart.c_str());
    // RECT's fields are LONG on Windows.
    const int left = static_cast<int>(s.pixels.left), top = static_cast<int>(s.pixels.top);
    const int right = static_cast<int>(s.pixels.right), bottom = static_cast<int>(s.pixels.bottom);
    std::printf("size:    %d x %d pixels\n", right + 1, bottom + 1);
    std::printf("pixels:  %d,%d,%d,%d (left,top,right,bottom)\n", left, top, right, bottom);
    std::printf("skewed:  %s\n", s.skewed ? "yes (the world rectangle bounds the turned raster)" : "no");
    if (!s.world) {
        std::printf("world:   not available\n");
        return;
    }
    const WorldExtent& w = *s.world;
    std::printf("world:   %s,%s,%s,%s (west,north,east,south)\n", ShortestDouble(w.west).c_str(),
                ShortestDouble(w.north).c_str(), ShortestDouble(w.east).c_str(), ShortestDouble(w.south).c_str());
    std::printf("centre:  %s,%s (x,y)\n", ShortestDouble(w.centreX).c_str(), ShortestDouble(w.centreY).c_str());
}

void PrintJson(const ChartSummary& s) {
    std::string out = "{\"chart\": " + JsonString(s.chart);
    out += ", \"width\": " + std::to_string(s.pixels.right + 1);
    out += ", \"height\": " + std::to_string(s.pixels.bottom + 1);
    out += std::string(", \"skewed\": ") + (s.skewed ? "true" : "false");
    out += ", \"pixels\": {\"left\": " + std::to_string(s.pixels.left) + ", \"top\": " +
           std::to_string(s.pixels.top) + ", \"right\": " + std::to_string(s.pixels.right) +
           ", \"bottom\": " + std::to_string(s.pixels.bottom) + "}";
    if (s.world) {
        const WorldExtent& w = *s.world;
        out += ", \"world\": {\"west\": " + JsonNumber(w.west) + ", \"north\": " + JsonNumber(w.north) +
               ", \"east\": " + JsonNumber(w.east) + ", \"south\": " + JsonNumber(w.south) + "}";
        out += ", \"centre\": {\"x\": " + JsonNumber(w.centreX) + ", \"y\": " + JsonNumber(w.centreY) + "}";
    } else {
        out += ", \"world\": null, \"centre\": null";
    }
    std::printf("%s}\n", out.c_str());
}

// One chart of `info`: printed, and whether all of it was available.
int InfoOfChart(const std::string& chart, bool json, bool first) {
    const auto wide = Utf16FromUtf8(chart);
    if (!wide) {
        std::fprintf(stderr, "bsbchart: the chart's name \"%s\" is not valid UTF-8\n", chart.c_str());
        return kFailure;
    }
    ChartSummary summary;
    summary.chart = chart;
    int skewed = 0;
    if (!Library([&] { return GetBsbBorder(wide->data(), &summary.pixels, skewed); })) return kFailure;
    summary.skewed = skewed != 0;
    WorldExtent world{};
    int worldSkewed = 0;
    if (Library([&] {
            return GetBsbBorder(wide->data(), &world.centreX, &world.centreY, &world.west, &world.north,
                                &world.east, &world.south, worldSkewed);
        }))
        summary.world = world;
    if (json) {
        PrintJson(summary);
    } else {
        if (!first) std::printf("\n");
        PrintText(summary);
    }
    return summary.world ? kSuccess : kFailure;
}

// ------------------------------------------------------------ window

// The chart's file name without its extension, with the directory it is in.
std::string ChartStem(const std::string& chart) {
#if defined(_WIN32)
    size_t slash = chart.find_last_of("/\\");
#else
    size_t slash = chart.find_last_of('/');
#endif
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = chart.find_last_of('.');
    if (dot == std::string::npos || dot <= nameStart) return chart;
    return chart.substr(0, dot);
}

std::string Hemisphere(double value, char positive, char negative) {
    if (value == 0.0) return std::string("0") + positive;
    return ShortestDouble(std::fabs(value)) + (value < 0.0 ? negative : positive);
}

// A world window on a skewed chart comes back resampled whatever it covers;
// one that misses the turned sheet's bounding rectangle would be a bitmap
// of one colour. False only when the chart's extent is known and missed.
bool WorldWindowTouchesChart(const unsigned short* chart, const std::array<double, 4>& window) {
    RECT pixels{};
    int skewed = 0;
    if (!Library([&] { return GetBsbBorder(chart, &pixels, skewed); }, true) || !skewed) return true;
    WorldExtent world{};
    if (!Library([&] {
            return GetBsbBorder(chart, &world.centreX, &world.centreY, &world.west, &world.north, &world.east,
                                &world.south, skewed);
        },
                 true))
        return true;
    const double west = window[0], north = window[1], east = window[2], south = window[3];
    return !(east < world.west || west > world.east || north < world.south || south > world.north);
}

std::string OutputName(const std::string& output) { return output == "-" ? "standard output" : output; }

}  // namespace

void InstallMessageSink() { SetMessageSink(CollectMessage, nullptr); }

std::string DefaultOutputPath(const std::string& chart, const Invocation& inv) {
    std::string name = ChartStem(chart);
    if (inv.pixels) {
        const auto& p = *inv.pixels;
        name += ".px-" + std::to_string(p[0]) + "-" + std::to_string(p[1]) + "-" + std::to_string(p[2]) +
                "-" + std::to_string(p[3]);
    } else {
        const auto& w = *inv.world;
        name += ".world-" + Hemisphere(w[0], 'E', 'W') + "-" + Hemisphere(w[1], 'N', 'S') + "-" +
                Hemisphere(w[2], 'E', 'W') + "-" + Hemisphere(w[3], 'N', 'S');
    }
    return name + ".bmp";
}

int RunInfo(const Invocation& inv) {
    int status = kSuccess;
    bool first = true;
    for (const std::string& chart : inv.charts) {
        if (InfoOfChart(chart, inv.json, first) != kSuccess) status = kFailure;
        first = false;
        FlushStandardOutput();
    }
    return status;
}

int RunWindow(const Invocation& inv) {
    const std::string& chartName = inv.charts.front();
    const auto chart = Utf16FromUtf8(chartName);
    if (!chart) {
        std::fprintf(stderr, "bsbchart: the chart's name \"%s\" is not valid UTF-8\n", chartName.c_str());
        return kFailure;
    }
    const std::string output = inv.output.empty() ? DefaultOutputPath(chartName, inv) : inv.output;
    if (IsChartItself(chartName, output)) {
        std::fprintf(stderr, "bsbchart: cannot write %s: it is the chart being read\n", OutputName(output).c_str());
        return kFailure;
    }
    if (inv.world && !WorldWindowTouchesChart(chart->data(), *inv.world)) {
        std::fprintf(stderr, "bsbchart: the window lies outside the chart\n");
        return kFailure;
    }
    void* heap = CreateChartHeap(0);
    if (!heap) {
        std::fprintf(stderr, "bsbchart: cannot create a heap for the window\n");
        return kFailure;
    }
    char* bitmap = nullptr;
    if (inv.pixels) {
        const auto& p = *inv.pixels;
        RECT window{p[0], p[1], p[2], p[3]};
        bitmap = Library([&] { return GetWindowBmp(chart->data(), heap, window); });
    } else {
        const auto& w = *inv.world;
        bitmap = Library([&] { return GetWindowBmp(chart->data(), heap, w[0], w[1], w[2], w[3]); });
    }
    int status = kFailure;
    if (bitmap) {
        const std::optional<BitmapShape> shape = ShapeOf(bitmap);
        if (!shape) {
            std::fprintf(stderr, "bsbchart: the library returned a bitmap this command cannot write\n");
        } else {
            const std::string problem = WriteBmpFile(output, bitmap, *shape);
            if (!problem.empty()) {
                std::fprintf(stderr, "bsbchart: cannot write %s: %s\n", OutputName(output).c_str(), problem.c_str());
            } else {
                if (output != "-")
                    std::printf("%s: %d x %d pixels, %d bits per pixel\n", output.c_str(), shape->width,
                                shape->height, shape->bitsPerPixel);
                status = kSuccess;
            }
        }
        FreeChartBlock(heap, bitmap);
    }
    DestroyChartHeap(heap);
    return status;
}

}  // namespace command
