// libFuzzer target: the four exported operations on arbitrary chart bytes,
// served from memory, with requests taken from the input.
#include "fuzz_entries.h"
#include "memory_chart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzentry::WholeFileInput input = fuzzentry::SplitWholeFileInput(data, size);
    bsb::RegisterMemoryFile(input.chart, input.chartSize);
    static const unsigned short kPath[] = {'f', 'u', 'z', 'z', '.', 'k', 'a', 'p', 0};
    fuzzentry::RunWholeFileOperations(input, kPath);
    bsb::RegisterMemoryFile(nullptr, 0);
    return 0;
}
