// Pixel and world windows from an open chart: the exported calls' windows,
// their blocks from the caller's allocator, the colours from any palette.
#include "api/chart_handle.h"
#include "api/pixel_window.h"
#include "api/world_window.h"

namespace bsb {

bsbchart_status RunHandleWindow(const bsbchart* chart, const bsbchart_allocator* allocator,
                                WindowJob job, const void* request, void** bitmap,
                                bsbchart_error* error) {
    bsbchart_allocator host = allocator ? *allocator : SystemAllocator();
    Reporter reporter = QuietReporter();
    HeaderText text = {chart->header.bytes, chart->header.textLength};
    RowSource rows = {0, &chart->file, chart->index};
    WindowFrame frame;
    BeginWindowFrame(&frame, AllocatorOf(&host), &reporter, text, chart->compressionType, rows);
    frame.palettes = chart->paletteTables;
    bool done = job(&frame, request);
    *bitmap = EndWindowFrame(&frame, done);
    return Finish(reporter, error);
}

struct PixelRequest {
    PixelRect window;
    PaletteChoice palette;
};

static bool CutPixelWindow(WindowFrame* frame, const void* request) {
    const PixelRequest* r = (const PixelRequest*)request;
    return ExtractPixelWindow(frame, r->window, 1, r->palette);
}

struct WorldWindowRequest {
    WorldRequest world;
    PaletteChoice palette;
};

static bool CutWorldWindow(WindowFrame* frame, const void* request) {
    const WorldWindowRequest* r = (const WorldWindowRequest*)request;
    return ExtractWorldWindow(frame, r->world, r->palette);
}

}  // namespace bsb

bsbchart_status bsbchart_pixel_window(const bsbchart* chart, bsbchart_rect window, int32_t palette,
                                      uint32_t flags, const bsbchart_allocator* allocator,
                                      void** bitmap, bsbchart_error* error) {
    if (bitmap) *bitmap = 0;
    bsb::PixelRequest request = {{window.left, window.top, window.right, window.bottom}, {0, false, 0}};
    if (!chart || !bitmap || !bsb::ValidAllocator(allocator) || window.right < window.left ||
        window.bottom < window.top ||
        !bsb::ChoosePalette(palette, flags, BSBCHART_DOUBLED_COLOURS, &request.palette))
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    return bsb::RunHandleWindow(chart, allocator, bsb::CutPixelWindow, &request, bitmap, error);
}

bsbchart_status bsbchart_world_window(const bsbchart* chart, double west, double north, double east,
                                      double south, int32_t palette, uint32_t flags,
                                      const bsbchart_allocator* allocator, void** bitmap,
                                      bsbchart_error* error) {
    if (bitmap) *bitmap = 0;
    bsb::WorldWindowRequest request = {bsb::RequestOf(west, north, east, south), {0, false, 0}};
    bool ordered = west <= east && south <= north;  // false for NaN too
    if (!chart || !bitmap || !bsb::ValidAllocator(allocator) || !ordered ||
        !bsb::ChoosePalette(palette, flags, BSBCHART_DOUBLED_COLOURS, &request.palette))
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    return bsb::RunHandleWindow(chart, allocator, bsb::CutWorldWindow, &request, bitmap, error);
}
