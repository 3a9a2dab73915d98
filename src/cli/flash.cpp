// flash IMAGE: one headset, or with --all every attached headset at once.
#include <CLI/CLI.hpp>

#include "cli/command.h"
#include "cli/fleet.h"
#include "cli/run_setup.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

void Define(CLI::App& command, Options& options) {
  command.add_flag("-y,--yes", options.yes,
                   "do not ask: reboot into the new firmware (with --all: flash every headset)");
  command.add_flag("--all", options.all,
                   "every attached headset at once, each followed by its USB port");
  command
      .add_option("--only-failed", options.onlyFailed,
                  "with --all: only the headsets whose last record in LOG failed")
      ->type_name("LOG");
  AddRunOptions(command, options);
}

void FlashOne(Context& context, const LoadedImage& image) {
  const Options& options = context.options;
  Console& console = context.console;
  std::optional<Target> target = SelectHeadset(context, options);
  if (!target) return;
  console.Detail("headset: " + Describe(*target));

  Result<RunPlace> place = OpenRunPlace(context, image);
  if (!place) return;
  FleetSetup setup = MakeFleetSetup(context, image, *place);
  if (!options.yes) {
    setup.confirmReboot = [&console](std::size_t) {
      return console.Confirm("The image is written and verified. Reboot the headset into it?");
    };
  }
  setup.onProgress = [&console, verbose = std::move(setup.onProgress)](
                         std::size_t index, RunStage stage, std::uint32_t sent,
                         std::uint32_t size) {
    if (verbose) verbose(index, stage, sent, size);
    if (stage == RunStage::kFlashing) console.Progress(sent, size);
  };
  Fleet fleet(std::move(setup));
  const std::vector<HeadsetRecord> records = fleet.Flash({*target});
  console.EndProgress();
  const HeadsetRecord& record = records.front();
  context.reply.fields.update(RecordJson(place->setting, record));
  if (record.bootVersion) console.Say("boot firmware version: " + VersionText(record.bootVersion));
  if (record.outcome == RunOutcome::kFlashed) {
    console.Detail("back in its application firmware " + VersionText(record.firmwareAfter));
    console.Say("flashed " + std::to_string(record.bytesSent) +
                " bytes; the headset is back with firmware " + VersionText(record.firmwareAfter));
  } else {
    context.reply.Fail(static_cast<ExitCode>(record.exitStatus), record.reason);
  }
  EndRunPlace(context, *place, fleet.unlogged());
}

void Run(Context& context) {
  const Options& options = context.options;
  // Else the question's answer would be whatever stdin holds, read after the image is written.
  if (!options.yes && !context.console.canAsk()) {
    return context.reply.Fail(ExitCode::kUsage,
                              "flash asks before it reboots a headset, and there is no terminal "
                              "to answer on: give --yes to flash without asking");
  }
  const Result<LoadedImage> image = LoadImage(options.image);
  context.reply.fields["image_path"] = options.image;
  if (!image) return context.reply.Fail(image.failure(), WithSystemReason(options.image));
  // Refused before any headset is touched.
  if (const Status flashable = Flashable(*image, options.force); !flashable) {
    return context.reply.Fail(flashable.failure(), options.image);
  }
  if (options.all) return FlashAll(context, *image);
  FlashOne(context, *image);
}

}  // namespace

const Command kFlashCommand = {"flash", "write a firmware image into the headset", true, Define,
                               Run};

}  // namespace obrint::cli
