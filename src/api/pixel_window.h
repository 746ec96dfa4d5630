// Pixel windows, shared by GetWindowBmp and the handle's pixel windows.
#ifndef BSBCHART_PIXEL_WINDOW_H
#define BSBCHART_PIXEL_WINDOW_H

#include <stdint.h>

#include "api/window_rows.h"

namespace bsb {

struct PixelRect {
    int32_t left, top, right, bottom;  // inclusive
};

// Cuts `window` (at least minimumSide pixels each way, inside the chart).
bool ExtractPixelWindow(WindowFrame* frame, const PixelRect& window, int32_t minimumSide,
                        PaletteChoice palette);

}  // namespace bsb

#endif
