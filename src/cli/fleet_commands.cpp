// The fleet commands: flash --all and info --all, over every headset of the vendor at once.
#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>

#include "cli/commands.h"
#include "cli/fleet.h"
#include "cli/image_check.h"
#include "cli/std_files.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr int kBarWidth = 20;

std::atomic<int> gInterrupts{0};

// The first Ctrl+C lets the run wind down; the second ends the process at once.
extern "C" void OnInterrupt(int) {
  if (gInterrupts.fetch_add(1) > 0) std::_Exit(static_cast<int>(ExitCode::kInterrupted));
  std::signal(SIGINT, OnInterrupt);  // Windows resets the handler before calling it
}

// Ctrl+C handled as above for the life of the object.
class InterruptHandler {
 public:
  InterruptHandler() : previous_(std::signal(SIGINT, OnInterrupt)) { gInterrupts = 0; }
  ~InterruptHandler() { std::signal(SIGINT, previous_ == SIG_ERR ? SIG_DFL : previous_); }
  InterruptHandler(const InterruptHandler&) = delete;
  InterruptHandler& operator=(const InterruptHandler&) = delete;

 private:
  void (*previous_)(int);
};

std::string Hex16(std::uint16_t v) { return FormatHex(v, 4); }
Json Version(const std::optional<std::uint16_t>& v) { return v ? Json(Hex16(*v)) : Json(); }
Json McuIdJson(const std::optional<McuId>& id) { return id ? Json(FormatMcuId(*id)) : Json(); }
Json PortJson(const std::string& port) { return port.empty() ? Json() : Json(port); }

std::string OutcomeName(FleetOutcome outcome) {
  switch (outcome) {
    case FleetOutcome::kFlashed:
      return "flashed";
    case FleetOutcome::kFailed:
      return "failed";
    case FleetOutcome::kCancelled:
      return "not started";
  }
  return "failed";
}

std::string StateName(WorkerState state) {
  switch (state) {
    case WorkerState::kWaiting:
      return "waiting for its turn";
    case WorkerState::kRestarting:
      return "restarting into the boot firmware";
    case WorkerState::kFlashing:
      return "flashing";
    case WorkerState::kRebooting:
      return "rebooting";
    case WorkerState::kDone:
      return "done";
  }
  return "";
}

// A headset's name in the output: its port, or where the platform tells none, its place.
std::string Label(const AttachedInterface& headset, std::size_t index) {
  // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict, wrongly) on "#" + std::string.
  return headset.port.empty() ? std::string("#").append(std::to_string(index + 1)) : headset.port;
}

std::string UtcTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const std::tm* utc = std::gmtime(&seconds);  // the main thread's alone
  char text[32] = "";
  if (utc) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
  return text;
}

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", seconds);
  return text;
}

// The progress lines, one per headset, redrawn as the workers report.
class Board {
 public:
  Board(Console& console, const std::vector<FleetTarget>& targets) : console_(console) {
    for (std::size_t i = 0; i < targets.size(); ++i) {
      labels_.push_back(Label(targets[i].headset, i));
      lines_.push_back(labels_.back() + "  starting");
    }
  }
  void Update(std::size_t index, WorkerState state, std::uint32_t sent, std::uint32_t size) {
    std::string line = labels_[index] + "  ";
    if (state == WorkerState::kFlashing && size > 0) {
      const int percent = static_cast<int>(std::uint64_t{sent} * 100 / size);
      const int filled = percent * kBarWidth / 100;
      line.append("[")
          .append(static_cast<std::size_t>(filled), '#')
          .append(static_cast<std::size_t>(kBarWidth - filled), '.')
          .append("] ")
          .append(std::to_string(percent))
          .append("%");
    } else {
      line += StateName(state);
    }
    if (line == lines_[index]) return;
    lines_[index] = std::move(line);
    console_.ProgressLines(lines_);
  }

 private:
  Console& console_;
  std::vector<std::string> labels_;
  std::vector<std::string> lines_;
};

Json RunJson(const HeadsetRun& run) {
  return {{"port", PortJson(run.headset.port)},
          {"path", run.headset.path},
          {"mcu_id", McuIdJson(run.mcuId)},
          {"firmware_before", Version(run.firmwareBefore)},
          {"firmware_after", Version(run.firmwareAfter)},
          {"boot_firmware_version", Version(run.bootVersion)},
          {"outcome", OutcomeName(run.outcome)},
          {"status", ExitCodeName(run.code)},
          {"reason", run.reason.empty() ? Json() : Json(run.reason)},
          {"bytes_sent", run.sent},
          {"seconds", run.seconds}};
}

std::string SummaryLine(const HeadsetRun& run, std::size_t index) {
  std::string line = Label(run.headset, index) + "  MCU ID " +
                     (run.mcuId ? FormatMcuId(*run.mcuId) : "(not read)") + "  " +
                     (run.firmwareBefore ? Hex16(*run.firmwareBefore) : "boot") + " -> " +
                     (run.firmwareAfter ? Hex16(*run.firmwareAfter) : "?") + "  " +
                     OutcomeName(run.outcome);
  if (!run.reason.empty()) line += ": " + run.reason;
  return line + "  " + Seconds(run.seconds);
}

}  // namespace

