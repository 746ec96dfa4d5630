// What the command asks of the library's handle interface (bsbchart_c.h):
// why a chart cannot be opened, the header's metadata, where a world window
// falls on the chart, and charts whose names are not UTF-8.
#ifndef BSBCHART_COMMAND_OPEN_CHART_H
#define BSBCHART_COMMAND_OPEN_CHART_H

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "bsbchart_c.h"

namespace command {

// A chart opened through the handle interface with its name's bytes as
// they are; closed when it goes.
class OpenChart {
public:
    explicit OpenChart(const std::string& path);
    ~OpenChart();
    OpenChart(const OpenChart&) = delete;
    OpenChart& operator=(const OpenChart&) = delete;

    const bsbchart* handle() const { return handle_; }
    // Closes the handle: its shared lock would refuse the four calls.
    void Close();
    // Why the open failed, e.g. "no such file"; empty when it did not.
    const std::string& reason() const { return reason_; }
    // The open's failure with the path, e.g. "no such file: charts/a.kap".
    std::string FailureText(const std::string& path) const;

private:
    bsbchart* handle_ = nullptr;
    bsbchart_error error_{};
    std::string reason_;
};

// bsbchart_error_text without or with a path.
std::string ErrorText(const bsbchart_error& error, const char* path = nullptr);

struct ChartMetadata {
    int bitsPerPixel = 0;
    std::vector<std::string> palettes;  // record keys without the slash: "RGB", "NGT", ...
    std::optional<std::string> name, scale, datum, projection, units;
};

ChartMetadata MetadataOf(const bsbchart* chart);

// Whether the world window's rectangle, taken to chart pixels through the
// chart's polynomials, meets the raster; nullopt when the chart cannot say.
std::optional<bool> WorldWindowMeetsRaster(const bsbchart* chart, const std::array<double, 4>& window);

}  // namespace command

#endif
