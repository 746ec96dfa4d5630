#include "header/header_text.h"

#include <string.h>

namespace bsb {

// Candidates are found by their first character, then compared whole.
uint32_t FindKey(HeaderText text, const char* key, uint32_t from) {
    uint32_t keyLength = (uint32_t)strlen(key);
    if (keyLength == 0 || keyLength > text.length) return keyLength == 0 && from <= text.length ? from : kNotFound;
    uint32_t last = text.length - keyLength;
    for (uint32_t at = from; at <= last; ++at) {
        const char* hit = (const char*)memchr(text.chars + at, key[0], last - at + 1);
        if (!hit) return kNotFound;
        at = (uint32_t)(hit - text.chars);
        if (memcmp(hit, key, keyLength) == 0) return at;
    }
    return kNotFound;
}

static bool IsDelimiter(char c, const char* delimiters) {
    for (; *delimiters; ++delimiters)
        if (c == *delimiters) return true;
    return false;
}

uint32_t CopyField(HeaderText text, uint32_t start, const char* delimiters, char* field) {
    uint32_t end = start < text.length ? start : text.length;
    uint32_t copied = 0;
    while (end < text.length && !IsDelimiter(text.chars[end], delimiters)) {
        if (copied < kFieldCapacity - 1) field[copied++] = text.chars[end];
        ++end;
    }
    field[copied] = 0;
    return end;
}

}  // namespace bsb
