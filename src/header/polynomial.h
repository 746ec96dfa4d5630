// The georeferencing polynomials: PWX/ and PWY/ take a pixel to world x and
// y, WPX/ and WPY/ a world position to a pixel column and row.
#ifndef BSBCHART_POLYNOMIAL_H
#define BSBCHART_POLYNOMIAL_H

#include <stdint.h>

#include "header/header_text.h"
#include "report/reporter.h"

namespace bsb {

const int kMaxCoefficients = 12;

struct ChartPolynomial {
    int32_t order;  // 1 … 5; any other order evaluates to 0.0
    double coefficients[kMaxCoefficients];
};

// Reads the record under `key` ("PWX/", "PWY/", "WPX/" or "WPY/"). A record
// may continue on following lines; a missing key leaves `polynomial` as it is.
bool ParsePolynomial(HeaderText text, const char* key, ChartPolynomial* polynomial,
                     Reporter* reporter);

double EvaluatePolynomial(int32_t order, const double* c, double x, double y);

}  // namespace bsb

#endif
