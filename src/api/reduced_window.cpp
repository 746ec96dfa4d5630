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
// the source pixel under the output pixel's centre, (2i + 1)·source / 2out
// in exact integers. Taken apart by source's quotient and remainder it stays
// inside 64 bits for any source while out is below 2^31.
static uint64_t NearestOffset(uint64_t i, uint64_t source, uint64_t out) {
    uint64_t twice = 2 * out;
    return (2 * i + 1) * (source / twice) + ((2 * i + 1) * (source % twice)) / twice;
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

// An output side of at least 1, at most the source's (an average) or 8
// times it, and below 2^31.
static bool SizeFits(uint64_t out, uint64_t source, bool average) {
    uint64_t largest = average || source > INT32_MAX ? source : source * kLargestEnlargement;
    return out >= 1 && out <= largest && out <= INT32_MAX;
}

// Source columns in nondecreasing order, counted from the source's left, and
// how many of them lie before a given column, found without a search. Where
// two bytes a source column take no more than about 32 per column of the
// table, a 16-bit count is kept for every source column. Otherwise a block of
// the table is no wider than the narrowest gap between two of the columns,
// so it holds at most one, and the count at the block's start tells all but
// that one.
struct ColumnTable {
    const uint32_t* column;  // `count` of them, then one past them all
    const uint32_t* before;  // columns before each block's first
    const uint16_t* exact;   // columns before each source column, or NULL
    int blockShift;
    uint32_t count;
    uint64_t left;
    uint64_t limit;  // offsets from the left are looked up as far as this
};

// The columns before offset `at` from the left, at most the limit.
static inline uint32_t ColumnsBeforeOffset(const ColumnTable& t, uint64_t at) {
    if (t.exact) return t.exact[at];
    uint32_t n = t.before[at >> t.blockShift];
    return n + (t.column[n] < at ? 1u : 0u);
}

static inline uint32_t ColumnsBefore(const ColumnTable& t, uint64_t column) {
    uint64_t at = column > t.left ? column - t.left : 0;
    return ColumnsBeforeOffset(t, at < t.limit ? at : t.limit);
}

// The largest power of two at most `gap` (1 for 0), as a shift.
static int BlockShiftFor(uint64_t gap) {
    int shift = 0;
    while (shift < 62 && ((uint64_t)2 << shift) <= gap) ++shift;
    return shift;
}

// Offsets are looked up as far as one past the source.
static bool ExactTable(const Reduction& r, uint32_t count) {
    return count < 65536 && (uint64_t)r.sourceWidth + 2 <= 16 * ((uint64_t)count + 1);
}

// The columns of a reduction lie at least sourceWidth / width apart.
static uint64_t TableBlocks(const Reduction& r) {
    return (((uint64_t)r.sourceWidth + 1) >> BlockShiftFor(r.sourceWidth / r.width)) + 1;
}

// Bytes of a table of `count` columns for `r`, a multiple of 8.
static uint64_t ColumnTableBytes(const Reduction& r, uint32_t count) {
    uint64_t columns = ((uint64_t)count + 1) * sizeof(uint32_t);
    uint64_t counts = ExactTable(r, count) ? ((uint64_t)r.sourceWidth + 2) * sizeof(uint16_t)
                                           : TableBlocks(r) * sizeof(uint32_t);
    return (columns + counts + 7) / 8 * 8;
}

// Completes the table whose `count` columns the caller has put at `block`.
static ColumnTable LayColumnTable(const Reduction& r, uint32_t* block, uint32_t count) {
    ColumnTable t;
    block[count] = UINT32_MAX;
    t.column = block;
    t.before = block + count + 1;
    t.exact = 0;
    t.blockShift = 0;
    t.count = count;
    t.left = (uint64_t)r.source.left;
    t.limit = (uint64_t)r.sourceWidth + 1;
    uint32_t n = 0;
    if (ExactTable(r, count)) {
        uint16_t* exact = (uint16_t*)(block + count + 1);
        for (uint64_t at = 0; at <= t.limit; ++at) {
            while (n < count && block[n] < at) ++n;
            exact[at] = (uint16_t)n;
        }
        t.exact = exact;
        return t;
    }
    uint32_t* before = block + count + 1;
    t.blockShift = BlockShiftFor(r.sourceWidth / r.width);
    uint64_t blocks = TableBlocks(r);
    for (uint64_t k = 0; k < blocks; ++k) {
        while (n < count && block[n] < (k << t.blockShift)) ++n;
        before[k] = n;
    }
    return t;
}

// Packs one index a byte into the row's pixel format; `samples` has room
// for 7 more, which are cleared here.
template <int kBpp>
static void PackSamples(unsigned char* samples, uint32_t count, unsigned char* out) {
    if (kBpp == 8) {
        memcpy(out, samples, count);
        return;
    }
    memset(samples + count, 0, 7);
    if (kBpp == 4) {
        uint32_t i = 0;
        const uint64_t kEven = 0x00FF00FF00FF00FFull;
        for (; kLittleEndian && i + 8 <= count; i += 8) {  // eight samples to four bytes at once
            uint64_t word;
            memcpy(&word, samples + i, 8);
            uint64_t pairs = ((word & kEven) << 4) | ((word >> 8) & kEven);
            pairs = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFull;
            uint32_t bytes = (uint32_t)(pairs | (pairs >> 16));
            memcpy(out + (i >> 1), &bytes, 4);
        }
        for (; i < count; i += 2) out[i >> 1] = (unsigned char)(samples[i] << 4 | samples[i + 1]);
        return;
    }
    for (uint32_t i = 0; i < count; i += 8) {
        uint32_t byte = 0;
        for (uint32_t k = 0; k < 8; ++k) byte = (byte << 1) | samples[i + k];
        out[i >> 3] = (unsigned char)byte;
    }
}

// A row's runs into `samples`, one index a byte, with room for 7 more. Each
// run stores its colour at the next 4 samples whether or not they lie in it;
// the run that holds a sample comes last to it.
struct RowSampler {
    ColumnTable columns;  // a copy, which stores to the samples cannot touch
    unsigned char* samples;
    uint32_t taken;   // samples before the end of the last run
    uint32_t colour;  // the last run's

    inline bool operator()(uint32_t runColour, uint64_t end) {
        uint32_t next = ColumnsBefore(columns, end);
        uint32_t four = runColour * 0x01010101u;
        memcpy(samples + taken, &four, 4);
        if (next - taken > 4) memset(samples + taken, (int)runColour, next - taken);
        taken = next;
        colour = runColour;
        return taken < columns.count;
    }
};

// Samples one chart row's runs; the runs after the last sample are only
// counted. Where the row ends short, a sample in the byte of its last pixel
// shows the last run's colour and one past it what the row buffer would
// hold there: the row above, when the output row above sampled it, else
// index 0.
template <int kBpp>
static bool SampleRow(WindowFrame* frame, const RasterShape& shape, int64_t row, bool rowAbove,
                      const ColumnTable& columns, unsigned char* samples, const unsigned char* above) {
    RunReader runs;
    if (!ReadRowRuns(frame, shape, (int32_t)row, &runs)) return false;
    // Runs whose last pixel shares a byte with a sample are seen, so that
    // the last run's colour is known for the rule below.
    runs = SkipRuns(runs, columns.left & ~(uint64_t)7);
    RowSampler sampler = {columns, samples, 0, 0};
    VisitRuns(&runs, sampler);
    runs = SkipRuns(runs, kTotalCeiling);
    auto count = [](uint32_t, uint64_t) { return true; };
    VisitRuns(&runs, count);
    if (!EndRowRuns(frame, shape, (int32_t)row, runs)) return false;
    const int kShift = PixelsPerByteShift(kBpp);
    uint64_t lastByte = (runs.total - 1) >> kShift;
    for (uint32_t i = sampler.taken; i < columns.count; ++i) {
        uint64_t x = columns.left + columns.column[i];
        bool inLastByte = runs.total > 0 && x >> kShift == lastByte;
        samples[i] = (unsigned char)(inLastByte ? sampler.colour : rowAbove ? PixelAt<kBpp>(above, i) : 0);
    }
    return true;
}

// Nearest sample: each sampled row is read once and sampled from its runs;
// an output row that samples the same chart row as the one above is a copy
// of it.
template <int kBpp>
static bool SampleRows(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                       const ColumnTable& columns, unsigned char* samples) {
    const WindowBitmap& bitmap = frame->bitmap;
    int64_t sampled = -2;
    for (uint32_t j = 0; j < r.height; ++j) {
        unsigned char* out = bitmap.pixels + (uint64_t)j * bitmap.stride;
        int64_t row = r.source.top + (int64_t)NearestOffset(j, r.sourceHeight, r.height);
        if (row == sampled) {
            memcpy(out, out - bitmap.stride, bitmap.stride);
            continue;
        }
        if (!SampleRow<kBpp>(frame, shape, row, row == sampled + 1, columns, samples, out - bitmap.stride))
            return false;
        PackSamples<kBpp>(samples, r.width, out);
        sampled = row;
    }
    return true;
}

static bool ReduceNearest(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                          PaletteChoice palette) {
    int bpp = BitsPerPixel(shape.compressionType);
    if (!PrepareClippedWindow(frame, shape, r.width, r.height, bpp, palette)) return false;
    uint64_t layout = ColumnTableBytes(r, r.width);
    unsigned char* block = (unsigned char*)Allocate(frame->memory, layout + r.width + 7);
    frame->region = block;
    if (!block) return Fail(frame->reporter, kCannotAllocateBitmap);
    uint32_t* x = (uint32_t*)block;
    for (uint32_t i = 0; i < r.width; ++i) x[i] = (uint32_t)NearestOffset(i, r.sourceWidth, r.width);
    ColumnTable columns = LayColumnTable(r, x, r.width);
    unsigned char* samples = block + layout;
    if (bpp == 8) return SampleRows<8>(frame, shape, r, columns, samples);
    if (bpp == 4) return SampleRows<4>(frame, shape, r, columns, samples);
    return SampleRows<1>(frame, shape, r, columns, samples);
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

struct RowTail {
    uint64_t start;  // the raster's width less 19
    uint64_t width;
    unsigned char colour[kTailPixels];
};

static void KeepTail(RowTail* tail, uint32_t colour, uint64_t from, uint64_t to) {
    if (from < tail->start) from = tail->start;
    if (to > tail->width) to = tail->width;
    for (uint64_t x = from; x < to; ++x) tail->colour[x - tail->start] = (unsigned char)colour;
}

// One output row of accumulators. A row's colour, as a function of the
// column, steps at its run boundaries (the step: the colour before less the
// colour after). A box's sum is then its width times the steps in the boxes
// after it, which `slope` collects per box, plus each step in the box times
// its distance into the box, which `offset` collects as step × column and
// is set right by the box's start when the sums are taken. One more box
// takes the steps at the source's end. The words wrap around below zero but
// end up with the sums.
//
// While a row cannot take a box's sum past 21 bits (boxes up to 8224
// columns), blue, green and red go packed into 21-bit fields of one word,
// which the sums leave intact, and the fields are taken into `total` often
// enough to stay so. Wider boxes take a word per colour.
struct BoxSums {
    const unsigned char* colours;  // blue, green, red, reserved of each index, then of nothing
    const uint64_t* packed;        // the same packed
    ColumnTable boxes;             // the box starts from the second box on
    const uint32_t* start;         // each box's first column from the source's left, then its width
    uint64_t* slope;
    uint64_t* offset;
    uint64_t* total;  // blue, green, red per box, packed words only
    uint64_t left, end;  // source columns left … end - 1
};

const uint32_t kNoColour = 256;
const int kFieldBits = 21;
const uint64_t kFieldMask = ((uint64_t)1 << kFieldBits) - 1;

// The colour steps from `from` to `to` at column x, no further right than
// the source's end; a step left of the source counts as at its left.
template <int kWords>
static inline void AddStep(const BoxSums& sums, uint64_t x, uint32_t from, uint32_t to) {
    uint64_t column = x > sums.left ? x - sums.left : 0;
    uint32_t box = ColumnsBeforeOffset(sums.boxes, column + 1);
    if (kWords == 1) {
        uint64_t step = sums.packed[from] - sums.packed[to];
        sums.slope[box] += step;
        sums.offset[box] += step * column;
        return;
    }
    const unsigned char* before = sums.colours + 4 * from;
    const unsigned char* after = sums.colours + 4 * to;
    uint64_t* slope = sums.slope + 3 * (uint64_t)box;
    uint64_t* offset = sums.offset + 3 * (uint64_t)box;
    for (int k = 0; k < 3; ++k) {
        uint64_t step = (uint64_t)before[k] - after[k];
        slope[k] += step;
        offset[k] += step * column;
    }
}

// The runs up to the one that reaches the source's end, as steps; each run
// that reaches into the tail is kept there.
template <int kWords>
struct StepVisit {
    BoxSums sums;  // a copy, which stores to the sums cannot touch
    RowTail* tail;
    uint64_t position;  // where the next run starts
    uint32_t colour;    // of the run before it

    inline bool operator()(uint32_t runColour, uint64_t end) {
        AddStep<kWords>(sums, position, colour, runColour);
        if (end > tail->start) KeepTail(tail, runColour, position, end);
        position = end;
        colour = runColour;
        return end < sums.end;
    }
};

// The runs after the source's end: only the tail is kept.
struct TailVisit {
    RowTail* tail;
    uint64_t position;
    uint32_t colour;

    inline bool operator()(uint32_t runColour, uint64_t end) {
        if (end > tail->start) KeepTail(tail, runColour, position, end);
        position = end;
        colour = runColour;
        return true;
    }
};

// Skips the runs that end before column `column`, and one column more, so
// that the run ending there is still seen.
static RunReader SkipRunsBefore(RunReader runs, uint64_t column) {
    return column > 0 ? SkipRuns(runs, column - 1) : runs;
}

// One source row into the sums. Columns past the row's end show the tail,
// the free slots of its last byte having taken the last run's colour.
template <int kWords>
static bool AddRow(WindowFrame* frame, const RasterShape& shape, int32_t row, const BoxSums& sums,
                   RowTail* tail, int bpp) {
    RunReader runs;
    if (!ReadRowRuns(frame, shape, row, &runs)) return false;
    runs = SkipRunsBefore(runs, sums.left < tail->start ? sums.left : tail->start);
    StepVisit<kWords> steps = {sums, tail, runs.total, kNoColour};
    VisitRuns(&runs, steps);
    runs = SkipRunsBefore(runs, tail->start);
    TailVisit rest = {tail, runs.total, steps.colour};
    VisitRuns(&runs, rest);
    if (!EndRowRuns(frame, shape, row, runs)) return false;
    uint64_t total = runs.total;
    uint64_t slots = (uint64_t)8 / (uint64_t)bpp;
    if (total > 0 && total < tail->width)
        KeepTail(tail, rest.colour, total, (total + slots - 1) / slots * slots);
    uint32_t colour = steps.colour;
    for (uint64_t x = steps.position; x < sums.end; ++x) {
        uint32_t shown = tail->colour[x - tail->start];
        AddStep<kWords>(sums, x, colour, shown);
        colour = shown;
    }
    AddStep<kWords>(sums, sums.end, colour, kNoColour);
    return true;
}

// Box i's sum from its words: `after` holds the slopes of the boxes after it.
static inline uint64_t BoxSum(const BoxSums& sums, uint32_t i, uint64_t after, uint64_t slope,
                              uint64_t offset) {
    uint64_t columns = sums.start[i + 1] - sums.start[i];
    return columns * after + offset - sums.start[i] * slope;
}

static unsigned char RoundedAverage(uint64_t sum, uint64_t n) {
    return (unsigned char)((sum + n / 2) / n);
}

// Takes the packed fields into the totals and clears the words.
static void TakePackedSums(const BoxSums& sums, uint32_t width) {
    uint64_t after = sums.slope[width];
    for (uint32_t i = width; i-- > 0;) {
        uint64_t packed = BoxSum(sums, i, after, sums.slope[i], sums.offset[i]);
        for (int k = 0; k < 3; ++k) sums.total[3 * i + k] += (packed >> (kFieldBits * k)) & kFieldMask;
        after += sums.slope[i];
    }
    memset(sums.slope, 0, ((size_t)width + 1) * sizeof(uint64_t));
    memset(sums.offset, 0, ((size_t)width + 1) * sizeof(uint64_t));
}

// The averages of an output row: from the totals of packed words, or from
// the words of each colour, which are then cleared.
template <int kWords>
static void WriteAverages(const BoxSums& sums, uint32_t width, uint64_t rows, unsigned char* out) {
    uint64_t after[3] = {0, 0, 0};
    if (kWords == 3)
        for (int k = 0; k < 3; ++k) after[k] = sums.slope[3 * (uint64_t)width + k];
    for (uint32_t i = width; i-- > 0;) {
        uint64_t n = (uint64_t)(sums.start[i + 1] - sums.start[i]) * rows;
        for (int k = 0; k < 3; ++k) {
            uint64_t at = 3 * (uint64_t)i + k;
            uint64_t sum = kWords == 1 ? sums.total[at] : BoxSum(sums, i, after[k], sums.slope[at], sums.offset[at]);
            out[3 * i + k] = RoundedAverage(sum, n);
            if (kWords == 3) after[k] += sums.slope[at];
        }
    }
    uint64_t words = kWords == 1 ? 3 * (uint64_t)width : 3 * ((uint64_t)width + 1);
    memset(kWords == 1 ? sums.total : sums.slope, 0, (size_t)words * sizeof(uint64_t));
    if (kWords == 3) memset(sums.offset, 0, (size_t)words * sizeof(uint64_t));
}

// Rows of a reduction whose sums packed fields hold at once; 0 when one row
// is too many.
static uint64_t PackedRows(const Reduction& r) {
    uint64_t widest = (r.sourceWidth + r.width - 1) / r.width;
    return kFieldMask / (255 * widest);
}

template <int kWords>
static bool AverageRows(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                        const BoxSums& sums, int bpp) {
    RowTail tail;
    memset(&tail, 0, sizeof(tail));
    tail.width = (uint64_t)shape.width;
    tail.start = tail.width > kTailPixels ? tail.width - kTailPixels : 0;
    uint64_t packedRows = PackedRows(r);
    const WindowBitmap& bitmap = frame->bitmap;
    ReadAheadTo(frame, r.source.bottom);
    for (uint32_t j = 0; j < r.height; ++j) {
        uint64_t first = BoxStart(j, r.sourceHeight, r.height);
        uint64_t end = BoxStart(j + 1, r.sourceHeight, r.height);
        for (uint64_t y = first; y < end; ++y) {
            if (!AddRow<kWords>(frame, shape, r.source.top + (int32_t)y, sums, &tail, bpp)) return false;
            if (kWords == 1 && ((y - first + 1) % packedRows == 0 || y + 1 == end))
                TakePackedSums(sums, r.width);
        }
        WriteAverages<kWords>(sums, r.width, end - first, bitmap.pixels + (uint64_t)j * bitmap.stride);
    }
    return true;
}

// Area average: the runs of every source row, read once, go into one output
// row of accumulators as the steps at their boundaries; no pixel is decoded.
static bool ReduceAverage(WindowFrame* frame, const RasterShape& shape, const Reduction& r,
                          PaletteChoice palette) {
    int bpp = BitsPerPixel(shape.compressionType);
    unsigned char table[4 * (kNoColour + 1)];
    if (!PrepareClippedWindow(frame, shape, r.width, r.height, 24, palette) ||
        !ColoursOf(*frame, palette, table))
        return false;
    memset(table + 4 * kNoColour, 0, 4);
    uint64_t packed[kNoColour + 1];
    for (uint32_t k = 0; k <= kNoColour; ++k)
        packed[k] = table[4 * k] | (uint64_t)table[4 * k + 1] << kFieldBits |
                    (uint64_t)table[4 * k + 2] << (2 * kFieldBits);
    int words = PackedRows(r) > 0 ? 1 : 3;
    uint64_t boxes = (uint64_t)r.width + 1;
    uint64_t wordBytes = 2 * boxes * (uint64_t)words * sizeof(uint64_t);
    uint64_t totalBytes = words == 1 ? 3 * (uint64_t)r.width * sizeof(uint64_t) : 0;
    uint64_t tableBytes = sizeof(uint32_t) + ColumnTableBytes(r, r.width);
    unsigned char* block = (unsigned char*)Allocate(frame->memory, wordBytes + totalBytes + tableBytes);
    frame->region = block;
    if (!block) return Fail(frame->reporter, kCannotAllocateBitmap);
    BoxSums sums;
    sums.colours = table;
    sums.packed = packed;
    sums.slope = (uint64_t*)block;
    sums.offset = sums.slope + boxes * (uint64_t)words;
    sums.total = sums.offset + boxes * (uint64_t)words;
    uint32_t* start = (uint32_t*)(block + wordBytes + totalBytes);
    for (uint32_t i = 0; i <= r.width; ++i) start[i] = (uint32_t)BoxStart(i, r.sourceWidth, r.width);
    sums.start = start;
    sums.boxes = LayColumnTable(r, start + 1, r.width);
    sums.left = (uint64_t)r.source.left;
    sums.end = (uint64_t)r.source.right + 1;
    return words == 1 ? AverageRows<1>(frame, shape, r, sums, bpp)
                      : AverageRows<3>(frame, shape, r, sums, bpp);
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

static int64_t ClampedTrunc(double value, int64_t low, int64_t high) {
    double clamped = value >= (double)low ? value : (double)low;
    clamped = clamped <= (double)high ? clamped : (double)high;
    return (int64_t)clamped;
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

// The walk over the output's columns: the full window's positions of the
// output's columns and rows, and per column the output rows taken so far
// and the chart row of the next.
struct ColumnWalk {
    const double* fullColumn;
    const double* fullRow;
    double* columnTerms;  // sin θ · the full window's column
    uint32_t* nextRow;
    int64_t* nextChartRow;
};

const int64_t kWalkDone = INT64_MAX;

static uint32_t OutputRow(const RotatedSampling& s, uint32_t taken) {
    return s.rotation.cosine < 0 ? s.height - 1 - taken : taken;
}

static int64_t SampleRow(const RotatedSampling& s, const ColumnWalk& walk, uint32_t i, uint32_t j) {
    double jj = walk.fullRow[j];
    return ClampedTrunc(walk.columnTerms[i] + (s.rotation.cosine * jj + s.rotation.originY), s.region.y0,
                        s.region.y1);
}

static int64_t SampleColumn(const RotatedSampling& s, const ColumnWalk& walk, uint32_t i, uint32_t j) {
    double ii = walk.fullColumn[i];
    double jj = walk.fullRow[j];
    return ClampedTrunc(s.rotation.cosine * ii + (s.rotation.originX - s.rotation.sine * jj),
                        s.region.x0, s.region.x1);
}

// The chart row of column i's next sample, or kWalkDone past its last.
static int64_t NextChartRow(const RotatedSampling& s, const ColumnWalk& walk, uint32_t i) {
    if (walk.nextRow[i] >= s.height) return kWalkDone;
    return SampleRow(s, walk, i, OutputRow(s, walk.nextRow[i]));
}

// Along each output column the sampled chart row only ever grows (or, for
// a turn past 90 degrees, only shrinks, and the column is walked bottom up),
// so chart rows are visited in order, each decoded once.
static bool ResampleRotated(WindowFrame* frame, const RasterShape& shape, const RotatedSampling& s,
                            const ColumnWalk& walk, bool colour, const unsigned char* table) {
    const WindowBitmap& bitmap = frame->bitmap;
    int bpp = BitsPerPixel(shape.compressionType);
    SampledBytes bytes = BytesOfColumns(s.firstColumn, s.lastColumn, bpp);
    int64_t decoded = -2;
    for (;;) {
        int64_t row = kWalkDone;
        for (uint32_t i = 0; i < s.width; ++i) row = walk.nextChartRow[i] < row ? walk.nextChartRow[i] : row;
        if (row == kWalkDone) return true;
        bool onChart = row >= 0 && row <= shape.height - 1;
        if (onChart && !ReadSampledRow(frame, shape, row, decoded, bytes)) return false;
        if (onChart) decoded = row;
        for (uint32_t i = 0; i < s.width; ++i) {
            while (walk.nextChartRow[i] == row) {
                uint32_t j = OutputRow(s, walk.nextRow[i]);
                walk.nextRow[i] += 1;
                walk.nextChartRow[i] = NextChartRow(s, walk, i);
                int64_t x = SampleColumn(s, walk, i, j);
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
    uint64_t perColumn = 3 * sizeof(double) + sizeof(uint32_t);
    uint64_t bytes = (uint64_t)width * perColumn + (uint64_t)height * sizeof(double);
    unsigned char* block = (unsigned char*)Allocate(frame->memory, bytes);
    frame->region = block;
    if (!block) return Fail(frame->reporter, kCannotAllocateBitmap);
    ColumnWalk walk;
    walk.columnTerms = (double*)block;
    walk.nextChartRow = (int64_t*)(walk.columnTerms + width);
    double* fullColumn = (double*)(walk.nextChartRow + width);
    double* fullRow = fullColumn + width;
    walk.nextRow = (uint32_t*)(fullRow + height);
    for (uint32_t i = 0; i < width; ++i) fullColumn[i] = (double)NearestOffset(i, s.fullWidth, width);
    for (uint32_t j = 0; j < height; ++j) fullRow[j] = (double)NearestOffset(j, s.fullHeight, height);
    walk.fullColumn = fullColumn;
    walk.fullRow = fullRow;
    for (uint32_t i = 0; i < width; ++i) {
        walk.columnTerms[i] = s.rotation.sine * fullColumn[i];
        walk.nextChartRow[i] = NextChartRow(s, walk, i);
    }
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
