// flash --all: every attached headset of the vendor at once, a progress line each on a terminal,
// then a line per headset and the totals.
#include <set>

#include "cli/flashing.h"
#include "device/text.h"
#include "records/yield.h"

namespace obrint::cli {
namespace {

using Json = nlohmann::ordered_json;
using engine::Target;
using records::RunOutcome;
using records::RunStage;

// The live table, a row per headset, redrawn as the workers report.
class Board : public RunObserver {
 public:
  Board(Context& context, const RunPlace& place, const std::vector<Target>& targets)
      : RunObserver(context, place), table_(context.console) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const std::optional<McuId>& mcuId = targets[i].info.mcuId;
      table_.Add({engine::RowName(targets[i].interface.usbPort, i + 1),
                  mcuId ? FormatMcuId(*mcuId) : "", "starting"});
    }
  }
  // Its end is told by Ended, with the outcome.
  void Progress(std::size_t run, RunStage stage, std::uint32_t sent, std::uint32_t size) override {
    RunObserver::Progress(run, stage, sent, size);
    if (stage == RunStage::kDone) return;
    Show(run, stage == RunStage::kFlashing && size > 0
                  ? console::FlashingText(static_cast<int>(std::uint64_t{sent} * 100 / size))
                  : console::StageText(stage));
  }
  void Ended(std::size_t run, const HeadsetRecord& record) override {
    Show(run, record.outcome() == RunOutcome::kFlashed
                  ? "flashed " + records::VersionText(record.firmwareAfter)
                  : console::UnflashedText(record));
  }

 private:
  void Show(std::size_t run, std::string state) {
    if (table_.Set(run, std::move(state))) table_.Draw();
  }

  console::HeadsetTable table_;  // a row per run
};

// --only-failed LOG: the headsets whose last record in the log failed; the others are left alone
// and listed. False, with the reply failed, when the log cannot be read.
bool KeepOnlyFailed(Context& context, std::vector<Target>& targets) {
  const std::string& path = context.options.onlyFailed;
  std::string unopened;
  const Result<std::set<std::string>> failed = records::FailedMcuIdsIn(path, unopened);
  if (!failed) {
    context.reply.Fail(failed.failure(), unopened);
    return false;
  }
  Json leftAlone = Json::array();
  std::erase_if(targets, [&](const Target& target) {
    if (target.info.mcuId && failed->contains(FormatMcuId(*target.info.mcuId))) return false;
    leftAlone.push_back(engine::Describe(target));
    context.console.Say("left alone, no failed last record in " + path + ": " +
                        engine::Describe(target));
    return true;
  });
  context.reply.fields["left_alone"] = std::move(leftAlone);
  if (targets.empty()) {
    context.reply.Fail(
        Failure::kNoHeadset,
        "nothing to flash: no attached headset's last record in " + path + " failed");
  }
  return !targets.empty();
}

}  // namespace

void FlashAll(Context& context, const engine::LoadedImage& image) {
  const Options& options = context.options;
  Console& console = context.console;
  std::string why;
  Result<std::vector<Target>> targets =
      engine::SelectHeadsets(context.host->bus(), options.headsets, &why);
  if (!targets) return context.reply.Fail(targets.failure(), why);
  if (!options.onlyFailed.empty() && !KeepOnlyFailed(context, *targets)) return;
  if (!options.yes &&
      !console.Confirm("Flash " + options.image + " into " + std::to_string(targets->size()) +
                       " headsets, and reboot each into it once it is verified?")) {
    return context.reply.Fail(Failure::kNotConfirmed);
  }
  std::optional<RunPlace> place = OpenRunPlace(context, image);
  if (!place) return;

  Board board(context, *place, *targets);
  engine::Fleet fleet(FleetSetupFor(context, image, *place, board));
  const auto started = std::chrono::steady_clock::now();
  const std::vector<HeadsetRecord> records = fleet.Flash(*targets);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  CloseOutbox(context, *place);
  console.EndProgress();

  std::size_t flashed = 0, notStarted = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    console.Say(console::RecordLine(engine::RowName((*targets)[i].interface.usbPort, i + 1),
                                    records[i], OnVirtualTime(options)));
    flashed += records[i].outcome() == RunOutcome::kFlashed;
    notStarted += records[i].outcome() == RunOutcome::kNotStarted;
  }
  Json strays = Json::array();
  for (const HidInterface& stray : fleet.strays()) {
    strays.push_back({{"usb_port", stray.usbPort}, {"path", stray.path}});
    console.Warn("a boot firmware that no headset of this run restarted into was left alone: " +
                 (stray.usbPort.empty() ? stray.path : stray.usbPort));
  }
  const std::size_t failed = records.size() - flashed - notStarted;
  Json& fields = context.reply.fields;
  PutImage(fields, place->setting);
  fields["follow"] = fleet.byPort() ? "port" : "turns";
  fields["headsets"] = records::RecordsJson(place->setting, records);
  fields["strays"] = std::move(strays);
  fields["totals"] = {{"headsets", records.size()},
                      {"flashed", flashed},
                      {"failed", failed},
                      {"not_started", notStarted},
                      {"seconds", seconds}};
  console.Say(
      std::to_string(records.size()) + " headsets: " + std::to_string(flashed) + " flashed, " +
      std::to_string(failed) + " failed, " + std::to_string(notStarted) + " not started, " +
      (OnVirtualTime(options) ? "on virtual time" : "in " + FormatFixed(seconds, 1) + " s"));
  // The headsets' outcomes rank first; a record lost on the way to the log comes after.
  context.reply.FailRun(records, std::to_string(records.size() - flashed) + " of " +
                                     std::to_string(records.size()) + " headsets were not flashed");
  EndRunPlace(context, *place, fleet.unkept());
}

}  // namespace obrint::cli
