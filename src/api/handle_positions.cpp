// Positions on an open chart: pixel to world, world to pixel, and the world
// rectangle the chart covers, with the arithmetic of the exported calls.
#include "api/chart_handle.h"
#include "api/world_extent.h"

namespace bsb {

// OK when CPH/ and the conversion's two polynomials (the first key's and
// the second's) are there; else the first of them that is missing.
static bsbchart_status Georeference(const bsbchart* chart, bool present, const char* keys[2],
                                    bsbchart_error* error) {
    Reporter reporter = QuietReporter();
    HeaderText text = {chart->header.bytes, chart->header.textLength};
    if (!chart->hasCph) FailQuietly(&reporter, kStatusRecord, "CPH/");
    else if (!present)
        FailQuietly(&reporter, kStatusRecord, FindKey(text, keys[0], 0) == kNotFound ? keys[0] : keys[1]);
    return Finish(reporter, error);
}

}  // namespace bsb

bsbchart_status bsbchart_pixel_to_world(const bsbchart* chart, double column, double row,
                                        double* x, double* y, bsbchart_error* error) {
    if (!chart || !x || !y) return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    const char* keys[2] = {"PWX/", "PWY/"};
    bsbchart_status status = bsb::Georeference(chart, chart->pixelToWorld, keys, error);
    if (status != BSBCHART_OK) return status;
    *x = bsb::EvaluatePolynomial(chart->pwx.order, chart->pwx.coefficients, column, row) - chart->cph;
    *y = bsb::EvaluatePolynomial(chart->pwy.order, chart->pwy.coefficients, column, row);
    return BSBCHART_OK;
}

bsbchart_status bsbchart_world_to_pixel(const bsbchart* chart, double x, double y, double* column,
                                        double* row, bsbchart_error* error) {
    if (!chart || !column || !row) return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    const char* keys[2] = {"WPX/", "WPY/"};
    bsbchart_status status = bsb::Georeference(chart, chart->worldToPixel, keys, error);
    if (status != BSBCHART_OK) return status;
    *column = bsb::EvaluatePolynomial(chart->wpx.order, chart->wpx.coefficients, x + chart->cph, y);
    *row = bsb::EvaluatePolynomial(chart->wpy.order, chart->wpy.coefficients, x + chart->cph, y);
    return BSBCHART_OK;
}

bsbchart_status bsbchart_world_extent(const bsbchart* chart, double* west, double* north,
                                      double* east, double* south, bsbchart_error* error) {
    if (!chart || !west || !north || !east || !south)
        return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    bsb::HeaderText text = {chart->header.bytes, chart->header.textLength};
    bsb::Reporter reporter = bsb::QuietReporter();
    double centerX, centerY, left, top, right, bottom;
    int skewed = 0;
    if (!bsb::QueryWorldExtent(text, &reporter, &centerX, &centerY, &left, &top, &right, &bottom,
                               &skewed))
        return bsb::Finish(reporter, error);
    *west = left;
    *north = top;
    *east = right;
    *south = bottom;
    return bsb::Finish(reporter, error);
}
