#include "header/records.h"

#include "header/numbers.h"

namespace bsb {

const uint32_t kLongestSkewField = 19;

bool ParseRasterSize(HeaderText text, int32_t* width, int32_t* height, Reporter* reporter) {
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
    if (parsedWidth < 1 || parsedHeight < 1) return Fail(reporter, kErrorReadingSize);
    *width = parsedWidth;
    *height = parsedHeight;
    return true;
}

bool ParseSkewAngle(HeaderText text, double* angle, Reporter* reporter) {
    uint32_t key = FindKey(text, "SK=", 0);
    if (key == kNotFound) return Fail(reporter, kErrorReadingSkew, "SK=");
    char field[kFieldCapacity];
    uint32_t start = key + 3;
    uint32_t end = CopyField(text, start, ",\r", field);
    if (end - start > kLongestSkewField) return FailQuietly(reporter, kStatusRecord, "SK=");
    *angle = ParseDecimal(field);
    return true;
}

bool ParseCph(HeaderText text, double* value, Reporter* reporter) {
    uint32_t key = FindKey(text, "CPH/", 0);
    if (key == kNotFound) return Fail(reporter, kErrorReadingCph, "CPH/");
    char field[kFieldCapacity];
    CopyField(text, key + 4, "\r", field);
    *value = ParseDecimal(field);
    return true;
}

bool IsSkewed(double angle) {
    return angle > 0.01;
}

}  // namespace bsb
