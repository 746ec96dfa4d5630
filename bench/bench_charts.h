// Charts sized like real ones, generated at benchmark time: open sea with
// depth zones and contours, a detailed coastline and islands, land with
// roads, soundings and text-like labels, a plain margin along the top, and a
// graticule.
#ifndef BSBCHART_BENCH_CHARTS_H
#define BSBCHART_BENCH_CHARTS_H

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

constexpr int kChartWidth = 10800;
constexpr int kChartHeight = 8400;
// Rows 0 … kMarginRows - 1 are the plain margin: white with a few border
// lines, so their runs are long.
constexpr int kMarginRows = 600;
constexpr double kSkewDegrees = 15.0;
// World units per chart pixel in the skewed chart's polynomials.
constexpr double kWorldPerPixel = 0.001;

// The picture's row y as colour indices 1 … 15.
void PaintRow(int y, uint8_t* row);

struct EncodedChart {
    int compressionType = 0;
    std::vector<std::vector<uint8_t>> rows;  // encoded rows, row 1 first
};

// Encodes every row of the picture; both compression types come from one
// painting of each row.
void EncodeCharts(EncodedChart* type4, EncodedChart* type7);

// Header text of the upright chart, or of the skewed one, whose order-1
// polynomials rotate world axes by kSkewDegrees about the chart's centre.
std::string UprightHeader();
std::string SkewedHeader();

// World position of the skewed chart's centre pixel.
constexpr double kCentreX = 10.0;
constexpr double kCentreY = 50.0;

}  // namespace bench

#endif
