#include "sample_charts.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace samples {

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 540;
constexpr double kLonStep = 0.00007;  // degrees per pixel east
constexpr double kLatStep = 0.000045;  // degrees per pixel south
constexpr double kWestLon = -4.18;
constexpr double kNorthLat = 50.37;
// The ground centre of the upright sheet, also the pivot of the skewed one.
constexpr double kCentreColumn = kWidth / 2.0;
constexpr double kCentreRow = kHeight / 2.0;
const double kCentreLon = kWestLon + kCentreColumn * kLonStep;
const double kCentreLat = kNorthLat - kCentreRow * kLatStep;

// The graticule: meridians every 0.01 degree, parallels every 0.005.
constexpr double kMeridiansPerDegree = 100.0;
constexpr double kParallelsPerDegree = 200.0;

// Record values are half the colour wanted: the library doubles them.
struct PaletteEntry {
    int index;
    std::array<int, 3> rgb;  // the colour on screen
};
const PaletteEntry kPalette[] = {
    {kWhite, {254, 254, 254}},   {kBlack, {0, 0, 0}},         {kLand, {250, 220, 144}},
    {kShallow, {154, 204, 236}}, {kMedium, {200, 228, 246}},  {kDrying, {176, 202, 148}},
    {kGrey, {110, 110, 110}},    {kMagenta, {200, 40, 160}},  {kRed, {222, 24, 24}},
    {kGreen, {20, 160, 60}},     {kContour, {70, 120, 190}},  {kBuilt, {212, 180, 110}},
    {kYellow, {254, 220, 20}},
};

// The alternate palettes, made from the colours above: day a little paler,
// dusk dimmed, night dark with the linework turned light so that it still
// shows. Each gives the colour on screen for an entry's.
std::array<int, 3> DayColour(const PaletteEntry& e) {
    if (e.index == kBlack) return e.rgb;
    std::array<int, 3> c{};
    for (int k = 0; k < 3; ++k) c[k] = e.rgb[k] + (254 - e.rgb[k]) * 3 / 20;
    return c;
}

std::array<int, 3> DuskColour(const PaletteEntry& e) {
    std::array<int, 3> c{};
    for (int k = 0; k < 3; ++k) c[k] = e.rgb[k] * 11 / 20;
    return c;
}

std::array<int, 3> NightColour(const PaletteEntry& e) {
    if (e.index == kBlack) return {120, 120, 120};
    std::array<int, 3> c{};
    for (int k = 0; k < 3; ++k) c[k] = e.rgb[k] / 5;
    return c;
}

struct AlternatePalette {
    const char* key;
    std::array<int, 3> (*colour)(const PaletteEntry&);
};
const AlternatePalette kAlternatePalettes[] = {
    {"DAY/", DayColour}, {"DSK/", DuskColour}, {"NGT/", NightColour}};

struct Ground2D {
    double lon, lat;
};

Ground2D WorldOf(const ChartGeometry& g, double column, double row) {
    return {g.pwx.At(column, row), g.pwy.At(column, row)};
}

double MetresEast(double lon) { return (lon - kCentreLon) / kLonStep * kMetresPerPixel; }
double MetresNorth(double lat) { return (lat - kCentreLat) / kLatStep * kMetresPerPixel; }

std::string Coordinates(const Ground2D& p) { return FormatDecimal(p.lat) + "," + FormatDecimal(p.lon); }

// Distance in pixels from the raster's nearest edge.
int Inset(int x, int y, int w, int h) { return std::min({x, y, w - 1 - x, h - 1 - y}); }

}  // namespace

std::vector<SampleChart> SampleCharts() {
    SheetLayout upright;
    upright.width = kWidth;
    upright.height = kHeight;
    upright.refColumn = 0.0;
    upright.refRow = 0.0;
    upright.refLon = kWestLon;
    upright.refLat = kNorthLat;
    upright.lonStep = kLonStep;
    upright.latStep = kLatStep;

    SheetLayout skewed = upright;
    skewed.skewDegrees = 15.0;
    skewed.refColumn = kCentreColumn;
    skewed.refRow = kCentreRow;
    skewed.refLon = kCentreLon;
    skewed.refLat = kCentreLat;

    return {
        {"harbour-4.kap", "PORT CARREG HARBOUR", "BSBC-1", upright, 4, true},
        {"harbour-7.kap", "PORT CARREG HARBOUR", "BSBC-1", upright, 7, false},
        {"harbour-skew-4.kap", "PORT CARREG APPROACHES", "BSBC-2", skewed, 4, true},
        {"harbour-skew-7.kap", "PORT CARREG APPROACHES", "BSBC-2", skewed, 7, false},
    };
}

