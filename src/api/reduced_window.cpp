// Reduced (and enlarged) windows from an open chart: nearest sample in the
// chart's own pixel format, or the area average of every source pixel as
// 24-bit colour. Only the rows the output needs are read, each once, and
// no full-size window is ever held.
#include <math.h>
#include <string.h>

#include "api/chart_handle.h"
#include "api/pixel_window.h"
#include "api/world_window.h"
#include "header/records.h"
#include "raster/row_decoder.h"

namespace bsb {

const uint64_t kLargestEnlargement = 8;

// Source offset of output position i of `out` positions over `source`:
// the source pixel under the output pixel's centre, in exact integers.
static uint64_t NearestOffset(uint64_t i, uint64_t source, uint64_t out) {
    return ((2 * i + 1) * source) / (2 * out);
}

template <int kBpp>
static inline uint32_t PixelAt(const unsigned char* row, uint64_t x) {
    if (kBpp == 8) return row[x];
    if (kBpp == 4) return (row[x >> 1] >> ((~x & 1) << 2)) & 0x0F;
    return (row[x >> 3] >> (7 - (x & 7))) & 1;
}

static uint32_t PixelOf(const unsigned char* row, uint64_t x, int bpp) {
    if (bpp == 8) return PixelAt<8>(row, x);
    if (bpp == 4) return PixelAt<4>(row, x);
    return PixelAt<1>(row, x);
}

// Sets pixel i of a zero-filled row.
static void PutPixel(unsigned char* row, uint64_t i, int bpp, uint32_t value) {
    if (bpp == 8) row[i] = (unsigned char)value;
    else if (bpp == 4) row[i >> 1] |= (unsigned char)(value << ((~i & 1) << 2));
    else row[i >> 3] |= (unsigned char)(value << (7 - (i & 7)));
}

static void PutColour(unsigned char* row, uint64_t i, const unsigned char* entry) {
    memcpy(row + 3 * i, entry, 3);
}

// The bytes of the decoded-row buffer that hold columns first … last.
struct SampledBytes {
    uint32_t first;
    uint32_t count;
};

static SampledBytes BytesOfColumns(int64_t first, int64_t last, int bpp) {
    SampledBytes bytes = {0, 0};
    if (first > last) return bytes;
    uint64_t from = (uint64_t)first * (uint64_t)bpp / 8;
    uint64_t to = ((uint64_t)last * (uint64_t)bpp + (uint64_t)bpp + 7) / 8;
    bytes.first = (uint32_t)from;
    bytes.count = (uint32_t)(to - from);
    return bytes;
}

// Decodes the sampled row's bytes. A window that skips rows clears them
// first, so that where a row decodes short its tail is index 0, as before a
// window's first row, rather than whatever row was sampled last.
static bool ReadSampledRow(WindowFrame* frame, const RasterShape& shape, int64_t row,
                           int64_t previous, SampledBytes bytes) {
    if (row != previous + 1) memset(frame->decodedRow + bytes.first, 0, bytes.count);
    return ReadDecodedColumns(frame, shape, (int32_t)row, bytes.first, bytes.count);
}

struct Reduction {
    PixelRect source;
    uint32_t sourceWidth;
    uint32_t sourceHeight;
    uint32_t width;
    uint32_t height;
    bool average;
};

static bool SizeFits(uint64_t out, uint64_t source, bool average) {
    return out >= 1 && out <= (average ? source : source * kLargestEnlargement);
}

// Nearest sample: each sampled row is decoded once; an output row that
// samples the same chart row as the one above is a copy of it.
static bool ReduceNearest(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                          PaletteChoice palette) {
    int bpp = BitsPerPixel(shape.compressionType);
    if (!PrepareClippedWindow(frame, shape, r.width, r.height, bpp, palette)) return false;
    const WindowBitmap& bitmap = frame->bitmap;
    SampledBytes bytes = BytesOfColumns(r.source.left, r.source.right, bpp);
    int64_t sampled = -2;
    for (uint32_t j = 0; j < r.height; ++j) {
        unsigned char* out = bitmap.pixels + (uint64_t)j * bitmap.stride;
        int64_t row = r.source.top + (int64_t)NearestOffset(j, r.sourceHeight, r.height);
        if (row == sampled) {
            memcpy(out, out - bitmap.stride, bitmap.stride);
            continue;
        }
        if (!ReadSampledRow(frame, shape, row, sampled, bytes)) return false;
        sampled = row;
        for (uint32_t i = 0; i < r.width; ++i) {
            uint64_t x = (uint64_t)r.source.left + NearestOffset(i, r.sourceWidth, r.width);
            PutPixel(out, i, bpp, PixelOf(frame->decodedRow, x, bpp));
        }
    }
    return true;
}

// The colour table of a 24-bit window: 256 entries of the chosen palette.
static bool ColoursOf(const WindowFrame& frame, PaletteChoice palette, unsigned char* table) {
    memset(table, 0, 1024);
    return FillFrameColours(frame, palette, table, 256);
}

// Box of output position i: source offsets i·source/out … (i + 1)·source/out − 1.
static uint64_t BoxStart(uint64_t i, uint64_t source, uint64_t out) {
    return i * source / out;
}

// A row's pixels past its last run show what earlier rows left in the row
// buffer: a row decodes at most 19 pixels short, so only the raster's last
// 19 columns can show them, and they are kept here as the buffer would hold
// them.
const uint32_t kTailPixels = 19;

// One row's runs on their way into the accumulators of their output boxes.
struct AverageRow {
    const unsigned char* table;  // 256 entries of blue, green, red, reserved
    const uint64_t* boxEnds;     // the source column each box ends before
    uint64_t* sums;              // blue, green, red per box
    uint64_t left, end;          // source columns left … end - 1
    uint32_t box;
    uint64_t width;              // the raster's
    uint64_t tailStart;
    unsigned char tail[kTailPixels];
    uint32_t lastColour;
};

// Adds columns from … to - 1 of one colour, a piece per box they cross.
static void AddSpan(AverageRow* a, uint32_t colour, uint64_t from, uint64_t to) {
    const unsigned char* entry = a->table + 4 * colour;
    while (from < to) {
        while (a->boxEnds[a->box] <= from) ++a->box;
        uint64_t piece = to < a->boxEnds[a->box] ? to : a->boxEnds[a->box];
        uint64_t count = piece - from;
        uint64_t* sum = a->sums + 3 * (uint64_t)a->box;
        sum[0] += entry[0] * count;
        sum[1] += entry[1] * count;
        sum[2] += entry[2] * count;
        from = piece;
    }
}

static void KeepTail(AverageRow* a, uint32_t colour, uint64_t from, uint64_t to) {
    if (from < a->tailStart) from = a->tailStart;
    if (to > a->width) to = a->width;
    for (uint64_t x = from; x < to; ++x) a->tail[x - a->tailStart] = (unsigned char)colour;
}

static inline void AddRun(AverageRow* a, uint32_t colour, uint64_t position, uint64_t length) {
    uint64_t end = position + length;
    a->lastColour = colour;
    if (end > a->tailStart) KeepTail(a, colour, position, end);
    uint64_t from = position > a->left ? position : a->left;
    uint64_t to = end < a->end ? end : a->end;
    if (from < to) AddSpan(a, colour, from, to);
}

// After the row's runs: the free slots of its last byte take the last run's
// colour, and columns past the row's end show the tail.
static void FinishRow(AverageRow* a, uint64_t total, int bpp) {
    uint64_t slots = (uint64_t)8 / (uint64_t)bpp;
    if (total > 0 && total < a->width) KeepTail(a, a->lastColour, total, (total + slots - 1) / slots * slots);
    for (uint64_t x = total > a->left ? total : a->left; x < a->end; ++x)
        AddSpan(a, a->tail[x - a->tailStart], x, x + 1);
}

static void WriteAverages(const uint64_t* sums, const Reduction& r, uint64_t rows, unsigned char* out) {
    for (uint32_t i = 0; i < r.width; ++i) {
        uint64_t columns = BoxStart(i + 1, r.sourceWidth, r.width) - BoxStart(i, r.sourceWidth, r.width);
        uint64_t n = columns * rows;
        for (int c = 0; c < 3; ++c) out[3 * i + c] = (unsigned char)((sums[3 * i + c] + n / 2) / n);
    }
}

// Area average: the runs of every source row, read once, go into one output
// row of accumulators, a piece per box they cross; no pixel is decoded.
static bool ReduceAverage(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                          PaletteChoice palette) {
    int bpp = BitsPerPixel(shape.compressionType);
    unsigned char table[1024];
    if (!PrepareClippedWindow(frame, shape, r.width, r.height, 24, palette) ||
        !ColoursOf(*frame, palette, table))
        return false;
    uint64_t bytes = (uint64_t)r.width * 3 * sizeof(uint64_t);
    uint64_t* sums = (uint64_t*)Allocate(frame->memory, bytes + (uint64_t)r.width * sizeof(uint64_t));
    frame->region = (unsigned char*)sums;
    if (!sums) return Fail(frame->reporter, kCannotAllocateBitmap);
    uint64_t* boxEnds = sums + 3 * (uint64_t)r.width;
    for (uint32_t i = 0; i < r.width; ++i)
        boxEnds[i] = (uint64_t)r.source.left + BoxStart(i + 1, r.sourceWidth, r.width);
    AverageRow row;
    memset(&row, 0, sizeof(row));
    row.table = table;
    row.boxEnds = boxEnds;
    row.sums = sums;
    row.left = (uint64_t)r.source.left;
    row.end = (uint64_t)r.source.right + 1;
    row.width = (uint64_t)shape.width;
    row.tailStart = row.width > kTailPixels ? row.width - kTailPixels : 0;
    const WindowBitmap& bitmap = frame->bitmap;
    ReadAheadTo(frame, r.source.bottom);
    for (uint32_t j = 0; j < r.height; ++j) {
        uint64_t first = BoxStart(j, r.sourceHeight, r.height);
        uint64_t end = BoxStart(j + 1, r.sourceHeight, r.height);
        memset(sums, 0, (size_t)bytes);
        for (uint64_t y = first; y < end; ++y) {
            int32_t chartRow = r.source.top + (int32_t)y;
            RunReader runs;
            if (!ReadRowRuns(frame, shape, chartRow, &runs)) return false;
            row.box = 0;
            uint32_t colour;
            uint64_t position, length;
            while (NextRun(&runs, &colour, &position, &length)) AddRun(&row, colour, position, length);
            if (!EndRowRuns(frame, shape, chartRow, runs)) return false;
            FinishRow(&row, runs.total, bpp);
        }
        WriteAverages(sums, r, end - first, bitmap.pixels + (uint64_t)j * bitmap.stride);
    }
    return true;
}

// A box's sums stay below 2^64: at most 255 · box area each.
static bool SumsFit(const Reduction& r) {
    uint64_t boxWidth = r.sourceWidth / r.width + 1;
    uint64_t boxHeight = r.sourceHeight / r.height + 1;
    return boxWidth * boxHeight <= ((uint64_t)1 << 55);
}

static bool ReducePixelRect(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                            PaletteChoice palette) {
    if (r.average && !SumsFit(r)) return FailQuietly(frame->reporter, kStatusArgument);
    return r.average ? ReduceAverage(frame, shape, r, palette)
                     : ReduceNearest(frame, shape, r, palette);
}

static bool ReadShape(WindowFrame* frame, RasterShape* shape) {
    shape->compressionType = frame->compressionType;
    return ParseRasterSize(frame->text, &shape->width, &shape->height, frame->reporter);
}

static bool ReduceWindow(WindowFrame* frame, const PixelRect& source, uint32_t width,
                         uint32_t height, bool average, PaletteChoice palette) {
    RasterShape shape;
    if (!ReadShape(frame, &shape)) return false;
    bool inside = source.left >= 0 && source.top >= 0 && source.right <= shape.width - 1 &&
                  source.bottom <= shape.height - 1;
    if (!inside) return Fail(frame->reporter, kBeyondScope);
    Reduction r = {source, (uint32_t)(source.right - source.left + 1),
                   (uint32_t)(source.bottom - source.top + 1), width, height, average};
    if (!SizeFits(width, r.sourceWidth, average) || !SizeFits(height, r.sourceHeight, average))
        return FailQuietly(frame->reporter, kStatusArgument);
    return ReducePixelRect(frame, shape, r, palette);
}

// ---- Skewed charts ---------------------------------------------------------

// The full-size rotated window's sampling, taken at the output's nearest
// positions of it: output pixel (i, j) is the full window's pixel
// (i', j') = (nearest of i over W0, nearest of j over H0).
struct RotatedSampling {
    Region region;  // bounds only: the region is never filled
    Rotation rotation;
    uint64_t fullWidth, fullHeight;
    uint32_t width, height;
    int64_t firstColumn, lastColumn;  // chart columns the full window's region holds
};

static double ColumnTerm(const RotatedSampling& s, uint64_t i) {
    return s.rotation.sine * (double)NearestOffset(i, s.fullWidth, s.width);
}

static int64_t ClampedTrunc(double value, int64_t low, int64_t high) {
    double clamped = value >= (double)low ? value : (double)low;
    clamped = clamped <= (double)high ? clamped : (double)high;
    return (int64_t)clamped;
}

static int64_t SampleRow(const RotatedSampling& s, double columnTerm, uint32_t j) {
    double jj = (double)NearestOffset(j, s.fullHeight, s.height);
    return ClampedTrunc(columnTerm + (s.rotation.cosine * jj + s.rotation.originY), s.region.y0,
                        s.region.y1);
}

static int64_t SampleColumn(const RotatedSampling& s, uint32_t i, uint32_t j) {
    double ii = (double)NearestOffset(i, s.fullWidth, s.width);
    double jj = (double)NearestOffset(j, s.fullHeight, s.height);
    return ClampedTrunc(s.rotation.cosine * ii + (s.rotation.originX - s.rotation.sine * jj),
                        s.region.x0, s.region.x1);
}

// The chart columns the full-size window's region row holds: at 4 bits per
// pixel an odd count loses its last column to the byte rounding.
static void CopiedColumns(RotatedSampling* s, int32_t chartWidth, int bpp) {
    int64_t first = s->region.x0 > 0 ? s->region.x0 : 0;
    int64_t last = s->region.x1 < chartWidth - 1 ? s->region.x1 : chartWidth - 1;
    if (bpp == 4 && first <= last && ((last - first + 1) & 1)) --last;
    s->firstColumn = first;
    s->lastColumn = last;
}

struct ColumnWalk {
    double* columnTerms;
    uint32_t* nextRow;  // output rows taken so far, per column
};

// Along each output column the sampled chart row only ever grows (or, for
// a turn past 90 degrees, only shrinks, and the column is walked bottom up),
// so chart rows are visited in order, each decoded once.
static bool ResampleRotated(WindowFrame* frame, const RasterShape& shape, const RotatedSampling& s,
                            const ColumnWalk& walk, bool colour, const unsigned char* table) {
    const WindowBitmap& bitmap = frame->bitmap;
    int bpp = BitsPerPixel(shape.compressionType);
    SampledBytes bytes = BytesOfColumns(s.firstColumn, s.lastColumn, bpp);
    int64_t decoded = -2;
    bool upward = s.rotation.cosine < 0;
    const int64_t kDone = INT64_MAX;
    for (;;) {
        int64_t row = kDone;
        for (uint32_t i = 0; i < s.width; ++i) {
            if (walk.nextRow[i] >= s.height) continue;
            uint32_t j = upward ? s.height - 1 - walk.nextRow[i] : walk.nextRow[i];
            int64_t y = SampleRow(s, walk.columnTerms[i], j);
            if (y < row) row = y;
        }
        if (row == kDone) return true;
        bool onChart = row >= 0 && row <= shape.height - 1;
        if (onChart && !ReadSampledRow(frame, shape, row, decoded, bytes)) return false;
        if (onChart) decoded = row;
        for (uint32_t i = 0; i < s.width; ++i) {
            while (walk.nextRow[i] < s.height) {
                uint32_t j = upward ? s.height - 1 - walk.nextRow[i] : walk.nextRow[i];
                if (SampleRow(s, walk.columnTerms[i], j) != row) break;
                walk.nextRow[i] += 1;
                int64_t x = SampleColumn(s, i, j);
                uint32_t index = onChart && x >= s.firstColumn && x <= s.lastColumn
                                     ? PixelOf(frame->decodedRow, (uint64_t)x, bpp)
                                     : 0;
                unsigned char* out = bitmap.pixels + (uint64_t)j * bitmap.stride;
                if (colour) PutColour(out, i, table + 4 * index);
                else PutPixel(out, i, bpp, index);
            }
        }
    }
}

static bool ReduceRotated(WindowFrame* frame, const RasterShape& shape, const PixelCorners& corners,
                          double angle, uint32_t width, uint32_t height, bool colour,
                          PaletteChoice palette) {
    int bpp = BitsPerPixel(shape.compressionType);
    RotatedSampling s;
    int64_t fullWidth = 0, fullHeight = 0;
    RotatedWindowSize(corners, &fullWidth, &fullHeight);
    if (!SizeFits(width, (uint64_t)fullWidth, false) || !SizeFits(height, (uint64_t)fullHeight, false))
        return FailQuietly(frame->reporter, kStatusArgument);
    s.fullWidth = (uint64_t)fullWidth;
    s.fullHeight = (uint64_t)fullHeight;
    s.width = width;
    s.height = height;
    BoundRegion(corners, bpp, &s.region);
    double theta = angle * kRadiansPerDegree;
    s.rotation.sine = sin(theta);
    s.rotation.cosine = cos(theta);
    s.rotation.originX = (double)corners.ipx[0];
    s.rotation.originY = (double)corners.ipy[0];
    CopiedColumns(&s, shape.width, bpp);
    unsigned char table[1024];
    if (!PrepareClippedWindow(frame, shape, width, height, colour ? 24 : bpp, palette) ||
        (colour && !ColoursOf(*frame, palette, table)))
        return false;
    uint64_t bytes = (uint64_t)width * (sizeof(double) + sizeof(uint32_t));
    unsigned char* block = (unsigned char*)Allocate(frame->memory, bytes);
    frame->region = block;
    if (!block) return Fail(frame->reporter, kCannotAllocateBitmap);
    ColumnWalk walk = {(double*)block, (uint32_t*)(block + (uint64_t)width * sizeof(double))};
    for (uint32_t i = 0; i < width; ++i) walk.columnTerms[i] = ColumnTerm(s, i);
    return ResampleRotated(frame, shape, s, walk, colour, table);
}

static bool ReduceWorldWindow(WindowFrame* frame, const WorldRequest& request, uint32_t width,
                              uint32_t height, bool average, PaletteChoice palette) {
    RasterShape shape;
    double angle = 0.0;
    double cph = 0.0;
    PixelCorners corners;
    if (!ReadShape(frame, &shape) || !ParseSkewAngle(frame->text, &angle, frame->reporter) ||
        !ParseCph(frame->text, &cph, frame->reporter) ||
        !LocateCorners(frame->text, request, cph, &corners, frame->reporter))
        return false;
    if (IsSkewed(angle))
        return ReduceRotated(frame, shape, corners, angle, width, height, average, palette);
    PixelRect source = {corners.ipx[0] > 0 ? corners.ipx[0] : 0,
                        corners.ipy[0] > 0 ? corners.ipy[0] : 0,
                        corners.ipx[1] < shape.width - 1 ? corners.ipx[1] : shape.width - 1,
                        corners.ipy[3] < shape.height - 1 ? corners.ipy[3] : shape.height - 1};
    if (source.left > source.right || source.top > source.bottom)
        return Fail(frame->reporter, kBeyondScope);
    return ReduceWindow(frame, source, width, height, average, palette);
}

struct ReducedRequest {
    PixelRect source;
    WorldRequest world;
    uint32_t width;
    uint32_t height;
    bool average;
    PaletteChoice palette;
};

static bool CutReducedWindow(WindowFrame* frame, const void* request) {
    const ReducedRequest* r = (const ReducedRequest*)request;
    return ReduceWindow(frame, r->source, r->width, r->height, r->average, r->palette);
}

static bool CutReducedWorldWindow(WindowFrame* frame, const void* request) {
    const ReducedRequest* r = (const ReducedRequest*)request;
    return ReduceWorldWindow(frame, r->world, r->width, r->height, r->average, r->palette);
}

const uint32_t kReducedFlags = BSBCHART_DOUBLED_COLOURS | BSBCHART_AREA_AVERAGE;

}  // namespace bsb

