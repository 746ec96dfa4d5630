// The command line: what the user asked for, or why it cannot be done.
#ifndef BSBCHART_COMMAND_ARGUMENTS_H
#define BSBCHART_COMMAND_ARGUMENTS_H

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace command {

enum class Action { Help, Version, Info, Window };

struct Invocation {
    Action action = Action::Help;
    std::string chart;
    bool json = false;
    std::optional<std::array<int, 4>> pixels;    // left, top, right, bottom
    std::optional<std::array<double, 4>> world;  // west, north, east, south
    std::string output;                          // empty: next to the chart
};

struct UsageError {
    std::string message;
    std::string hint;  // one line
};

// Arguments without the program name.
std::optional<Invocation> ParseArguments(const std::vector<std::string>& args, UsageError& error);

extern const char kHelpText[];

}  // namespace command

#endif
