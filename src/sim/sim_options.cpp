#include "sim/sim_options.h"

#include <CLI/CLI.hpp>

#include "files/files.h"
#include "records/failures.h"

namespace obrint::sim {
namespace {

constexpr unsigned kMaxSimHeadsets = 64;

}  // namespace

void AddOptions(CLI::App& app, Options& options) {
  app.add_option("--sim", options.setup.count,
                 "use N built-in virtual headsets (default 1), on ports 1-2.1, 1-2.2, ...")
      ->expected(0, 1)
      ->default_str("1")
      ->check(CLI::Range(1u, kMaxSimHeadsets))
      ->type_name("[N]");
  app.add_option("--sim-fault", options.faults,
                 "give virtual headset N a fault: " + std::string(FaultNames()))
      ->type_name("N:KIND")
      ->check([](const std::string& text) {
        return ParseFault(text) ? std::string() : "not N:KIND: " + text;
      });
  app.add_flag("--sim-real-time", options.setup.realTime,
               "the virtual headsets' waits really pass");
  app.add_flag("--sim-no-ports", options.setup.noPorts,
               "the virtual headsets tell no USB port (restarts take turns)");
  app.add_flag("--sim-reuse-paths", options.setup.reusePaths,
               "the virtual interfaces take the lowest free /dev/hidrawN, as Linux numbers them");
  app.add_option("--sim-plug", options.plugMs,
                 "station: the virtual headsets are plugged in one after another, MS apart")
      ->type_name("MS");
  app.add_option("--sim-plug-file", options.plugFile,
                 "station: plug the virtual headsets in and out as FILE says, a step a line: "
                 "\"MS plug N\", \"MS plug N boot\", \"MS unplug N\"")
      ->type_name("FILE");
  app.add_option("--sim-state", options.state,
                 "keep the virtual headset's state in FILE between commands (implies --sim)")
      ->type_name("FILE");
}

std::string Complete(const CLI::App& app, Options& options, bool station) {
  HostSetup& setup = options.setup;
  setup.stateFile = options.state;
  const bool plugMs = app.count("--sim-plug") > 0;
  const bool plugged = plugMs || !options.plugFile.empty();
  options.used = app.count("--sim") > 0 || !options.state.empty() || !options.faults.empty() ||
                 setup.realTime || setup.noPorts || setup.reusePaths || plugged;
  if (plugged && !station) return "--sim-plug and --sim-plug-file rehearse a station";
  if (plugMs && !options.plugFile.empty()) {
    return "--sim-plug and --sim-plug-file exclude each other";
  }
  if (plugMs) setup.plugs = PlugInTurn(setup.count, options.plugMs);
  if (!options.plugFile.empty()) {
    const Result<std::string> script = files::ReadText(options.plugFile);
    if (!script) {
      return "--sim-plug-file: " +
             records::Message(script.failure(), files::WithSystemReason(options.plugFile));
    }
    std::string problem;
    std::optional<std::vector<PlugStep>> steps = ParsePlugScript(*script, setup.count, problem);
    if (!steps) return "--sim-plug-file " + options.plugFile + ": " + problem;
    setup.plugs = std::move(*steps);
  }
  if (!options.state.empty() && setup.count > 1) {
    return "--sim-state keeps one virtual headset only";
  }
  for (const std::string& text : options.faults) {
    const std::optional<Fault> fault = ParseFault(text);
    if (!fault || fault->headset > setup.count) {
      return "--sim-fault: there is no virtual headset " + text;
    }
    setup.faults.push_back(*fault);
  }
  return {};
}

}  // namespace obrint::sim
