#include "records.h"

#include "../platform/platform.h"
#include "numbers.h"

namespace bsb {

const uint32_t kLongestSkewField = 19;

bool ParseRasterSize(HeaderText text, int32_t* width, int32_t* height) {
    uint32_t key = FindKey(text, "RA=", 0);
    char field[kFieldCapacity];
    int32_t parsedWidth = 0;
    int32_t parsedHeight = 0;
    if (key != kNotFound) {
        uint32_t comma = CopyField(text, key + 3, ",", field);
        parsedWidth = ParseLikeAtoi(field);
        CopyField(text, comma + 1, ",", field);
        parsedHeight = ParseLikeAtoi(field);
    }
    if (parsedWidth < 1 || parsedHeight < 1) {
        ReportMessage("Error reading the size of the image.");
        return false;
    }
    *width = parsedWidth;
    *height = parsedHeight;
    return true;
}

bool ParseSkewAngle(HeaderText text, double* angle) {
    uint32_t key = FindKey(text, "SK=", 0);
    if (key == kNotFound) {
        ReportMessage("Error reading skew angle of the image.");
        return false;
    }
    char field[kFieldCapacity];
    uint32_t start = key + 3;
    uint32_t end = CopyField(text, start, ",\r", field);
    if (end - start > kLongestSkewField) return false;
    *angle = ParseDecimal(field);
    return true;
}

bool ParseCph(HeaderText text, double* value) {
    uint32_t key = FindKey(text, "CPH/", 0);
    if (key == kNotFound) {
        ReportMessage("Error reading CPH record.");
        return false;
    }
    char field[kFieldCapacity];
    CopyField(text, key + 4, "\r", field);
    *value = ParseDecimal(field);
    return true;
}

bool IsSkewed(double angle) {
    return angle > 0.01;
}

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
