// libFuzzer target: every header record parser and number converter on
// arbitrary header text.
#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzentry::ReadHeaderInput(data, size);
    return 0;
}
