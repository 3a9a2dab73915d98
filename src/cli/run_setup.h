// What the flashing commands (flash, flash --all, station) share: the options of a run and its
// records, the log each record is appended to, and the fleet's setup with the steps that -v
// prints and the record every headset gets on a signal.
#pragma once

#include <optional>

#include "cli/command.h"
#include "cli/files.h"
#include "cli/fleet.h"
#include "cli/image_load.h"
#include "cli/record.h"

namespace CLI {
class App;
}

namespace obrint::cli {

// IMAGE, --force, --log, --station, --operator and --timeout.
void AddRunOptions(CLI::App& command, Options& options);

// Where a run's records go.
struct RunPlace {
  RunSetting setting;
  std::optional<AppendLog> log;
};
// The setting of the run and its log, opened for appending; fails the reply (file error) when the
// log does not open, before any headset is touched.
Result<RunPlace> OpenRunPlace(Context& context, const LoadedImage& image);
// With -v its onProgress prints every 10 % of each image: a command that shows progress of its own
// calls it too.
FleetSetup MakeFleetSetup(Context& context, const LoadedImage& image, RunPlace& place);
// A record that did not reach the log is a file error, unless a headset's outcome is worse.
void EndRunPlace(Context& context, bool logged);

// flash --all.
void FlashAll(Context& context, const LoadedImage& image);

}  // namespace obrint::cli
