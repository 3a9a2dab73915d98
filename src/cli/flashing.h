// What the flashing commands (flash, flash --all, station) share: the options of a run and its
// records, the image loaded for flashing, the place each record is kept in, and the observer of
// the fleet that ends the process on a signal once every headset has its record.
#pragma once

#include <optional>

#include "cli/command.h"
#include "console/run_view.h"
#include "engine/run_place.h"
#include "engine/loaded_image.h"

namespace CLI {
class App;
}

namespace obrint::cli {

// IMAGE, --force, --log, --db, --station, --operator and --timeout.
void AddRunOptions(CLI::App& command, Options& options);

// The image of --force and IMAGE, read once and checked; nullopt, with the reply failed, when it
// cannot be read or is no image to flash. Before any headset is touched.
std::optional<engine::LoadedImage> LoadFlashableImage(Context& context);

using engine::RunPlace;
// The setting of the run and its log, opened for appending, with the database's outbox over it;
// fails the reply, before any headset is touched, when the log does not open (file error), or
// --db is given without --log or cannot be read.
std::optional<RunPlace> OpenRunPlace(Context& context, const engine::LoadedImage& image);

// What a flashing command hears of its fleet: what a run tells on the console as it goes, and
// when a signal ends the run, every headset's record, then the end of the process with 128 + the
// signal's number.
class RunObserver : public console::RunConsole {
 public:
  RunObserver(Context& context, const RunPlace& place)
      : RunConsole(context.console, context.options.log), context_(context), place_(place) {}
  ~RunObserver() override;
  void Ending(const std::vector<HeadsetRecord>& records, int signal) override;

 protected:
  // Ends the process with `status`, once the output is out.
  [[noreturn]] static void EndProcess(int status);

  Context& context_;
  const RunPlace& place_;
};

// The fleet's setup for a run of the command, whose observer hears the database too; from now on
// the run decides how a signal ends it.
engine::FleetSetup FleetSetupFor(Context& context, const engine::LoadedImage& image,
                                 RunPlace& place, RunObserver& observer);
// Once the run's records are kept: the database's last chance to take those that wait, where it
// stands in the command's object ("database"), and how many records wait in the log for a push.
void CloseOutbox(Context& context, const RunPlace& place);
// The database's state, as the command's object and the station's events give it.
nlohmann::ordered_json LinkJson(const database::Link& link);
// The image of the run in the command's object: image_size, image_sha256, image_checksum.
void PutImage(nlohmann::ordered_json& fields, const records::RunSetting& setting);
// The records the log could not take, whole: in the command's object ("unlogged"), and without
// --json on stderr, a line each. Then a file error, unless a headset's outcome is worse.
void EndRunPlace(Context& context, const RunPlace& place, const std::vector<HeadsetRecord>& unkept);

// Whether the run's waits pass on the virtual headsets' own clock (--sim without --sim-real-time):
// its durations are then no real headset's.
bool OnVirtualTime(const Options& options);

// flash --all.
void FlashAll(Context& context, const engine::LoadedImage& image);

}  // namespace obrint::cli
