// Positions on an open chart: pixel to world, world to pixel, and the world
// rectangle the chart covers, with the arithmetic of the exported calls.
#include "api/chart_handle.h"
#include "api/world_extent.h"

namespace bsb {

// Which of the four polynomial records is absent.
static const char* MissingPolynomial(const bsbchart* chart) {
    HeaderText text = {chart->header.bytes, chart->header.textLength};
    static const char* const kKeys[4] = {"PWX/", "PWY/", "WPX/", "WPY/"};
    for (const char* key : kKeys)
        if (FindKey(text, key, 0) == kNotFound) return key;
    return "PWX/";
}

// OK when CPH/ and the four polynomials are there; else the first missing.
static bsbchart_status Georeference(const bsbchart* chart, bsbchart_error* error) {
    Reporter reporter = QuietReporter();
    if (!chart->hasCph) FailQuietly(&reporter, kStatusRecord, "CPH/");
    else if (!chart->georeferenced) FailQuietly(&reporter, kStatusRecord, MissingPolynomial(chart));
    return Finish(reporter, error);
}

}  // namespace bsb

bsbchart_status bsbchart_pixel_to_world(const bsbchart* chart, double column, double row,
                                        double* x, double* y, bsbchart_error* error) {
    if (!chart || !x || !y) return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    bsbchart_status status = bsb::Georeference(chart, error);
    if (status != BSBCHART_OK) return status;
    *x = bsb::EvaluatePolynomial(chart->pwx.order, chart->pwx.coefficients, column, row) - chart->cph;
    *y = bsb::EvaluatePolynomial(chart->pwy.order, chart->pwy.coefficients, column, row);
    return BSBCHART_OK;
}

bsbchart_status bsbchart_world_to_pixel(const bsbchart* chart, double x, double y, double* column,
                                        double* row, bsbchart_error* error) {
    if (!chart || !column || !row) return bsb::FinishWith(BSBCHART_E_ARGUMENT, error);
    bsbchart_status status = bsb::Georeference(chart, error);
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
