#include "naive_decoder.h"

namespace bench {

namespace {

struct Slots {
    int bpp;
    int perByte;
    int log2PerByte;
};

Slots SlotsOf(int compressionType) {
    if (compressionType == 1) return {1, 8, 3};
    if (compressionType <= 4) return {4, 2, 1};
    return {8, 1, 0};
}

// Pixel `index` of the row gets `colour`, most significant bits first.
inline void PutPixel(uint8_t* output, uint64_t index, uint32_t colour, Slots slots) {
    uint64_t byte = index >> slots.log2PerByte;
    int slot = static_cast<int>(index & static_cast<uint64_t>(slots.perByte - 1));
    int shift = (slots.perByte - 1 - slot) * slots.bpp;
    uint32_t mask = ((1u << slots.bpp) - 1) << shift;
    output[byte] = static_cast<uint8_t>((output[byte] & ~mask) | ((colour << shift) & mask));
}

}  // namespace

// Not inlined into the benchmark loop, like the library's decoder.
__attribute__((noinline)) bool DecodeRowPixelByPixel(const uint8_t* encoded, uint32_t length,
                                                     uint8_t* output, uint32_t width,
                                                     int compressionType) {
    Slots slots = SlotsOf(compressionType);
    int shift = 7 - compressionType;
    uint32_t colourMask = (0xFFu << shift) & 0x7Fu;
    uint32_t lengthMask = 0x7Fu - colourMask;
    uint32_t at = 0;
    while (at < length && (encoded[at] & 0x80)) ++at;
    ++at;
    if (length < at + 1) return false;
    uint32_t end = length - 1;
    uint64_t capacity = static_cast<uint64_t>(width) * static_cast<uint64_t>(slots.perByte);
    uint64_t total = 0;
    uint32_t colour = 0;
    while (at < end) {
        uint32_t first = encoded[at++];
        uint32_t runColour = (first & colourMask) >> shift;
        uint64_t run = first & lengthMask;
        bool closed = true;
        if (first & 0x80) {
            closed = false;
            while (at < end && !closed) {
                uint32_t next = encoded[at++];
                run = (run << 7) | (next & 0x7Fu);
                closed = (next & 0x80) == 0;
            }
        }
        if (!closed) break;
        colour = runColour;
        for (uint64_t n = 0; n <= run; ++n, ++total)
            if (total < capacity) PutPixel(output, total, colour, slots);
    }
    int64_t difference = static_cast<int64_t>(total) - static_cast<int64_t>(width);
    if (difference >= 20 || difference <= -20) return false;
    for (uint64_t p = total; (p & static_cast<uint64_t>(slots.perByte - 1)) != 0 && p < capacity; ++p)
        PutPixel(output, p, colour, slots);
    return true;
}

}  // namespace bench
