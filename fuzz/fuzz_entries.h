// What each fuzz target does with one input, shared by the libFuzzer targets
// and the test that replays the inputs kept under fuzz/regressions/. Every
// entry aborts when the library breaks a promise the fuzzer can see: a wrong
// count of messages, a message that is not one of the library's, a block left
// in the heap, a chart left open or a bitmap whose header does not match it.
#ifndef BSBCHART_FUZZ_ENTRIES_H
#define BSBCHART_FUZZ_ENTRIES_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bsbchart.h"

namespace fuzzentry {

// Row decoder input: compression type byte, 16-bit little-endian width - 1,
// then the encoded row.
void DecodeRowInput(const uint8_t* data, size_t size);

// Header reader input: the header text, exactly these bytes.
void ReadHeaderInput(const uint8_t* data, size_t size);

// Whole-file input: the requests, then the chart file's bytes.
struct WholeFileInput {
    RECT window;
    double left, top, right, bottom;
    uint32_t heapLimit;  // maximum size of the host heap, bounded below
    const uint8_t* chart;
    size_t chartSize;
};

const size_t kRequestBytes = 16 + 32 + 4;
// The host heap never allows more than this, which bounds the time a window
// can take.
const uint32_t kLargestHeap = 1u << 20;

WholeFileInput SplitWholeFileInput(const uint8_t* data, size_t size);
std::vector<uint8_t> JoinWholeFileInput(const RECT& window, double left, double top, double right,
                                        double bottom, uint32_t heapLimit,
                                        const std::vector<uint8_t>& chart);

// Calls the four exported operations on the chart found at `path`, whose
// bytes are `input.chart`.
void RunWholeFileOperations(const WholeFileInput& input, const unsigned short* path);

}  // namespace fuzzentry

#endif
