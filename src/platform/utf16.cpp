#include "utf16.h"

namespace bsb {

static bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
static bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

bool IsWellFormedUtf16(const unsigned short* text) {
    for (uint32_t i = 0; text[i] != 0; ++i) {
        if (IsHighSurrogate(text[i]) && IsLowSurrogate(text[i + 1])) ++i;
        else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i])) return false;
    }
    return true;
}

static uint32_t EncodedLength(uint32_t codePoint) {
    if (codePoint < 0x80) return 1;
    if (codePoint < 0x800) return 2;
    if (codePoint < 0x10000) return 3;
    return 4;
}

static void EncodeCodePoint(uint32_t codePoint, char* out, uint32_t length) {
    static const unsigned char kLead[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    for (uint32_t i = length - 1; i > 0; --i) {
        out[i] = (char)(0x80 | (codePoint & 0x3F));
        codePoint >>= 6;
    }
    out[0] = (char)(kLead[length] | codePoint);
}

bool ConvertUtf16ToUtf8(const unsigned short* text, char* output, uint32_t capacity, bool strict) {
    uint32_t used = 0;
    for (uint32_t i = 0; text[i] != 0; ++i) {
        uint32_t codePoint = text[i];
        if (IsHighSurrogate(codePoint) && IsLowSurrogate(text[i + 1])) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (IsHighSurrogate(codePoint) || IsLowSurrogate(codePoint)) {
            if (strict) return false;
            codePoint = 0xFFFD;
        }
        uint32_t length = EncodedLength(codePoint);
        if (capacity - used <= length) return false;
        EncodeCodePoint(codePoint, output + used, length);
        used += length;
    }
    if (used >= capacity) return false;
    output[used] = 0;
    return true;
}

}  // namespace bsb