std::string SampleHeaderText(const SampleChart& chart, const ChartGeometry& g) {
    const std::string eol = "\r\n";
    const std::string skew = FormatDecimal(g.skewDegrees);
    const std::string trueAngle = FormatDecimal(90.0 - g.skewDegrees);
    const std::string standardParallel = FormatDecimal(std::round(kCentreLat * 1000.0) / 1000.0);
    std::string t;
    t += "! Synthetic sample chart made by bsbchart-samples; not for navigation." + eol;
    t += "VER/3.0" + eol;
    t += "CED/SE=1,RE=01,ED=06/15/2024" + eol;
    t += "BSB/NA=" + chart.name + ",NU=" + chart.number + ",RA=" + std::to_string(g.width) + "," +
         std::to_string(g.height) + ",DU=254" + eol;
    t += "KNP/SC=50000,GD=WGS84,PR=MERCATOR,PP=" + standardParallel +
         ",PI=UNKNOWN,SP=UNKNOWN,SK=" + skew + ",TA=" + trueAngle + eol;
    t += "    UN=METERS,SD=LOWEST ASTRONOMICAL TIDE,DX=5.00,DY=5.00" + eol;
    t += "KNQ/P1=UNKNOWN,P2=" + standardParallel +
         ",P3=NOT_APPLICABLE,P4=NOT_APPLICABLE,P5=NOT_APPLICABLE,P6=NOT_APPLICABLE" + eol;
    t += "    P7=NOT_APPLICABLE,GD=WGS84,VD=MEAN HIGH WATER SPRINGS" + eol;
    t += "CPH/0.0" + eol;
    t += "OST/1" + eol;
    t += "IFM/" + std::to_string(chart.compressionType) + eol;
    for (const PaletteEntry& e : kPalette) {
        t += "RGB/" + std::to_string(e.index) + "," + std::to_string(e.rgb[0] / 2) + "," +
             std::to_string(e.rgb[1] / 2) + "," + std::to_string(e.rgb[2] / 2) + eol;
    }
    if (chart.alternatePalettes) {
        for (const AlternatePalette& palette : kAlternatePalettes) {
            for (const PaletteEntry& e : kPalette) {
                const std::array<int, 3> c = palette.colour(e);
                t += palette.key + std::to_string(e.index) + "," + std::to_string(c[0] / 2) + "," +
                     std::to_string(c[1] / 2) + "," + std::to_string(c[2] / 2) + eol;
            }
        }
    }
    t += "DTM/0.0,0.0" + eol;
    const int right = g.width - 1, bottom = g.height - 1;
    const std::array<std::array<int, 2>, 4> corners = {{{0, 0}, {right, 0}, {right, bottom}, {0, bottom}}};
    int n = 1;
    for (const auto& c : corners) {
        t += "REF/" + std::to_string(n++) + "," + std::to_string(c[0]) + "," + std::to_string(c[1]) +
             "," + Coordinates(WorldOf(g, c[0], c[1])) + eol;
    }
    t += "REF/5," + std::to_string(g.width / 2) + "," + std::to_string(g.height / 2) + "," +
         Coordinates(WorldOf(g, g.width / 2, g.height / 2)) + eol;
    n = 1;
    for (const auto& c : corners)
        t += "PLY/" + std::to_string(n++) + "," + Coordinates(WorldOf(g, c[0], c[1])) + eol;
    t += g.pwx.RecordText("PWX/") + eol;
    t += g.pwy.RecordText("PWY/") + eol;
    t += g.wpx.RecordText("WPX/") + eol;
    t += g.wpy.RecordText("WPY/") + eol;
    return t;
}

chartwriter::Picture PaintChart(const SampleChart& chart, const ChartGeometry& g,
                                const HarbourScene& scene) {
    const int w = g.width, h = g.height;
    const bool upright = chart.layout.skewDegrees == 0.0;
    std::vector<uint8_t> ground(static_cast<size_t>(w) * h), symbol(ground.size());
    std::vector<int64_t> meridian(ground.size()), parallel(ground.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            size_t i = static_cast<size_t>(y) * w + x;
            Ground2D p = WorldOf(g, x + 0.5, y + 0.5);
            double east = MetresEast(p.lon), north = MetresNorth(p.lat);
            ground[i] = GroundAt(east, north);
            symbol[i] = SymbolAt(scene, east, north);
            meridian[i] = static_cast<int64_t>(std::floor(p.lon * kMeridiansPerDegree));
            parallel[i] = static_cast<int64_t>(std::floor(p.lat * kParallelsPerDegree));
        }
    }
    auto at = [w](int x, int y) { return static_cast<size_t>(y) * w + x; };
    auto colour = [&](int x, int y) -> uint8_t {
        int inset = Inset(x, y, w, h);
        if (inset < 3) return kWhite;
        if (inset == 3 || inset == 9) return kBlack;
        if (inset < 9) {
            // The border's scale: alternate bars of a thousandth of a degree
            // of longitude along the top and bottom, half that of latitude
            // along the sides; bars of fixed length on a skewed sheet.
            bool acrossTop = inset == y || inset == h - 1 - y;
            Ground2D p = WorldOf(g, x + 0.5, y + 0.5);
            int64_t bar = upright ? static_cast<int64_t>(std::floor(acrossTop ? p.lon * 1000.0 : p.lat * 2000.0))
                                  : (acrossTop ? x / 14 : y / 11);
            return bar % 2 ? kBlack : kWhite;
        }
        size_t i = at(x, y);
        if (symbol[i]) return symbol[i];
        const uint8_t here = ground[i];
        const size_t right = at(x + 1, y), below = at(x, y + 1), left = at(x - 1, y), above = at(x, y - 1);
        if (IsLand(here)) {
            for (size_t n : {right, below, left, above})
                if (!IsLand(ground[n])) return kBlack;
        }
        if (meridian[i] != meridian[right] || parallel[i] != parallel[below]) return kGrey;
        if (!IsLand(here)) {
            for (size_t n : {right, below})
                if (!IsLand(ground[n]) && ground[n] != here) return kContour;
        }
        return GroundColour(here);
    };
    return chartwriter::MakePicture(w, h, colour);
}

}  // namespace samples
