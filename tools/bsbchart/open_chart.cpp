#include "open_chart.h"

#include <algorithm>
#include <cmath>

namespace command {

OpenChart::OpenChart(const std::string& path) {
    if (bsbchart_open(path.c_str(), nullptr, &handle_, &error_) != BSBCHART_OK) {
        handle_ = nullptr;
        reason_ = ErrorText(error_);
    }
}

OpenChart::~OpenChart() { Close(); }

void OpenChart::Close() {
    bsbchart_close(handle_);
    handle_ = nullptr;
}

std::string OpenChart::FailureText(const std::string& path) const { return ErrorText(error_, path.c_str()); }

std::string ErrorText(const bsbchart_error& error, const char* path) {
    std::string text(bsbchart_error_text(&error, path, nullptr, 0) + 1, '\0');
    text.resize(bsbchart_error_text(&error, path, &text[0], text.size()));
    return text;
}

ChartMetadata MetadataOf(const bsbchart* chart) {
    ChartMetadata metadata;
    bsbchart_info info{};
    if (bsbchart_get_info(chart, &info) != BSBCHART_OK) return metadata;
    metadata.bitsPerPixel = info.bits_per_pixel;
    for (int32_t palette = 0; palette < BSBCHART_PALETTE_COUNT; ++palette) {
        if (!(info.palettes & (1u << palette))) continue;
        std::string key = bsbchart_palette_key(palette);
        if (!key.empty() && key.back() == '/') key.pop_back();
        metadata.palettes.push_back(key);
    }
    auto field = [&](int32_t which) -> std::optional<std::string> {
        const char* text = bsbchart_get_field(chart, which);
        if (!text) return std::nullopt;
        return std::string(text);
    };
    metadata.name = field(BSBCHART_FIELD_NAME);
    metadata.scale = field(BSBCHART_FIELD_SCALE);
    metadata.datum = field(BSBCHART_FIELD_DATUM);
    metadata.projection = field(BSBCHART_FIELD_PROJECTION);
    metadata.units = field(BSBCHART_FIELD_DEPTH_UNITS);
    return metadata;
}

namespace {

struct Point {
    double x, y;
};

// The extent of the points along `axis`.
std::pair<double, double> Project(const std::array<Point, 4>& points, Point axis) {
    double low = INFINITY, high = -INFINITY;
    for (const Point& p : points) {
        const double d = p.x * axis.x + p.y * axis.y;
        low = std::min(low, d);
        high = std::max(high, d);
    }
    return {low, high};
}

}  // namespace

std::optional<bool> WorldWindowMeetsRaster(const bsbchart* chart, const std::array<double, 4>& window) {
    bsbchart_info info{};
    if (bsbchart_get_info(chart, &info) != BSBCHART_OK) return std::nullopt;
    // The window's corners in chart pixels: a parallelogram, as the
    // resampling walks it (north-west, north-east, south-east, south-west).
    const double west = window[0], north = window[1], east = window[2], south = window[3];
    const double corners[4][2] = {{west, north}, {east, north}, {east, south}, {west, south}};
    std::array<Point, 4> window_pixels{};
    for (int k = 0; k < 4; ++k) {
        if (bsbchart_world_to_pixel(chart, corners[k][0], corners[k][1], &window_pixels[k].x, &window_pixels[k].y,
                                    nullptr) != BSBCHART_OK ||
            !std::isfinite(window_pixels[k].x) || !std::isfinite(window_pixels[k].y))
            return std::nullopt;
    }
    const std::array<Point, 4> raster = {Point{0, 0}, Point{static_cast<double>(info.width), 0},
                                         Point{static_cast<double>(info.width), static_cast<double>(info.height)},
                                         Point{0, static_cast<double>(info.height)}};
    // Two convex shapes are apart when their extents along one of their
    // edges' normals are.
    std::vector<Point> axes = {{1, 0}, {0, 1}};
    for (int k = 0; k < 2; ++k) {
        const Point& a = window_pixels[k];
        const Point& b = window_pixels[k + 1];
        if (a.x != b.x || a.y != b.y) axes.push_back({a.y - b.y, b.x - a.x});
    }
    for (const Point& axis : axes) {
        const auto w = Project(window_pixels, axis);
        const auto r = Project(raster, axis);
        if (w.second < r.first || r.second < w.first) return false;
    }
    return true;
}

}  // namespace command
