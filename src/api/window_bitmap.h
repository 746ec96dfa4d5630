// The window bitmap: one block holding a BITMAPINFOHEADER, the colour table
// and the pixel rows, top row first, every field little-endian.
#ifndef BSBCHART_WINDOW_BITMAP_H
#define BSBCHART_WINDOW_BITMAP_H

#include <stdint.h>

#include "chartfile/allocator.h"
#include "report/reporter.h"

namespace bsb {

struct WindowBitmap {
    unsigned char* block;
    unsigned char* colourTable;  // 2^bpp entries of blue, green, red, reserved; none at 24
    unsigned char* pixels;
    uint32_t stride;             // bytes per row, a multiple of 4
    uint32_t width;
    uint32_t height;
    int bpp;                     // 1, 4, 8, or 24 for colour
};

// Entries of the colour table at `bpp` bits per pixel: 2^bpp, none at 24.
uint32_t ColourTableEntries(int bpp);

// Allocates the zero-filled bitmap of w × h pixels and writes its header. A
// block over 2^31 - 1 bytes is refused like a failed allocation.
bool CreateWindowBitmap(const Allocator& memory, uint32_t width, uint32_t height, int bpp,
                        WindowBitmap* bitmap, Reporter* reporter);

}  // namespace bsb

#endif
