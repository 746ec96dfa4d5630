// Reading chart rows top to bottom into a window bitmap or a scratch region.
#ifndef BSBCHART_WINDOW_ROWS_H
#define BSBCHART_WINDOW_ROWS_H

#include <stdint.h>

#include "call_frame.h"

namespace bsb {

struct RasterShape {
    int32_t width;
    int32_t height;
    int compressionType;
};

// Reads and decodes 0-based chart row `row` into the frame's decoded-row
// buffer, which keeps the previous row's pixels where this one decodes short.
bool ReadDecodedRow(CallFrame* frame, const RasterShape& shape, int32_t row);

// Fills the bitmap's rows from chart rows top … top + height - 1, each taken
// byte-aligned from the byte that holds column `left`.
bool CopyWindowRows(CallFrame* frame, const RasterShape& shape, int32_t left, int32_t top);

}  // namespace bsb

#endif
