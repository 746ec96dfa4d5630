// Helpers for tests that call the library's internal functions directly.
#ifndef BSBCHART_INTERNAL_SUPPORT_H
#define BSBCHART_INTERNAL_SUPPORT_H

#include <memory>
#include <string>

#include "chartfile/chart_file.h"
#include "report/reporter.h"
#include "test_support.h"

namespace testsupport {

// A reporter that shows its messages, as the four exported calls' does: a
// fresh one for every call it is passed to.
inline bsb::Reporter* Shown() {
    static thread_local bsb::Reporter reporter;
    reporter = bsb::ShowingReporter();
    return &reporter;
}

// Opens a chart exclusively, as the four calls do, without a message.
inline bool OpenQuietly(bsb::ChartFile* file, const unsigned short* path) {
    bsb::Reporter reporter = bsb::QuietReporter();
    return bsb::OpenChart(file, path, &reporter);
}

// Whether nothing holds the chart open: it opens exclusively, and is closed
// again at once.
inline bool ChartOpensAgain(const unsigned short* path) {
    auto file = std::make_unique<bsb::ChartFile>();
    if (!OpenQuietly(file.get(), path)) return false;
    bsb::CloseChartFile(file.get());
    return true;
}

inline bool ChartOpensAgain(const std::string& path) { return ChartOpensAgain(Utf16Path(path).data()); }

// A chart opened quietly for the test, closed at the end or by Close().
struct OpenedChart {
    explicit OpenedChart(const unsigned short* path) : file(new bsb::ChartFile) {
        open = OpenQuietly(file.get(), path);
    }
    explicit OpenedChart(const std::string& path) : OpenedChart(Utf16Path(path).data()) {}
    ~OpenedChart() { Close(); }
    OpenedChart(const OpenedChart&) = delete;
    OpenedChart& operator=(const OpenedChart&) = delete;

    void Close() {
        if (open) bsb::CloseChartFile(file.get());
        open = false;
    }
    bsb::ChartFile* get() const { return file.get(); }

    std::unique_ptr<bsb::ChartFile> file;
    bool open = false;
};

}  // namespace testsupport

#endif
