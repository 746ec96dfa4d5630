#include "bench_charts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include "chart_writer.h"

namespace bench {
namespace {

enum Colour : uint8_t {
    kWhite = 1,      // margin and deep water
    kBlack = 2,      // lines, coastline, text
    kMidWater = 3,
    kShallow = 4,
    kLand = 5,
    kContour = 6,
    kRoad = 7,
    kTown = 8,
    kLandText = 9,
};

uint64_t Mix(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

uint64_t Hash(int64_t a, int64_t b, int64_t salt) {
    return Mix(Mix(Mix(static_cast<uint64_t>(a)) ^ static_cast<uint64_t>(b)) ^
               static_cast<uint64_t>(salt));
}

void Fill(uint8_t* row, int from, int to, uint8_t colour) {
    from = std::max(from, 0);
    to = std::min(to, kChartWidth);
    if (from < to) std::fill(row + from, row + to, colour);
}

// Column of the coastline in row y: long swings, bays and fine detail.
double CoastAt(int y) {
    double noise = static_cast<double>(Hash(y / 3, 0, 11) % 9) - 4.0;
    return 7000.0 + 1100.0 * std::sin(y / 1400.0) + 350.0 * std::sin(y / 260.0 + 1.3) +
           90.0 * std::sin(y / 47.0 + 0.4) + 25.0 * std::sin(y / 9.3) + noise;
}

// Text-like marks: a glyph is a pseudo-random w × h bit pattern.
void DrawText(uint8_t* row, int x, int glyphRow, int chars, int glyphWidth, uint64_t seed,
              uint8_t colour) {
    for (int c = 0; c < chars; ++c) {
        uint64_t bits = Hash(static_cast<int64_t>(seed % 37), c % 37, glyphRow);
        int left = x + c * (glyphWidth + 1);
        for (int b = 0; b < glyphWidth; ++b)
            if ((bits >> b) & 1) {
                int at = left + b;
                if (at >= 0 && at < kChartWidth) row[at] = colour;
            }
    }
}

void PaintMargin(int y, uint8_t* row) {
    Fill(row, 0, kChartWidth, kWhite);
    if (y == 100 || y == 101 || (y >= 560 && y <= 562)) {
        Fill(row, 100, kChartWidth - 100, kBlack);
        return;
    }
    if (y > 101) {
        Fill(row, 100, 102, kBlack);
        Fill(row, kChartWidth - 102, kChartWidth - 100, kBlack);
    }
    if (y >= 500 && y < 560)  // scale ticks
        for (int x = 102 + 270; x < kChartWidth - 102; x += 270) Fill(row, x, x + 3, kBlack);
    if (y >= 250 && y < 262)  // the title
        DrawText(row, 4000, y - 250, 40, 8, 7, kBlack);
}

void PaintSea(int y, uint8_t* row, int coast) {
    int shallowEdge = coast - 250 - static_cast<int>(60 * std::sin(y / 90.0));
    int midEdge = coast - 900 - static_cast<int>(150 * std::sin(y / 310.0));
    Fill(row, 0, midEdge, kWhite);
    Fill(row, midEdge, shallowEdge, kMidWater);
    Fill(row, shallowEdge, coast, kShallow);
    Fill(row, midEdge, midEdge + 1, kContour);
    Fill(row, shallowEdge, shallowEdge + 1, kContour);
}

void PaintIslands(int y, uint8_t* row) {
    const int islands = 70;
    for (int k = 0; k < islands; ++k) {
        uint64_t h = Hash(k, 0, 21);
        int cy = 700 + static_cast<int>(h % (kChartHeight - 800));
        int radius = 20 + static_cast<int>((h >> 20) % 200);
        int dy = y - cy;
        if (dy <= -radius - 30 || dy >= radius + 30) continue;
        int cx = 300 + static_cast<int>((h >> 40) % static_cast<uint64_t>(CoastAt(cy) - 1000));
        double ring = std::sqrt(std::max(0.0, double(radius + 30) * (radius + 30) - double(dy) * dy));
        Fill(row, cx - static_cast<int>(ring), cx + static_cast<int>(ring), kShallow);
        if (dy <= -radius || dy >= radius) continue;
        int wobble = static_cast<int>(Hash(k, y / 2, 22) % 7);
        int half = static_cast<int>(std::sqrt(double(radius) * radius - double(dy) * dy)) + wobble;
        Fill(row, cx - half, cx + half, kLand);
        Fill(row, cx - half - 1, cx - half + 1, kBlack);
        Fill(row, cx + half - 1, cx + half + 1, kBlack);
    }
}

void PaintLand(int y, uint8_t* row, int coast) {
    Fill(row, coast, kChartWidth, kLand);
    for (int k = 1; k < 45; ++k) {  // height contours following the coast
        int x = coast + 90 * k + static_cast<int>(30 * std::sin(y / (70.0 + 9 * k) + k));
        Fill(row, x, x + 1, kContour);
    }
    for (int k = 0; k < 6; ++k) {  // roads running across
        int x = coast + 300 + ((y * (k + 2) / 5 + 811 * k) % 3600);
        Fill(row, x, x + 2, kRoad);
    }
    int townTop = 2000, townBottom = 2900;
    if (y >= townTop && y < townBottom)  // a hatched town
        for (int x = coast + 400; x < coast + 1400; x += 4) Fill(row, x + (y % 4), x + (y % 4) + 1, kTown);
    Fill(row, coast - 1, coast + 1, kBlack);
}

// Soundings in the water, names everywhere.
void PaintText(int y, uint8_t* row, int coast) {
    const int cellW = 44, cellH = 30;
    int cellRow = (y - kMarginRows) / cellH;
    for (int cell = 0; cell * cellW < coast - 40; ++cell) {
        uint64_t h = Hash(cell, cellRow, 31);
        if (h % 10 < 2) continue;
        int top = kMarginRows + cellRow * cellH + static_cast<int>((h >> 8) % (cellH - 8));
        if (y < top || y >= top + 7) continue;
        int left = cell * cellW + static_cast<int>((h >> 16) % (cellW - 20));
        DrawText(row, left, y - top, 2 + static_cast<int>((h >> 24) % 3), 5, h >> 32, kBlack);
    }
    const int nameW = 500, nameH = 200;
    int nameRow = (y - kMarginRows) / nameH;
    for (int cell = 0; cell * nameW < kChartWidth; ++cell) {
        uint64_t h = Hash(cell, nameRow, 41);
        int top = kMarginRows + nameRow * nameH + static_cast<int>((h >> 8) % (nameH - 14));
        if (y < top || y >= top + 12) continue;
        int left = cell * nameW + static_cast<int>((h >> 16) % 200);
        uint8_t colour = left > coast ? kLandText : kBlack;
        DrawText(row, left, y - top, 6 + static_cast<int>((h >> 24) % 18), 8, h >> 32, colour);
    }
}

void PaintGraticule(int y, uint8_t* row) {
    if ((y - kMarginRows) % 1050 == 0) {
        Fill(row, 102, kChartWidth - 102, kBlack);
        return;
    }
    for (int x = 1350; x < kChartWidth - 102; x += 1350) Fill(row, x, x + 1, kBlack);
}

}  // namespace

void PaintRow(int y, uint8_t* row) {
    if (y < kMarginRows) {
        PaintMargin(y, row);
        return;
    }
    int coast = static_cast<int>(CoastAt(y));
    PaintSea(y, row, coast);
    PaintIslands(y, row);
    PaintLand(y, row, coast);
    PaintText(y, row, coast);
    PaintGraticule(y, row);
    Fill(row, 0, 100, kWhite);
    Fill(row, 100, 102, kBlack);
    Fill(row, kChartWidth - 102, kChartWidth - 100, kBlack);
    Fill(row, kChartWidth - 100, kChartWidth, kWhite);
}

void EncodeCharts(EncodedChart* type4, EncodedChart* type7) {
    type4->compressionType = 4;
    type7->compressionType = 7;
    type4->rows.resize(kChartHeight);
    type7->rows.resize(kChartHeight);
    // Two halves on the two cores.
    auto encode = [&](int from, int to) {
        std::vector<uint8_t> pixels(kChartWidth);
        for (int y = from; y < to; ++y) {
            PaintRow(y, pixels.data());
            uint32_t number = static_cast<uint32_t>(y + 1);
            type4->rows[y] = chartwriter::EncodeRow(pixels.data(), kChartWidth, number, 4);
            type7->rows[y] = chartwriter::EncodeRow(pixels.data(), kChartWidth, number, 7);
        }
    };
    std::thread other(encode, kChartHeight / 2, kChartHeight);
    encode(0, kChartHeight / 2);
    other.join();
}

namespace {

chartwriter::HeaderOptions BaseOptions() {
    chartwriter::HeaderOptions options;
    options.width = kChartWidth;
    options.height = kChartHeight;
    options.name = "BENCH CHART";
    options.rgb = {{1, 255, 255, 255}, {2, 0, 0, 0},     {3, 170, 210, 240}, {4, 120, 180, 230},
                   {5, 240, 220, 160}, {6, 90, 120, 150}, {7, 200, 60, 60},   {8, 150, 130, 110},
                   {9, 60, 40, 20}};
    return options;
}

std::string Number(double value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.12f", value);
    return text;
}

}  // namespace

std::string UprightHeader() {
    chartwriter::HeaderOptions options = BaseOptions();
    // One pixel per 0.001 units, north up, pixel (0, 0) at (0, 60).
    options.extraLines = {"PWX/1,0.0,0.001,0.0", "PWY/1,60.0,0.0,-0.001", "WPX/1,0.0,1000.0,0.0",
                          "WPY/1,60000.0,0.0,-1000.0"};
    return chartwriter::MakeHeaderText(options);
}

// Pixel = centre + R(θ)·(east, south) in pixels, as the resampling walks it:
// column = cx + cos θ·u − sin θ·v, row = cy + sin θ·u + cos θ·v, with
// u = (x − X0)/s east and v = (Y0 − y)/s south.
std::string SkewedHeader() {
    chartwriter::HeaderOptions options = BaseOptions();
    options.skew = "15.0";
    double theta = kSkewDegrees * 3.141592654 / 180.0;
    double c = std::cos(theta), s = std::sin(theta), k = 1.0 / kWorldPerPixel;
    double cx = kChartWidth / 2.0, cy = kChartHeight / 2.0;
    double X0 = kCentreX, Y0 = kCentreY;
    // column = (cx − c·k·X0 − s·k·Y0) + (c·k)·x + (s·k)·y
    // row    = (cy − s·k·X0 + c·k·Y0) + (s·k)·x − (c·k)·y
    std::string wpx = "WPX/1," + Number(cx - c * k * X0 - s * k * Y0) + "," + Number(c * k) + "," +
                      Number(s * k);
    std::string wpy = "WPY/1," + Number(cy - s * k * X0 + c * k * Y0) + "," + Number(s * k) + "," +
                      Number(-c * k);
    // The inverse: u·s = c·(column − cx) + s·(row − cy), v·s = −s·(column − cx) + c·(row − cy).
    double p = kWorldPerPixel;
    std::string pwx = "PWX/1," + Number(X0 - p * (c * cx + s * cy)) + "," + Number(p * c) + "," +
                      Number(p * s);
    std::string pwy = "PWY/1," + Number(Y0 - p * (s * cx - c * cy)) + "," + Number(p * s) + "," +
                      Number(-p * c);
    options.extraLines = {pwx, pwy, wpx, wpy};
    return chartwriter::MakeHeaderText(options);
}

}  // namespace bench
