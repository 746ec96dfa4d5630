#include "header/numbers.h"
#include "header/records.h"

namespace bsb {

// Reads one field ending at ',' or a carriage return; returns where the next
// field starts.
static uint32_t ReadPaletteField(HeaderText text, uint32_t start, int32_t* value) {
    char field[kFieldCapacity];
    uint32_t end = CopyField(text, start, ",\r", field);
    *value = ParseInteger(field);
    return end + 1;
}

static unsigned char Component(int32_t value, bool doubled) {
    uint32_t low = (uint32_t)value & 0xFFu;
    return (unsigned char)(doubled ? low * 2u : low);
}

bool ApplyPaletteRecords(HeaderText text, const char* key, bool doubled, unsigned char* table,
                         uint32_t entries) {
    uint32_t keyLength = 0;
    while (key[keyLength]) ++keyLength;
    uint32_t at = FindKey(text, key, 0);
    if (at == kNotFound) return false;
    while (at != kNotFound) {
        int32_t index, red, green, blue;
        uint32_t next = ReadPaletteField(text, at + keyLength, &index);
        next = ReadPaletteField(text, next, &red);
        next = ReadPaletteField(text, next, &green);
        uint32_t blueStart = next;
        ReadPaletteField(text, blueStart, &blue);
        uint32_t entry = (uint32_t)index & 0xFFu;
        if (entry < entries) {
            unsigned char* slot = table + entry * 4;
            slot[0] = Component(blue, doubled);
            slot[1] = Component(green, doubled);
            slot[2] = Component(red, doubled);
            slot[3] = 0;
        }
        at = FindKey(text, key, blueStart);
    }
    return true;
}

bool ParsePalette(HeaderText text, unsigned char* table, uint32_t entries, Reporter* reporter) {
    if (!ApplyPaletteRecords(text, "RGB/", true, table, entries))
        return Fail(reporter, kErrorReadingRgb, "RGB/");
    return true;
}

}  // namespace bsb
