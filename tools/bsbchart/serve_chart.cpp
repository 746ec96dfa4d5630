#include "serve_chart.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "png_file.h"
#include "text.h"

namespace serve {

namespace {

// Metres of one degree along the equator (WGS 84) and, near enough for a
// scale bar, along a meridian.
constexpr double kMetresPerDegree = 111319.49079327357;
// Index of the tiles' transparent palette entry: colour indices of a chart
// are below 128.
constexpr uint8_t kClear = 255;

struct BitmapFree {
    void operator()(void* block) const { bsbchart_free(block); }
};
using Bitmap = std::unique_ptr<void, BitmapFree>;

std::string ErrorText(const bsbchart_error& error) {
    char text[256];
    bsbchart_error_text(&error, nullptr, text, sizeof text);
    return text;
}

std::string Number(double value) { return std::isfinite(value) ? command::ShortestDouble(value) : "null"; }

Reply Problem(int status, const std::string& message) {
    Reply reply;
    reply.status = status;
    reply.body = message + "\n";
    return reply;
}

Reply Json(std::string body) {
    Reply reply;
    reply.body = std::move(body);
    reply.type = "application/json";
    return reply;
}

// The status a failed window call gets: the chart's own faults are the
// server's (5xx), a request for what the chart lacks is the client's.
Reply WindowProblem(int32_t status, const bsbchart_error& error) {
    switch (status) {
        case BSBCHART_E_OUTSIDE:
            return Problem(404, "tile outside the chart");
        case BSBCHART_E_PALETTE:
            return Problem(404, "the chart has no such palette");
        case BSBCHART_E_NO_MEMORY:
            return Problem(503, ErrorText(error));
        default:
            return Problem(500, ErrorText(error));
    }
}

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct Shape {
    uint32_t width = 0, height = 0;
    int bpp = 0;
    size_t stride = 0;
    const uint8_t* table = nullptr;  // indexed: 2^bpp blue, green, red, reserved entries
    const uint8_t* pixels = nullptr;
};

Shape ShapeOf(const void* bitmap) {
    const auto* b = static_cast<const uint8_t*>(bitmap);
    Shape shape;
    shape.width = Le32(b + 4);
    shape.height = static_cast<uint32_t>(-static_cast<int32_t>(Le32(b + 8)));
    shape.bpp = b[14] | (b[15] << 8);
    shape.stride = (static_cast<size_t>(shape.bpp) * shape.width + 31) / 32 * 4;
    shape.table = b + 40;
    shape.pixels = shape.bpp == 24 ? b + 40 : b + 40 + (4u << shape.bpp);
    return shape;
}

inline uint8_t IndexAt(const uint8_t* row, int bpp, uint32_t i) {
    if (bpp == 8) return row[i];
    if (bpp == 4) return (row[i >> 1] >> ((~i & 1) << 2)) & 0x0F;
    return (row[i >> 3] >> (7 - (i & 7))) & 1;
}

// Whether a map point lies on the sheet: the raster's corners, in order,
// bound a convex quadrilateral.
struct Sheet {
    std::array<double, 8> corners;
    double orientation;

