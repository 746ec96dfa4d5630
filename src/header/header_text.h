// The chart header as text: keys found by plain substring search, values read
// from the characters after them. Nothing is read past the header text.
#ifndef BSBCHART_HEADER_TEXT_H
#define BSBCHART_HEADER_TEXT_H

#include <stdint.h>

namespace bsb {

struct HeaderText {
    const char* chars;
    uint32_t length;
};

const uint32_t kNotFound = 0xFFFFFFFFu;

// A field is converted from a scratch copy of at most this many characters
// and its terminator.
const uint32_t kFieldCapacity = 500;

// Where `key` first occurs at or after `from`, or kNotFound.
uint32_t FindKey(HeaderText text, const char* key, uint32_t from);

// Copies the characters from `start` up to the first of `delimiters` (or the
// text's end) into `field`, cut at kFieldCapacity - 1 characters and
// NUL-terminated. Returns the position of the delimiter or the text's end,
// whether or not the copy was cut.
uint32_t CopyField(HeaderText text, uint32_t start, const char* delimiters, char* field);

}  // namespace bsb

#endif
