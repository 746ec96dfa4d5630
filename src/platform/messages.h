// Composing and showing the library's messages.
#ifndef BSBCHART_MESSAGES_H
#define BSBCHART_MESSAGES_H

#include <stdint.h>

namespace bsb {

// A message holds at most this many UTF-16 units, its terminator included.
const uint32_t kMessageCapacity = 500;

// Writes "Cannot open file: <path>." into `out` (kMessageCapacity units),
// cutting the path, never inside a surrogate pair, so that it fits.
// Returns the length without the terminator.
uint32_t FormatCannotOpen(const unsigned short* path, unsigned short* out);

// The platform's default: shows the text and returns when the user is done.
void ShowSystemMessage(const unsigned short* text);

}  // namespace bsb

#endif
