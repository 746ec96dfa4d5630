// What every exported call holds while it runs, and the order in which it is
// released: header block, region, bitmap (on failure only), compressed-row
// buffer, decoded-row buffer; the file is closed last.
#ifndef BSBCHART_CALL_FRAME_H
#define BSBCHART_CALL_FRAME_H

#include <stdint.h>

#include "../chartfile/chart_file.h"
#include "../header/header_text.h"
#include "window_bitmap.h"

namespace bsb {

struct CallFrame {
    ChartFile file;
    bool fileOpen;
    void* heap;         // the host's heap, or the extent query's private heap
    bool privateHeap;
    HeaderBlock header;
    unsigned char* region;
    WindowBitmap bitmap;
    unsigned char* encodedRow;
    unsigned char* decodedRow;
};

// Opens the chart and loads its header block: an extent query into a
// private heap of its own, a window into the host's heap.
bool BeginExtentCall(CallFrame* frame, const unsigned short* path);
bool BeginWindowCall(CallFrame* frame, const unsigned short* path, void* heap);

HeaderText HeaderTextOf(const CallFrame& frame);

// Allocates the two row buffers of `width` bytes from the frame's heap.
bool AllocateRowBuffers(CallFrame* frame, uint32_t width);

// Releases everything; the bitmap only when `keepBitmap` is false. Returns
// the bitmap's block when it is kept.
char* EndCall(CallFrame* frame, bool keepBitmap);

}  // namespace bsb

#endif
