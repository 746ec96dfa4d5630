// The command's two jobs, each a host of the library's public interface.
#ifndef BSBCHART_COMMAND_COMMANDS_H
#define BSBCHART_COMMAND_COMMANDS_H

#include "arguments.h"

namespace command {

// Exit statuses.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

int RunInfo(const Invocation& invocation, const unsigned short* chart);
int RunWindow(const Invocation& invocation, const unsigned short* chart);

// Where a window goes when no -o is given: beside the chart, named for the
// window, e.g. harbour.px-50-100-249-199.bmp.
std::string DefaultOutputPath(const Invocation& invocation);

}  // namespace command

#endif
