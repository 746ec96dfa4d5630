// The open chart behind the C interface's handle: the file, kept open with a
// shared lock, and what open read once — the header block, the row index
// table and the records every query needs. Nothing in it changes after open.
#ifndef BSBCHART_CHART_HANDLE_H
#define BSBCHART_CHART_HANDLE_H

#include "api/window_rows.h"
#include "bsbchart_c.h"
#include "header/polynomial.h"

struct bsbchart {
    bsbchart_allocator host;  // the handle's own memory, or the library's
    bsb::Allocator memory;    // the same, as the library's code takes it
    bsb::PortFile file;
    bsb::HeaderBlock header;  // one byte longer than the header: its text always ends
    bsb::RowIndex index;
    int32_t width;
    int32_t height;
    int compressionType;
    bool hasSkew;
    double skewAngle;
    bool hasCph;
    double cph;
    bool pixelToWorld;  // PWX/ and PWY/ present
    bool worldToPixel;  // WPX/ and WPY/ present
    bsb::ChartPolynomial pwx, pwy, wpx, wpy;
    uint32_t palettes;
    const unsigned char* paletteTables[bsb::kPaletteCount];  // stored values, NULL where absent
    unsigned char* paletteBlock;
    const char* fields[BSBCHART_FIELD_COUNT];  // NULL where absent
    char* fieldText;                           // the fields' texts, one after another
};

namespace bsb {

static_assert(kPaletteCount == BSBCHART_PALETTE_COUNT, "one colour table per palette");

// The library's own allocator (bsbchart_free releases its blocks).
bsbchart_allocator SystemAllocator();

// `host` as the library's code takes it; `host` must outlive its use.
Allocator AllocatorOf(const bsbchart_allocator* host);

// Copies the reporter's status and specifics into `error` (may be NULL) and
// returns the status.
bsbchart_status Finish(const Reporter& reporter, bsbchart_error* error);

// A status with no specifics.
bsbchart_status FinishWith(bsbchart_status status, bsbchart_error* error);

// NULL (the library's own) or one with both callbacks.
bool ValidAllocator(const bsbchart_allocator* allocator);

// Cuts one window of the handle: `job` fills the frame from `request`. The
// blocks come from `allocator` (NULL: the library's own); `*bitmap` receives
// the window on success, NULL otherwise.
typedef bool (*WindowJob)(WindowFrame* frame, const void* request);
bsbchart_status RunHandleWindow(const bsbchart* chart, const bsbchart_allocator* allocator,
                                WindowJob job, const void* request, void** bitmap,
                                bsbchart_error* error);

// The palette a window asks for, or false for an unknown palette or flag.
bool ChoosePalette(int32_t palette, uint32_t flags, uint32_t allowedFlags, PaletteChoice* choice);

}  // namespace bsb

#endif
