// One chart as the viewer shows it: its open handle, the map frame its tiles
// are cut in, and the answers to tile and position requests. All chart work
// is the library's; this only lays the chart on the map.
#ifndef BSBCHART_COMMAND_SERVE_CHART_H
#define BSBCHART_COMMAND_SERVE_CHART_H

#include <array>
#include <cstdint>
#include <string>

#include "bsbchart_c.h"

namespace serve {

constexpr int kTileSize = 256;
constexpr int kMaxZoom = 2;  // 4 x enlargement
constexpr int kLowestZoom = -16;

// Map units: one unit is one chart pixel at 1:1 (zoom 0); zoom z shows
// 2^z screen pixels per unit. An upright chart is laid out in its own pixels
// (map x = column, map y = row). A skewed chart is shown upright in the
// rectangle of world coordinates around its turned sheet, at the size of its
// pixels: world x = west + X * unitX, world y = north - Y * unitY.
enum class FrameKind { Pixels, World };

struct Frame {
    FrameKind kind = FrameKind::Pixels;
    double width = 0.0;  // map units
    double height = 0.0;
    double west = 0.0, north = 0.0, unitX = 1.0, unitY = 1.0;
};

struct Chart {
    std::string id;    // the name requests use
    std::string file;  // the file's name, without its directory
    bsbchart* handle = nullptr;
    bsbchart_info info{};
    bool hasWorld = false;                 // position polynomials present
    double west = 0, north = 0, east = 0, south = 0;  // the library's world extent
    Frame frame;
    std::array<double, 8> sheet{};  // the raster's corners in map units, x y each, in turn
    int minZoom = 0;                // the whole sheet in one tile
    double metresPerUnit = 0.0;     // ground size of a map unit at the centre; 0 unknown
};

// Opens the chart at `path` and lays out its frame. Empty on success, else
// the reason; the handle is then closed.
std::string OpenChart(const std::string& path, Chart& chart);
void CloseChart(Chart& chart);

// "rgb", "day", "dsk", "ngt", ... (the record key in lower case, without the
// slash), or -1 for none.
int PaletteFromName(const std::string& name);
std::string PaletteName(int palette);

struct Reply {
    int status = 200;
    std::string body;
    std::string type = "text/plain; charset=utf-8";
};

// A 256 x 256 PNG tile, or a short text with a 4xx status for a tile the
// chart does not have, 5xx when the library cannot make it.
Reply RenderTile(const Chart& chart, int palette, int zoom, int64_t x, int64_t y, int compression);

// The chart pixel under a map point and the world position the library
// gives for it.
Reply PositionAt(const Chart& chart, double mapX, double mapY);

// Where a world position lies: the library's chart pixel for it and the map
// point it is shown at.
Reply Locate(const Chart& chart, double x, double y);

// The chart's description for the page: size, frame, zoom levels,
// palettes, header fields. JSON.
std::string DescribeChart(const Chart& chart, size_t index);

}  // namespace serve

#endif
