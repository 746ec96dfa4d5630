// libFuzzer target: one encoded row, its width and compression type.
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzentry::DecodeRowInput(data, size);
    return 0;
}
