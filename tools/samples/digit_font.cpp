#include "digit_font.h"

namespace samples {

// Rows top first, the glyph's leftmost cell in the highest of three bits.
static const unsigned char kDigits[10][kGlyphHeight] = {
    {7, 5, 5, 5, 7},  // 0
    {2, 6, 2, 2, 7},  // 1
    {7, 1, 7, 4, 7},  // 2
    {7, 1, 3, 1, 7},  // 3
    {5, 5, 7, 1, 1},  // 4
    {7, 4, 7, 1, 7},  // 5
    {7, 4, 7, 5, 7},  // 6
    {7, 1, 1, 2, 2},  // 7
    {7, 5, 7, 5, 7},  // 8
    {7, 5, 7, 1, 7},  // 9
};

bool GlyphInk(char character, int x, int y) {
    if (x < 0 || y < 0 || x >= kGlyphWidth || y >= kGlyphHeight) return false;
    if (character < '0' || character > '9') return false;
    return (kDigits[character - '0'][y] >> (kGlyphWidth - 1 - x)) & 1;
}

bool NorthInk(int x, int y) {
    static const unsigned char kRows[kNorthSize] = {0x11, 0x19, 0x15, 0x13, 0x11};
    if (x < 0 || y < 0 || x >= kNorthSize || y >= kNorthSize) return false;
    return (kRows[y] >> (kNorthSize - 1 - x)) & 1;
}

}  // namespace samples
