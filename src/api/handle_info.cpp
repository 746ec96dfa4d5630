// What an open chart tells about itself: size, pixel format, skew, CPH,
// palettes, descriptive fields and the header text.
#include <string.h>

#include "api/chart_handle.h"
#include "header/records.h"
#include "raster/row_decoder.h"

const char* bsbchart_palette_key(int32_t palette) {
    static const char* const kKeys[BSBCHART_PALETTE_COUNT] = {"RGB/", "DAY/", "DSK/", "NGT/",
                                                              "NGR/", "GRY/", "PRC/", "PRG/"};
    return palette >= 0 && palette < BSBCHART_PALETTE_COUNT ? kKeys[palette] : 0;
}

bsbchart_status bsbchart_get_info(const bsbchart* chart, bsbchart_info* info) {
    if (!chart || !info) return BSBCHART_E_ARGUMENT;
    memset(info, 0, sizeof(*info));
    info->width = chart->width;
    info->height = chart->height;
    info->compression_type = chart->compressionType;
    info->bits_per_pixel = bsb::BitsPerPixel(chart->compressionType);
    info->has_skew = chart->hasSkew ? 1 : 0;
    info->skewed = chart->hasSkew && bsb::IsSkewed(chart->skewAngle) ? 1 : 0;
    info->skew_angle = chart->skewAngle;
    info->has_cph = chart->hasCph ? 1 : 0;
    info->cph = chart->hasCph ? chart->cph : 0.0;
    info->georeferenced = chart->pixelToWorld && chart->worldToPixel ? 1 : 0;
    info->palettes = chart->palettes;
    return BSBCHART_OK;
}

const char* bsbchart_get_field(const bsbchart* chart, int32_t field) {
    if (!chart || field < 0 || field >= BSBCHART_FIELD_COUNT) return 0;
    return chart->fields[field];
}

const char* bsbchart_header_text(const bsbchart* chart, size_t* length) {
    if (length) *length = chart ? chart->header.textLength : 0;
    return chart ? chart->header.bytes : 0;
}

bsbchart_status bsbchart_get_palette(const bsbchart* chart, int32_t palette, uint32_t flags,
                                     uint8_t table[1024]) {
    bsb::PaletteChoice choice;
    if (!chart || !table || !bsb::ChoosePalette(palette, flags, BSBCHART_DOUBLED_COLOURS, &choice))
        return BSBCHART_E_ARGUMENT;
    memset(table, 0, 1024);
    bsb::Reporter reporter = bsb::QuietReporter();
    bsb::WindowFrame frame = {};
    frame.palettes = chart->paletteTables;
    frame.text.chars = chart->header.bytes;
    frame.text.length = chart->header.textLength;
    frame.reporter = &reporter;
    if (!bsb::FillFrameColours(frame, choice, table, 256)) return (bsbchart_status)reporter.status;
    return BSBCHART_OK;
}
