// The window bitmap: one block holding a BITMAPINFOHEADER, the colour table
// and the pixel rows, top row first, every field little-endian.
#ifndef BSBCHART_WINDOW_BITMAP_H
#define BSBCHART_WINDOW_BITMAP_H

#include <stdint.h>

namespace bsb {

struct WindowBitmap {
    unsigned char* block;
    unsigned char* colourTable;  // 2^bpp entries of blue, green, red, reserved
    unsigned char* pixels;
    uint32_t stride;             // bytes per row, a multiple of 4
    uint32_t width;
    uint32_t height;
    int bpp;
};

// Bits per pixel of a chart's windows: 1 for compression type 1, 4 for types
// up to 4 taken as unsigned (0 included), 8 for the rest.
int WindowBitsPerPixel(int compressionType);

// Allocates the zero-filled bitmap of w × h pixels from `heap` and writes its
// header. A block over 2^31 - 1 bytes is refused like a failed allocation.
bool CreateWindowBitmap(void* heap, uint32_t width, uint32_t height, int bpp, WindowBitmap* bitmap);

}  // namespace bsb

#endif
