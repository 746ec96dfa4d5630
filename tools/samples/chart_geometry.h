// How a sample chart's pixels sit on the world: a scale, an optional
// rotation and a reference point, written as order-1 polynomials.
#ifndef SAMPLES_CHART_GEOMETRY_H
#define SAMPLES_CHART_GEOMETRY_H

#include <string>

namespace samples {

// c0 + c1 * x + c2 * y, evaluated in the order the library uses.
struct LinearPolynomial {
    double c0 = 0.0;
    double c1 = 0.0;
    double c2 = 0.0;

    double At(double x, double y) const { return (c1 * x + c2 * y) + c0; }
    std::string RecordText(const char* key) const;  // e.g. "PWX/1,-4.18,0.00007,0"
};

struct SheetLayout {
    int width = 0;
    int height = 0;
    double skewDegrees = 0.0;
    // The chart pixel position (column, row) that lies on (refLon, refLat).
    double refColumn = 0.0;
    double refRow = 0.0;
    double refLon = 0.0;
    double refLat = 0.0;
    // World size of one pixel step east and one step south on the ground.
    double lonStep = 0.0;
    double latStep = 0.0;
};

struct ChartGeometry {
    int width = 0;
    int height = 0;
    double skewDegrees = 0.0;
    LinearPolynomial pwx, pwy, wpx, wpy;  // as read back from their header text
};

// The chart raster is the ground picture turned by the skew angle: one step
// east on the ground moves (cos, sin) in chart pixels, one step south
// (-sin, cos), which is how the library resamples a world window upright.
ChartGeometry MakeGeometry(const SheetLayout& layout);

// Fixed-point text with about 16 significant digits: the library's number
// reader takes no bare exponents.
std::string FormatDecimal(double value);

}  // namespace samples

#endif
