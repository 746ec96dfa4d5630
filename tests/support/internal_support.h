// Helpers for tests that call the library's internal functions directly.
#ifndef BSBCHART_INTERNAL_SUPPORT_H
#define BSBCHART_INTERNAL_SUPPORT_H

#include "chartfile/chart_file.h"
#include "report/reporter.h"

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

}  // namespace testsupport

#endif
