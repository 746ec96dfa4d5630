// "Cannot open file: <path>." composed unit by unit, for platforms without a
// wide-string formatter of their own.
#include "messages.h"

namespace bsb {

static uint32_t AppendAscii(unsigned short* out, uint32_t used, const char* text) {
    while (*text && used < kMessageCapacity - 1) out[used++] = (unsigned char)*text++;
    return used;
}

uint32_t FormatCannotOpen(const unsigned short* path, unsigned short* out) {
    static const char kPrefix[] = "Cannot open file: ";
    static const char kSuffix[] = ".";
    uint32_t used = AppendAscii(out, 0, kPrefix);
    uint32_t room = kMessageCapacity - 1 - (sizeof(kSuffix) - 1);
    uint32_t i = 0;
    for (; path && path[i] != 0 && used < room; ++i) out[used++] = path[i];
    bool cut = path && path[i] != 0;
    if (cut && used > 0 && out[used - 1] >= 0xD800 && out[used - 1] <= 0xDBFF) --used;
    used = AppendAscii(out, used, kSuffix);
    out[used] = 0;
    return used;
}

}  // namespace bsb
