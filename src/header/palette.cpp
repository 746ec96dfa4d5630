#include "records.h"

#include "../platform/platform.h"
#include "numbers.h"

namespace bsb {

// Reads one field ending at ',' or a carriage return; returns where the next
// field starts.
static uint32_t ReadPaletteField(HeaderText text, uint32_t start, int32_t* value) {
    char field[kFieldCapacity];
    uint32_t end = CopyField(text, start, ",\r", field);
    *value = ParseInteger(field);
    return end + 1;
}

static unsigned char Doubled(int32_t component) {
    return (unsigned char)(((uint32_t)component & 0xFFu) * 2u);
}

bool ParsePalette(HeaderText text, unsigned char* table, uint32_t entries) {
    uint32_t key = FindKey(text, "RGB/", 0);
    if (key == kNotFound) {
        ReportMessage("Error reading RGB records.");
        return false;
    }
    while (key != kNotFound) {
        int32_t index, red, green, blue;
        uint32_t at = ReadPaletteField(text, key + 4, &index);
        at = ReadPaletteField(text, at, &red);
        at = ReadPaletteField(text, at, &green);
        uint32_t blueStart = at;
        ReadPaletteField(text, blueStart, &blue);
        uint32_t entry = (uint32_t)index & 0xFFu;
        if (entry < entries) {
            unsigned char* slot = table + entry * 4;
            slot[0] = Doubled(blue);
            slot[1] = Doubled(green);
            slot[2] = Doubled(red);
            slot[3] = 0;
        }
        key = FindKey(text, "RGB/", blueStart);
    }
    return true;
}

}  // namespace bsb
