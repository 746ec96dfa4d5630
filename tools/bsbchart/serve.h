// bsbchart serve CHART... [--port N] [--bind ADDRESS] [--cache MB]: the
// charts as a map in the browser, tiles cut by the library.
#ifndef BSBCHART_COMMAND_SERVE_H
#define BSBCHART_COMMAND_SERVE_H

#include <string>
#include <vector>

namespace command {

// `args` starts with "serve". Serves until SIGINT or SIGTERM; returns the
// exit status (0 after a clean stop, 1 when a chart or the address cannot be
// used, 2 for a usage error).
int RunServe(const std::vector<std::string>& args);

extern const char kServeUsage[];

}  // namespace command

#endif
