// flash IMAGE: one headset, or with --all every attached headset at once.

#include "cli/flashing.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

// The bar of the one headset, and the question before its reboot.
class OneObserver : public RunObserver {
 public:
  using RunObserver::RunObserver;
  void Progress(std::size_t run, records::RunStage stage, std::uint32_t sent,
                std::uint32_t size) override {
    RunObserver::Progress(run, stage, sent, size);
    if (stage == records::RunStage::kFlashing) context_.console.Progress(sent, size);
  }
  bool ConfirmReboot(std::size_t) override {
    return context_.options.yes ||
           context_.console.Confirm(
               "The image is written and verified. Reboot the headset into it?");
  }
};

void FlashOne(Context& context, const engine::LoadedImage& image) {
  Console& console = context.console;
  std::string why;
  const Result<engine::Target> target =
      engine::SelectHeadset(context.host->bus(), context.options.headsets, &why);
  if (!target) return context.reply.Fail(target.failure(), why);
  console.Detail("headset: " + engine::Describe(*target));

  std::optional<RunPlace> place = OpenRunPlace(context, image);
  if (!place) return;
  OneObserver observer(context, *place);
  engine::Fleet fleet(FleetSetupFor(context, image, *place, observer));
  const std::vector<HeadsetRecord> records = fleet.Flash({*target});
  CloseOutbox(context, *place);
  console.EndProgress();
  const HeadsetRecord& record = records.front();
  context.reply.fields.update(records::RecordJson(place->setting, record));
  if (record.bootVersion) {
    console.Say("boot firmware version: " + records::VersionText(record.bootVersion));
  }
  if (record.outcome() == records::RunOutcome::kFlashed) {
    const std::string version = records::VersionText(record.firmwareAfter);
    console.Detail("back in its application firmware " + version);
    console.Say("flashed " + std::to_string(record.bytesSent) +
                " bytes; the headset is back with firmware " + version);
  } else {
    context.reply.FailRun(records, record.reason());
  }
  EndRunPlace(context, *place, fleet.unkept());
}

void Run(Context& context) {
  // Else the question's answer would be whatever stdin holds, read after the image is written.
  if (!context.options.yes && !context.console.canAsk()) {
    return context.reply.Fail(Failure::kNoTerminal);
  }
  const std::optional<engine::LoadedImage> image = LoadFlashableImage(context);
  if (!image) return;
  if (context.options.all) return FlashAll(context, *image);
  FlashOne(context, *image);
}

}  // namespace

const Command kFlashCommand = {"flash", "write a firmware image into the headset", true, Run};

}  // namespace obrint::cli
