#include "header/numbers.h"

#include <string.h>

namespace bsb {

static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Characters are signed: a byte above 0x7F is a negative "digit".
static int DigitValue(char c) { return (signed char)c - '0'; }

static uint32_t FirstDigit(const char* text, uint32_t length) {
    uint32_t at = 0;
    while (at < length && text[at] == ' ') ++at;
    while (at < length && !IsDigit(text[at])) ++at;
    return at;
}

// Sum of the characters from `first` to `last` as digits, the last one with
// place value 1, in wrapping 32-bit arithmetic.
static uint32_t WrappingDigitSum(const char* text, int64_t first, int64_t last) {
    uint32_t value = 0;
    uint32_t place = 1;
    for (int64_t at = last; at >= first; --at) {
        value += (uint32_t)DigitValue(text[at]) * place;
        place *= 10u;
    }
    return value;
}

int32_t ParseInteger(const char* text) {
    uint32_t length = (uint32_t)strlen(text);
    uint32_t first = FirstDigit(text, length);
    if (first == length) return 0;
    uint32_t value = WrappingDigitSum(text, first, (int64_t)length - 1);
    if (first > 0 && text[first - 1] == '-') value = 0u - value;
    return (int32_t)value;
}

// Digits from `first` to `last` with powers of ten built by repeated
// multiplication; `*scale` receives 10 to the number of digits.
static double DecimalDigits(const char* text, int64_t first, int64_t last, double* scale) {
    double sum = 0.0;
    double place = 1.0;
    for (int64_t at = last; at >= first; --at) {
        sum = sum + DigitValue(text[at]) * place;
        place = place * 10.0;
    }
    *scale = place;
    return sum;
}

// 10^k by repeated multiplication. Past 10^400 the product is infinite
// already, so the loop stops there.
static double PowerOfTen(int32_t k) {
    double power = 1.0;
    for (int32_t i = 0; i < k && i < 400; ++i) power = power * 10.0;
    return power;
}

double ParseDecimal(const char* text) {
    int64_t length = (int64_t)strlen(text);
    int64_t f = FirstDigit(text, (uint32_t)length);
    if (f == length) return 0.0;
    bool noIntegerPart = f > 0 && text[f - 1] == '.';
    int64_t point = noIntegerPart ? f - 1 : -1;
    int64_t signAt = noIntegerPart ? f - 2 : f - 1;
    int64_t marker = -1;
    int64_t exponentSign = -1;
    for (int64_t at = f; at < length; ++at) {
        char c = text[at];
        if (c == '.' && !noIntegerPart) point = at;
        if (c == 'e' || c == 'E') marker = at;
        if (c == '+' || c == '-') exponentSign = at;
    }
    int64_t mantissaEnd = marker >= 0 ? marker - 1 : length - 1;
    int64_t integerEnd = point >= 0 ? point - 1 : mantissaEnd;
    double scale = 1.0;
    double fraction = 0.0;
    if (point >= 0) {
        fraction = DecimalDigits(text, point + 1, mantissaEnd, &scale);
        fraction = fraction / scale;
    }
    double mantissa = DecimalDigits(text, f, integerEnd, &scale) + fraction;
    if (marker >= 0 && exponentSign >= 0) {
        int32_t k = (int32_t)WrappingDigitSum(text, marker + 2, length - 1);
        double power = k > 0 ? PowerOfTen(k) : 1.0;
        mantissa = text[exponentSign] == '+' ? mantissa * power : mantissa / power;
    }
    if (signAt >= 0 && text[signAt] == '-') mantissa = -mantissa;
    return mantissa;
}

static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int32_t ParseLikeAtoi(const char* text) {
    while (IsSpace(*text)) ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    int64_t value = 0;
    for (; IsDigit(*text); ++text) {
        value = value * 10 + (*text - '0');
        if (value > 2147483648LL) value = 2147483648LL;
    }
    if (negative) value = -value;
    if (value > 2147483647LL) value = 2147483647LL;
    return (int32_t)value;
}

}  // namespace bsb
