// UTF-16 text as the operating system and the message reporter want it.
#ifndef BSBCHART_UTF16_H
#define BSBCHART_UTF16_H

#include <stdint.h>

namespace bsb {

// Converts NUL-terminated UTF-16 to NUL-terminated UTF-8 in `output`.
// Strict: fails on an unpaired surrogate. Otherwise such a unit becomes
// U+FFFD. Fails when the result and its NUL do not fit in `capacity` bytes.
// True when every surrogate in the NUL-terminated text is paired.
bool IsWellFormedUtf16(const unsigned short* text);

bool ConvertUtf16ToUtf8(const unsigned short* text, char* output, uint32_t capacity, bool strict);

}  // namespace bsb

#endif
