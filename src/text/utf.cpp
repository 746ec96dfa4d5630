#include "text/utf.h"

namespace bsb {

bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
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

// The code point of the sequence at `text` and its length in bytes; 0 bytes
// for a sequence that is not UTF-8.
static uint32_t DecodeUtf8(const unsigned char* text, uint32_t* codePoint) {
    static const uint32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    uint32_t lead = text[0];
    uint32_t length = lead < 0x80 ? 1 : lead < 0xC0 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : 0;
    if (length == 0) return 0;
    uint32_t value = length == 1 ? lead : lead & (0x7Fu >> length);
    for (uint32_t k = 1; k < length; ++k) {
        if ((text[k] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (text[k] & 0x3Fu);
    }
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

bool ConvertUtf8ToUtf16(const char* text, unsigned short* output, uint32_t capacity) {
    const unsigned char* at = (const unsigned char*)text;
    uint32_t used = 0;
    while (*at) {
        uint32_t codePoint = 0;
        uint32_t length = DecodeUtf8(at, &codePoint);
        if (length == 0) return false;
        at += length;
        uint32_t units = codePoint >= 0x10000 ? 2 : 1;
        if (capacity - used <= units) return false;
        if (units == 2) {
            output[used++] = (unsigned short)(0xD800 + ((codePoint - 0x10000) >> 10));
            output[used++] = (unsigned short)(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            output[used++] = (unsigned short)codePoint;
        }
    }
    if (used >= capacity) return false;
    output[used] = 0;
    return true;
}

}  // namespace bsb