    explicit Sheet(const std::array<double, 8>& c) : corners(c) {
        double area = 0.0;
        for (int k = 0; k < 4; ++k) {
            int n = (k + 1) % 4;
            area += c[2 * k] * c[2 * n + 1] - c[2 * n] * c[2 * k + 1];
        }
        orientation = area >= 0.0 ? 1.0 : -1.0;
    }
    bool Contains(double x, double y) const {
        for (int k = 0; k < 4; ++k) {
            int n = (k + 1) % 4;
            double ex = corners[2 * n] - corners[2 * k], ey = corners[2 * n + 1] - corners[2 * k + 1];
            double cross = ex * (y - corners[2 * k + 1]) - ey * (x - corners[2 * k]);
            if (cross * orientation < 0.0) return false;
        }
        return true;
    }
};

// Lays the window bitmap (width x height at the tile's top left) into a
// 256 x 256 tile; pixels beyond it, or off the sheet where `sheet` is given,
// stay clear.
std::string ComposeTile(const void* bitmap, const Sheet* sheet, double left, double top, double span,
                        int compression, std::vector<uint8_t>& png) {
    const Shape shape = ShapeOf(bitmap);
    if (shape.width > static_cast<uint32_t>(kTileSize) || shape.height > static_cast<uint32_t>(kTileSize) ||
        (shape.bpp != 1 && shape.bpp != 4 && shape.bpp != 8 && shape.bpp != 24))
        return "the library returned a bitmap of an unexpected shape";
    if (!sheet && shape.width == static_cast<uint32_t>(kTileSize) &&
        shape.height == static_cast<uint32_t>(kTileSize))
        return command::PngFromBitmap(bitmap, png, compression);

    const double step = span / kTileSize;
    auto onSheet = [&](uint32_t i, uint32_t j) {
        return !sheet || sheet->Contains(left + (i + 0.5) * step, top + (j + 0.5) * step);
    };
    command::PngImage image;
    image.width = image.height = kTileSize;
    std::vector<uint8_t> pixels;
    if (shape.bpp == 24) {
        pixels.assign(static_cast<size_t>(kTileSize) * kTileSize * 4, 0);
        for (uint32_t j = 0; j < shape.height; ++j) {
            const uint8_t* in = shape.pixels + j * shape.stride;
            uint8_t* out = pixels.data() + static_cast<size_t>(j) * kTileSize * 4;
            for (uint32_t i = 0; i < shape.width; ++i, in += 3, out += 4) {
                if (!onSheet(i, j)) continue;
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
                out[3] = 255;
            }
        }
        image.kind = command::PngKind::Rgba;
        image.stride = kTileSize * 4;
    } else {
        pixels.assign(static_cast<size_t>(kTileSize) * kTileSize, kClear);
        for (uint32_t j = 0; j < shape.height; ++j) {
            const uint8_t* in = shape.pixels + j * shape.stride;
            uint8_t* out = pixels.data() + static_cast<size_t>(j) * kTileSize;
            for (uint32_t i = 0; i < shape.width; ++i)
                if (onSheet(i, j)) out[i] = IndexAt(in, shape.bpp, i);
        }
        image.kind = command::PngKind::Indexed;
        image.bitDepth = 8;
        image.palette.assign(256, {0, 0, 0});
        const uint32_t entries = 1u << shape.bpp;
        for (uint32_t k = 0; k < entries && k < kClear; ++k)
            image.palette[k] = {shape.table[4 * k + 2], shape.table[4 * k + 1], shape.table[4 * k]};
        image.alpha.assign(256, 255);
        image.alpha[kClear] = 0;
        image.stride = kTileSize;
    }
    image.rows = pixels.data();
    return command::EncodePng(image, png, compression);
}

bool PixelToWorld(const Chart& chart, double column, double row, double* x, double* y) {
    return bsbchart_pixel_to_world(chart.handle, column, row, x, y, nullptr) == BSBCHART_OK &&
           std::isfinite(*x) && std::isfinite(*y);
}

// The map frame of a skewed chart: the world rectangle around its turned
// sheet, in units of the world size of one chart pixel along its rows and
// columns (measured at the centre).
bool LayOutWorldFrame(Chart& chart) {
    const double w = chart.info.width, h = chart.info.height;
    const double corners[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
    double world[4][2];
    for (int k = 0; k < 4; ++k)
        if (!PixelToWorld(chart, corners[k][0], corners[k][1], &world[k][0], &world[k][1])) return false;
    double cx, cy, ax, ay, bx, by;
    if (!PixelToWorld(chart, w / 2, h / 2, &cx, &cy) || !PixelToWorld(chart, w / 2 + 1, h / 2, &ax, &ay) ||
        !PixelToWorld(chart, w / 2, h / 2 + 1, &bx, &by))
        return false;
    Frame& f = chart.frame;
    f.kind = FrameKind::World;
    f.unitX = std::hypot(ax - cx, bx - cx);
    f.unitY = std::hypot(ay - cy, by - cy);
    f.west = std::min({world[0][0], world[1][0], world[2][0], world[3][0]});
    const double east = std::max({world[0][0], world[1][0], world[2][0], world[3][0]});
    f.north = std::max({world[0][1], world[1][1], world[2][1], world[3][1]});
    const double south = std::min({world[0][1], world[1][1], world[2][1], world[3][1]});
    if (!(f.unitX > 0.0) || !(f.unitY > 0.0)) return false;
    f.width = (east - f.west) / f.unitX;
    f.height = (f.north - south) / f.unitY;
    // Larger than any chart's raster by far: the polynomials are not a
    // turned grid of square pixels.
    const double limit = 4.0 * (w + h);
    if (!std::isfinite(f.width) || !std::isfinite(f.height) || f.width > limit || f.height > limit) return false;
    for (int k = 0; k < 4; ++k) {
        chart.sheet[2 * k] = (world[k][0] - f.west) / f.unitX;
        chart.sheet[2 * k + 1] = (f.north - world[k][1]) / f.unitY;
    }
    return true;
}

void MapToWorld(const Frame& f, double mapX, double mapY, double* x, double* y) {
    *x = f.west + mapX * f.unitX;
    *y = f.north - mapY * f.unitY;
}

const char* const kFieldNames[BSBCHART_FIELD_COUNT] = {
    "name",  "number",        "scale",         "datum",   "projection",  "projectionParameter",
    "depthUnits", "soundingDatum", "drawingUnits", "edition", "editionDate", "rasterEdition"};

const char* const kPaletteLabels[BSBCHART_PALETTE_COUNT] = {"Standard", "Day",  "Dusk",  "Night",
                                                            "Night red", "Grey", "Print", "Print grey"};

}  // namespace

int PaletteFromName(const std::string& name) {
    for (int p = 0; p < BSBCHART_PALETTE_COUNT; ++p)
        if (PaletteName(p) == name) return p;
    return -1;
}

std::string PaletteName(int palette) {
    const char* key = bsbchart_palette_key(palette);
    if (!key) return "";
    std::string name;
    for (const char* c = key; *c && *c != '/'; ++c)
        name += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    return name;
}

std::string OpenChart(const std::string& path, Chart& chart) {
    bsbchart_error error{};
    if (bsbchart_open(path.c_str(), nullptr, &chart.handle, &error) != BSBCHART_OK) {
        char text[1024];
        bsbchart_error_text(&error, path.c_str(), text, sizeof text);
        chart.handle = nullptr;
        return text;
    }
    if (bsbchart_get_info(chart.handle, &chart.info) != BSBCHART_OK) {
        CloseChart(chart);
        return "cannot read the chart's description: " + path;
    }
    const size_t slash = path.find_last_of('/');
    chart.file = slash == std::string::npos ? path : path.substr(slash + 1);
    chart.hasWorld = chart.info.georeferenced &&
                     bsbchart_world_extent(chart.handle, &chart.west, &chart.north, &chart.east, &chart.south,
                                           nullptr) == BSBCHART_OK;
    const double w = chart.info.width, h = chart.info.height;
    if (!(chart.info.skewed && chart.hasWorld && LayOutWorldFrame(chart))) {
        chart.frame = Frame();
        chart.frame.width = w;
        chart.frame.height = h;
        chart.sheet = {0, 0, w, 0, w, h, 0, h};
    }
    double largest = std::max(chart.frame.width, chart.frame.height);
    chart.minZoom = 0;
    while (largest > kTileSize && chart.minZoom > kLowestZoom) {
        largest /= 2.0;
        --chart.minZoom;
    }
    chart.metresPerUnit = 0.0;
    if (chart.hasWorld) {
        // The world step of one map unit east at the chart's centre.
        double x0, y0, x1, y1;
        bool known;
        if (chart.frame.kind == FrameKind::World) {
            known = PixelToWorld(chart, w / 2, h / 2, &x0, &y0);
            x1 = x0 + chart.frame.unitX;
            y1 = y0;
        } else {
            known = PixelToWorld(chart, w / 2, h / 2, &x0, &y0) && PixelToWorld(chart, w / 2 + 1, h / 2, &x1, &y1);
        }
        if (known && std::fabs(y0) <= 90.0) {
            double metres = std::hypot((x1 - x0) * std::cos(y0 * M_PI / 180.0), y1 - y0) * kMetresPerDegree;
            if (std::isfinite(metres) && metres > 0.0) chart.metresPerUnit = metres;
        }
    }
    return "";
}

void CloseChart(Chart& chart) {
    bsbchart_close(chart.handle);
    chart.handle = nullptr;
}

Reply RenderTile(const Chart& chart, int palette, int zoom, int64_t x, int64_t y, int compression) {
    if (zoom < chart.minZoom || zoom > kMaxZoom) return Problem(404, "no such zoom level");
    if (palette < 0 || palette >= BSBCHART_PALETTE_COUNT || !(chart.info.palettes & (1u << palette)))
        return Problem(404, "the chart has no such palette");
    const double span = std::ldexp(static_cast<double>(kTileSize), -zoom);  // map units across a tile
    const int64_t across = static_cast<int64_t>(std::ceil(chart.frame.width / span));
    const int64_t down = static_cast<int64_t>(std::ceil(chart.frame.height / span));
    if (x < 0 || y < 0 || x >= across || y >= down) return Problem(404, "tile outside the chart");

    // Zoomed out: each screen pixel the average colour of the chart pixels
    // under it; at 1:1 and closer the chart's own pixels, enlarged.
    const uint32_t flags = BSBCHART_DOUBLED_COLOURS | (zoom < 0 ? BSBCHART_AREA_AVERAGE : 0u);
    const double left = static_cast<double>(x) * span, top = static_cast<double>(y) * span;
    bsbchart_error error{};
    void* block = nullptr;
    int32_t status;
    const Sheet* sheet = nullptr;
    std::unique_ptr<Sheet> turned;
    if (chart.frame.kind == FrameKind::Pixels) {
        const int64_t step = static_cast<int64_t>(span);
        bsbchart_rect source;
        source.left = static_cast<int32_t>(x * step);
        source.top = static_cast<int32_t>(y * step);
        source.right = static_cast<int32_t>(std::min<int64_t>(x * step + step, chart.info.width) - 1);
        source.bottom = static_cast<int32_t>(std::min<int64_t>(y * step + step, chart.info.height) - 1);
        const int64_t columns = source.right - source.left + 1, rows = source.bottom - source.top + 1;
        // A tile at the sheet's edge holds only the chart's part of it.
        const int64_t reduction = zoom < 0 ? int64_t{1} << -zoom : 1;
        const int64_t enlargement = zoom > 0 ? int64_t{1} << zoom : 1;
        const uint32_t width = static_cast<uint32_t>((columns * enlargement + reduction - 1) / reduction);
        const uint32_t height = static_cast<uint32_t>((rows * enlargement + reduction - 1) / reduction);
        status = bsbchart_reduced_window(chart.handle, source, width, height, palette, flags, nullptr, &block,
                                         &error);
    } else {
        const Frame& f = chart.frame;
        double west, north, east, south;
        MapToWorld(f, left, top, &west, &north);
        MapToWorld(f, left + span, top + span, &east, &south);
        status = bsbchart_reduced_world_window(chart.handle, west, north, east, south, kTileSize, kTileSize,
                                               palette, flags, nullptr, &block, &error);
        turned = std::make_unique<Sheet>(chart.sheet);
        sheet = turned.get();
    }
    Bitmap bitmap(block);
    if (status != BSBCHART_OK) return WindowProblem(status, error);
    std::vector<uint8_t> png;
    const std::string problem = ComposeTile(bitmap.get(), sheet, left, top, span, compression, png);
    if (!problem.empty()) return Problem(500, problem);
    Reply reply;
    reply.body.assign(png.begin(), png.end());
    reply.type = "image/png";
    return reply;
}

Reply PositionAt(const Chart& chart, double mapX, double mapY) {
    if (!chart.hasWorld) return Problem(404, "the chart has no position polynomials");
    double column = mapX, row = mapY;
    bsbchart_error error{};
    if (chart.frame.kind == FrameKind::World) {
        double x, y;
        MapToWorld(chart.frame, mapX, mapY, &x, &y);
        if (bsbchart_world_to_pixel(chart.handle, x, y, &column, &row, &error) != BSBCHART_OK)
            return Problem(500, ErrorText(error));
    }
    double x, y;
    if (bsbchart_pixel_to_world(chart.handle, column, row, &x, &y, &error) != BSBCHART_OK)
        return Problem(500, ErrorText(error));
    const bool inside = column >= 0 && row >= 0 && column < chart.info.width && row < chart.info.height;
    return Json("{\"column\": " + Number(column) + ", \"row\": " + Number(row) + ", \"x\": " + Number(x) +
                ", \"y\": " + Number(y) + ", \"inside\": " + (inside ? "true" : "false") + "}");
}

Reply Locate(const Chart& chart, double x, double y) {
    if (!chart.hasWorld) return Problem(404, "the chart has no position polynomials");
    double column, row;
    bsbchart_error error{};
    if (bsbchart_world_to_pixel(chart.handle, x, y, &column, &row, &error) != BSBCHART_OK)
        return Problem(500, ErrorText(error));
    double mapX = column, mapY = row;
    if (chart.frame.kind == FrameKind::World) {
        mapX = (x - chart.frame.west) / chart.frame.unitX;
        mapY = (chart.frame.north - y) / chart.frame.unitY;
    }
    const bool inside = column >= 0 && row >= 0 && column < chart.info.width && row < chart.info.height;
    return Json("{\"column\": " + Number(column) + ", \"row\": " + Number(row) + ", \"mapX\": " + Number(mapX) +
                ", \"mapY\": " + Number(mapY) + ", \"inside\": " + (inside ? "true" : "false") + "}");
}

std::string DescribeChart(const Chart& chart, size_t index) {
    const bsbchart_info& i = chart.info;
    std::string out = "{\"index\": " + std::to_string(index) + ", \"id\": " + command::JsonString(chart.id) +
                      ", \"file\": " + command::JsonString(chart.file);
    out += ", \"width\": " + std::to_string(i.width) + ", \"height\": " + std::to_string(i.height);
    out += ", \"bitsPerPixel\": " + std::to_string(i.bits_per_pixel);
    out += std::string(", \"skewed\": ") + (i.skewed ? "true" : "false");
    out += ", \"skewAngle\": " + (i.has_skew ? Number(i.skew_angle) : "null");
    out += std::string(", \"georeferenced\": ") + (chart.hasWorld ? "true" : "false");
    if (chart.hasWorld)
        out += ", \"world\": {\"west\": " + Number(chart.west) + ", \"north\": " + Number(chart.north) +
               ", \"east\": " + Number(chart.east) + ", \"south\": " + Number(chart.south) + "}";
    else
        out += ", \"world\": null";
    const Frame& f = chart.frame;
    out += ", \"frame\": {\"kind\": \"" + std::string(f.kind == FrameKind::World ? "world" : "pixels") +
           "\", \"width\": " + Number(f.width) + ", \"height\": " + Number(f.height);
    if (f.kind == FrameKind::World)
        out += ", \"west\": " + Number(f.west) + ", \"north\": " + Number(f.north) + ", \"unitX\": " +
               Number(f.unitX) + ", \"unitY\": " + Number(f.unitY);
    out += "}";
    out += ", \"sheet\": [";
    for (size_t k = 0; k < chart.sheet.size(); ++k) out += (k ? ", " : "") + Number(chart.sheet[k]);
    out += "]";
    out += ", \"zoom\": {\"min\": " + std::to_string(chart.minZoom) + ", \"max\": " + std::to_string(kMaxZoom) + "}";
    out += ", \"tileSize\": " + std::to_string(kTileSize);
    out += ", \"metresPerUnit\": " + (chart.metresPerUnit > 0.0 ? Number(chart.metresPerUnit) : "null");
    out += ", \"palettes\": [";
    bool first = true;
    for (int p = 0; p < BSBCHART_PALETTE_COUNT; ++p) {
        if (!(i.palettes & (1u << p))) continue;
        out += (first ? "" : ", ") + std::string("{\"key\": \"") + PaletteName(p) + "\", \"label\": \"" +
               kPaletteLabels[p] + "\"}";
        first = false;
    }
    out += "], \"fields\": {";
    for (int field = 0; field < BSBCHART_FIELD_COUNT; ++field) {
        const char* text = bsbchart_get_field(chart.handle, field);
        out += (field ? ", \"" : "\"") + std::string(kFieldNames[field]) + "\": " +
               (text ? command::JsonString(text) : "null");
    }
    return out + "}}";
}

}  // namespace serve
