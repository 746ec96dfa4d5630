#include "api/window_bitmap.h"

namespace bsb {

const uint64_t kLargestBitmap = 0x7FFFFFFF;
const uint32_t kInfoHeaderSize = 40;

uint32_t ColourTableEntries(int bpp) {
    return bpp == 24 ? 0 : 1u << bpp;
}

static void PutLe16(unsigned char* at, uint32_t value) {
    at[0] = (unsigned char)value;
    at[1] = (unsigned char)(value >> 8);
}

static void PutLe32(unsigned char* at, uint32_t value) {
    PutLe16(at, value & 0xFFFF);
    PutLe16(at + 2, value >> 16);
}

bool CreateWindowBitmap(const Allocator& memory, uint32_t width, uint32_t height, int bpp,
                        WindowBitmap* bitmap, Reporter* reporter) {
    uint64_t words = ((uint64_t)bpp * width + 31) / 32;
    uint64_t entries = ColourTableEntries(bpp);
    uint64_t size = 4 * (10 + entries + (uint64_t)height * words);
    unsigned char* block = size <= kLargestBitmap ? (unsigned char*)Allocate(memory, size) : 0;
    if (!block) return Fail(reporter, kCannotAllocateBitmap);
    uint32_t stride = (uint32_t)(words * 4);
    PutLe32(block + 0, kInfoHeaderSize);
    PutLe32(block + 4, width);
    PutLe32(block + 8, 0u - height);
    PutLe16(block + 12, 1);
    PutLe16(block + 14, (uint32_t)bpp);
    PutLe32(block + 20, stride * height);
    bitmap->block = block;
    bitmap->colourTable = block + kInfoHeaderSize;
    bitmap->pixels = block + kInfoHeaderSize + entries * 4;
    bitmap->stride = stride;
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bpp = bpp;
    return true;
}

}  // namespace bsb
