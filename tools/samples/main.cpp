// bsbchart-samples OUTDIR: writes the sample harbour charts into OUTDIR.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "chart_writer.h"
#include "sample_charts.h"

int main(int argc, char** argv) {
    if (argc != 2 || std::string(argv[1]) == "--help") {
        std::fprintf(argc == 2 ? stdout : stderr, "usage: bsbchart-samples OUTDIR\n");
        return argc == 2 ? 0 : 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        std::fprintf(stderr, "bsbchart-samples: cannot create %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    const samples::HarbourScene scene = samples::MakeHarbourScene();
    for (const samples::SampleChart& chart : samples::SampleCharts()) {
        const samples::ChartGeometry geometry = samples::MakeGeometry(chart.layout);
        const std::string header = samples::SampleHeaderText(chart, geometry);
        const chartwriter::Picture picture = samples::PaintChart(chart, geometry, scene);
        const std::vector<uint8_t> bytes = chartwriter::BuildChart(header, picture, chart.compressionType);
        const std::string path = (dir / chart.fileName).string();
        if (bytes.empty() || !chartwriter::WriteFileBytes(path, bytes)) {
            std::fprintf(stderr, "bsbchart-samples: cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
    }
    return 0;
}
