// Windows of skewed charts: the chart pixels under the rotated quadrilateral
// are gathered into a region, then point-sampled along the rotated grid into
// an upright bitmap whose first row runs along the window's north edge.
#include <math.h>
#include <string.h>

#include "../platform/platform.h"
#include "call_frame.h"
#include "window_rows.h"
#include "world_corners.h"

namespace bsb {

// 3.141592654 / 180: pi rounded to ten digits, which decides some samples that
// land on whole pixels, so it stays as charts have always been read.
const double kRadiansPerDegree = 0.017453292522222223;
const uint64_t kLargestRegion = 0x7FFFFFFF;
// Output columns whose rotated offsets are computed at once.
const int kColumnBlock = 256;

struct Region {
    int64_t x0, x1, y0, y1;
    int64_t spanX;
    uint64_t stride;  // bytes per region row
    int bpp;
    unsigned char* bytes;
};

static double Hypotenuse(double dx, double dy) {
    return sqrt(dx * dx + dy * dy);
}

void RotatedWindowSize(const PixelCorners& c, int64_t* width, int64_t* height) {
    *width = TruncateSaturated(Hypotenuse(c.px[1] - c.px[0], c.py[1] - c.py[0]) + 1.5);
    *height = TruncateSaturated(Hypotenuse(c.px[3] - c.px[0], c.py[3] - c.py[0]) + 1.5);
}

static int64_t FloorToMultiple(int64_t value, int64_t multiple) {
    int64_t remainder = value % multiple;
    return remainder < 0 ? value - remainder - multiple : value - remainder;
}

// The corners' bounding box widened by a pixel on each side. Rows of the
// region start on byte boundaries: at 4 bits per pixel x0 is even and x1 odd,
// at 1 bit x0 is a multiple of 8 and x1 one less than one.
static void BoundRegion(const PixelCorners& c, int bpp, Region* region) {
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

static bool AllocateRegion(CallFrame* frame, Region* region) {
    uint64_t rows = (uint64_t)(region->y1 - region->y0 + 1);
    bool fits = region->stride <= kLargestRegion && rows <= kLargestRegion &&
                region->stride * rows <= kLargestRegion;
    region->bytes = fits ? (unsigned char*)AllocateBlock(frame->heap, region->stride * rows) : 0;
    frame->region = region->bytes;
    if (region->bytes) return true;
    ReportMessage("Cannot allocate memory to save your required bmp.");
    return false;
}

// Copies chart columns max(x0, 0) … min(x1, W - 1) of the decoded row. At 4
// bits per pixel an odd count of columns loses the last one to the byte
// rounding; at 1 bit the partial last byte is kept, masked to the chart.
static void CopyRegionRow(const Region& region, const unsigned char* decoded, int32_t width,
                          unsigned char* out) {
    int64_t first = region.x0 > 0 ? region.x0 : 0;
    int64_t last = region.x1 < width - 1 ? region.x1 : width - 1;
    if (first > last) return;
    uint64_t columns = (uint64_t)(last - first + 1);
    uint64_t bytes = columns * (uint64_t)region.bpp / 8;
    unsigned char* to = out + (uint64_t)(first - region.x0) * (uint64_t)region.bpp / 8;
    const unsigned char* from = decoded + (uint64_t)first * (uint64_t)region.bpp / 8;
    memcpy(to, from, (size_t)bytes);
    uint32_t extraBits = (uint32_t)(columns % 8);
    if (region.bpp == 1 && extraBits != 0)
        to[bytes] = (unsigned char)(from[bytes] & (0xFF00u >> extraBits));
}

static bool FillRegion(CallFrame* frame, const RasterShape& shape, const Region& region) {
    unsigned char* out = region.bytes;
    for (int64_t y = region.y0; y <= region.y1; ++y, out += region.stride) {
        if (y < 0) continue;
        if (y > shape.height - 1) break;
        if (!ReadDecodedRow(frame, shape, (int32_t)y)) return false;
        CopyRegionRow(region, frame->decodedRow, shape.width, out);
    }
    return true;
}

static int64_t ClampToRange(double value, int64_t low, int64_t high) {
    if (!(value >= (double)low)) return low;
    if (!(value <= (double)high)) return high;
    return (int64_t)value;
}

static uint32_t RegionPixel(const Region& region, int64_t x, int64_t y) {
    const unsigned char* row = region.bytes + (uint64_t)(y - region.y0) * region.stride;
    uint64_t column = (uint64_t)(x - region.x0);
    if (region.bpp == 8) return row[column];
    if (region.bpp == 4) return (row[column >> 1] >> ((~column & 1) << 2)) & 0x0F;
    return (row[column >> 3] >> (7 - (column & 7))) & 1;
}

static void StorePixel(unsigned char* row, uint32_t i, int bpp, uint32_t value) {
    if (bpp == 8) row[i] = (unsigned char)value;
    else if (bpp == 4) row[i >> 1] |= (unsigned char)(value << ((~i & 1) << 2));
    else row[i >> 3] |= (unsigned char)(value << (7 - (i & 7)));
}

struct Rotation {
    double sine;
    double cosine;
    double originX;  // ipx[0]
    double originY;  // ipy[0]
};

// Output pixel (i, j) samples the region at
// x = trunc(cos θ·i + (ipx0 − sin θ·j)), y = trunc(sin θ·i + (cos θ·j + ipy0)),
// clamped to the region. The column and row terms are formed once each and
// added per pixel, which is the same sum.
static void ResampleColumns(const Region& region, const Rotation& rotation, WindowBitmap* bitmap,
                            uint32_t firstColumn, uint32_t columnCount) {
    double columnX[kColumnBlock];
    double columnY[kColumnBlock];
    for (uint32_t k = 0; k < columnCount; ++k) {
        double i = (double)(firstColumn + k);
        columnX[k] = rotation.cosine * i;
        columnY[k] = rotation.sine * i;
    }
    unsigned char* out = bitmap->pixels;
    for (uint32_t j = 0; j < bitmap->height; ++j, out += bitmap->stride) {
        double rowX = rotation.originX - rotation.sine * (double)j;
        double rowY = rotation.cosine * (double)j + rotation.originY;
        for (uint32_t k = 0; k < columnCount; ++k) {
            int64_t x = ClampToRange(columnX[k] + rowX, region.x0, region.x1);
            int64_t y = ClampToRange(columnY[k] + rowY, region.y0, region.y1);
            StorePixel(out, firstColumn + k, bitmap->bpp, RegionPixel(region, x, y));
        }
    }
}

bool ExtractRotatedWindow(CallFrame* frame, const RasterShape& shape, const PixelCorners& corners,
                          double skewAngle) {
    Region region;
    BoundRegion(corners, frame->bitmap.bpp, &region);
    if (!AllocateRegion(frame, &region) || !FillRegion(frame, shape, region)) return false;
    double theta = skewAngle * kRadiansPerDegree;
    Rotation rotation = {sin(theta), cos(theta), (double)corners.ipx[0], (double)corners.ipy[0]};
    WindowBitmap* bitmap = &frame->bitmap;
    for (uint32_t first = 0; first < bitmap->width; first += kColumnBlock) {
        uint32_t remaining = bitmap->width - first;
        ResampleColumns(region, rotation, bitmap, first, remaining < kColumnBlock ? remaining : kColumnBlock);
    }
    return true;
}

}  // namespace bsb
