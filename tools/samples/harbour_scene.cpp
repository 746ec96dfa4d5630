#include "harbour_scene.h"

#include <algorithm>
#include <cmath>

#include "digit_font.h"

namespace samples {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Point {
    double x, y;
};

// The channel into the harbour, from the inner basin out to sea.
constexpr Point kChannelInner = {-150.0, 760.0};
constexpr Point kChannelOuter = {-560.0, -480.0};
constexpr double kChannelHalfWidth = 40.0;
constexpr double kChannelDepth = 7.0;

constexpr Point kRoseCentre = {-1150.0, -760.0};
constexpr double kRoseRadius = 90.0;  // pixels

constexpr Point kBreakwaterRoot = {120.0, 430.0};
constexpr Point kBreakwaterHead = {-70.0, 330.0};
constexpr double kBreakwaterHalfWidth = 11.0;

// Distance from p to the segment a-b, and how far along it (0..1) p lies.
double SegmentDistance(Point p, Point a, Point b, double* along = nullptr) {
    double dx = b.x - a.x, dy = b.y - a.y;
    double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
    if (along) *along = t;
    t = std::clamp(t, 0.0, 1.0);
    return std::hypot(p.x - (a.x + t * dx), p.y - (a.y + t * dy));
}

Point Along(Point a, Point b, double t) { return {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)}; }

// Side offsets of the channel: +1 to the east of its axis, -1 to the west.
Point BesideChannel(double t, double side, double metres) {
    Point p = Along(kChannelInner, kChannelOuter, t);
    double dx = kChannelOuter.x - kChannelInner.x, dy = kChannelOuter.y - kChannelInner.y;
    double length = std::hypot(dx, dy);
    // Seaward the channel runs south-south-west; its east side is to the left.
    return {p.x - side * dy / length * metres, p.y + side * dx / length * metres};
}

// Positive on land, negative at sea, roughly metres from the shore.
double LandField(double x, double y) {
    double northCoast = 380.0 + 170.0 * std::sin(x / 520.0 + 0.6) +
                        60.0 * std::sin(x / 170.0 + 2.0) + 0.15 * x;
    double eastCoast = 1150.0 + 140.0 * std::sin(y / 410.0) + 50.0 * std::sin(y / 130.0 + 1.0);
    double mainland = std::max((y - northCoast) * 0.8, x - eastCoast);

    double bayAxis = -150.0 + 70.0 * std::sin(y / 330.0);
    double bayHalfWidth = std::max(60.0, 200.0 - 0.1 * (y - 300.0));
    double outsideBay = std::max(std::fabs(x - bayAxis) - bayHalfWidth, y - 1250.0);
    double land = std::min(mainland, outsideBay);

    double ix = x - 520.0, iy = y + 380.0;
    double angle = std::atan2(iy, ix);
    double island = 170.0 + 30.0 * std::sin(3.0 * angle) + 18.0 * std::sin(5.0 * angle + 1.0) -
                    std::hypot(ix, iy);
    double rock = 30.0 - std::hypot(x - 980.0, y + 830.0);
    double breakwater =
        kBreakwaterHalfWidth - SegmentDistance({x, y}, kBreakwaterRoot, kBreakwaterHead);
    return std::max({land, island, rock, breakwater});
}

double DepthAt(double x, double y, double landField) {
    double depth = 0.024 * -landField - 0.7 + 1.2 * std::sin(x / 310.0) * std::cos(y / 270.0);
    if (SegmentDistance({x, y}, kChannelInner, kChannelOuter) < kChannelHalfWidth)
        depth = std::max(depth, kChannelDepth);
    return depth;
}

bool InTown(double x, double y) {
    if (x < -760.0 || x > 520.0 || y < 980.0) return false;
    double street = std::fmod(x + 2000.0, 115.0), lane = std::fmod(y + 2000.0, 95.0);
    return street > 14.0 && lane > 12.0;
}

