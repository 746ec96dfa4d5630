// GetBsbBorder, world form: the world rectangle a chart covers and its centre.
#include "api/world_extent.h"

#include "api/call_frame.h"
#include "bsbchart.h"
#include "header/polynomial.h"
#include "header/records.h"

namespace bsb {

struct WorldExtent {
    double left, top, right, bottom;
};

static void WidenTo(double x, double y, WorldExtent* extent) {
    if (x < extent->left) extent->left = x;
    if (x > extent->right) extent->right = x;
    if (y > extent->top) extent->top = y;
    if (y < extent->bottom) extent->bottom = y;
}

// The bounding rectangle of the four corners, taken top-left, top-right,
// bottom-right, bottom-left.
static WorldExtent BoundCorners(const ChartPolynomial& pwx, const ChartPolynomial& pwy, double cph,
                                double maxX, double maxY, const WorldExtent& diagonal) {
    WorldExtent bound = {diagonal.left, diagonal.top, diagonal.left, diagonal.top};
    WidenTo(EvaluatePolynomial(pwx.order, pwx.coefficients, maxX, 0.0) - cph,
            EvaluatePolynomial(pwy.order, pwy.coefficients, maxX, 0.0), &bound);
    WidenTo(diagonal.right, diagonal.bottom, &bound);
    WidenTo(EvaluatePolynomial(pwx.order, pwx.coefficients, 0.0, maxY) - cph,
            EvaluatePolynomial(pwy.order, pwy.coefficients, 0.0, maxY), &bound);
    return bound;
}

bool QueryWorldExtent(HeaderText text, Reporter* reporter, double* centerX, double* centerY,
                      double* left, double* top, double* right, double* bottom, int* skewed) {
    int32_t width = 0;
    int32_t height = 0;
    double angle = 0.0;
    double cph = 0.0;
    ChartPolynomial pwx = {};
    ChartPolynomial pwy = {};
    if (!ParseRasterSize(text, &width, &height, reporter) || !ParseSkewAngle(text, &angle, reporter) ||
        !ParseCph(text, &cph, reporter) || !ParsePolynomial(text, "PWX/", &pwx, reporter))
        return false;
    double maxX = (double)width - 1;
    double maxY = (double)height - 1;
    WorldExtent extent;
    extent.left = EvaluatePolynomial(pwx.order, pwx.coefficients, 0.0, 0.0) - cph;
    extent.right = EvaluatePolynomial(pwx.order, pwx.coefficients, maxX, maxY) - cph;
    *left = extent.left;
    *right = extent.right;
    *centerX = (extent.left + extent.right) * 0.5;
    if (!ParsePolynomial(text, "PWY/", &pwy, reporter)) return false;
    extent.top = EvaluatePolynomial(pwy.order, pwy.coefficients, 0.0, 0.0);
    extent.bottom = EvaluatePolynomial(pwy.order, pwy.coefficients, maxX, maxY);
    *skewed = 0;
    if (IsSkewed(angle)) {
        extent = BoundCorners(pwx, pwy, cph, maxX, maxY, extent);
        *skewed = 1;
    }
    *left = extent.left;
    *top = extent.top;
    *right = extent.right;
    *bottom = extent.bottom;
    *centerX = (extent.left + extent.right) * 0.5;
    *centerY = (extent.top + extent.bottom) * 0.5;
    return true;
}

}  // namespace bsb

int GetBsbBorder(const unsigned short* path, double* centerX, double* centerY, double* left,
                 double* top, double* right, double* bottom, int& skewed) {
    bsb::CallFrame frame;
    bool done = bsb::BeginExtentCall(&frame, path) &&
                bsb::QueryWorldExtent(bsb::HeaderTextOf(frame), &frame.reporter, centerX, centerY,
                                      left, top, right, bottom, &skewed);
    bsb::EndCall(&frame, false);
    return done ? 1 : 0;
}
