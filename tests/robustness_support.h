// Shared by the fault sweeps and the concurrency test: small charts, the four
// exported operations run with a fixed request each, and what they returned.
#ifndef BSBCHART_ROBUSTNESS_SUPPORT_H
#define BSBCHART_ROBUSTNESS_SUPPORT_H

#include <cstring>
#include <string>
#include <vector>

#include "bsbchart.h"
#include "bsbchart_host.h"
#include "chart_writer.h"
#include "platform/platform.h"
#include "internal_support.h"
#include "test_support.h"

namespace robustness {

const int kChartWidth = 12;
const int kChartHeight = 8;

// Pixel (x, y) lies at world (x / 8, 1 - y / 8) on every chart below.
inline std::vector<uint8_t> SmallChart(bool skewed, int compressionType = 4) {
    chartwriter::HeaderOptions options;
    options.width = kChartWidth;
    options.height = kChartHeight;
    options.skew = skewed ? "30.0" : "0.0";
    options.extraLines = {"PWX/1,0.0,0.125,0.0", "PWY/1,1.0,0.0,-0.125", "WPX/1,0.0,8.0,0.0",
                          "WPY/1,8.0,0.0,-8.0"};
    int colours = 1 << compressionType;
    chartwriter::Picture picture = chartwriter::MakePicture(
        kChartWidth, kChartHeight, [colours](int x, int y) { return (uint8_t)((x / 3 + y) % colours); });
    return chartwriter::BuildChart(chartwriter::MakeHeaderText(options), picture, compressionType);
}

enum Operation { kPixelExtent, kWorldExtent, kPixelWindow, kWorldWindow };
const Operation kOperations[] = {kPixelExtent, kWorldExtent, kPixelWindow, kWorldWindow};

inline const char* NameOf(Operation operation) {
    static const char* const kNames[] = {"GetBsbBorder(RECT)", "GetBsbBorder(world)",
                                         "GetWindowBmp(RECT)", "GetWindowBmp(world)"};
    return kNames[operation];
}

// What a call returned: its result, flattened to bytes (the extent values or
// the whole bitmap block), and whether it left anything behind.
struct Outcome {
    bool ok = false;
    std::vector<uint8_t> bytes;
    size_t blocksLeft = 0;  // host heap blocks after the bitmap was freed
    bool fileClosed = true;

    bool operator==(const Outcome& other) const { return ok == other.ok && bytes == other.bytes; }
};

template <typename T>
void Append(std::vector<uint8_t>* out, const T& value) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(&value);
    out->insert(out->end(), p, p + sizeof(value));
}

inline size_t BitmapBlockSize(const char* bitmap) {
    return 40 + 4 * (size_t{1} << testsupport::Le16(bitmap + 14)) + testsupport::Le32(bitmap + 20);
}

// The window requests: pixels (1, 1)–(10, 6), and the world rectangle over
// the same pixels.
inline Outcome RunOperation(Operation operation, const std::string& path, std::size_t heapLimit = 0) {
    std::vector<unsigned short> wide = testsupport::Utf16Path(path);
    testsupport::HostHeap heap(heapLimit);
    Outcome outcome;
    int skewed = -1;
    if (operation == kPixelExtent) {
        RECT extent = {};
        outcome.ok = GetBsbBorder(wide.data(), &extent, skewed) == 1;
        if (outcome.ok) Append(&outcome.bytes, extent), Append(&outcome.bytes, skewed);
    } else if (operation == kWorldExtent) {
        double values[6] = {};
        outcome.ok = GetBsbBorder(wide.data(), &values[0], &values[1], &values[2], &values[3],
                                  &values[4], &values[5], skewed) == 1;
        if (outcome.ok) Append(&outcome.bytes, values), Append(&outcome.bytes, skewed);
    } else {
        char* bitmap = operation == kPixelWindow
                           ? GetWindowBmp(wide.data(), heap.get(), RECT{1, 1, 10, 6})
                           : GetWindowBmp(wide.data(), heap.get(), 0.125, 0.875, 1.25, 0.25);
        outcome.ok = bitmap != nullptr;
        if (bitmap) {
            outcome.bytes.assign(bitmap, bitmap + BitmapBlockSize(bitmap));
            FreeChartBlock(heap.get(), bitmap);
        }
    }
    outcome.blocksLeft = heap.blocks();
    outcome.fileClosed = testsupport::ChartOpensAgain(wide.data());
    return outcome;
}

}  // namespace robustness

#endif
