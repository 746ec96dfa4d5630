// Reading and evaluating the georeferencing polynomials.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "header/polynomial.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using bsb::ChartPolynomial;
using bsb::EvaluatePolynomial;
using bsb::HeaderText;
using bsb::ParsePolynomial;

HeaderText TextOf(const std::string& text) {
    return HeaderText{text.c_str(), static_cast<uint32_t>(text.size())};
}

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A polynomial whose every field is a value no parse would produce.
ChartPolynomial Sentinel() {
    ChartPolynomial p;
    p.order = 77;
    for (double& c : p.coefficients) c = -12345.5;
    return p;
}

TEST(ParsePolynomial, OrderOneRecordMapsPixelToWorld) {
    std::string header = "VER/3.0\r\nPWX/1,10.0,0.5,0.0\r\nPWY/1,1.0,0.0,-0.125\r\n";
    ChartPolynomial pwx = Sentinel();
    ASSERT_TRUE(ParsePolynomial(TextOf(header), "PWX/", &pwx, testsupport::Shown()));
    EXPECT_EQ(pwx.order, 1);
    EXPECT_EQ(pwx.coefficients[0], 10.0);
    EXPECT_EQ(pwx.coefficients[1], 0.5);
    EXPECT_EQ(pwx.coefficients[2], 0.0);
    EXPECT_EQ(pwx.coefficients[3], -12345.5) << "an order-1 record reads three coefficients";
    double x = EvaluatePolynomial(pwx.order, pwx.coefficients, 4.0, 7.0);
    EXPECT_EQ(x, 12.0);
    const double cph = 2.0;
    EXPECT_EQ(x - cph, 10.0);
}

TEST(ParsePolynomial, TenthCoefficientMultipliesXCubed) {
    std::string header = "PWX/3,0,0,0,0,0,0,0,0,0,1\r\n";
    ChartPolynomial p = Sentinel();
    ASSERT_TRUE(ParsePolynomial(TextOf(header), "PWX/", &p, testsupport::Shown()));
    EXPECT_EQ(p.order, 3);
    EXPECT_EQ(p.coefficients[9], 1.0);
    EXPECT_EQ(p.coefficients[10], -12345.5);
    EXPECT_EQ(EvaluatePolynomial(p.order, p.coefficients, 2.0, 3.0), 8.0);
}

TEST(ParsePolynomial, RecordContinuesOnTheNextLine) {
    std::string header =
        "KNP/SC=50000\r\n"
        "WPX/2,150.5,10.25,-3.5,0.125,-0.5\r\n"
        "    0.0625\r\n"
        "WPY/1,9.0,8.0,7.0\r\n";
    ChartPolynomial p = Sentinel();
    ASSERT_TRUE(ParsePolynomial(TextOf(header), "WPX/", &p, testsupport::Shown()));
    EXPECT_EQ(p.order, 2);
    const double expected[6] = {150.5, 10.25, -3.5, 0.125, -0.5, 0.0625};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(p.coefficients[i], expected[i]) << "coefficient " << i;
    EXPECT_EQ(p.coefficients[6], -12345.5);
}

TEST(ParsePolynomial, EmptyOrMissingFieldsReadAsZero) {
    struct Case {
        const char* header;
        double expected[3];
    } cases[] = {
        // A line ending right after a comma leaves an empty last field.
        {"PWY/1,5.0,0.25,\r\nCPH/7.0\r\n", {5.0, 0.25, 0.0}},
        {"PWY/1,,0.25,3.0\r\n", {0.0, 0.25, 3.0}},
        // The header ends before the record does.
        {"PWY/1,5.0", {5.0, 0.0, 0.0}},
    };
    for (const Case& c : cases) {
        std::string header = c.header;
        ChartPolynomial p = Sentinel();
        ASSERT_TRUE(ParsePolynomial(TextOf(header), "PWY/", &p, testsupport::Shown())) << c.header;
        EXPECT_EQ(p.order, 1) << c.header;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(p.coefficients[i], c.expected[i]) << c.header << " #" << i;
    }
}

