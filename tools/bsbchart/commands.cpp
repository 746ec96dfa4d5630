#include "commands.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bmp_file.h"
#include "bsbchart.h"
#include "bsbchart_host.h"
#include "open_chart.h"
#include "output_file.h"
#include "png_file.h"
#include "text.h"

namespace command {

namespace {

// ------------------------------------------------------------ messages

// The library's messages of the call in progress.
std::vector<std::string> g_messages;

void CollectMessage(const unsigned short* text, void*) { g_messages.push_back(Utf8FromUtf16(text)); }

// What is printed before a message (the chart's name when info shows
// several) and after it (why, as the handle interface tells it).
struct MessageContext {
    std::string label;   // empty: the message alone
    std::string reason;  // empty: not known
    std::string chart;   // the chart the call opened
};

void PrintMessage(const std::string& message, const MessageContext& context) {
    std::string line = "bsbchart: ";
    if (!context.label.empty() && message.find(context.label) == std::string::npos) line += context.label + ": ";
    line += message;
    if (!context.reason.empty()) line += " (" + context.reason + ")";
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

// Why an exclusive call could not open a chart that the handle opened just
// before: asked again, the handle tells what changed, or it opens again and
// only the exclusive lock is refused, by a reader holding the chart.
std::string ReasonAfterRefusedOpen(const MessageContext& context, const std::string& message) {
    if (!context.reason.empty() || context.chart.empty() || message.rfind("Cannot open file: ", 0) != 0)
        return context.reason;
    OpenChart again(context.chart);
    return again.handle() ? bsbchart_strerror(BSBCHART_E_IN_USE) : again.reason();
}

// Runs one library call; on failure its messages are printed, the first
// with the reason.
template <typename Call>
auto Library(Call call, const MessageContext& context) {
    g_messages.clear();
    auto result = call();
    if (!result) {
        for (size_t i = 0; i < g_messages.size(); ++i) {
            MessageContext shown{context.label, "", context.chart};
            if (i == 0) shown.reason = ReasonAfterRefusedOpen(context, g_messages[i]);
            PrintMessage(g_messages[i], shown);
        }
    }
    g_messages.clear();
    return result;
}

// ------------------------------------------------------------ info

struct WorldExtent {
    double centreX, centreY, west, north, east, south;
};

struct ChartSummary {
    std::string chart;
    int32_t width = 0, height = 0;
    bool skewed = false;
    std::optional<WorldExtent> world;
    std::optional<ChartMetadata> metadata;
};

std::string JsonNumber(double value) { return std::isfinite(value) ? ShortestDouble(value) : "null"; }

std::string JsonText(const std::optional<std::string>& text) { return text ? JsonString(*text) : "null"; }

// "label:" padded to the column the values start in.
void PrintLine(const char* label, const std::string& value) {
    std::string head = std::string(label) + ":";
    head.resize(std::max<size_t>(head.size() + 1, 9), ' ');
    std::printf("%s%s\n", head.c_str(), value.c_str());
}

std::string FieldText(const std::optional<std::string>& field) { return field ? *field : "not given"; }

// A scale given as a plain number reads as 1:N.
std::string ScaleText(const std::optional<std::string>& scale) {
    if (!scale) return "not given";
    const bool number = !scale->empty() && scale->find_first_not_of("0123456789") == std::string::npos;
    return number ? "1:" + *scale : *scale;
}

std::string JoinedPalettes(const std::vector<std::string>& palettes, const char* separator) {
    std::string out;
    for (const std::string& key : palettes) out += (out.empty() ? "" : separator) + key;
    return out;
}

void PrintText(const ChartSummary& s) {
    PrintLine("chart", s.chart);
    PrintLine("size", std::to_string(s.width) + " x " + std::to_string(s.height) + " pixels");
    PrintLine("pixels", "0,0," + std::to_string(s.width - 1) + "," + std::to_string(s.height - 1) +
                            " (left,top,right,bottom)");
    PrintLine("skewed", s.skewed ? "yes (the world rectangle bounds the turned raster)" : "no");
    if (s.world) {
        const WorldExtent& w = *s.world;
        PrintLine("world", ShortestDouble(w.west) + "," + ShortestDouble(w.north) + "," + ShortestDouble(w.east) +
                               "," + ShortestDouble(w.south) + " (west,north,east,south)");
        PrintLine("centre", ShortestDouble(w.centreX) + "," + ShortestDouble(w.centreY) + " (x,y)");
    } else {
        PrintLine("world", "not available");
    }
    if (!s.metadata) {
        PrintLine("header", "not available");
        return;
    }
    const ChartMetadata& m = *s.metadata;
    PrintLine("bits", std::to_string(m.bitsPerPixel) + " per pixel");
    PrintLine("palettes", m.palettes.empty() ? "none" : JoinedPalettes(m.palettes, ", "));
    PrintLine("name", FieldText(m.name));
    PrintLine("scale", ScaleText(m.scale));
    PrintLine("datum", FieldText(m.datum));
    PrintLine("projection", FieldText(m.projection));
    PrintLine("units", FieldText(m.units));
}

void PrintJson(const ChartSummary& s) {
    std::string out = "{\"chart\": " + JsonString(s.chart);
    out += ", \"width\": " + std::to_string(s.width);
    out += ", \"height\": " + std::to_string(s.height);
    out += std::string(", \"skewed\": ") + (s.skewed ? "true" : "false");
    out += ", \"pixels\": {\"left\": 0, \"top\": 0, \"right\": " + std::to_string(s.width - 1) +
           ", \"bottom\": " + std::to_string(s.height - 1) + "}";
    if (s.world) {
        const WorldExtent& w = *s.world;
        out += ", \"world\": {\"west\": " + JsonNumber(w.west) + ", \"north\": " + JsonNumber(w.north) +
               ", \"east\": " + JsonNumber(w.east) + ", \"south\": " + JsonNumber(w.south) + "}";
        out += ", \"centre\": {\"x\": " + JsonNumber(w.centreX) + ", \"y\": " + JsonNumber(w.centreY) + "}";
    } else {
        out += ", \"world\": null, \"centre\": null";
    }
    if (s.metadata) {
        const ChartMetadata& m = *s.metadata;
        std::string palettes;
        for (const std::string& key : m.palettes) palettes += (palettes.empty() ? "" : ", ") + JsonString(key);
        out += ", \"bits_per_pixel\": " + std::to_string(m.bitsPerPixel) + ", \"palettes\": [" + palettes + "]";
        out += ", \"name\": " + JsonText(m.name) + ", \"scale\": " + JsonText(m.scale) +
               ", \"datum\": " + JsonText(m.datum) + ", \"projection\": " + JsonText(m.projection) +
               ", \"units\": " + JsonText(m.units);
    } else {
        out += ", \"bits_per_pixel\": null, \"palettes\": null, \"name\": null, \"scale\": null"
               ", \"datum\": null, \"projection\": null, \"units\": null";
    }
    std::printf("%s}\n", out.c_str());
}

// The extent through the four calls, as ever, for a name they can take.
bool ExtentByCalls(const std::vector<unsigned short>& wide, ChartSummary& summary, const MessageContext& context,
                   const std::string& worldReason) {
    RECT pixels{};
    int skewed = 0;
    if (!Library([&] { return GetBsbBorder(wide.data(), &pixels, skewed); }, context)) return false;
    // RECT's fields are LONG on Windows.
    summary.width = static_cast<int32_t>(pixels.right) + 1;
    summary.height = static_cast<int32_t>(pixels.bottom) + 1;
    summary.skewed = skewed != 0;
    WorldExtent world{};
    int worldSkewed = 0;
    if (Library(
            [&] {
                return GetBsbBorder(wide.data(), &world.centreX, &world.centreY, &world.west, &world.north,
                                    &world.east, &world.south, worldSkewed);
            },
            MessageContext{context.label, context.reason.empty() ? worldReason : context.reason, context.chart}))
        summary.world = world;
    return true;
}

// The same through the open handle, for a name that is not UTF-8.
void ExtentByHandle(const bsbchart* chart, ChartSummary& summary, const MessageContext& context) {
    bsbchart_info info{};
    bsbchart_get_info(chart, &info);
    summary.width = info.width;
    summary.height = info.height;
    summary.skewed = info.skewed != 0;
    WorldExtent world{};
    bsbchart_error error{};
    if (bsbchart_world_extent(chart, &world.west, &world.north, &world.east, &world.south, &error) != BSBCHART_OK) {
        PrintMessage(ErrorText(error), MessageContext{context.label, "", ""});
        return;
    }
    world.centreX = (world.west + world.east) * 0.5;
    world.centreY = (world.north + world.south) * 0.5;
    summary.world = world;
}

// One chart of `info`: printed, and whether all of it was available.
int InfoOfChart(const std::string& chart, bool json, bool first, bool several) {
    ChartSummary summary;
    summary.chart = chart;
    const std::string label = several ? chart : "";
    const auto wide = Utf16FromUtf8(chart);
    OpenChart opened(chart);
    std::string worldReason;
    if (opened.handle()) {
        summary.metadata = MetadataOf(opened.handle());
        double west, north, east, south;
        bsbchart_error error{};
        if (bsbchart_world_extent(opened.handle(), &west, &north, &east, &south, &error) != BSBCHART_OK)
            worldReason = ErrorText(error);
    }
    if (wide) {
        opened.Close();
        if (!ExtentByCalls(*wide, summary, MessageContext{label, opened.reason(), chart}, worldReason))
            return kFailure;
        if (!summary.metadata) PrintMessage("the header's fields are not available", {label, opened.reason(), ""});
    } else {
        if (!opened.handle()) {
            PrintMessage(opened.FailureText(chart), {});
            return kFailure;
        }
        ExtentByHandle(opened.handle(), summary, MessageContext{label, "", ""});
    }
    if (json) {
        PrintJson(summary);
    } else {
        if (!first) std::printf("\n");
        PrintText(summary);
    }
    return summary.world && summary.metadata ? kSuccess : kFailure;
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

// The window through the open handle, for a name that is not UTF-8: the
// bytes GetWindowBmp gives, its 2 x 2 least pixel window kept.
char* WindowByHandle(const bsbchart* chart, const Invocation& inv, void* heap) {
    bsbchart_allocator allocator{};
    bsbchart_heap_allocator(heap, &allocator);
    void* bitmap = nullptr;
    bsbchart_error error{};
    bsbchart_status status;
    if (inv.pixels) {
        const auto& p = *inv.pixels;
        if (static_cast<int64_t>(p[2]) - p[0] < 1 || static_cast<int64_t>(p[3]) - p[1] < 1) {
            PrintMessage(bsbchart_strerror(BSBCHART_E_OUTSIDE), {});
            return nullptr;
        }
        status = bsbchart_pixel_window(chart, bsbchart_rect{p[0], p[1], p[2], p[3]}, BSBCHART_PALETTE_RGB,
                                       BSBCHART_DOUBLED_COLOURS, &allocator, &bitmap, &error);
    } else {
        const auto& w = *inv.world;
        status = bsbchart_world_window(chart, w[0], w[1], w[2], w[3], BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS,
                                       &allocator, &bitmap, &error);
    }
    if (status != BSBCHART_OK) {
        PrintMessage(ErrorText(error), {});
        return nullptr;
    }
    return static_cast<char*>(bitmap);
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
        if (InfoOfChart(chart, inv.json, first, inv.charts.size() > 1) != kSuccess) status = kFailure;
        first = false;
        FlushStandardOutput();
    }
    return status;
}

namespace {

// An output named *.png (any case) is written as PNG, anything else as BMP.
bool WritesPng(const std::string& output) {
    if (output.size() < 4) return false;
    std::string ending = output.substr(output.size() - 4);
    std::transform(ending.begin(), ending.end(), ending.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ending == ".png";
}

std::string WritePngFile(const std::string& output, const char* bitmap) {
    std::vector<uint8_t> png;
    const std::string problem = PngFromBitmap(bitmap, png);
    if (!problem.empty()) return problem;
    return WriteOutput(output, {{png.data(), png.size()}});
}

}  // namespace

int RunWindow(const Invocation& inv) {
    const std::string& chartName = inv.charts.front();
    const std::string output = inv.output.empty() ? DefaultOutputPath(chartName, inv) : inv.output;
    if (IsChartItself(chartName, output)) {
        std::fprintf(stderr, "bsbchart: cannot write %s: it is the chart being read\n", OutputName(output).c_str());
        return kFailure;
    }
    OpenChart opened(chartName);
    // The library resamples any world window of a skewed chart, so one that
    // misses the turned sheet would come back as a bitmap of one colour.
    bsbchart_info info{};
    if (inv.world && opened.handle() && bsbchart_get_info(opened.handle(), &info) == BSBCHART_OK && info.skewed &&
        WorldWindowMeetsRaster(opened.handle(), *inv.world) == false) {
        std::fprintf(stderr, "bsbchart: the window lies outside the chart\n");
        return kFailure;
    }
    const auto wide = Utf16FromUtf8(chartName);
    if (!wide && !opened.handle()) {
        PrintMessage(opened.FailureText(chartName), {});
        return kFailure;
    }
    void* heap = CreateChartHeap(0);
    if (!heap) {
        std::fprintf(stderr, "bsbchart: cannot create a heap for the window\n");
        return kFailure;
    }
    char* bitmap = nullptr;
    if (!wide) {
        bitmap = WindowByHandle(opened.handle(), inv, heap);
    } else {
        opened.Close();
        const MessageContext context{"", opened.reason(), chartName};
        if (inv.pixels) {
            const auto& p = *inv.pixels;
            RECT window{p[0], p[1], p[2], p[3]};
            bitmap = Library([&] { return GetWindowBmp(wide->data(), heap, window); }, context);
        } else {
            const auto& w = *inv.world;
            bitmap = Library([&] { return GetWindowBmp(wide->data(), heap, w[0], w[1], w[2], w[3]); }, context);
        }
    }
    int status = kFailure;
    if (bitmap) {
        const std::optional<BitmapShape> shape = ShapeOf(bitmap);
        if (!shape) {
            std::fprintf(stderr, "bsbchart: the library returned a bitmap this command cannot write\n");
        } else {
            const std::string problem = WritesPng(output) ? WritePngFile(output, bitmap)
                                                          : WriteBmpFile(output, bitmap, *shape);
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
