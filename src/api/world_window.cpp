// GetWindowBmp, world form: the window covering a world rectangle, cut from
// an upright chart and clamped to it, or resampled from a skewed one.
#include <math.h>

#include "../../include/bsbchart.h"
#include "../header/polynomial.h"
#include "../header/records.h"
#include "call_frame.h"
#include "window_rows.h"
#include "world_corners.h"

namespace bsb {

const int64_t kLargestSide = 0x7FFFFFFF;

int32_t TruncateSaturated(double value) {
    if (value != value) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return (int32_t)value;
}

struct WorldRequest {
    double x[4];
    double y[4];
};

static bool LocateCorners(HeaderText text, const WorldRequest& request, double cph,
                          PixelCorners* corners) {
    ChartPolynomial wpx = {};
    ChartPolynomial wpy = {};
    if (!ParsePolynomial(text, "WPX/", &wpx)) return false;
    for (int k = 0; k < 4; ++k)
        corners->px[k] = EvaluatePolynomial(wpx.order, wpx.coefficients, request.x[k] + cph, request.y[k]);
    if (!ParsePolynomial(text, "WPY/", &wpy)) return false;
    for (int k = 0; k < 4; ++k)
        corners->py[k] = EvaluatePolynomial(wpy.order, wpy.coefficients, request.x[k] + cph, request.y[k]);
    for (int k = 0; k < 4; ++k) {
        if (isnan(corners->px[k]) || isnan(corners->py[k])) {
            ReportMessage("Your requirement is beyond the scope of the image.");
            return false;
        }
        corners->ipx[k] = TruncateSaturated(corners->px[k]);
        corners->ipy[k] = TruncateSaturated(corners->py[k]);
    }
    return true;
}

static bool ExtractUprightWindow(CallFrame* frame, const RasterShape& shape,
                                 const PixelCorners& corners, int bpp) {
    int64_t left = corners.ipx[0] > 0 ? corners.ipx[0] : 0;
    int64_t right = corners.ipx[1] < shape.width - 1 ? corners.ipx[1] : shape.width - 1;
    int64_t top = corners.ipy[0] > 0 ? corners.ipy[0] : 0;
    int64_t bottom = corners.ipy[3] < shape.height - 1 ? corners.ipy[3] : shape.height - 1;
    if (left > right || top > bottom) {
        ReportMessage("Your requirement is beyond the scope of the image.");
        return false;
    }
    uint32_t w = (uint32_t)(right - left + 1);
    uint32_t h = (uint32_t)(bottom - top + 1);
    return CreateWindowBitmap(frame->heap, w, h, bpp, &frame->bitmap) &&
           ParsePalette(HeaderTextOf(*frame), frame->bitmap.colourTable, 1u << bpp) &&
           AllocateRowBuffers(frame, (uint32_t)shape.width) &&
           CopyWindowRows(frame, shape, (int32_t)left, (int32_t)top);
}

static bool ExtractSkewedWindow(CallFrame* frame, const RasterShape& shape,
                                const PixelCorners& corners, int bpp, double angle) {
    int64_t w = 0;
    int64_t h = 0;
    RotatedWindowSize(corners, &w, &h);
    if (w > kLargestSide || h > kLargestSide) {
        ReportMessage("Cannot allocate memory to save your required bmp.");
        return false;
    }
    return CreateWindowBitmap(frame->heap, (uint32_t)w, (uint32_t)h, bpp, &frame->bitmap) &&
           ParsePalette(HeaderTextOf(*frame), frame->bitmap.colourTable, 1u << bpp) &&
           AllocateRowBuffers(frame, (uint32_t)shape.width) &&
           ExtractRotatedWindow(frame, shape, corners, angle);
}

static bool ExtractWorldWindow(CallFrame* frame, const WorldRequest& request) {
    HeaderText text = HeaderTextOf(*frame);
    RasterShape shape = {0, 0, CompressionType(frame->header)};
    double angle = 0.0;
    double cph = 0.0;
    PixelCorners corners;
    if (!ParseRasterSize(text, &shape.width, &shape.height)) return false;
    int bpp = WindowBitsPerPixel(shape.compressionType);
    if (!ParseSkewAngle(text, &angle) || !ParseCph(text, &cph) ||
        !LocateCorners(text, request, cph, &corners))
        return false;
    if (IsSkewed(angle)) return ExtractSkewedWindow(frame, shape, corners, bpp, angle);
    return ExtractUprightWindow(frame, shape, corners, bpp);
}

}  // namespace bsb

char* GetWindowBmp(const unsigned short* path, void* heap, double left, double top, double right,
                   double bottom) {
    bsb::WorldRequest request = {{left, right, right, left}, {top, top, bottom, bottom}};
    bsb::CallFrame frame;
    bool done = bsb::BeginWindowCall(&frame, path, heap) && bsb::ExtractWorldWindow(&frame, request);
    return bsb::EndCall(&frame, done);
}
