// The chart header's records, each read by its own parser. A parser that
// fails has shown its message (or, for an over-long skew field, none) and
// leaves its outputs untouched.
#ifndef BSBCHART_RECORDS_H
#define BSBCHART_RECORDS_H

#include <stdint.h>

#include "header/header_text.h"
#include "report/reporter.h"

namespace bsb {

// "RA=width,height"; a width or height below 1 counts as missing.
bool ParseRasterSize(HeaderText text, int32_t* width, int32_t* height, Reporter* reporter);

// "SK=angle", in degrees; a field over 19 characters fails silently.
bool ParseSkewAngle(HeaderText text, double* angle, Reporter* reporter);

// "CPH/value", added to longitudes on their way to pixels.
bool ParseCph(HeaderText text, double* value, Reporter* reporter);

// A chart is skewed when its raster is rotated by more than 0.01 degrees.
bool IsSkewed(double angle);

// Applies every "RGB/index,red,green,blue" record to a zero-filled colour
// table of `entries` blue-green-red-reserved entries, each component doubled
// modulo 256. Records naming an entry beyond the table are skipped.
bool ParsePalette(HeaderText text, unsigned char* table, uint32_t entries, Reporter* reporter);

// The same for the records under `key` ("RGB/", "NGT/", ...), the stored
// values taken as they are or doubled. False, without a message, when the
// header has no such record.
bool ApplyPaletteRecords(HeaderText text, const char* key, bool doubled, unsigned char* table,
                         uint32_t entries);

}  // namespace bsb

#endif
