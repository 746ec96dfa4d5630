// GetWindowBmp, pixel form: a rectangle of chart pixels as a window bitmap.
#include "../../include/bsbchart.h"
#include "../header/records.h"
#include "call_frame.h"
#include "window_rows.h"

namespace bsb {

// At least 2 × 2 pixels, wholly inside the chart.
static bool WindowFits(const RECT& window, int32_t width, int32_t height) {
    int64_t w = (int64_t)window.right - window.left + 1;
    int64_t h = (int64_t)window.bottom - window.top + 1;
    return w <= width && h <= height && window.right <= width - 1 && window.bottom <= height - 1 &&
           window.top < window.bottom && window.left < window.right && window.top >= 0 &&
           window.left >= 0;
}

static bool ExtractPixelWindow(CallFrame* frame, const RECT& window) {
    HeaderText text = HeaderTextOf(*frame);
    RasterShape shape = {0, 0, CompressionType(frame->header)};
    if (!ParseRasterSize(text, &shape.width, &shape.height)) return false;
    if (!WindowFits(window, shape.width, shape.height)) {
        ReportMessage("Your requirement is beyond the scope of the image.");
        return false;
    }
    uint32_t w = (uint32_t)(window.right - window.left + 1);
    uint32_t h = (uint32_t)(window.bottom - window.top + 1);
    int bpp = WindowBitsPerPixel(shape.compressionType);
    return CreateWindowBitmap(frame->heap, w, h, bpp, &frame->bitmap) &&
           ParsePalette(text, frame->bitmap.colourTable, 1u << bpp) &&
           AllocateRowBuffers(frame, (uint32_t)shape.width) &&
           CopyWindowRows(frame, shape, window.left, window.top);
}

}  // namespace bsb

char* GetWindowBmp(const unsigned short* path, void* heap, RECT window) {
    bsb::CallFrame frame;
    bool done = bsb::BeginWindowCall(&frame, path, heap) && bsb::ExtractPixelWindow(&frame, window);
    return bsb::EndCall(&frame, done);
}
