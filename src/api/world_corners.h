// A world rectangle's corners in chart pixels: 0 = north-west, 1 = north-east,
// 2 = south-east, 3 = south-west.
#ifndef BSBCHART_WORLD_CORNERS_H
#define BSBCHART_WORLD_CORNERS_H

#include <stdint.h>

#include "call_frame.h"
#include "window_rows.h"

namespace bsb {

struct PixelCorners {
    double px[4];
    double py[4];
    int32_t ipx[4];  // truncated toward zero, saturated to 32 bits
    int32_t ipy[4];
};

// Truncates toward zero, saturating to the 32-bit range. Callers refuse NaN
// before; should one slip through it gives 0 rather than undefined behaviour.
int32_t TruncateSaturated(double value);

// Fills the bitmap of a skewed chart's window, sized by RotatedWindowSize,
// resampling the chart along its skew so that the window comes back upright.
void RotatedWindowSize(const PixelCorners& corners, int64_t* width, int64_t* height);
bool ExtractRotatedWindow(CallFrame* frame, const RasterShape& shape, const PixelCorners& corners,
                          double skewAngle);

}  // namespace bsb

#endif
