// GetWindowBmp, pixel form: a rectangle of chart pixels as a window bitmap.
#include "api/pixel_window.h"

#include "bsbchart.h"
#include "header/records.h"
#include "raster/row_decoder.h"

namespace bsb {

// At least minimumSide × minimumSide pixels, wholly inside the chart.
static bool WindowFits(const PixelRect& window, int32_t width, int32_t height, int32_t minimumSide) {
    int64_t w = (int64_t)window.right - window.left + 1;
    int64_t h = (int64_t)window.bottom - window.top + 1;
    return w <= width && h <= height && window.right <= width - 1 && window.bottom <= height - 1 &&
           w >= minimumSide && h >= minimumSide && window.top >= 0 && window.left >= 0;
}

bool ExtractPixelWindow(WindowFrame* frame, const PixelRect& window, int32_t minimumSide,
                        PaletteChoice palette) {
    RasterShape shape = {0, 0, frame->compressionType};
    if (!ParseRasterSize(frame->text, &shape.width, &shape.height, frame->reporter)) return false;
    if (!WindowFits(window, shape.width, shape.height, minimumSide))
        return Fail(frame->reporter, kBeyondScope);
    uint32_t w = (uint32_t)(window.right - window.left + 1);
    uint32_t h = (uint32_t)(window.bottom - window.top + 1);
    int bpp = BitsPerPixel(shape.compressionType);
    return PrepareClippedWindow(frame, shape, w, h, bpp, palette) &&
           CopyWindowRows(frame, shape, window.left, window.top);
}

}  // namespace bsb

char* GetWindowBmp(const unsigned short* path, void* heap, RECT window) {
    bsb::CallFrame frame;
    bsb::PixelRect rect = {window.left, window.top, window.right, window.bottom};
    bool done = bsb::BeginWindowCall(&frame, path, heap) &&
                bsb::ExtractPixelWindow(&frame.window, rect, 2, bsb::ExportedPalette());
    return bsb::EndCall(&frame, done);
}
