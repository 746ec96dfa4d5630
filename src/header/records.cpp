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

}  // namespace bsb
