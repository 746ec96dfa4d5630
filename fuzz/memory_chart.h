// The in-memory chart of the fuzz build (fuzz/memory_port.cpp).
#ifndef BSBCHART_FUZZ_MEMORY_CHART_H
#define BSBCHART_FUZZ_MEMORY_CHART_H

#include <stdint.h>

namespace bsb {

// The chart that opens under any valid path; the bytes must outlive its use.
void RegisterMemoryFile(const unsigned char* bytes, uint64_t size);

}  // namespace bsb

#endif
