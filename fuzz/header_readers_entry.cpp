#include <cmath>
#include <cstring>
#include <memory>

#include "fuzz_entries.h"
#include "fuzz_messages.h"
#include "internal_support.h"
#include "header/header_text.h"
#include "header/numbers.h"
#include "header/polynomial.h"
#include "header/records.h"

namespace fuzzentry {

static bool Contains(const uint8_t* data, size_t size, const char* key) {
    size_t length = strlen(key);
    for (size_t at = 0; at + length <= size; ++at)
        if (memcmp(data + at, key, length) == 0) return true;
    return false;
}

static void ReadPalettes(bsb::HeaderText text, MessageCounter* messages) {
    for (uint32_t entries : {2u, 16u, 256u}) {
        std::unique_ptr<unsigned char[]> table(new unsigned char[entries * 4]());
        bool parsed = bsb::ParsePalette(text, table.get(), entries, testsupport::Shown());
        messages->ExpectOutcome(parsed, false, "ParsePalette");
        for (uint32_t i = 0; i < entries; ++i)
            if (table[i * 4 + 3] != 0) Violation("ParsePalette: reserved byte written");
    }
}

static void ReadPolynomials(bsb::HeaderText text, MessageCounter* messages) {
    for (const char* key : {"PWX/", "PWY/", "WPX/", "WPY/"}) {
        bsb::ChartPolynomial polynomial = {};
        polynomial.order = 77;
        bool parsed = bsb::ParsePolynomial(text, key, &polynomial, testsupport::Shown());
        messages->ExpectOutcome(parsed, false, "ParsePolynomial");
        if (!parsed && polynomial.order != 77) Violation("ParsePolynomial: failed but wrote the order");
        volatile double value =
            bsb::EvaluatePolynomial(polynomial.order, polynomial.coefficients, 3.0, -2.0);
        (void)value;
    }
}

static void ConvertNumbers(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> terminated(new char[size + 1]);
    memcpy(terminated.get(), data, size);
    terminated[size] = 0;
    volatile int32_t integer = bsb::ParseInteger(terminated.get());
    volatile double decimal = bsb::ParseDecimal(terminated.get());
    volatile int32_t atoiLike = bsb::ParseLikeAtoi(terminated.get());
    (void)integer;
    (void)decimal;
    (void)atoiLike;
}

void ReadHeaderInput(const uint8_t* data, size_t size) {
    // Exactly the input's bytes: nothing may be read past them.
    std::unique_ptr<char[]> chars(new char[size ? size : 1]);
    if (size) memcpy(chars.get(), data, size);
    bsb::HeaderText text = {chars.get(), (uint32_t)size};
    MessageCounter messages;

    int32_t width = -5, height = -5;
    bool sized = bsb::ParseRasterSize(text, &width, &height, testsupport::Shown());
    messages.ExpectOutcome(sized, false, "ParseRasterSize");
    if (sized ? (width < 1 || height < 1) : (width != -5 || height != -5))
        Violation("ParseRasterSize: size out of range or written on failure");

    double angle = -7.0;
    bool skewRead = bsb::ParseSkewAngle(text, &angle, testsupport::Shown());
    messages.ExpectOutcome(skewRead, Contains(data, size, "SK="), "ParseSkewAngle");
    if (!skewRead && angle != -7.0) Violation("ParseSkewAngle: wrote the angle on failure");
    if (skewRead) (void)bsb::IsSkewed(angle);

    double cph = -7.0;
    bool cphRead = bsb::ParseCph(text, &cph, testsupport::Shown());
    messages.ExpectOutcome(cphRead, false, "ParseCph");
    if (!cphRead && cph != -7.0) Violation("ParseCph: wrote the value on failure");

    ReadPalettes(text, &messages);
    ReadPolynomials(text, &messages);
    ConvertNumbers(data, size);
}

}  // namespace fuzzentry
