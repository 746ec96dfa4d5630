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
    std::string helpTopic;            // Help: a command's name, or empty for the whole command
    std::vector<std::string> charts;  // info: one or more; window: exactly one
    bool json = false;
    std::optional<std::array<int, 4>> pixels;    // left, top, right, bottom
    std::optional<std::array<double, 4>> world;  // west, north, east, south
    std::string output;                          // empty: next to the chart; "-": standard output
};

struct UsageError {
    std::string message;
    std::string hint;  // one line
};

// Arguments without the program name.
std::optional<Invocation> ParseArguments(const std::vector<std::string>& args, UsageError& error);

// What `bsbchart --help` and `bsbchart help` print.
extern const char kHelpText[];

// What `bsbchart help COMMAND` and `bsbchart COMMAND --help` print; null for
// a name that is not a command.
const char* CommandHelp(const std::string& command);

}  // namespace command

#endif
