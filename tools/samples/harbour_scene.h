// The synthetic harbour every sample chart shows, in metres on the ground
// (x east, y north) around the harbour's centre.
#ifndef SAMPLES_HARBOUR_SCENE_H
#define SAMPLES_HARBOUR_SCENE_H

#include <cstdint>
#include <string>
#include <vector>

namespace samples {

// Ground distance of one chart pixel: symbols and lettering are sized in it.
constexpr double kMetresPerPixel = 5.0;

// Colour indices of the sample charts' palette; 0 is left unused.
enum Colour : uint8_t {
    kWhite = 1,
    kBlack,
    kLand,
    kShallow,
    kMedium,
    kDrying,
    kGrey,
    kMagenta,
    kRed,
    kGreen,
    kContour,
    kBuilt,
    kYellow,
};

// What lies on the ground, shallow to deep; the depth bands are bounded by
// the 0, 2, 5, 10 and 20 metre contours.
enum Ground : uint8_t {
    kGroundLand,
    kGroundBuilt,
    kGroundDrying,
    kDepthTo2,
    kDepthTo5,
    kDepthTo10,
    kDepthTo20,
    kDepthBeyond20,
};

inline bool IsLand(uint8_t ground) { return ground <= kGroundBuilt; }

struct Sounding {
    double x = 0.0;
    double y = 0.0;
    std::string metres;  // whole metres
    char tenths = 0;     // the small digit after them, 0 for none
};

struct HarbourScene {
    std::vector<Sounding> soundings;
};

HarbourScene MakeHarbourScene();

uint8_t GroundAt(double x, double y);

// The colour of the printed symbol at a point (compass rose, soundings,
// buoys, the light, the leading line), or 0 where none is.
uint8_t SymbolAt(const HarbourScene& scene, double x, double y);

// The tint each kind of ground is printed in.
uint8_t GroundColour(uint8_t ground);

}  // namespace samples

#endif
