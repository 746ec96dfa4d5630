// Windows of skewed charts: the chart pixels under the rotated quadrilateral
// are gathered into a region, then point-sampled along the rotated grid into
// an upright bitmap whose first row runs along the window's north edge.
#include <math.h>
#include <string.h>

#include "api/rotated_window.h"

namespace bsb {

const uint64_t kLargestRegion = 0x7FFFFFFF;
// Output columns whose rotated offsets are computed at once.
const int kColumnBlock = 256;

static double Hypotenuse(double dx, double dy) {
    return sqrt(dx * dx + dy * dy);
}

// Corners at infinity leave a side's length undefined (NaN); such a window is
// larger than any bitmap.
static int64_t WindowSide(double length) {
    if (isnan(length)) return (int64_t)1 << 32;
    return TruncateSaturated(length + 1.5);
}

void RotatedWindowSize(const PixelCorners& c, int64_t* width, int64_t* height) {
    *width = WindowSide(Hypotenuse(c.px[1] - c.px[0], c.py[1] - c.py[0]));
    *height = WindowSide(Hypotenuse(c.px[3] - c.px[0], c.py[3] - c.py[0]));
}

static int64_t FloorToMultiple(int64_t value, int64_t multiple) {
    int64_t remainder = value % multiple;
    return remainder < 0 ? value - remainder - multiple : value - remainder;
}

// The corners' bounding box widened by a pixel on each side. Rows of the
// region start on byte boundaries: at 4 bits per pixel x0 is even and x1 odd,
// at 1 bit x0 is a multiple of 8 and x1 one less than one.
void BoundRegion(const PixelCorners& c, int bpp, Region* region) {
    double minX = c.px[0], maxX = c.px[0], minY = c.py[0], maxY = c.py[0];
    for (int k = 1; k < 4; ++k) {
        if (c.px[k] < minX) minX = c.px[k];
        if (c.px[k] > maxX) maxX = c.px[k];
        if (c.py[k] < minY) minY = c.py[k];
        if (c.py[k] > maxY) maxY = c.py[k];
    }
    region->x0 = (int64_t)TruncateSaturated(minX) - 1;
    region->x1 = (int64_t)TruncateSaturated(maxX) + 1;
    region->y0 = (int64_t)TruncateSaturated(minY) - 1;
    region->y1 = (int64_t)TruncateSaturated(maxY) + 1;
    int64_t pixelsPerByte = 8 / bpp;
    region->x0 = FloorToMultiple(region->x0, pixelsPerByte);
    region->x1 = FloorToMultiple(region->x1, pixelsPerByte) + pixelsPerByte - 1;
    region->spanX = region->x1 - region->x0 + 1;
    region->stride = (uint64_t)region->spanX / (uint64_t)pixelsPerByte;
    region->bpp = bpp;
}

static bool AllocateRegion(WindowFrame* frame, Region* region) {
    uint64_t rows = (uint64_t)(region->y1 - region->y0 + 1);
    bool fits = region->stride <= kLargestRegion && rows <= kLargestRegion &&
                region->stride * rows <= kLargestRegion;
    region->bytes = fits ? (unsigned char*)Allocate(frame->memory, region->stride * rows) : 0;
    frame->region = region->bytes;
    if (region->bytes) return true;
    return Fail(frame->reporter, kCannotAllocateBitmap);
}

// Chart columns max(x0, 0) … min(x1, W - 1) of a decoded row: the bytes
// that hold them and where they go in a region row. At 4 bits per pixel an
// odd count of columns loses the last one to the byte rounding; at 1 bit the
// partial last byte is kept, masked to the chart.
struct RegionColumns {
    bool any;
    uint64_t firstByte;  // in the decoded row
    uint64_t wholeBytes;
    uint32_t extraBits;  // columns in the partial last byte, at 1 bit only
    uint64_t outOffset;  // in the region row
};

static RegionColumns ColumnsOf(const Region& region, int32_t width) {
    RegionColumns columns = {false, 0, 0, 0, 0};
    int64_t first = region.x0 > 0 ? region.x0 : 0;
    int64_t last = region.x1 < width - 1 ? region.x1 : width - 1;
    if (first > last) return columns;
    uint64_t count = (uint64_t)(last - first + 1);
    columns.any = true;
    columns.firstByte = (uint64_t)first * (uint64_t)region.bpp / 8;
    columns.wholeBytes = count * (uint64_t)region.bpp / 8;
    columns.extraBits = region.bpp == 1 ? (uint32_t)(count % 8) : 0;
    columns.outOffset = (uint64_t)(first - region.x0) * (uint64_t)region.bpp / 8;
    return columns;
}

static void CopyRegionRow(const RegionColumns& columns, const unsigned char* decoded,
                          unsigned char* out) {
    if (!columns.any) return;
    unsigned char* to = out + columns.outOffset;
    const unsigned char* from = decoded + columns.firstByte;
    memcpy(to, from, (size_t)columns.wholeBytes);
    if (columns.extraBits != 0)
        to[columns.wholeBytes] =
            (unsigned char)(from[columns.wholeBytes] & (0xFF00u >> columns.extraBits));
}

// Only the bytes the region takes are cleared and decoded; rows of a region
// that lies beside the chart are still read and checked.
static bool FillRegion(WindowFrame* frame, const RasterShape& shape, const Region& region) {
    RegionColumns columns = ColumnsOf(region, shape.width);
    uint32_t firstByte = (uint32_t)columns.firstByte;
    uint32_t byteCount = (uint32_t)columns.wholeBytes + (columns.extraBits != 0 ? 1 : 0);
    memset(frame->decodedRow + firstByte, 0, byteCount);
    int64_t lastRow = region.y1 < shape.height - 1 ? region.y1 : shape.height - 1;
    if (lastRow >= 0) ReadAheadTo(frame, (int32_t)lastRow);
    unsigned char* out = region.bytes;
    for (int64_t y = region.y0; y <= region.y1; ++y, out += region.stride) {
        if (y < 0) continue;
        if (y > shape.height - 1) break;
        if (!ReadDecodedColumns(frame, shape, (int32_t)y, firstByte, byteCount)) return false;
        CopyRegionRow(columns, frame->decodedRow, out);
    }
    return true;
}

// Output pixel (i, j) samples the region at
// x = trunc(cos θ·i + (ipx0 − sin θ·j)), y = trunc(sin θ·i + (cos θ·j + ipy0)),
// clamped to the region. The column terms are formed once per column of a
// block and the row terms once per row, then added per pixel, which is the
// same sum. Per pixel there is no multiplication: the sampled row is
// followed by stepping a row pointer as y changes.
struct Segment {
    const double* columnX;
    const double* columnY;
    double rowX;
    double rowY;
    uint32_t count;
};

// trunc(value) clamped to low … high; NaN gives low.
static inline int64_t ClampedSample(double value, double low, double high) {
    double clamped = value >= low ? value : low;
    clamped = clamped <= high ? clamped : high;
    return (int64_t)clamped;
}

template <bool kClamp>
static inline int64_t Sample(double value, double low, double high) {
    return kClamp ? ClampedSample(value, low, high) : (int64_t)value;
}

template <int kBpp>
static inline uint32_t PixelAt(const unsigned char* row, uint64_t column) {
    if (kBpp == 8) return row[column];
    if (kBpp == 4) return (row[column >> 1] >> ((~column & 1) << 2)) & 0x0F;
    return (row[column >> 3] >> (7 - (column & 7))) & 1;
}

// Where the walk along one output row's segment stands.
struct SegmentWalk {
    double lowX, highX, lowY, highY;
    int64_t steps[3];  // pointer steps for y moving by -1, 0 and +1 rows
    const unsigned char* row;
    int64_t y;
    uint32_t k;
};

// The pixel of the segment's next column.
template <int kBpp, bool kClamp>
static inline uint32_t NextPixel(const Region& region, const Segment& segment, SegmentWalk* walk) {
    int64_t x = Sample<kClamp>(segment.columnX[walk->k] + segment.rowX, walk->lowX, walk->highX);
    int64_t y = Sample<kClamp>(segment.columnY[walk->k] + segment.rowY, walk->lowY, walk->highY);
    ++walk->k;
    int64_t moved = y - walk->y;
    if ((uint64_t)(moved + 1) <= 2) {
        walk->row += walk->steps[moved + 1];
    } else {
        for (; moved > 0; --moved) walk->row += region.stride;
        for (; moved < 0; ++moved) walk->row -= region.stride;
    }
    walk->y = y;
    return PixelAt<kBpp>(walk->row, (uint64_t)(x - region.x0));
}

template <int kBpp, bool kClamp>
static void ResampleSegment(const Region& region, const Segment& segment, unsigned char* out) {
    SegmentWalk walk;
    walk.lowX = (double)region.x0;
    walk.highX = (double)region.x1;
    walk.lowY = (double)region.y0;
    walk.highY = (double)region.y1;
    walk.steps[0] = -(int64_t)region.stride;
    walk.steps[1] = 0;
    walk.steps[2] = (int64_t)region.stride;
    walk.y = ClampedSample(segment.columnY[0] + segment.rowY, walk.lowY, walk.highY);
    walk.row = region.bytes + (uint64_t)(walk.y - region.y0) * region.stride;
    walk.k = 0;
    uint32_t count = segment.count;
    if (kBpp == 8) {
        for (uint32_t k = 0; k < count; ++k)
            out[k] = (unsigned char)NextPixel<kBpp, kClamp>(region, segment, &walk);
    } else if (kBpp == 4) {
        for (uint32_t k = 0; k + 1 < count; k += 2) {
            uint32_t high = NextPixel<kBpp, kClamp>(region, segment, &walk);
            uint32_t low = NextPixel<kBpp, kClamp>(region, segment, &walk);
            out[k >> 1] = (unsigned char)((high << 4) | low);
        }
        if (count & 1)
            out[count >> 1] = (unsigned char)(NextPixel<kBpp, kClamp>(region, segment, &walk) << 4);
    } else {
        uint32_t bits = 0;
        uint32_t k = 0;
        for (; k < count; ++k) {
            bits = (bits << 1) | NextPixel<kBpp, kClamp>(region, segment, &walk);
            if ((k & 7) == 7) out[k >> 3] = (unsigned char)bits;
        }
        if (k & 7) out[k >> 3] = (unsigned char)(bits << (8 - (k & 7)));
    }
}

static bool InRange(double value, double low, double high) {
    return value >= low && value <= high;
}

// The sums grow or shrink steadily along a segment, so when both ends lie
// inside the region every sample does and no clamping is needed.
static bool SegmentInside(const Region& region, const Segment& segment) {
    uint32_t last = segment.count - 1;
    double x0 = (double)region.x0, x1 = (double)region.x1;
    double y0 = (double)region.y0, y1 = (double)region.y1;
    return InRange(segment.columnX[0] + segment.rowX, x0, x1) &&
           InRange(segment.columnX[last] + segment.rowX, x0, x1) &&
           InRange(segment.columnY[0] + segment.rowY, y0, y1) &&
           InRange(segment.columnY[last] + segment.rowY, y0, y1);
}

template <int kBpp>
static void ResampleColumns(const Region& region, const Rotation& rotation, WindowBitmap* bitmap,
                            uint32_t firstColumn, uint32_t columnCount) {
    double columnX[kColumnBlock];
    double columnY[kColumnBlock];
    for (uint32_t k = 0; k < columnCount; ++k) {
        double i = (double)(firstColumn + k);
        columnX[k] = rotation.cosine * i;
        columnY[k] = rotation.sine * i;
    }
    Segment segment = {columnX, columnY, 0.0, 0.0, columnCount};
    unsigned char* out = bitmap->pixels + (uint64_t)firstColumn * kBpp / 8;
    for (uint32_t j = 0; j < bitmap->height; ++j, out += bitmap->stride) {
        segment.rowX = rotation.originX - rotation.sine * (double)j;
        segment.rowY = rotation.cosine * (double)j + rotation.originY;
        if (SegmentInside(region, segment)) ResampleSegment<kBpp, false>(region, segment, out);
        else ResampleSegment<kBpp, true>(region, segment, out);
    }
}

// Blocks of columns start at multiples of 8, so each starts on a byte of
// the bitmap's rows at every pixel size.
void ResampleRegion(const Region& region, const Rotation& rotation, WindowBitmap* bitmap) {
    for (uint32_t first = 0; first < bitmap->width; first += kColumnBlock) {
        uint32_t remaining = bitmap->width - first;
        uint32_t count = remaining < kColumnBlock ? remaining : kColumnBlock;
        if (bitmap->bpp == 8) ResampleColumns<8>(region, rotation, bitmap, first, count);
        else if (bitmap->bpp == 4) ResampleColumns<4>(region, rotation, bitmap, first, count);
        else ResampleColumns<1>(region, rotation, bitmap, first, count);
    }
}

bool ExtractRotatedWindow(WindowFrame* frame, const RasterShape& shape, const PixelCorners& corners,
                          double skewAngle) {
    Region region;
    BoundRegion(corners, frame->bitmap.bpp, &region);
    if (!AllocateRegion(frame, &region) || !FillRegion(frame, shape, region)) return false;
    double theta = skewAngle * kRadiansPerDegree;
    Rotation rotation = {sin(theta), cos(theta), (double)corners.ipx[0], (double)corners.ipy[0]};
    ResampleRegion(region, rotation, &frame->bitmap);
    return true;
}

}  // namespace bsb
