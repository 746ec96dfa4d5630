// Pixel and world windows from an open chart: the exported calls' windows,
// their blocks from the caller's allocator, the colours from any palette.
#include <math.h>

#include "api/chart_handle.h"
#include "api/pixel_window.h"
#include "api/world_window.h"

bsbchart_status bsbchart_pixel_window(const bsbchart* chart, bsbchart_rect window, int32_t palette,
                                      uint32_t flags, const bsbchart_allocator* allocator,
                                      void** bitmap, bsbchart_error* error) {
    if (bitmap) *bitmap = 0;
    bsb::PaletteChoice choice;
    if (!chart || !bitmap || !bsb::ValidAllocator(allocator) || window.right < window.left ||
        window.bottom < window.top ||
        !bsb::ChoosePalette(palette, flags, BSBCHART_DOUBLED_COLOURS, &choice))
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    bsb::WindowMemory memory;
    bsb::UseAllocator(allocator, &memory);
    bsb::Reporter reporter = bsb::QuietReporter();
    bsb::WindowFrame frame;
    bsb::BeginHandleWindow(chart, memory.memory, &reporter, &frame);
    bsb::PixelRect rect = {window.left, window.top, window.right, window.bottom};
    bool done = bsb::ExtractPixelWindow(&frame, rect, 1, choice);
    *bitmap = bsb::EndWindowFrame(&frame, done);
    return bsb::Finish(reporter, error);
}

bsbchart_status bsbchart_world_window(const bsbchart* chart, double west, double north, double east,
                                      double south, int32_t palette, uint32_t flags,
                                      const bsbchart_allocator* allocator, void** bitmap,
                                      bsbchart_error* error) {
    if (bitmap) *bitmap = 0;
    bsb::PaletteChoice choice;
    bool ordered = west <= east && south <= north;  // false for NaN too
    if (!chart || !bitmap || !bsb::ValidAllocator(allocator) || !ordered ||
        !bsb::ChoosePalette(palette, flags, BSBCHART_DOUBLED_COLOURS, &choice))
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    bsb::WindowMemory memory;
    bsb::UseAllocator(allocator, &memory);
    bsb::Reporter reporter = bsb::QuietReporter();
    bsb::WindowFrame frame;
    bsb::BeginHandleWindow(chart, memory.memory, &reporter, &frame);
    bool done = bsb::ExtractWorldWindow(&frame, bsb::RequestOf(west, north, east, south), choice);
    *bitmap = bsb::EndWindowFrame(&frame, done);
    return bsb::Finish(reporter, error);
}