unsigned Hash(int a, int b) {
    unsigned h = static_cast<unsigned>(a) * 73856093u ^ static_cast<unsigned>(b) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

// Text drawn with the glyph font at `scale` pixels per cell, left edge at
// gx (pixels east) and top at gy (pixels south).
bool TextInk(const std::string& text, double gx, double gy, int scale, double px, double py) {
    double cx = (px - gx) / scale, cy = (py - gy) / scale;
    if (cx < 0.0 || cy < 0.0 || cy >= kGlyphHeight) return false;
    int cell = static_cast<int>(cx);
    int glyph = cell / (kGlyphWidth + 1);
    if (glyph >= static_cast<int>(text.size())) return false;
    return GlyphInk(text[glyph], cell % (kGlyphWidth + 1), static_cast<int>(cy));
}

bool SoundingInk(const Sounding& s, double px, double py) {
    double left = s.x / kMetresPerPixel - (s.metres.size() * 8 - 2 + (s.tenths ? 4 : 0)) / 2.0;
    double top = -s.y / kMetresPerPixel - 5.0;
    if (TextInk(s.metres, left, top, 2, px, py)) return true;
    if (!s.tenths) return false;
    return TextInk(std::string(1, s.tenths), left + s.metres.size() * 8, top + 6.0, 1, px, py);
}

// Pointed arms of the rose's star: lengths and half widths in pixels.
bool RoseStar(double dx, double dy, uint8_t* colour) {
    for (int arm = 0; arm < 8; ++arm) {
        double angle = arm * kPi / 4.0;
        double length = arm == 0 ? 74.0 : (arm % 2 == 0 ? 62.0 : 34.0);
        double halfWidth = arm % 2 == 0 ? 9.0 : 6.0;
        double ux = std::sin(angle), uy = -std::cos(angle);  // north is up
        double t = dx * ux + dy * uy, s = dx * -uy + dy * ux;
        double edge = halfWidth * (1.0 - t / length);
        if (t < 0.0 || t > length || std::fabs(s) > edge) continue;
        bool outline = std::fabs(s) > edge - 1.0 || std::fabs(s) < 0.5;
        *colour = (outline || s > 0.0) ? kMagenta : kWhite;
        return true;
    }
    return false;
}

bool CompassRose(double px, double py, uint8_t* colour) {
    double dx = px - kRoseCentre.x / kMetresPerPixel, dy = py + kRoseCentre.y / kMetresPerPixel;
    double r = std::hypot(dx, dy);
    if (r > kRoseRadius + 30.0) return false;
    const double northLeft = -7.5, northTop = -(kRoseRadius + 24.0);
    if (dx >= northLeft && dy >= northTop &&
        NorthInk(static_cast<int>((dx - northLeft) / 3.0), static_cast<int>((dy - northTop) / 3.0))) {
        *colour = kMagenta;
        return true;
    }
    if (std::fabs(r - kRoseRadius) < 0.7 || std::fabs(r - (kRoseRadius - 12.0)) < 0.6) {
        *colour = kMagenta;
        return true;
    }
    if (r > kRoseRadius - 12.0 && r < kRoseRadius) {
        double degrees = std::atan2(dx, -dy) * 180.0 / kPi + 360.0;
        double nearest = std::round(degrees / 5.0) * 5.0;
        double offPixels = std::fabs(degrees - nearest) * kPi / 180.0 * r;
        int step = static_cast<int>(std::lround(nearest)) % 360;
        double inner = step % 30 == 0 ? kRoseRadius - 12.0 : (step % 10 == 0 ? kRoseRadius - 8.0 : kRoseRadius - 5.0);
        if (offPixels < 0.6 && r > inner) {
            *colour = kMagenta;
            return true;
        }
        return false;
    }
    if (std::fabs(r - 20.0) < 0.6) {
        *colour = kMagenta;
        return true;
    }
    return RoseStar(dx, dy, colour);
}

// Port-hand can (red, square) and starboard-hand cone (green, triangle),
// with a black outline, sized in pixels.
bool Buoy(Point at, bool port, double px, double py, uint8_t* colour) {
    double dx = px - at.x / kMetresPerPixel, dy = py + at.y / kMetresPerPixel;
    if (std::fabs(dx) > 8.0 || dy < -14.0 || dy > 3.0) return false;
    if (std::hypot(dx, dy) < 2.0) {
        *colour = kBlack;
        return true;
    }
    const double top = -13.0, base = -2.5;
    double halfWidth = port ? 4.5 : 6.0 * (dy - top) / (base - top);
    if (dy < top || dy > base || std::fabs(dx) > halfWidth) return false;
    bool outline = std::fabs(dx) > halfWidth - 1.2 || dy < top + 1.0 || dy > base - 1.0;
    *colour = outline ? kBlack : (port ? kRed : kGreen);
    return true;
}

// A light: a magenta flare leaning north-east from a black dot.
bool Light(Point at, double px, double py, uint8_t* colour) {
    double dx = px - at.x / kMetresPerPixel, dy = py + at.y / kMetresPerPixel;
    if (std::hypot(dx, dy) < 2.0) {
        *colour = kBlack;
        return true;
    }
    double t = (dx - dy) / std::sqrt(2.0), s = (dx + dy) / std::sqrt(2.0);
    if (t < 2.0 || t > 15.5) return false;
    double half = t < 11.0 ? (t - 2.0) * 0.5 : std::sqrt(std::max(0.0, 20.25 - (t - 11.0) * (t - 11.0)));
    if (std::fabs(s) >= half) return false;
    *colour = kMagenta;
    return true;
}

bool LeadingLine(double px, double py) {
    Point p = {px * kMetresPerPixel, -py * kMetresPerPixel};
    double along = 0.0;
    double d = SegmentDistance(p, kChannelInner, kChannelOuter, &along);
    if (d > 0.55 * kMetresPerPixel || along < 0.05 || along > 1.0) return false;
    double length = std::hypot(kChannelOuter.x - kChannelInner.x, kChannelOuter.y - kChannelInner.y);
    return std::fmod(along * length / kMetresPerPixel, 14.0) < 8.0;
}

}  // namespace

