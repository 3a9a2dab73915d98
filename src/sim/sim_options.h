// --sim and the other options of the virtual headsets, as the command line takes them: defined on
// its parser, then checked against each other and made into the host's setup.
#pragma once

#include <string>
#include <vector>

#include "sim/sim_host.h"

namespace CLI {
class App;
}

namespace obrint::sim {

struct Options {
  HostSetup setup;
  bool used = false;  // any of them given: the virtual headsets stand in for the platform's
  unsigned plugMs = 0;
  std::string plugFile, state;
  std::vector<std::string> faults;
};

// --sim [N], --sim-fault, --sim-real-time, --sim-no-ports, --sim-reuse-paths, --sim-plug,
// --sim-plug-file and --sim-state.
void AddOptions(CLI::App& app, Options& options);
// Once parsed: the setup completed, and whether they are used. Why they do not hold together
// (plugs rehearse a station only: `station`), or an empty text.
std::string Complete(const CLI::App& app, Options& options, bool station);

}  // namespace obrint::sim
