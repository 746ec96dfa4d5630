// The four sample charts: the harbour upright and turned by 15 degrees, each
// at 4 and at 7 bits of colour index. The 4-bit ones also carry day, dusk
// and night palettes.
#ifndef SAMPLES_SAMPLE_CHARTS_H
#define SAMPLES_SAMPLE_CHARTS_H

#include <string>
#include <vector>

#include "chart_geometry.h"
#include "chart_writer.h"
#include "harbour_scene.h"

namespace samples {

struct SampleChart {
    std::string fileName;
    std::string name;    // NA=
    std::string number;  // NU=
    SheetLayout layout;
    int compressionType = 4;
    // DAY/, DSK/ and NGT/ records beside RGB/, for the same indices.
    bool alternatePalettes = false;
};

std::vector<SampleChart> SampleCharts();

std::string SampleHeaderText(const SampleChart& chart, const ChartGeometry& geometry);

// Each chart pixel shows the ground at its centre; the coastline, contours,
// graticule and the sheet's border are drawn on the raster itself.
chartwriter::Picture PaintChart(const SampleChart& chart, const ChartGeometry& geometry,
                                const HarbourScene& scene);

}  // namespace samples

#endif
