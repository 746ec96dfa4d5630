#include "commands.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "bmp_file.h"
#include "bsbchart.h"
#include "bsbchart_host.h"
#include "text.h"

namespace command {

namespace {

struct WorldExtent {
    double centreX, centreY, west, north, east, south;
};

std::string JsonNumber(double value) { return std::isfinite(value) ? ShortestDouble(value) : "null"; }

void PrintText(const std::string& chart, const RECT& pixels, bool skewed, const WorldExtent* world) {
    std::printf("chart:   %s\n", chart.c_str());
    // RECT's fields are LONG on Windows.
    const int left = static_cast<int>(pixels.left), top = static_cast<int>(pixels.top);
    const int right = static_cast<int>(pixels.right), bottom = static_cast<int>(pixels.bottom);
    std::printf("size:    %d x %d pixels\n", right + 1, bottom + 1);
    std::printf("pixels:  %d,%d,%d,%d (left,top,right,bottom)\n", left, top, right, bottom);
    std::printf("skewed:  %s\n", skewed ? "yes (the world rectangle bounds the turned raster)" : "no");
    if (!world) {
        std::printf("world:   not available\n");
        return;
    }
    std::printf("world:   %s,%s,%s,%s (west,north,east,south)\n", ShortestDouble(world->west).c_str(),
                ShortestDouble(world->north).c_str(), ShortestDouble(world->east).c_str(),
                ShortestDouble(world->south).c_str());
    std::printf("centre:  %s,%s (x,y)\n", ShortestDouble(world->centreX).c_str(),
                ShortestDouble(world->centreY).c_str());
}

void PrintJson(const std::string& chart, const RECT& pixels, bool skewed, const WorldExtent* world) {
    std::string out = "{\"chart\": " + JsonString(chart);
    out += ", \"width\": " + std::to_string(pixels.right + 1);
    out += ", \"height\": " + std::to_string(pixels.bottom + 1);
    out += std::string(", \"skewed\": ") + (skewed ? "true" : "false");
    out += ", \"pixels\": {\"left\": " + std::to_string(pixels.left) + ", \"top\": " +
           std::to_string(pixels.top) + ", \"right\": " + std::to_string(pixels.right) +
           ", \"bottom\": " + std::to_string(pixels.bottom) + "}";
    if (world) {
        out += ", \"world\": {\"west\": " + JsonNumber(world->west) + ", \"north\": " +
               JsonNumber(world->north) + ", \"east\": " + JsonNumber(world->east) +
               ", \"south\": " + JsonNumber(world->south) + "}";
        out += ", \"centre\": {\"x\": " + JsonNumber(world->centreX) + ", \"y\": " +
               JsonNumber(world->centreY) + "}";
    } else {
        out += ", \"world\": null, \"centre\": null";
    }
    std::printf("%s}\n", out.c_str());
}

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

}  // namespace

std::string DefaultOutputPath(const Invocation& inv) {
    std::string name = ChartStem(inv.chart);
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

int RunInfo(const Invocation& inv, const unsigned short* chart) {
    RECT pixels{};
    int skewed = 0;
    if (!GetBsbBorder(chart, &pixels, skewed)) return kFailure;
    WorldExtent world{};
    int worldSkewed = 0;
    const bool hasWorld = GetBsbBorder(chart, &world.centreX, &world.centreY, &world.west, &world.north,
                                       &world.east, &world.south, worldSkewed) != 0;
    if (inv.json) PrintJson(inv.chart, pixels, skewed != 0, hasWorld ? &world : nullptr);
    else PrintText(inv.chart, pixels, skewed != 0, hasWorld ? &world : nullptr);
    return hasWorld ? kSuccess : kFailure;
}

int RunWindow(const Invocation& inv, const unsigned short* chart) {
    void* heap = CreateChartHeap(0);
    if (!heap) {
        std::fprintf(stderr, "bsbchart: cannot create a heap for the window\n");
        return kFailure;
    }
    char* bitmap = nullptr;
    if (inv.pixels) {
        const auto& p = *inv.pixels;
        RECT window{p[0], p[1], p[2], p[3]};
        bitmap = GetWindowBmp(chart, heap, window);
    } else {
        const auto& w = *inv.world;
        bitmap = GetWindowBmp(chart, heap, w[0], w[1], w[2], w[3]);
    }
    int status = kFailure;
    if (bitmap) {
        const std::string output = inv.output.empty() ? DefaultOutputPath(inv) : inv.output;
        const std::optional<BitmapShape> shape = ShapeOf(bitmap);
        if (!shape) {
            std::fprintf(stderr, "bsbchart: the library returned a bitmap this command cannot write\n");
        } else {
            const std::string problem = WriteBmpFile(PathFromUtf8(output), bitmap, *shape);
            if (problem.empty()) {
                std::printf("%s: %d x %d pixels, %d bits per pixel\n", output.c_str(), shape->width,
                            shape->height, shape->bitsPerPixel);
                status = kSuccess;
            } else {
                std::fprintf(stderr, "bsbchart: cannot write %s: %s\n", output.c_str(), problem.c_str());
            }
        }
        FreeChartBlock(heap, bitmap);
    }
    DestroyChartHeap(heap);
    return status;
}

}  // namespace command
