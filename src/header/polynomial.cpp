#include "header/polynomial.h"

#include <math.h>
#include <string.h>

#include "header/numbers.h"

namespace bsb {

// Coefficients an order reads: 3, 6, 10, 11, 12 for orders 1 … 5, else 0.
static int CoefficientCount(int32_t order) {
    static const int kCounts[6] = {0, 3, 6, 10, 11, 12};
    return order >= 1 && order <= 5 ? kCounts[order] : 0;
}

bool ParsePolynomial(HeaderText text, const char* key, ChartPolynomial* polynomial,
                     Reporter* reporter) {
    uint32_t at = FindKey(text, key, 0);
    if (at == kNotFound) return Fail(reporter, kErrorReadingGeographic, key);
    at += (uint32_t)strlen(key);
    char field[kFieldCapacity] = {0};
    if (at < text.length) field[0] = text.chars[at];
    polynomial->order = ParseInteger(field);
    at += 2;
    int count = CoefficientCount(polynomial->order);
    for (int i = 0; i < count; ++i) {
        uint32_t end = CopyField(text, at, ",\r", field);
        polynomial->coefficients[i] = ParseDecimal(field);
        at = end + 1;
        if (end < text.length && text.chars[end] == '\r') at += 1;
    }
    return true;
}

// Each order accumulates its terms in its own fixed order, products formed
// left to right. The tenth coefficient multiplies x cubed, like the seventh.
double EvaluatePolynomial(int32_t order, const double* c, double x, double y) {
    switch (order) {
    case 1:
        return (c[1] * x + c[2] * y) + c[0];
    case 2:
        return ((c[4] * y + c[1]) * x + c[5] * pow(y, 2) + c[3] * pow(x, 2)) + c[2] * y + c[0];
    case 3:
        return (c[8] * pow(y, 2)) * x + (c[7] * pow(x, 2)) * y + (c[4] * x) * y + c[9] * pow(x, 3) +
               c[6] * pow(x, 3) + c[5] * pow(y, 2) + c[3] * pow(x, 2) + c[1] * x + c[2] * y + c[0];
    case 4:
        return (c[8] * pow(y, 2)) * x + (c[7] * pow(x, 2)) * y + (c[4] * x) * y + c[10] * pow(y, 4) +
               c[9] * pow(x, 3) + c[6] * pow(x, 3) + c[5] * pow(y, 2) + c[3] * pow(x, 2) + c[1] * x +
               c[2] * y + c[0];
    case 5:
        return (c[8] * pow(y, 2)) * x + (c[7] * pow(x, 2)) * y + (c[4] * x) * y + c[11] * pow(y, 5) +
               c[10] * pow(y, 4) + c[9] * pow(x, 3) + c[6] * pow(x, 3) + c[5] * pow(y, 2) +
               c[3] * pow(x, 2) + c[1] * x + c[2] * y + c[0];
    default:
        return 0.0;
    }
}

}  // namespace bsb
