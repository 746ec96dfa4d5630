// World windows, shared by GetWindowBmp and the handle's world windows.
#ifndef BSBCHART_WORLD_WINDOW_H
#define BSBCHART_WORLD_WINDOW_H

#include "api/rotated_window.h"

namespace bsb {

// A world rectangle's corners in corner order (north-west, north-east,
// south-east, south-west).
struct WorldRequest {
    double x[4];
    double y[4];
};

WorldRequest RequestOf(double left, double top, double right, double bottom);

// The corners in chart pixels through WPX/ and WPY/ of x + CPH. A corner
// that maps to no number (NaN) is a window beyond the chart.
bool LocateCorners(HeaderText text, const WorldRequest& request, double cph,
                   PixelCorners* corners, Reporter* reporter);

// The window covering the world rectangle: cut from an upright chart,
// clamped to it, or resampled upright from a skewed one.
bool ExtractWorldWindow(WindowFrame* frame, const WorldRequest& request, PaletteChoice palette);

}  // namespace bsb

#endif
