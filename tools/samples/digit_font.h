// A tiny bitmap font for soundings and the compass rose's north mark.
#ifndef SAMPLES_DIGIT_FONT_H
#define SAMPLES_DIGIT_FONT_H

namespace samples {

constexpr int kGlyphWidth = 3;
constexpr int kGlyphHeight = 5;

// Whether cell (x, y) of the glyph for '0'..'9' is ink; other characters
// and cells outside the glyph are blank.
bool GlyphInk(char character, int x, int y);

// The compass rose's N, five cells square.
constexpr int kNorthSize = 5;
bool NorthInk(int x, int y);

}  // namespace samples

#endif