ExitCode FlashAll(Session& session, const std::string& image, bool assumeYes, unsigned timeoutMs,
                  const std::string& logFile, Report& report) {
  Console& console = session.console;
  report.fields["image"] = image;
  const std::optional<ImageCheck> check = ReadImageCheck(session.files, image, report);
  if (!check) return report.code;
  const Json checksum =
      check->hasVersionBlock ? Json("0x" + FormatHex(check->storedChecksum, 8)) : Json();
  report.fields["size"] = check->size;
  report.fields["checksum"] = checksum;

  std::ofstream log;
  if (!logFile.empty()) {
    log.open(PathFromUtf8(logFile), std::ios::binary | std::ios::app);
    if (!log) return report.Fail(ExitCode::kFileError, logFile + " cannot be opened for appending");
  }

  std::vector<FleetTarget> targets;
  for (const AttachedInterface& found :
       FleetHeadsets(*session.backend, session.options.vid.value_or(kHeadsetVendorId))) {
    if (!session.options.pid || found.pid == *session.options.pid)
      targets.push_back({found, image});
  }
  if (targets.empty()) return report.Fail(ExitCode::kNoDevice, "no headset attached");
  if (!assumeYes && !console.Confirm("Flash " + image + " into " + std::to_string(targets.size()) +
                                     " headsets, and reboot each into it once it is verified?")) {
    return report.Fail(ExitCode::kDeclined, "nothing was flashed: not confirmed");
  }

  const InterruptHandler interrupts;
  Board board(console, targets);
  FleetOptions options;
  options.timeoutMs = timeoutMs;
  options.interrupts = &gInterrupts;
  options.onProgress = [&board](std::size_t i, WorkerState state, std::uint32_t sent,
                                std::uint32_t total) { board.Update(i, state, sent, total); };
  FleetRun fleet(*session.backend, session.files, options);
  const auto started = std::chrono::steady_clock::now();
  const std::vector<HeadsetRun> runs = fleet.Flash(targets);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  console.EndProgress();

  Json headsets = Json::array();
  std::size_t flashed = 0;
  std::size_t cancelled = 0;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const HeadsetRun& run = runs[i];
    headsets.push_back(RunJson(run));
    console.Say(SummaryLine(run, i));
    flashed += run.outcome == FleetOutcome::kFlashed;
    cancelled += run.outcome == FleetOutcome::kCancelled;
    if (log) {
      const Json record = {{"time", UtcTime(run.ended)},
                           {"port", PortJson(run.headset.port)},
                           {"mcu_id", McuIdJson(run.mcuId)},
                           {"image", FileName(image)},
                           {"size", check->size},
                           {"checksum", checksum},
                           {"outcome", OutcomeName(run.outcome)},
                           {"reason", run.reason}};
      log << record.dump(-1, ' ', false, Json::error_handler_t::replace) << '\n';
    }
  }
  Json strays = Json::array();
  for (const AttachedInterface& stray : fleet.strays()) {
    strays.push_back({{"port", PortJson(stray.port)}, {"path", stray.path}});
    console.Warn("a boot firmware that no headset of this run restarted into was left alone: " +
                 (stray.port.empty() ? stray.path : stray.port));
  }
  const std::size_t failed = runs.size() - flashed - cancelled;
  report.fields["follow"] = fleet.byPort() ? "port" : "turns";
  report.fields["headsets"] = std::move(headsets);
  report.fields["strays"] = std::move(strays);
  report.fields["totals"] = {{"headsets", runs.size()},
                             {"flashed", flashed},
                             {"failed", failed},
                             {"not_started", cancelled},
                             {"seconds", seconds}};
  console.Say(std::to_string(runs.size()) + " headsets: " + std::to_string(flashed) + " flashed, " +
              std::to_string(failed) + " failed, " + std::to_string(cancelled) +
              " not started, in " + Seconds(seconds));
  if (log) log.flush();
  if (!logFile.empty() && !log) {
    return report.Fail(ExitCode::kFileError, "the run could not be recorded in " + logFile);
  }
  const ExitCode worst = WorstExitCode(runs);
  if (worst == ExitCode::kSuccess) return worst;
  return report.Fail(worst, std::to_string(runs.size() - flashed) + " of " +
                                std::to_string(runs.size()) + " headsets were not flashed");
}

ExitCode ShowInfoAll(Session& session, Report& report) {
  Json headsets = Json::array();
  bool refused = false;
  const std::vector<AttachedInterface> found =
      FleetHeadsets(*session.backend, session.options.vid.value_or(kHeadsetVendorId));
  for (std::size_t i = 0; i < found.size(); ++i) {
    const AttachedInterface& headset = found[i];
    const HeadsetInfo info =
        ReadHeadsetInfo(session.backend->link(), headset.path).value_or(HeadsetInfo{});
    const std::optional<std::uint16_t>& version = info.firmwareVersion;
    const std::optional<McuId>& mcuId = info.mcuId;
    const bool boot = headset.pid == kBootProductId;
    refused = refused || !version || !mcuId;
    headsets.push_back({{"port", PortJson(headset.port)},
                        {"path", headset.path},
                        {"firmware", boot ? "boot" : "application"},
                        {"firmware_version", Version(version)},
                        {"mcu_id", McuIdJson(mcuId)}});
    session.console.Say(Label(headset, i) + "  " + (boot ? "boot" : "application") + " firmware " +
                        (version ? Hex16(*version) : "(not read)") + "  MCU ID " +
                        (mcuId ? FormatMcuId(*mcuId) : "(not read)") + "  " + headset.path);
  }
  report.fields["headsets"] = std::move(headsets);
  if (found.empty()) return report.Fail(ExitCode::kNoDevice, "no headset attached");
  if (refused)
    return report.Fail(ExitCode::kDeviceRefused, "not every headset gave its version and MCU ID");
  return ExitCode::kSuccess;
}

}  // namespace obrint::cli
