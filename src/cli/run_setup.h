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
// The words that tell, at once, that the log stopped taking records.
std::string LogFailedText(const std::string& log, const std::string& why);
// The records the log could not take, whole: in the command's object ("unlogged"), and without
// --json on stderr, a line each. Then a file error, unless a headset's outcome is worse.
void EndRunPlace(Context& context, const RunPlace& place,
                 const std::vector<HeadsetRecord>& unlogged);

// A row of the live table of flash --all and of the station: a headset's port, its MCU ID, and
// where it stands. The table's header is the row of the columns' names.
std::string HeadsetRow(std::string_view port, std::string_view mcuId, std::string_view state);
// Whether the run's waits pass on the virtual headsets' own clock (--sim without --sim-real-time):
// its durations are then no real headset's.
bool OnVirtualTime(const Options& options);

// flash --all.
void FlashAll(Context& context, const LoadedImage& image);

}  // namespace obrint::cli
