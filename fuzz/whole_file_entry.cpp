#include <cstdlib>
#include <cstring>
#include <string>

#include "bsbchart_c.h"
#include "bsbchart_host.h"
#include "fuzz_entries.h"
#include "fuzz_messages.h"
#include "header/records.h"
#include "internal_support.h"

namespace fuzzentry {

static uint32_t GetLe32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

static void PutLe32(std::vector<uint8_t>* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back((uint8_t)(value >> (8 * i)));
}

// With BSBCHART_FUZZ_WIDE_ROWS set in the environment, the heaps are sized
// for the chart instead of 1 MB: its two row buffers of the raster's width
// and kWideRoom more. So rasters of any width are reached while a window's
// bitmap stays below kWideRoom, and libFuzzer's -timeout and -rss_limit_mb
// catch a window that costs more than its own columns and the rows' bytes.
// The input's limit is then taken as given, 0 meaning that size.
static bool WideRows() {
    static const bool wide = getenv("BSBCHART_FUZZ_WIDE_ROWS") != nullptr;
    return wide;
}

const uint64_t kWideRoom = (uint64_t)64 << 20;

// The heap limit for the chart: the raster's width is read from its text
// before the first NUL, as the library reads it from its header block.
static uint64_t HeapLimitFor(const WholeFileInput& input) {
    if (!WideRows()) return input.heapLimit;
    const void* nul = memchr(input.chart, 0, input.chartSize);
    size_t length = nul ? (size_t)((const uint8_t*)nul - input.chart) : input.chartSize;
    bsb::HeaderText text = {(const char*)input.chart, (uint32_t)length};
    bsb::Reporter quiet = bsb::QuietReporter();
    int32_t width = 0, height = 0;
    uint64_t room = bsb::ParseRasterSize(text, &width, &height, &quiet)
                        ? 2 * (uint64_t)width + kWideRoom
                        : kLargestHeap;
    return input.heapLimit == 0 || input.heapLimit > room ? room : input.heapLimit;
}

WholeFileInput SplitWholeFileInput(const uint8_t* data, size_t size) {
    uint8_t request[kRequestBytes] = {};
    size_t requestSize = size < kRequestBytes ? size : kRequestBytes;
    memcpy(request, data, requestSize);
    WholeFileInput input;
    input.window.left = (int32_t)GetLe32(request + 0);
    input.window.top = (int32_t)GetLe32(request + 4);
    input.window.right = (int32_t)GetLe32(request + 8);
    input.window.bottom = (int32_t)GetLe32(request + 12);
    memcpy(&input.left, request + 16, 8);
    memcpy(&input.top, request + 24, 8);
    memcpy(&input.right, request + 32, 8);
    memcpy(&input.bottom, request + 40, 8);
    uint32_t limit = GetLe32(request + 48);
    input.heapLimit = WideRows() || (limit != 0 && limit <= kLargestHeap) ? limit : kLargestHeap;
    input.chart = data + requestSize;
    input.chartSize = size - requestSize;
    return input;
}

std::vector<uint8_t> JoinWholeFileInput(const RECT& window, double left, double top, double right,
                                        double bottom, uint32_t heapLimit,
                                        const std::vector<uint8_t>& chart) {
    std::vector<uint8_t> out;
    PutLe32(&out, (uint32_t)window.left);
    PutLe32(&out, (uint32_t)window.top);
    PutLe32(&out, (uint32_t)window.right);
    PutLe32(&out, (uint32_t)window.bottom);
    for (double value : {left, top, right, bottom}) {
        uint8_t bytes[8];
        memcpy(bytes, &value, 8);
        out.insert(out.end(), bytes, bytes + 8);
    }
    PutLe32(&out, heapLimit);
    out.insert(out.end(), chart.begin(), chart.end());
    return out;
}

static bool ChartHasKey(const WholeFileInput& input, const char* key) {
    size_t length = strlen(key);
    for (size_t at = 0; at + length <= input.chartSize; ++at)
        if (memcmp(input.chart + at, key, length) == 0) return true;
    return false;
}

// The chart must have been closed: it opens again at once.
static void ExpectClosed(const unsigned short* path, const char* call) {
    bsb::ChartFile file;
    if (!testsupport::OpenQuietly(&file, path)) Violation(std::string(call) + " left the chart open");
    bsb::CloseChartFile(&file);
}

// Reads every byte the header says the bitmap holds, so that a block smaller
// than its header claims is caught.
static void CheckBitmap(const char* bitmap, const char* call) {
    const uint8_t* b = (const uint8_t*)bitmap;
    uint32_t width = GetLe32(b + 4);
    int32_t height = -(int32_t)GetLe32(b + 8);
    uint32_t bpp = b[14] | (b[15] << 8);
    uint64_t stride = (((uint64_t)bpp * width + 31) / 32) * 4;
    std::string name(call);
    if (GetLe32(b) != 40 || (b[12] | (b[13] << 8)) != 1 || (bpp != 1 && bpp != 4 && bpp != 8) ||
        width == 0 || height <= 0 || GetLe32(b + 16) != 0 || GetLe32(b + 20) != stride * height)
        Violation(name + ": malformed bitmap header");
    uint64_t size = 40 + 4 * ((uint64_t)1 << bpp) + stride * (uint64_t)height;
    volatile uint32_t sum = 0;
    for (uint64_t i = 0; i < size; ++i) sum = sum + b[i];
}

static void FinishWindow(char* bitmap, void* heap, const char* call) {
    size_t expected = bitmap ? 1 : 0;
    if (CountChartBlocks(heap) != expected) Violation(std::string(call) + " left blocks in the heap");
    if (!bitmap) return;
    CheckBitmap(bitmap, call);
    FreeChartBlock(heap, bitmap);
}

// The C interface on the same chart, its memory from heaps of the input's
// limit: every status in range, a bitmap exactly on success, nothing shown,
// every block back in its heap, the chart in use while the handle holds it
// and free after close.
static void RunCInterfaceOperations(const WholeFileInput& input, const unsigned short* path,
                                    uint64_t heapLimit) {
    MessageCounter messages;
    void* handleHeap = CreateChartHeap((size_t)heapLimit);
    void* windowHeap = CreateChartHeap((size_t)heapLimit);
    if (!handleHeap || !windowHeap) Violation("CreateChartHeap failed");
    bsbchart_allocator handleMemory, windowMemory;
    if (bsbchart_heap_allocator(handleHeap, &handleMemory) != BSBCHART_OK ||
        bsbchart_heap_allocator(windowHeap, &windowMemory) != BSBCHART_OK)
        Violation("bsbchart_heap_allocator refused a heap");
    auto expectStatus = [](int32_t status, const bsbchart_error* error, const char* call) {
        if (status < BSBCHART_OK || status > BSBCHART_E_PALETTE)
            Violation(std::string(call) + ": status " + std::to_string(status) + " out of range");
        if (error && error->status != status) Violation(std::string(call) + ": error record differs");
        char text[300];
        if (error && bsbchart_error_text(error, "chart.kap", text, sizeof text) != strlen(text))
            Violation(std::string(call) + ": error text cut");
    };
    // Any path names the in-memory chart; a plain one goes as UTF-8.
    std::string narrow;
    bool ascii = true;
    for (const unsigned short* p = path; *p; ++p) {
        ascii = ascii && *p < 0x80;
        narrow += (char)*p;
    }
    bsbchart* chart = nullptr;
    bsbchart_error error;
    bsbchart_status status = ascii ? bsbchart_open(narrow.c_str(), &handleMemory, &chart, &error)
                                   : bsbchart_open_utf16((const uint16_t*)path, &handleMemory, &chart,
                                                         &error);
    expectStatus(status, &error, "bsbchart_open");
    if ((status == BSBCHART_OK) != (chart != nullptr)) Violation("bsbchart_open: handle and status disagree");
    if (!chart && CountChartBlocks(handleHeap) != 0) Violation("bsbchart_open left blocks on failure");
    if (chart) {
        bsb::ChartFile exclusive;
        if (testsupport::OpenQuietly(&exclusive, path)) {
            bsb::CloseChartFile(&exclusive);
            Violation("the chart opened exclusively while a handle held it");
        }
        bsbchart_info info;
        if (bsbchart_get_info(chart, &info) != BSBCHART_OK || info.width < 1 || info.height < 1 ||
            (info.bits_per_pixel != 1 && info.bits_per_pixel != 4 && info.bits_per_pixel != 8))
            Violation("bsbchart_get_info: out of range");
        for (int32_t field = 0; field < BSBCHART_FIELD_COUNT; ++field) {
            const char* value = bsbchart_get_field(chart, field);
            if (value && strlen(value) >= 500) Violation("bsbchart_get_field: longer than a field");
        }
        size_t length = 0;
        const char* text = bsbchart_header_text(chart, &length);
        if (!text || strlen(text) != length) Violation("bsbchart_header_text: length differs");
        double x = 0, y = 0, column = 0, row = 0, extent[4];
        expectStatus(bsbchart_pixel_to_world(chart, input.window.left, input.window.top, &x, &y, &error),
                     &error, "bsbchart_pixel_to_world");
        expectStatus(bsbchart_world_to_pixel(chart, input.left, input.top, &column, &row, &error), &error,
                     "bsbchart_world_to_pixel");
        expectStatus(bsbchart_world_extent(chart, &extent[0], &extent[1], &extent[2], &extent[3], &error),
                     &error, "bsbchart_world_extent");
        uint8_t table[1024];
        int32_t palette = (int32_t)(input.heapLimit % BSBCHART_PALETTE_COUNT);
        expectStatus(bsbchart_get_palette(chart, palette, input.heapLimit & 1, table), nullptr,
                     "bsbchart_get_palette");
        bsbchart_rect window = {input.window.left, input.window.top, input.window.right,
                                input.window.bottom};
        uint32_t width = 1 + (uint32_t)input.window.right % 41, height = 1 + (uint32_t)input.window.bottom % 29;
        uint32_t flags = BSBCHART_DOUBLED_COLOURS | ((input.heapLimit >> 1) & BSBCHART_AREA_AVERAGE);
        for (int call = 0; call < 4; ++call) {
            static const char* const kCalls[] = {"bsbchart_pixel_window", "bsbchart_world_window",
                                                 "bsbchart_reduced_window", "bsbchart_reduced_world_window"};
            void* bitmap = nullptr;
            if (call == 0)
                status = bsbchart_pixel_window(chart, window, palette, flags & BSBCHART_DOUBLED_COLOURS,
                                               &windowMemory, &bitmap, &error);
            else if (call == 1)
                status = bsbchart_world_window(chart, input.left, input.top, input.right, input.bottom,
                                               BSBCHART_PALETTE_RGB, BSBCHART_DOUBLED_COLOURS,
                                               &windowMemory, &bitmap, &error);
            else if (call == 2)
                status = bsbchart_reduced_window(chart, window, width, height, palette, flags,
                                                 &windowMemory, &bitmap, &error);
            else
                status = bsbchart_reduced_world_window(chart, input.left, input.top, input.right,
                                                       input.bottom, width, height, BSBCHART_PALETTE_RGB,
                                                       flags, &windowMemory, &bitmap, &error);
            expectStatus(status, &error, kCalls[call]);
            if ((status == BSBCHART_OK) != (bitmap != nullptr))
                Violation(std::string(kCalls[call]) + ": bitmap and status disagree");
            if (CountChartBlocks(windowHeap) != (bitmap ? 1u : 0u))
                Violation(std::string(kCalls[call]) + " left blocks in the heap");
            if (!bitmap) continue;
            const uint8_t* b = (const uint8_t*)bitmap;
            if ((b[14] | (b[15] << 8)) == 24) {
                // No colour table: read every byte the header says there is.
                uint64_t size = 40 + (uint64_t)GetLe32(b + 20);
                volatile uint32_t sum = 0;
                for (uint64_t i = 0; i < size; ++i) sum = sum + b[i];
            } else {
                CheckBitmap((const char*)bitmap, kCalls[call]);
            }
            if (call >= 2 && (GetLe32(b + 4) != width || -(int32_t)GetLe32(b + 8) != (int32_t)height))
                Violation(std::string(kCalls[call]) + ": bitmap size differs from the request");
            FreeChartBlock(windowHeap, bitmap);
        }
        bsbchart_close(chart);
    }
    if (CountChartBlocks(handleHeap) != 0) Violation("bsbchart_close left blocks in the heap");
    ExpectClosed(path, "bsbchart_close");
    DestroyChartHeap(windowHeap);
    DestroyChartHeap(handleHeap);
    messages.ExpectOutcome(true, false, "the C interface");
}

void RunWholeFileOperations(const WholeFileInput& input, const unsigned short* path) {
    // The over-long skew field fails silently; it needs an "SK=" in the file.
    bool silentAllowed = ChartHasKey(input, "SK=");
    MessageCounter messages;

    RECT extent = {-9, -9, -9, -9};
    int skewed = -9;
    int done = GetBsbBorder(path, &extent, skewed);
    messages.ExpectOutcome(done == 1, silentAllowed, "GetBsbBorder(RECT)");
    ExpectClosed(path, "GetBsbBorder(RECT)");
    if (done == 1 && (extent.left != 0 || extent.top != 0 || extent.right < 0 || extent.bottom < 0 ||
                      (skewed != 0 && skewed != 1)))
        Violation("GetBsbBorder(RECT): extent out of range");
    if (done != 1 && (extent.left != -9 || extent.right != -9 || skewed != -9))
        Violation("GetBsbBorder(RECT): wrote its outputs on failure");

    double centerX = 0, centerY = 0, left = 0, top = 0, right = 0, bottom = 0;
    done = GetBsbBorder(path, &centerX, &centerY, &left, &top, &right, &bottom, skewed);
    messages.ExpectOutcome(done == 1, silentAllowed, "GetBsbBorder(world)");
    ExpectClosed(path, "GetBsbBorder(world)");

    uint64_t heapLimit = HeapLimitFor(input);
    void* heap = CreateChartHeap((size_t)heapLimit);
    if (!heap) Violation("CreateChartHeap failed");
    char* bitmap = GetWindowBmp(path, heap, input.window);
    messages.ExpectOutcome(bitmap != nullptr, silentAllowed, "GetWindowBmp(RECT)");
    ExpectClosed(path, "GetWindowBmp(RECT)");
    if (bitmap && ((int64_t)GetLe32((const uint8_t*)bitmap + 4) !=
                       (int64_t)input.window.right - input.window.left + 1 ||
                   -(int64_t)(int32_t)GetLe32((const uint8_t*)bitmap + 8) !=
                       (int64_t)input.window.bottom - input.window.top + 1))
        Violation("GetWindowBmp(RECT): bitmap size differs from the window");
    FinishWindow(bitmap, heap, "GetWindowBmp(RECT)");

    bitmap = GetWindowBmp(path, heap, input.left, input.top, input.right, input.bottom);
    messages.ExpectOutcome(bitmap != nullptr, silentAllowed, "GetWindowBmp(world)");
    ExpectClosed(path, "GetWindowBmp(world)");
    FinishWindow(bitmap, heap, "GetWindowBmp(world)");
    DestroyChartHeap(heap);
    RunCInterfaceOperations(input, path, heapLimit);
}

}  // namespace fuzzentry