TEST(ParsePolynomial, OrderOutsideOneToFiveReadsNoCoefficients) {
    struct Case {
        const char* header;
        int32_t order;
    } cases[] = {
        {"PWX/0,1.0,2.0,3.0\r\n", 0},
        {"PWX/6,1.0,2.0,3.0,4.0,5.0,6.0,7.0,8.0,9.0,10.0,11.0,12.0,13.0\r\n", 6},
        {"PWX/9,1.0,2.0,3.0,4.0,5.0,6.0,7.0,8.0,9.0,10.0,11.0,12.0,13.0\r\n", 9},
        {"PWX/x,1.0,2.0,3.0\r\n", 0},
    };
    for (const Case& c : cases) {
        std::string header = c.header;
        ChartPolynomial p = Sentinel();
        ASSERT_TRUE(ParsePolynomial(TextOf(header), "PWX/", &p, testsupport::Shown())) << c.header;
        EXPECT_EQ(p.order, c.order) << c.header;
        for (int i = 0; i < bsb::kMaxCoefficients; ++i)
            EXPECT_EQ(p.coefficients[i], -12345.5) << c.header << " #" << i;
        double all[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
        EXPECT_EQ(Bits(EvaluatePolynomial(p.order, all, 3.0, 4.0)), Bits(0.0)) << c.header;
    }
    double all[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(Bits(EvaluatePolynomial(-1, all, 3.0, 4.0)), Bits(0.0));
}

TEST(ParsePolynomial, MissingKeyReportsAndLeavesThePolynomial) {
    std::string header = "VER/3.0\r\nWPX/1,1.0,2.0,3.0\r\nCPH/0.0\r\n";
    testsupport::MessageLog log;
    ChartPolynomial p = Sentinel();
    EXPECT_FALSE(ParsePolynomial(TextOf(header), "PWX/", &p, testsupport::Shown()));
    EXPECT_EQ(log.messages, std::vector<std::string>{"Error reading geographic parameters."});
    EXPECT_EQ(p.order, 77);
    for (double c : p.coefficients) EXPECT_EQ(c, -12345.5);
}

// The accumulation of each order, written out term by term. This file is
// built without floating-point contraction, like the library.
double Reference(int order, const double* c, double x, double y) {
    double x2 = std::pow(x, 2.0), y2 = std::pow(y, 2.0), x3 = std::pow(x, 3.0);
    double y4 = std::pow(y, 4.0), y5 = std::pow(y, 5.0);
    double s;
    switch (order) {
    case 1:
        s = c[1] * x;
        s = s + c[2] * y;
        return s + c[0];
    case 2:
        s = c[4] * y;
        s = s + c[1];
        s = s * x;
        s = s + c[5] * y2;
        s = s + c[3] * x2;
        s = s + c[2] * y;
        return s + c[0];
    default:
        s = (c[8] * y2) * x;
        s = s + (c[7] * x2) * y;
        s = s + (c[4] * x) * y;
        if (order == 5) s = s + c[11] * y5;
        if (order >= 4) s = s + c[10] * y4;
        s = s + c[9] * x3;
        s = s + c[6] * x3;
        s = s + c[5] * y2;
        s = s + c[3] * x2;
        s = s + c[1] * x;
        s = s + c[2] * y;
        return s + c[0];
    }
}

// The same terms summed from c0 upwards: a different rounding order, used to
// show that the chosen values tell the orders apart.
double SummedInRecordOrder(int order, const double* c, double x, double y) {
    double terms[12] = {c[0],
                        c[1] * x,
                        c[2] * y,
                        c[3] * std::pow(x, 2.0),
                        c[4] * x * y,
                        c[5] * std::pow(y, 2.0),
                        c[6] * std::pow(x, 3.0),
                        c[7] * std::pow(x, 2.0) * y,
                        c[8] * std::pow(y, 2.0) * x,
                        c[9] * std::pow(x, 3.0),
                        c[10] * std::pow(y, 4.0),
                        c[11] * std::pow(y, 5.0)};
    static const int kCounts[6] = {0, 3, 6, 10, 11, 12};
    double s = 0.0;
    for (int i = 0; i < kCounts[order]; ++i) s = s + terms[i];
    return s;
}

TEST(EvaluatePolynomial, EveryOrderAccumulatesInItsOwnOrder) {
    // Coefficients and positions of widely differing magnitudes and signs, so
    // that moving any term or regrouping any sum rounds differently somewhere.
    std::mt19937_64 random(20240611);
    auto magnitude = [&](double low, double high) {
        double value = std::pow(10.0, std::uniform_real_distribution<double>(low, high)(random));
        return random() % 2 ? -value : value;
    };
    for (int order = 1; order <= 5; ++order) {
        int orderMatters = 0;
        int trial = 0;
        for (; trial < 300; ++trial) {
            double c[12];
            for (double& value : c) value = magnitude(-8.0, 17.0);
            double x = magnitude(-2.0, 4.0);
            double y = magnitude(-2.0, 4.0);
            double expected = Reference(order, c, x, y);
            uint64_t actual = Bits(EvaluatePolynomial(order, c, x, y));
            EXPECT_EQ(actual, Bits(expected)) << "order " << order << " at (" << x << ", " << y << ")";
            if (actual != Bits(expected)) break;
            if (Bits(SummedInRecordOrder(order, c, x, y)) != Bits(expected)) ++orderMatters;
        }
        if (trial == 300)
            EXPECT_GT(orderMatters, 30) << "order " << order << ": the values do not test rounding order";
    }
}

}  // namespace
