// What flash, flash --all and station share: the image, the place the records are kept in, and
// the fleet's observer that ends the process on a signal once every headset has its record.
#pragma once

#include <optional>

#include "cli/command.h"
#include "console/run_view.h"
#include "engine/fleet.h"

namespace obrint::cli {

// IMAGE read once and checked (--force); nullopt, the reply failed, where it may not be flashed.
std::optional<engine::LoadedImage> LoadFlashableImage(Context& context);

using engine::RunPlace;
// The run's setting, its log opened for appending, the database's outbox over it; nullopt, the
// reply failed, where the log does not open or --db comes without --log or cannot be read.
std::optional<RunPlace> OpenRunPlace(Context& context, const engine::LoadedImage& image);

// What a flashing command hears of its fleet: a run's lines on the console, and on a signal that
// ends it, every headset's record, then the end of the process with 128 + the signal's number.
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

// The fleet's setup, its observer hearing the database too; the run now decides how a signal
// ends it.
engine::FleetSetup FleetSetupFor(Context& context, const engine::LoadedImage& image,
                                 RunPlace& place, RunObserver& observer);
// Once the records are kept: the database's last chance (RunPlace::CloseOutbox), its state in
// the command's object ("database"), and how many records wait in the log for a push.
void CloseOutbox(Context& context, const RunPlace& place);
// The database's state, as the command's object and the station's events give it.
nlohmann::ordered_json LinkJson(const database::Link& link);
// The image of the run in the command's object: image_size, image_sha256, image_checksum.
void PutImage(nlohmann::ordered_json& fields, const records::RunSetting& setting);
// The records the log could not take, whole, in "unlogged" (without --json on stderr, a line
// each); then a file error, unless a headset's outcome is worse.
void EndRunPlace(Context& context, const RunPlace& place, const std::vector<HeadsetRecord>& unkept);

// Whether the waits pass on the virtual headsets' clock (--sim without --sim-real-time).
bool OnVirtualTime(const Options& options);

// flash --all.
void FlashAll(Context& context, const engine::LoadedImage& image);

}  // namespace obrint::cli
