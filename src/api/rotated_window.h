// Windows of skewed charts: a world rectangle's corners in chart pixels, the
// region of chart pixels under them, and its resampling along the skew into
// an upright bitmap.
#ifndef BSBCHART_ROTATED_WINDOW_H
#define BSBCHART_ROTATED_WINDOW_H

#include <stdint.h>

#include "api/window_rows.h"

namespace bsb {

// A world rectangle's corners in chart pixels: 0 = north-west, 1 = north-east,
// 2 = south-east, 3 = south-west.
struct PixelCorners {
    double px[4];
    double py[4];
    int32_t ipx[4];  // truncated toward zero, saturated to 32 bits
    int32_t ipy[4];
};

// Truncates toward zero, saturating to the 32-bit range. Callers refuse NaN
// before; should one slip through it gives 0 rather than undefined behaviour.
int32_t TruncateSaturated(double value);

// Chart columns x0 … x1 and rows y0 … y1, packed at bpp, rows one after
// another; pixels outside the chart hold index 0.
struct Region {
    int64_t x0, x1, y0, y1;
    int64_t spanX;
    uint64_t stride;  // bytes per region row
    int bpp;
    unsigned char* bytes;
};

struct Rotation {
    double sine;
    double cosine;
    double originX;  // ipx[0]
    double originY;  // ipy[0]
};

// 3.141592654 / 180: pi rounded to ten digits, which decides some samples that
// land on whole pixels, so it stays as charts have always been read.
const double kRadiansPerDegree = 0.017453292522222223;

// The corners' bounding box widened by a pixel on each side, its rows
// starting on byte boundaries at `bpp` (region bytes not yet allocated).
void BoundRegion(const PixelCorners& corners, int bpp, Region* region);

// The size of a skewed chart's window: its north and west edges' lengths.
void RotatedWindowSize(const PixelCorners& corners, int64_t* width, int64_t* height);

// Output pixel (i, j) of the zero-filled bitmap takes the region pixel at
// x = trunc(cos θ·i + (ipx0 − sin θ·j)), y = trunc(sin θ·i + (cos θ·j + ipy0)),
// each clamped to the region.
void ResampleRegion(const Region& region, const Rotation& rotation, WindowBitmap* bitmap);

// Fills the bitmap of a skewed chart's window, sized by RotatedWindowSize,
// resampling the chart along its skew so that the window comes back upright.
bool ExtractRotatedWindow(WindowFrame* frame, const RasterShape& shape, const PixelCorners& corners,
                          double skewAngle);

}  // namespace bsb

#endif
