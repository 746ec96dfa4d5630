#include "chart_geometry.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace samples {

// The library turns degrees into radians with pi rounded to ten digits.
constexpr double kRadiansPerDegree = 0.017453292522222223;

std::string FormatDecimal(double value) {
    if (value == 0.0) return "0.0";
    int integerDigits = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
    int decimals = 16 - integerDigits;
    if (decimals < 1) decimals = 1;
    if (decimals > 20) decimals = 20;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s = text;
    while (s.size() > 1 && s.back() == '0' && s[s.size() - 2] != '.') s.pop_back();
    return s;
}

std::string LinearPolynomial::RecordText(const char* key) const {
    return std::string(key) + "1," + FormatDecimal(c0) + "," + FormatDecimal(c1) + "," +
           FormatDecimal(c2);
}

static double ThroughText(double value) { return std::strtod(FormatDecimal(value).c_str(), nullptr); }

static LinearPolynomial Rounded(double c0, double c1, double c2) {
    return {ThroughText(c0), ThroughText(c1), ThroughText(c2)};
}

ChartGeometry MakeGeometry(const SheetLayout& s) {
    const double theta = s.skewDegrees * kRadiansPerDegree;
    const double c = std::cos(theta), n = std::sin(theta);
    ChartGeometry g;
    g.width = s.width;
    g.height = s.height;
    g.skewDegrees = s.skewDegrees;
    // Ground steps (u east, v south) from the reference pixel:
    //   u = c * dcol + n * drow,  v = -n * dcol + c * drow
    //   lon = refLon + lonStep * u,  lat = refLat - latStep * v
    g.pwx = Rounded(s.refLon - s.lonStep * (c * s.refColumn + n * s.refRow), s.lonStep * c,
                    s.lonStep * n);
    g.pwy = Rounded(s.refLat + s.latStep * (-n * s.refColumn + c * s.refRow), s.latStep * n,
                    -s.latStep * c);
    // And back: col = refColumn + c * u - n * v,  row = refRow + n * u + c * v.
    g.wpx = Rounded(s.refColumn - c * s.refLon / s.lonStep - n * s.refLat / s.latStep, c / s.lonStep,
                    n / s.latStep);
    g.wpy = Rounded(s.refRow - n * s.refLon / s.lonStep + c * s.refLat / s.latStep, n / s.lonStep,
                    -c / s.latStep);
    return g;
}

}  // namespace samples
