// bsbchart_open, bsbchart_close and the allocators of the C interface.
#include <string.h>

#include "api/chart_handle.h"
#include "api/handle_fields.h"
#include "header/records.h"
#include "platform/platform.h"

namespace bsb {

static void* AllocateSystem(void*, size_t size) {
    return AllocateSystemBlock(size);
}

static void ReleaseSystem(void*, void* block) {
    FreeSystemBlock(block);
}

bsbchart_allocator SystemAllocator() {
    bsbchart_allocator allocator = {AllocateSystem, ReleaseSystem, 0};
    return allocator;
}

static void* AllocateFromHostHeap(void* heap, size_t size) {
    return AllocateBlock(heap, size);
}

static void ReleaseToHostHeap(void* heap, void* block) {
    FreeBlock(heap, block);
}

static void* AllocateThroughHost(void* context, uint64_t size) {
    const bsbchart_allocator* host = (const bsbchart_allocator*)context;
    if (size > (uint64_t)(size_t)-1) return 0;
    return host->allocate(host->context, (size_t)size);
}

static void ReleaseThroughHost(void* context, void* block) {
    const bsbchart_allocator* host = (const bsbchart_allocator*)context;
    host->release(host->context, block);
}

Allocator AllocatorOf(const bsbchart_allocator* host) {
    Allocator allocator = {AllocateThroughHost, ReleaseThroughHost, (void*)host, false};
    return allocator;
}

bsbchart_status Finish(const Reporter& reporter, bsbchart_error* error) {
    if (error) {
        error->status = reporter.status;
        error->row = reporter.status == kStatusRowRead || reporter.status == kStatusRowDecode
                         ? reporter.row
                         : -1;
        memcpy(error->record, reporter.record, sizeof(error->record));
        error->system_error = reporter.systemError;
    }
    return (bsbchart_status)reporter.status;
}

bsbchart_status FinishWith(bsbchart_status status, bsbchart_error* error) {
    Reporter reporter = QuietReporter();
    reporter.status = status;
    return Finish(reporter, error);
}

// The records a query may need, where the header has them.
static void ReadOptionalRecords(bsbchart* chart) {
    HeaderText text = {chart->header.bytes, chart->header.textLength};
    Reporter ignored = QuietReporter();
    chart->hasSkew = ParseSkewAngle(text, &chart->skewAngle, &ignored);
    if (!chart->hasSkew) chart->skewAngle = 0.0;
    chart->hasCph = ParseCph(text, &chart->cph, &ignored);
    bool pwx = ParsePolynomial(text, "PWX/", &chart->pwx, &ignored);
    bool pwy = ParsePolynomial(text, "PWY/", &chart->pwy, &ignored);
    bool wpx = ParsePolynomial(text, "WPX/", &chart->wpx, &ignored);
    bool wpy = ParsePolynomial(text, "WPY/", &chart->wpy, &ignored);
    chart->pixelToWorld = pwx && pwy;
    chart->worldToPixel = wpx && wpy;
    for (int32_t palette = 0; palette < BSBCHART_PALETTE_COUNT; ++palette)
        if (FindKey(text, bsbchart_palette_key(palette), 0) != kNotFound)
            chart->palettes |= 1u << palette;
}

// The colour tables of the palettes the chart carries, read once.
static bool ReadPalettes(bsbchart* chart, Reporter* reporter) {
    uint32_t count = 0;
    for (int32_t palette = 0; palette < BSBCHART_PALETTE_COUNT; ++palette)
        if (chart->palettes & (1u << palette)) ++count;
    if (count == 0) return true;
    chart->paletteBlock = (unsigned char*)Allocate(chart->memory, (uint64_t)count * 1024);
    if (!chart->paletteBlock) return Fail(reporter, kCannotAllocateHeader);
    HeaderText text = {chart->header.bytes, chart->header.textLength};
    unsigned char* table = chart->paletteBlock;
    for (int32_t palette = 0; palette < BSBCHART_PALETTE_COUNT; ++palette) {
        if (!(chart->palettes & (1u << palette))) continue;
        ApplyPaletteRecords(text, bsbchart_palette_key(palette), false, table, 256);
        chart->paletteTables[palette] = table;
        table += 1024;
    }
    return true;
}

// Reads the header, the raster size and the index table through a read
// cache on the stack, which goes when open returns.
static bool ReadChart(bsbchart* chart, Reporter* reporter) {
    ChartFile file;
    AttachChartFile(&file, chart->file);
    uint32_t length = 0;
    if (!ReadHeaderLength(&file, &length, reporter) ||
        !LoadHeaderBytes(&file, chart->memory, length, (uint64_t)length + 1, &chart->header,
                         reporter))
        return false;
    chart->compressionType = CompressionType(chart->header);
    HeaderText text = {chart->header.bytes, chart->header.textLength};
    if (!ParseRasterSize(text, &chart->width, &chart->height, reporter) ||
        !LoadRowIndex(&file, chart->memory, (uint32_t)chart->height, &chart->index, reporter))
        return false;
    ReadOptionalRecords(chart);
    return ReadPalettes(chart, reporter) && ReadHeaderFields(chart, reporter);
}

static void ReleaseHandle(bsbchart* chart, bool fileOpen) {
    if (fileOpen) ClosePortFile(chart->file.handle);
    Release(chart->memory, chart->fieldText);
    Release(chart->memory, chart->paletteBlock);
    Release(chart->memory, (void*)chart->index.offsets);
    Release(chart->memory, chart->header.bytes);
    bsbchart_allocator host = chart->host;
    host.release(host.context, chart);
}

static bsbchart_status OpenHandle(ChartPath path, const bsbchart_allocator* allocator,
                                  bsbchart** result, bsbchart_error* error) {
    if (result) *result = 0;
    if (!result || (!path.utf16 && !path.bytes) || !ValidAllocator(allocator))
        return FinishWith(BSBCHART_E_ARGUMENT, error);
    bsbchart_allocator host = allocator ? *allocator : SystemAllocator();
    bsbchart* chart = (bsbchart*)host.allocate(host.context, sizeof(bsbchart));
    if (!chart) return FinishWith(BSBCHART_E_NO_MEMORY, error);
    memset(chart, 0, sizeof(*chart));
    chart->host = host;
    chart->memory = AllocatorOf(&chart->host);
    Reporter reporter = QuietReporter();
    if (!OpenPortChart(path, kPortShared, &chart->file, &reporter)) {
        ReleaseHandle(chart, false);
        return Finish(reporter, error);
    }
    if (!ReadChart(chart, &reporter)) {
        ReleaseHandle(chart, true);
        return Finish(reporter, error);
    }
    *result = chart;
    return Finish(reporter, error);
}

bool ValidAllocator(const bsbchart_allocator* allocator) {
    return !allocator || (allocator->allocate && allocator->release);
}

bool ChoosePalette(int32_t palette, uint32_t flags, uint32_t allowedFlags, PaletteChoice* choice) {
    const char* key = bsbchart_palette_key(palette);
    if (!key || (flags & ~allowedFlags) != 0) return false;
    choice->key = key;
    choice->doubled = (flags & BSBCHART_DOUBLED_COLOURS) != 0;
    choice->index = palette;
    return true;
}

}  // namespace bsb

bsbchart_status bsbchart_open(const char* path, const bsbchart_allocator* allocator,
                              bsbchart** chart, bsbchart_error* error) {
    bsb::ChartPath named = {0, path};
    return bsb::OpenHandle(named, allocator, chart, error);
}

bsbchart_status bsbchart_open_utf16(const uint16_t* path, const bsbchart_allocator* allocator,
                                    bsbchart** chart, bsbchart_error* error) {
    bsb::ChartPath named = {(const unsigned short*)path, 0};
    return bsb::OpenHandle(named, allocator, chart, error);
}

void bsbchart_close(bsbchart* chart) {
    if (chart) bsb::ReleaseHandle(chart, true);
}

bsbchart_status bsbchart_heap_allocator(void* heap, bsbchart_allocator* allocator) {
    if (!heap || !allocator) return BSBCHART_E_ARGUMENT;
    allocator->allocate = bsb::AllocateFromHostHeap;
    allocator->release = bsb::ReleaseToHostHeap;
    allocator->context = heap;
    return BSBCHART_OK;
}

void bsbchart_free(void* block) {
    bsb::FreeSystemBlock(block);
}

const char* bsbchart_version(void) {
    return "1.1.0";
}
