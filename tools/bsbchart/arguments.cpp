#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace command {

const char kHelpText[] =
    "usage: bsbchart info CHART... [--json]\n"
    "       bsbchart window CHART --pixels LEFT,TOP,RIGHT,BOTTOM [-o OUT.bmp|-]\n"
    "       bsbchart window CHART --world WEST,NORTH,EAST,SOUTH [-o OUT.bmp|-]\n"
    "       bsbchart help [COMMAND] | --help | --version\n"
    "\n"
    "Shows what a BSB raster chart (.kap) covers and writes any part of it as a BMP file.\n"
    "\n"
    "  info      the raster size, whether the chart is skewed, the world rectangle\n"
    "            (west,north,east,south) and its centre, the bits per pixel, the\n"
    "            palettes and the header's name, scale, datum, projection and units;\n"
    "            --json for scripts\n"
    "  window    a window of the chart as a BMP file, given in chart pixels\n"
    "            (inclusive; at least 2 x 2) or in world coordinates (longitude and\n"
    "            latitude in the chart's units; a skewed chart comes back upright)\n"
    "  serve     the charts as a map in the browser until interrupted:\n"
    "            bsbchart serve CHART... [--port N] [--bind ADDRESS] [--cache MB]\n"
    "            ('bsbchart serve --help' tells more)\n"
    "\n"
    "  -o, --output OUT.bmp   where to write the window (- for standard output); by\n"
    "                         default next to the chart, e.g. CHART.px-50-100-249-199.bmp\n"
    "                         or CHART.world-4.17W-50.365N-4.15W-50.35N.bmp\n"
    "\n"
    "'bsbchart help COMMAND' or 'bsbchart COMMAND --help' shows one command's options.\n"
    "\n"
    "Exit status: 0 success, 1 the chart or the output could not be used (the reason\n"
    "is on stderr), 2 a usage error.\n";

namespace {

const char kInfoHelp[] =
    "usage: bsbchart info CHART... [--json]\n"
    "\n"
    "Shows for each chart the raster size, whether it is skewed, the world rectangle\n"
    "(west,north,east,south) it covers and its centre, the bits per pixel of its\n"
    "windows, the palettes it carries, and its name, scale, geodetic datum,\n"
    "projection and depth units as its header gives them.\n"
    "\n"
    "  --json   one JSON object per chart, one per line, for scripts\n"
    "\n"
    "Exit status: 0 success, 1 a chart could not be read (the reason is on stderr;\n"
    "the other charts are still shown), 2 a usage error.\n";

const char kWindowHelp[] =
    "usage: bsbchart window CHART --pixels LEFT,TOP,RIGHT,BOTTOM [-o OUT.bmp|-]\n"
    "       bsbchart window CHART --world WEST,NORTH,EAST,SOUTH [-o OUT.bmp|-]\n"
    "\n"
    "Writes a window of the chart as a BMP file and prints its path, size and bits\n"
    "per pixel.\n"
    "\n"
    "  --pixels LEFT,TOP,RIGHT,BOTTOM\n"
    "            chart pixels, inclusive: at least 2 x 2 pixels (0,0,1,1 is the\n"
    "            smallest window), wholly inside the chart\n"
    "  --world WEST,NORTH,EAST,SOUTH\n"
    "            longitude and latitude in the chart's units: cut to fit an upright\n"
    "            chart, resampled upright from a skewed one; as small as one pixel;\n"
    "            a window that does not touch the chart is refused\n"
    "  -o, --output OUT.bmp\n"
    "            where to write the window; - writes it to standard output. By\n"
    "            default it goes next to the chart, named after the window:\n"
    "            CHART.px-L-T-R-B.bmp or CHART.world-4.17W-50.365N-4.15W-50.35N.bmp.\n"
    "            A name ending in .png gives a PNG image, any other a BMP file.\n"
    "            The file is written under a temporary name and renamed into place,\n"
    "            never over the chart itself.\n"
    "\n"
    "Exit status: 0 success, 1 the chart or the output could not be used (the reason\n"
    "is on stderr), 2 a usage error.\n";

const char kHelpHelp[] =
    "usage: bsbchart help [COMMAND]\n"
    "\n"
    "Shows what the bsbchart command does, or one command's options.\n";

struct CommandEntry {
    const char* name;
    const char* help;
};

const CommandEntry kCommands[] = {
    {"info", kInfoHelp},
    {"window", kWindowHelp},
    {"help", kHelpHelp},
};

const char kGeneralHint[] = "usage: bsbchart info|window CHART ...; see 'bsbchart --help'";
const char kInfoHint[] = "usage: bsbchart info CHART... [--json]";
const char kWindowHint[] =
    "usage: bsbchart window CHART (--pixels LEFT,TOP,RIGHT,BOTTOM | --world WEST,NORTH,EAST,SOUTH) "
    "[-o OUT.bmp|-]";
const char kHelpHint[] = "usage: bsbchart help [COMMAND]";

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return parts;
        start = comma + 1;
    }
}

// "1,2,x" -> the message naming what is wrong, or empty.
std::string ReadIntegers(const std::string& option, const std::string& text, std::array<int, 4>& out) {
    std::vector<std::string> parts = SplitCommas(text);
    if (parts.size() != 4)
        return option + " takes four integers LEFT,TOP,RIGHT,BOTTOM, not \"" + text + "\"";
    for (size_t i = 0; i < 4; ++i) {
        const std::string& part = parts[i];
        char* end = nullptr;
        errno = 0;
        long long value = part.empty() || std::isspace(static_cast<unsigned char>(part[0]))
                              ? 0
                              : std::strtoll(part.c_str(), &end, 10);
        if (!end || *end != '\0') return option + ": \"" + part + "\" is not an integer";
        if (errno == ERANGE || value < std::numeric_limits<int>::min() ||
            value > std::numeric_limits<int>::max())
            return option + ": " + part + " is out of range";
        out[i] = static_cast<int>(value);
    }
    return "";
}