HarbourScene MakeHarbourScene() {
    HarbourScene scene;
    const double step = 125.0;
    for (int j = -20; j <= 20; ++j) {
        for (int i = -22; i <= 22; ++i) {
            unsigned h = Hash(i, j);
            double x = i * step + (static_cast<int>(h % 71) - 35);
            double y = j * step + (static_cast<int>((h >> 8) % 71) - 35);
            double land = LandField(x, y);
            if (land > -30.0) continue;
            double depth = DepthAt(x, y, land);
            if (depth < 0.3) continue;
            if (std::hypot(x - kRoseCentre.x, y - kRoseCentre.y) <
                (kRoseRadius + 40.0) * kMetresPerPixel)
                continue;
            if (SegmentDistance({x, y}, kChannelInner, kChannelOuter) < 70.0) continue;
            bool crowded = false;
            for (const Sounding& other : scene.soundings)
                crowded = crowded || (std::fabs(other.x - x) < 90.0 && std::fabs(other.y - y) < 60.0);
            if (crowded) continue;
            Sounding s;
            s.x = x;
            s.y = y;
            int decimetres = static_cast<int>(depth * 10.0);
            s.metres = std::to_string(decimetres / 10);
            if (depth < 10.0 && decimetres % 10 != 0) s.tenths = static_cast<char>('0' + decimetres % 10);
            scene.soundings.push_back(s);
        }
    }
    // A sounding on the channel's dredged depth.
    Point mid = Along(kChannelInner, kChannelOuter, 0.7);
    scene.soundings.push_back({mid.x + 15.0, mid.y, "7", 0});
    return scene;
}

uint8_t GroundAt(double x, double y) {
    double land = LandField(x, y);
    if (land > 0.0) return InTown(x, y) ? kGroundBuilt : kGroundLand;
    double depth = DepthAt(x, y, land);
    if (depth < 0.0) return kGroundDrying;
    if (depth < 2.0) return kDepthTo2;
    if (depth < 5.0) return kDepthTo5;
    if (depth < 10.0) return kDepthTo10;
    if (depth < 20.0) return kDepthTo20;
    return kDepthBeyond20;
}

uint8_t GroundColour(uint8_t ground) {
    switch (ground) {
        case kGroundLand: return kLand;
        case kGroundBuilt: return kBuilt;
        case kGroundDrying: return kDrying;
        case kDepthTo2:
        case kDepthTo5: return kShallow;
        case kDepthTo10: return kMedium;
        default: return kWhite;
    }
}

uint8_t SymbolAt(const HarbourScene& scene, double x, double y) {
    const double px = x / kMetresPerPixel, py = -y / kMetresPerPixel;
    uint8_t colour = 0;
    if (CompassRose(px, py, &colour)) return colour;
    const double buoyOffset = kChannelHalfWidth + 10.0;
    const double buoyPlaces[] = {0.45, 0.75, 1.0};
    for (double t : buoyPlaces) {
        if (Buoy(BesideChannel(t, -1.0, buoyOffset), true, px, py, &colour)) return colour;
        if (Buoy(BesideChannel(t, +1.0, buoyOffset), false, px, py, &colour)) return colour;
    }
    Point head = Along(kBreakwaterRoot, kBreakwaterHead, 1.0);
    if (Light(head, px, py, &colour)) return colour;
    for (const Sounding& s : scene.soundings) {
        if (std::fabs(s.x / kMetresPerPixel - px) > 14.0 || std::fabs(-s.y / kMetresPerPixel - py) > 8.0)
            continue;
        if (SoundingInk(s, px, py)) return kBlack;
    }
    if (LeadingLine(px, py)) return kBlack;
    return 0;
}

}  // namespace samples
