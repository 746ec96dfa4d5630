// Conversions between the UTF-16 of paths and messages and the UTF-8 of
// POSIX file names and text streams.
#ifndef BSBCHART_UTF_H
#define BSBCHART_UTF_H

#include <stdint.h>

namespace bsb {

bool IsHighSurrogate(uint32_t unit);

// True when every surrogate in the NUL-terminated text is paired.
bool IsWellFormedUtf16(const unsigned short* text);

// Converts NUL-terminated UTF-16 to NUL-terminated UTF-8 in `output`.
// Strict: fails on an unpaired surrogate. Otherwise such a unit becomes
// U+FFFD. Fails when the result and its NUL do not fit in `capacity` bytes.
bool ConvertUtf16ToUtf8(const unsigned short* text, char* output, uint32_t capacity, bool strict);

// Converts NUL-terminated UTF-8 to NUL-terminated UTF-16 in `output`
// (`capacity` units). Fails on a byte sequence that is not UTF-8 (overlong
// forms, surrogates and code points above U+10FFFF included) and when the
// result does not fit.
bool ConvertUtf8ToUtf16(const char* text, unsigned short* output, uint32_t capacity);

}  // namespace bsb

#endif
