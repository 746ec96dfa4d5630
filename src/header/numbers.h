// The number conversions of the chart header. Both read only the field they
// are given; a field without a decimal digit converts to 0.
#ifndef BSBCHART_NUMBERS_H
#define BSBCHART_NUMBERS_H

#include <stdint.h>

namespace bsb {

// Leading spaces and other non-digits skipped; every character from the first
// digit on counts as a digit, wrapping in 32 bits; a '-' right before the
// first digit negates.
int32_t ParseInteger(const char* text);

// The header's own decimal conversion, exponent included only with a sign
// ("1.5e+03" is 1500, "1.5e3" is 1.5).
double ParseDecimal(const char* text);

// Like the C library's atoi, saturating instead of overflowing.
int32_t ParseLikeAtoi(const char* text);

}  // namespace bsb

#endif
