// GetWindowBmp, world form: the window covering a world rectangle, cut from
// an upright chart and clamped to it, or resampled from a skewed one.
#include "api/world_window.h"

#include <math.h>

#include "bsbchart.h"
#include "header/polynomial.h"
#include "header/records.h"
#include "raster/row_decoder.h"

namespace bsb {

const int64_t kLargestSide = 0x7FFFFFFF;

int32_t TruncateSaturated(double value) {
    if (value != value) return 0;
    if (value >= 2147483647.0) return 2147483647;
    if (value <= -2147483648.0) return -2147483647 - 1;
    return (int32_t)value;
}

WorldRequest RequestOf(double left, double top, double right, double bottom) {
    WorldRequest request = {{left, right, right, left}, {top, top, bottom, bottom}};
    return request;
}

bool LocateCorners(HeaderText text, const WorldRequest& request, double cph,
                   PixelCorners* corners, Reporter* reporter) {
    ChartPolynomial wpx = {};
    ChartPolynomial wpy = {};
    if (!ParsePolynomial(text, "WPX/", &wpx, reporter)) return false;
    for (int k = 0; k < 4; ++k)
        corners->px[k] = EvaluatePolynomial(wpx.order, wpx.coefficients, request.x[k] + cph, request.y[k]);
    if (!ParsePolynomial(text, "WPY/", &wpy, reporter)) return false;
    for (int k = 0; k < 4; ++k)
        corners->py[k] = EvaluatePolynomial(wpy.order, wpy.coefficients, request.x[k] + cph, request.y[k]);
    for (int k = 0; k < 4; ++k) {
        if (isnan(corners->px[k]) || isnan(corners->py[k])) return Fail(reporter, kBeyondScope);
        corners->ipx[k] = TruncateSaturated(corners->px[k]);
        corners->ipy[k] = TruncateSaturated(corners->py[k]);
    }
    return true;
}

static bool ExtractUprightWindow(WindowFrame* frame, const RasterShape& shape,
                                 const PixelCorners& corners, int bpp, PaletteChoice palette) {
    int64_t left = corners.ipx[0] > 0 ? corners.ipx[0] : 0;
    int64_t right = corners.ipx[1] < shape.width - 1 ? corners.ipx[1] : shape.width - 1;
    int64_t top = corners.ipy[0] > 0 ? corners.ipy[0] : 0;
    int64_t bottom = corners.ipy[3] < shape.height - 1 ? corners.ipy[3] : shape.height - 1;
    if (left > right || top > bottom) return Fail(frame->reporter, kBeyondScope);
    uint32_t w = (uint32_t)(right - left + 1);
    uint32_t h = (uint32_t)(bottom - top + 1);
    return PrepareClippedWindow(frame, shape, w, h, bpp, palette) &&
           CopyWindowRows(frame, shape, (int32_t)left, (int32_t)top);
}

static bool ExtractSkewedWindow(WindowFrame* frame, const RasterShape& shape,
                                const PixelCorners& corners, int bpp, double angle,
                                PaletteChoice palette) {
    int64_t w = 0;
    int64_t h = 0;
    RotatedWindowSize(corners, &w, &h);
    if (w > kLargestSide || h > kLargestSide) return Fail(frame->reporter, kCannotAllocateBitmap);
    return PrepareClippedWindow(frame, shape, (uint32_t)w, (uint32_t)h, bpp, palette) &&
           ExtractRotatedWindow(frame, shape, corners, angle);
}

bool ExtractWorldWindow(WindowFrame* frame, const WorldRequest& request, PaletteChoice palette) {
    HeaderText text = frame->text;
    RasterShape shape = {0, 0, frame->compressionType};
    double angle = 0.0;
    double cph = 0.0;
    PixelCorners corners;
    if (!ParseRasterSize(text, &shape.width, &shape.height, frame->reporter)) return false;
    int bpp = BitsPerPixel(shape.compressionType);
    if (!ParseSkewAngle(text, &angle, frame->reporter) || !ParseCph(text, &cph, frame->reporter) ||
        !LocateCorners(text, request, cph, &corners, frame->reporter))
        return false;
    if (IsSkewed(angle)) return ExtractSkewedWindow(frame, shape, corners, bpp, angle, palette);
    return ExtractUprightWindow(frame, shape, corners, bpp, palette);
}

}  // namespace bsb

char* GetWindowBmp(const unsigned short* path, void* heap, double left, double top, double right,
                   double bottom) {
    bsb::CallFrame frame;
    bool done = bsb::BeginWindowCall(&frame, path, heap) &&
                bsb::ExtractWorldWindow(&frame.window, bsb::RequestOf(left, top, right, bottom),
                                        bsb::ExportedPalette());
    return bsb::EndCall(&frame, done);
}
