// flash --all: every attached headset of the vendor at once, a progress line each on a terminal,
// then a line per headset and the totals.
#include <cstdio>
#include <fstream>
#include <set>

#include "cli/log_report.h"
#include "cli/run_setup.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kBarWidth = 20;

// A headset's name in the output: its port, or where the platform tells none, its place.
std::string Label(const Target& target, std::size_t index) {
  // Appended piece by piece: g++ 12 at -O2 warns (-Wrestrict, wrongly) on "#" + std::string.
  return target.interface.usbPort.empty() ? std::string("#").append(std::to_string(index + 1))
                                          : target.interface.usbPort;
}

std::string StageName(RunStage stage) {
  switch (stage) {
    case RunStage::kWaiting:
      return "waiting for its turn";
    case RunStage::kRestarting:
      return "restarting into the boot firmware";
    case RunStage::kFlashing:
      return "flashing";
    case RunStage::kRebooting:
      return "rebooting";
    case RunStage::kDone:
      break;
  }
  return "";
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// The live table, a row per headset under the header, redrawn as the workers report.
class Board {
 public:
  Board(Console& console, const std::vector<Target>& targets) : console_(console) {
    lines_.push_back(HeadsetRow("USB PORT", "MCU ID", "STATE"));
    for (std::size_t i = 0; i < targets.size(); ++i) {
      const std::optional<McuId>& mcuId = targets[i].info.mcuId;
      heads_.push_back(HeadsetRow(Label(targets[i], i), mcuId ? FormatMcuId(*mcuId) : "", ""));
      lines_.push_back(heads_.back() + "starting");
    }
  }
  // Its end is told by Ended, with the outcome.
  void Update(std::size_t index, RunStage stage, std::uint32_t sent, std::uint32_t size) {
    if (stage == RunStage::kDone) return;
    Show(index, stage == RunStage::kFlashing && size > 0
                    ? "flashing " +
                          ProgressBar(static_cast<int>(std::uint64_t{sent} * 100 / size), kBarWidth)
                    : StageName(stage));
  }
  void Ended(std::size_t index, const HeadsetRecord& record) {
    if (record.outcome == RunOutcome::kFlashed) {
      return Show(index, "flashed " + VersionText(record.firmwareAfter));
    }
    if (record.outcome == RunOutcome::kNotStarted) return Show(index, record.reason);
    Show(index, std::string(OutcomeName(record.outcome)) + ": " + record.reason);
  }

 private:
  void Show(std::size_t index, const std::string& state) {
    std::string line = heads_[index] + state;
    if (line == lines_[index + 1]) return;
    lines_[index + 1] = std::move(line);
    console_.Table(lines_);
  }

  Console& console_;
  std::vector<std::string> heads_;  // each row's port and MCU ID
  std::vector<std::string> lines_;
};

std::string SummaryLine(const HeadsetRecord& record, const Target& target, std::size_t index,
                        bool virtualTime) {
  std::string line = Label(target, index) + "  MCU ID " +
                     (record.mcuId ? FormatMcuId(*record.mcuId) : "(not read)") + "  " +
                     (record.firmwareBefore ? VersionText(record.firmwareBefore) : "boot") +
                     " -> " + (record.firmwareAfter ? VersionText(record.firmwareAfter) : "?") +
                     "  " + std::string(OutcomeName(record.outcome));
  if (!record.reason.empty()) line += ": " + record.reason;
  const auto ms = std::chrono::duration<double>(record.ended - record.started).count();
  // On virtual time the duration is no real headset's.
  return virtualTime ? line : line + "  " + Seconds(ms);
}

// --only-failed LOG: the headsets whose last record in the log failed; the others are left alone
// and listed. False, with the reply failed, when the log cannot be read.
bool KeepOnlyFailed(Context& context, std::vector<Target>& targets) {
  const std::string& path = context.options.onlyFailed;
  std::ifstream in;
  if (!OpenLog(path, in)) {
    context.reply.Fail(Failure::kFileNotOpened, WithSystemReason(path));
    return false;
  }
  LogReader reader;
  reader.Read(in, path);
  const std::set<std::string> failed = FailedMcuIds(reader.Finish());
  Json leftAlone = Json::array();
  std::erase_if(targets, [&](const Target& target) {
    if (target.info.mcuId && failed.contains(FormatMcuId(*target.info.mcuId))) return false;
    leftAlone.push_back(Describe(target));
    context.console.Say("left alone, no failed last record in " + path + ": " + Describe(target));
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

void FlashAll(Context& context, const LoadedImage& image) {
  const Options& options = context.options;
  Console& console = context.console;
  std::string why;
  Result<std::vector<Target>> targets = SelectHeadsets(context.host->bus(), options, &why);
  if (!targets) return context.reply.Fail(targets.failure(), why);
  if (!options.onlyFailed.empty() && !KeepOnlyFailed(context, *targets)) return;
  if (!options.yes &&
      !console.Confirm("Flash " + options.image + " into " + std::to_string(targets->size()) +
                       " headsets, and reboot each into it once it is verified?")) {
    return context.reply.Fail(ExitCode::kDeclined, "nothing was flashed: not confirmed");
  }
  Result<RunPlace> place = OpenRunPlace(context, image);
  if (!place) return;

  Board board(console, *targets);
  FleetSetup setup = MakeFleetSetup(context, image, *place);
  setup.onProgress = [&board, verbose = std::move(setup.onProgress)](
                         std::size_t i, RunStage stage, std::uint32_t sent, std::uint32_t size) {
    if (verbose) verbose(i, stage, sent, size);
    board.Update(i, stage, sent, size);
  };
  setup.onEnded = [&board](std::size_t i, const HeadsetRecord& record) { board.Ended(i, record); };
  Fleet fleet(std::move(setup));
  const auto started = std::chrono::steady_clock::now();
  const std::vector<HeadsetRecord> records = fleet.Flash(*targets);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  console.EndProgress();

  Json headsets = Json::array();
  std::size_t flashed = 0, notStarted = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    headsets.push_back(RecordJson(place->setting, records[i]));
    console.Say(SummaryLine(records[i], (*targets)[i], i, OnVirtualTime(options)));
    flashed += records[i].outcome == RunOutcome::kFlashed;
    notStarted += records[i].outcome == RunOutcome::kNotStarted;
  }
  Json strays = Json::array();
  for (const HidInterface& stray : fleet.strays()) {
    strays.push_back({{"usb_port", stray.usbPort}, {"path", stray.path}});
    console.Warn("a boot firmware that no headset of this run restarted into was left alone: " +
                 (stray.usbPort.empty() ? stray.path : stray.usbPort));
  }
  const std::size_t failed = records.size() - flashed - notStarted;
  Json& fields = context.reply.fields;
  fields["image_size"] = image.bytes.size();
  fields["image_sha256"] = image.sha256;
  fields["image_checksum"] = ChecksumText(image.check.storedChecksum);
  fields["follow"] = fleet.byPort() ? "port" : "turns";
  fields["headsets"] = std::move(headsets);
  fields["strays"] = std::move(strays);
  fields["totals"] = {{"headsets", records.size()},
                      {"flashed", flashed},
                      {"failed", failed},
                      {"not_started", notStarted},
                      {"seconds", seconds}};
  console.Say(std::to_string(records.size()) + " headsets: " + std::to_string(flashed) +
              " flashed, " + std::to_string(failed) + " failed, " + std::to_string(notStarted) +
              " not started, " +
              (OnVirtualTime(options) ? "on virtual time" : "in " + Seconds(seconds)));
  // The headsets' outcomes rank first; a record lost on the way to the log comes after.
  if (const ExitCode worst = WorstExitCode(records); worst != ExitCode::kSuccess) {
    context.reply.Fail(worst, std::to_string(records.size() - flashed) + " of " +
                                  std::to_string(records.size()) + " headsets were not flashed");
  }
  EndRunPlace(context, *place, fleet.unlogged());
}

}  // namespace obrint::cli