std::string ReadNumbers(const std::string& option, const std::string& text, std::array<double, 4>& out) {
    std::vector<std::string> parts = SplitCommas(text);
    if (parts.size() != 4)
        return option + " takes four numbers WEST,NORTH,EAST,SOUTH, not \"" + text + "\"";
    for (size_t i = 0; i < 4; ++i) {
        const std::string& part = parts[i];
        char* end = nullptr;
        double value = part.empty() || std::isspace(static_cast<unsigned char>(part[0]))
                           ? 0.0
                           : std::strtod(part.c_str(), &end);
        if (!end || *end != '\0' || !std::isfinite(value))
            return option + ": \"" + part + "\" is not a number";
        out[i] = value;
    }
    if (out[0] > out[2]) return option + ": WEST " + parts[0] + " lies east of EAST " + parts[2];
    if (out[3] > out[1]) return option + ": SOUTH " + parts[3] + " lies north of NORTH " + parts[1];
    return "";
}

bool Fail(UsageError& error, const std::string& message, const char* hint) {
    error.message = message;
    error.hint = hint;
    return false;
}

// Splits "--name=value" and takes the value of "--name value" from the next
// argument.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               const std::string& inlineValue, bool hasInline, std::string& value, UsageError& error,
               const char* hint) {
    if (hasInline) {
        value = inlineValue;
        return true;
    }
    if (i + 1 >= args.size()) return Fail(error, name + " needs a value", hint);
    value = args[++i];
    return true;
}

// "--help" or "-h" among a command's options (before "--").
bool AsksForHelp(const std::vector<std::string>& args) {
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--") return false;
        if (args[i] == "--help" || args[i] == "-h") return true;
    }
    return false;
}

bool ParseCommandOptions(const std::vector<std::string>& args, Invocation& inv, UsageError& error) {
    const bool info = inv.action == Action::Info;
    const char* hint = info ? kInfoHint : kWindowHint;
    const std::string commandName = info ? "info" : "window";
    bool optionsEnded = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            if (!info && !inv.charts.empty()) return Fail(error, "unexpected argument \"" + arg + "\"", hint);
            inv.charts.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        size_t equals = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const bool hasInline = equals != std::string::npos;
        const std::string inlineValue = hasInline ? arg.substr(equals + 1) : "";
        std::string value;
        if (info && name == "--json" && !hasInline) {
            inv.json = true;
        } else if (!info && name == "--pixels") {
            if (inv.pixels || inv.world) return Fail(error, "give one of --pixels and --world, once", hint);
            if (!TakeValue(args, i, name, inlineValue, hasInline, value, error, hint)) return false;
            std::array<int, 4> rect{};
            std::string problem = ReadIntegers(name, value, rect);
            if (!problem.empty()) return Fail(error, problem, hint);
            inv.pixels = rect;
        } else if (!info && name == "--world") {
            if (inv.pixels || inv.world) return Fail(error, "give one of --pixels and --world, once", hint);
            if (!TakeValue(args, i, name, inlineValue, hasInline, value, error, hint)) return false;
            std::array<double, 4> rect{};
            std::string problem = ReadNumbers(name, value, rect);
            if (!problem.empty()) return Fail(error, problem, hint);
            inv.world = rect;
        } else if (!info && (name == "-o" || name == "--output")) {
            if (!inv.output.empty()) return Fail(error, name + " given twice", hint);
            if (!TakeValue(args, i, name, inlineValue, hasInline, value, error, hint)) return false;
            if (value.empty()) return Fail(error, name + " needs a file name", hint);
            inv.output = value;
        } else {
            return Fail(error, "unknown option \"" + arg + "\" for " + commandName, hint);
        }
    }
    if (inv.charts.empty()) return Fail(error, commandName + " needs a CHART file", hint);
    if (!info && !inv.pixels && !inv.world) return Fail(error, "window needs --pixels or --world", hint);
    return true;
}

}  // namespace

const char* CommandHelp(const std::string& command) {
    for (const CommandEntry& entry : kCommands)
        if (command == entry.name) return entry.help;
    return nullptr;
}

std::optional<Invocation> ParseArguments(const std::vector<std::string>& args, UsageError& error) {
    Invocation inv;
    if (args.empty()) {
        Fail(error, "no command given", kGeneralHint);
        return std::nullopt;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "--version") {
        if (args.size() > 1) {
            Fail(error, "unexpected argument \"" + args[1] + "\"", kGeneralHint);
            return std::nullopt;
        }
        inv.action = first == "--version" ? Action::Version : Action::Help;
        return inv;
    }
    if (first == "help") {
        inv.action = Action::Help;
        if (args.size() > 2) {
            Fail(error, "unexpected argument \"" + args[2] + "\"", kHelpHint);
            return std::nullopt;
        }
        if (args.size() == 2) {
            if (!CommandHelp(args[1])) {
                Fail(error, "unknown command \"" + args[1] + "\"", kHelpHint);
                return std::nullopt;
            }
            inv.helpTopic = args[1];
        }
        return inv;
    }
    if (first == "info") inv.action = Action::Info;
    else if (first == "window") inv.action = Action::Window;
    else {
        Fail(error, (!first.empty() && first[0] == '-' ? "unknown option \"" : "unknown command \"") + first + "\"",
             kGeneralHint);
        return std::nullopt;
    }
    if (AsksForHelp(args)) {
        inv.action = Action::Help;
        inv.helpTopic = first;
        return inv;
    }
    if (!ParseCommandOptions(args, inv, error)) return std::nullopt;
    return inv;
}

}  // namespace command
