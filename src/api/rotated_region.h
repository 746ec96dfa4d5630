// The region of chart pixels a skewed chart's window is resampled from, and
// the resampling itself.
#ifndef BSBCHART_ROTATED_REGION_H
#define BSBCHART_ROTATED_REGION_H

#include <stdint.h>

#include "window_bitmap.h"

namespace bsb {

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

// Output pixel (i, j) of the zero-filled bitmap takes the region pixel at
// x = trunc(cos θ·i + (ipx0 − sin θ·j)), y = trunc(sin θ·i + (cos θ·j + ipy0)),
// each clamped to the region.
void ResampleRegion(const Region& region, const Rotation& rotation, WindowBitmap* bitmap);

}  // namespace bsb

#endif