bsbchart_status bsbchart_reduced_window(const bsbchart* chart, bsbchart_rect source, uint32_t width,
                                        uint32_t height, int32_t palette, uint32_t flags,
                                        const bsbchart_allocator* allocator, void** bitmap,
                                        bsbchart_error* error) {
    if (bitmap) *bitmap = 0;
    bsb::ReducedRequest request = {{source.left, source.top, source.right, source.bottom},
                                   {},
                                   width,
                                   height,
                                   (flags & BSBCHART_AREA_AVERAGE) != 0,
                                   {0, false, 0}};
    if (!chart || !bitmap || !bsb::ValidAllocator(allocator) || source.right < source.left ||
        source.bottom < source.top ||
        !bsb::ChoosePalette(palette, flags, bsb::kReducedFlags, &request.palette))
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    return bsb::RunHandleWindow(chart, allocator, bsb::CutReducedWindow, &request, bitmap, error);
}

bsbchart_status bsbchart_reduced_world_window(const bsbchart* chart, double west, double north,
                                              double east, double south, uint32_t width,
                                              uint32_t height, int32_t palette, uint32_t flags,
                                              const bsbchart_allocator* allocator, void** bitmap,
                                              bsbchart_error* error) {
    if (bitmap) *bitmap = 0;
    bsb::ReducedRequest request = {{0, 0, 0, 0},
                                   bsb::RequestOf(west, north, east, south),
                                   width,
                                   height,
                                   (flags & BSBCHART_AREA_AVERAGE) != 0,
                                   {0, false, 0}};
    bool ordered = west <= east && south <= north;  // false for NaN too
    if (!chart || !bitmap || !bsb::ValidAllocator(allocator) || !ordered ||
        !bsb::ChoosePalette(palette, flags, bsb::kReducedFlags, &request.palette))
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    return bsb::RunHandleWindow(chart, allocator, bsb::CutReducedWorldWindow, &request, bitmap,
                                error);
}
