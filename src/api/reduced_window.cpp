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
    if (!PrepareWindow(frame, shape, r.width, r.height, bpp, palette)) return false;
    const WindowBitmap& bitmap = frame->bitmap;
    int64_t sampled = -1;
    for (uint32_t j = 0; j < r.height; ++j) {
        unsigned char* out = bitmap.pixels + (uint64_t)j * bitmap.stride;
        int64_t row = r.source.top + (int64_t)NearestOffset(j, r.sourceHeight, r.height);
        if (row == sampled) {
            memcpy(out, out - bitmap.stride, bitmap.stride);
            continue;
        }
        if (!ReadDecodedRow(frame, shape, (int32_t)row)) return false;
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
    return FillColourTable(frame.text, palette, table, 256, frame.reporter);
}

// Box of output position i: source offsets i·source/out … (i + 1)·source/out − 1.
static uint64_t BoxStart(uint64_t i, uint64_t source, uint64_t out) {
    return i * source / out;
}

// Where the stretch of colour `value` that holds pixel x ends, at `limit`
// at the latest: pixel by pixel up to a byte boundary, then eight bytes at
// a time while whole bytes hold the colour.
template <int kBpp>
static inline uint64_t StretchEnd(const unsigned char* row, uint64_t x, uint64_t limit,
                                  uint32_t value) {
    const int kShift = PixelsPerByteShift(kBpp);
    const uint64_t kSlots = (uint64_t)1 << kShift;
    uint64_t end = x + 1;
    while (end < limit && (end & (kSlots - 1)) != 0) {
        if (PixelAt<kBpp>(row, end) != value) return end;
        ++end;
    }
    unsigned char pattern = (unsigned char)(value * (kBpp == 8 ? 1u : (kBpp == 4 ? 0x11u : 0xFFu)));
    uint64_t wide = pattern * 0x0101010101010101ull;
    while (end + 8 * kSlots <= limit) {
        uint64_t word;
        memcpy(&word, row + (end >> kShift), 8);
        if (word != wide) break;
        end += 8 * kSlots;
    }
    while (end + kSlots <= limit && row[end >> kShift] == pattern) end += kSlots;
    while (end < limit && PixelAt<kBpp>(row, end) == value) ++end;
    return end;
}

// Adds the row's pixels into the accumulators of their output boxes, one
// stretch of one colour inside one box at a time. `boxEnds` holds the source
// column each box ends before.
template <int kBpp>
static void AccumulateStretches(const unsigned char* decoded, const Reduction& r,
                                const unsigned char* table, const uint64_t* boxEnds,
                                uint64_t* sums) {
    uint64_t x = (uint64_t)r.source.left;
    for (uint32_t box = 0; box < r.width; ++box) {
        uint64_t boxEnd = boxEnds[box];
        uint64_t* sum = sums + 3 * box;
        while (x < boxEnd) {
            uint32_t index = PixelAt<kBpp>(decoded, x);
            uint64_t end = StretchEnd<kBpp>(decoded, x, boxEnd, index);
            uint64_t count = end - x;
            const unsigned char* entry = table + 4 * index;
            sum[0] += entry[0] * count;
            sum[1] += entry[1] * count;
            sum[2] += entry[2] * count;
            x = end;
        }
    }
}

static void AccumulateRow(const unsigned char* decoded, const Reduction& r, int bpp,
                          const unsigned char* table, const uint64_t* boxEnds, uint64_t* sums) {
    if (bpp == 8) AccumulateStretches<8>(decoded, r, table, boxEnds, sums);
    else if (bpp == 4) AccumulateStretches<4>(decoded, r, table, boxEnds, sums);
    else AccumulateStretches<1>(decoded, r, table, boxEnds, sums);
}

static void WriteAverages(const uint64_t* sums, const Reduction& r, uint64_t rows, unsigned char* out) {
    for (uint32_t i = 0; i < r.width; ++i) {
        uint64_t columns = BoxStart(i + 1, r.sourceWidth, r.width) - BoxStart(i, r.sourceWidth, r.width);
        uint64_t n = columns * rows;
        for (int c = 0; c < 3; ++c) out[3 * i + c] = (unsigned char)((sums[3 * i + c] + n / 2) / n);
    }
}

// Area average: every source row is decoded once, into one output row of
// accumulators.
static bool ReduceAverage(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                          PaletteChoice palette) {
    int bpp = BitsPerPixel(shape.compressionType);
    unsigned char table[1024];
    if (!PrepareWindow(frame, shape, r.width, r.height, 24, palette) ||
        !ColoursOf(*frame, palette, table))
        return false;
    uint64_t bytes = (uint64_t)r.width * 3 * sizeof(uint64_t);
    uint64_t* sums = (uint64_t*)Allocate(frame->memory, bytes + (uint64_t)r.width * sizeof(uint64_t));
    frame->region = (unsigned char*)sums;
    if (!sums) return Fail(frame->reporter, kCannotAllocateBitmap);
    uint64_t* boxEnds = sums + 3 * (uint64_t)r.width;
    for (uint32_t i = 0; i < r.width; ++i)
        boxEnds[i] = (uint64_t)r.source.left + BoxStart(i + 1, r.sourceWidth, r.width);
    const WindowBitmap& bitmap = frame->bitmap;
    for (uint32_t j = 0; j < r.height; ++j) {
        uint64_t first = BoxStart(j, r.sourceHeight, r.height);
        uint64_t end = BoxStart(j + 1, r.sourceHeight, r.height);
        memset(sums, 0, (size_t)bytes);
        for (uint64_t y = first; y < end; ++y) {
            if (!ReadDecodedRow(frame, shape, r.source.top + (int32_t)y)) return false;
            AccumulateRow(frame->decodedRow, r, bpp, table, boxEnds, sums);
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
        if (onChart && !ReadDecodedRow(frame, shape, (int32_t)row)) return false;
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
    if (!PrepareWindow(frame, shape, width, height, colour ? 24 : bpp, palette) ||
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
                                   {0, false}};
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
                                   {0, false}};
    bool ordered = west <= east && south <= north;  // false for NaN too
    if (!chart || !bitmap || !bsb::ValidAllocator(allocator) || !ordered ||
        !bsb::ChoosePalette(palette, flags, bsb::kReducedFlags, &request.palette))
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    return bsb::RunHandleWindow(chart, allocator, bsb::CutReducedWorldWindow, &request, bitmap,
                                error);
}
