// The command's jobs, each a host of the library's public interface.
#ifndef BSBCHART_COMMAND_COMMANDS_H
#define BSBCHART_COMMAND_COMMANDS_H

#include <string>

#include "arguments.h"

namespace command {

// Exit statuses.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

// Routes the library's messages through the command, which prints each as
// one "bsbchart: ..." line on stderr (Windows would show message boxes).
void InstallMessageSink();

int RunInfo(const Invocation& invocation);
int RunWindow(const Invocation& invocation);

// Where a window goes when no -o is given: beside the chart, named for the
// window, e.g. harbour.px-50-100-249-199.bmp.
std::string DefaultOutputPath(const std::string& chart, const Invocation& invocation);

}  // namespace command

#endif
