// What the tests work out for themselves, independently of the library's own
// code: the pixel size a compression type gives and the degree the skew is
// turned into radians with.
#ifndef BSBCHART_CHART_REFERENCE_H
#define BSBCHART_CHART_REFERENCE_H

namespace testsupport {

// Bits per pixel of a window of a chart of `compressionType`: 1 for type 1,
// 4 up to type 4, 8 above.
inline int BitsPerPixel(int compressionType) {
    return compressionType == 1 ? 1 : compressionType <= 4 ? 4 : 8;
}

// 3.141592654 / 180, as charts have always been read: pi rounded to ten
// digits, which decides some samples that land on whole pixels.
const double kRadiansPerDegree = 0.017453292522222223;

}  // namespace testsupport

#endif
