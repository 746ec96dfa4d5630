#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_entries.h"
#include "fuzz_messages.h"
#include "internal_support.h"
#include "raster/row_decoder.h"

namespace fuzzentry {

void DecodeRowInput(const uint8_t* data, size_t size) {
    if (size < 3) return;
    // Mostly valid types, with 0, 8 and -1 beside them.
    int compressionType = data[0] % 10 - 1;
    uint32_t width = 1u + (uint32_t)(data[1] | (data[2] << 8));
    size_t length = size - 3;
    // Exactly sized copies, so that a read or write past either one is caught.
    std::unique_ptr<unsigned char[]> encoded(new unsigned char[length ? length : 1]);
    if (length) memcpy(encoded.get(), data + 3, length);
    std::unique_ptr<unsigned char[]> output(new unsigned char[width]);
    memset(output.get(), 0, width);
    MessageCounter messages;
    uint32_t expected = width;
    bool decoded = bsb::DecodeRasterRow(encoded.get(), (uint32_t)length, output.get(), &expected,
                                        compressionType, testsupport::Shown());
    messages.ExpectOutcome(decoded, false, "DecodeRasterRow");
    if (decoded) {
        uint32_t perByte = compressionType == 1 ? 8 : (compressionType <= 4 ? 2 : 1);
        uint64_t most = ((uint64_t)width + 19 + perByte - 1) / perByte;
        if (expected > most) Violation("DecodeRasterRow: more bytes decoded than the tolerance allows");
    }
}

}  // namespace fuzzentry
