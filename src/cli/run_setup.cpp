#include "cli/run_setup.h"

#include <CLI/CLI.hpp>
#include <cstdlib>

#include "device/text.h"
#include "obrint_version.h"

namespace obrint::cli {
namespace {

constexpr double kMaxTimeoutSeconds = 3600;

// What -v prints of a headset's run.
std::string StepLine(const UpgradeEvent& event) {
  switch (event.step) {
    case UpgradeStep::kRestarting:
      return "restarting into the boot firmware";
    case UpgradeStep::kBootFound:
      return "boot firmware found at " + std::string(event.path);
    case UpgradeStep::kBootVersion:
      return "boot firmware version " + FormatHex(event.value, 4);
    case UpgradeStep::kBegin:
      return "Begin sent";
    case UpgradeStep::kFinish:
      return "every block confirmed; Finish sent";
    case UpgradeStep::kTotal:
      return "the headset answers the image total 0x" + FormatHex(event.value, 4);
    case UpgradeStep::kRebooting:
      return "Reboot sent";
  }
  return "";
}

}  // namespace

void AddRunOptions(CLI::App& command, Options& options) {
  command.add_option("IMAGE", options.image, "firmware image (*.bin)")->required();
  command.add_flag("--force", options.force,
                   "flash an image whose stored checksum is not the image's");
  command.add_option("--log", options.log, "append one JSON record per headset to FILE")
      ->type_name("FILE");
  command.add_option("--station", options.station, "the station's name in the records")
      ->default_str("the host name")
      ->type_name("NAME");
  command.add_option("--operator", options.operatorName, "the operator's name in the records")
      ->type_name("NAME");
  command
      .add_option_function<double>(
          "--timeout",
          [&options](double seconds) {
            options.timeoutMs = static_cast<unsigned>(seconds * 1000 + 0.5);
          },
          "seconds to wait for a headset to come back in its boot firmware, and after its "
          "reboot (at least the restart's 2 s)")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            const double seconds = std::atof(text.c_str());
            if (seconds >= kBootSearchMs / 1000.0 && seconds <= kMaxTimeoutSeconds) return {};
            return "at least 2 seconds (a restart into the boot firmware takes them), at most " +
                   std::to_string(static_cast<int>(kMaxTimeoutSeconds));
          },
          ""))
      ->default_str("10")
      ->type_name("SECONDS");
}

Result<RunPlace> OpenRunPlace(Context& context, const LoadedImage& image) {
  const Options& options = context.options;
  RunPlace place;
  place.setting = {OBRINT_VERSION_TEXT,
                   options.station.empty() ? HostName() : options.station,
                   options.operatorName,
                   image.path,
                   static_cast<std::uint32_t>(image.bytes.size()),
                   image.sha256,
                   image.check.storedChecksum};
  if (!options.log.empty()) {
    Result<AppendLog> log = AppendLog::Open(options.log);
    if (!log) {
      context.reply.Fail(log.failure(), WithSystemReason(options.log));
      return log.failure();
    }
    place.log.emplace(std::move(*log));
  }
  return place;
}

FleetSetup MakeFleetSetup(Context& context, const LoadedImage& image, RunPlace& place) {
  Console& console = context.console;
  FleetSetup setup(*context.host, image, context.signals);
  setup.setting = place.setting;
  setup.timeoutMs = context.options.timeoutMs;
  setup.log = place.log ? &*place.log : nullptr;
  if (console.verbose()) {
    setup.onStep = [&console](std::size_t index, const UpgradeEvent& event) {
      console.Detail("#" + std::to_string(index + 1) + " " + StepLine(event));
    };
    // Every 10 % of each headset's image.
    setup.onProgress = [&console, tenths = std::vector<std::uint32_t>()](
                           std::size_t index, RunStage stage, std::uint32_t sent,
                           std::uint32_t size) mutable {
      if (stage != RunStage::kFlashing || size == 0) return;
      tenths.resize(std::max(tenths.size(), index + 1));
      const std::uint32_t tenth = static_cast<std::uint32_t>(std::uint64_t{sent} * 10 / size);
      if (tenth <= tenths[index]) return;
      tenths[index] = tenth;
      console.Detail("#" + std::to_string(index + 1) + " " + std::to_string(tenth * 10) +
                     " % sent");
    };
  }
  setup.onLogFailed = [&context](const std::string& why) {
    context.console.EndProgress();
    context.console.Error(LogFailedText(context.options.log, why));
  };
  setup.onFirstInterrupt = [&console] {
    console.Error(
        "Ctrl+C: no further headset starts; those under way finish. Press Ctrl+C again to stop "
        "at once: each headset is then recorded as it stands.");
  };
  setup.onEnding = [&context, &place](const std::vector<HeadsetRecord>& records, int signal) {
    context.console.EndProgress();
    context.console.Error("stopped by signal " + std::to_string(signal) +
                          "; every headset has its record");
    if (!context.console.json()) return;
    nlohmann::ordered_json headsets = nlohmann::ordered_json::array();
    for (const HeadsetRecord& record : records) {
      headsets.push_back(RecordJson(place.setting, record));
    }
    context.reply.fields["headsets"] = std::move(headsets);
    context.reply.Fail(static_cast<ExitCode>(SignalWatch::ExitStatusFor(signal)),
                       "stopped by signal " + std::to_string(signal));
    PrintJson(context);
  };
  return setup;
}

std::string HeadsetRow(std::string_view port, std::string_view mcuId, std::string_view state) {
  std::string row(port);
  row.resize(std::max<std::size_t>(row.size(), 10), ' ');
  row.append(" ").append(mcuId.empty() ? "-" : mcuId);
  row.resize(std::max<std::size_t>(row.size(), 35), ' ');
  return row.append("  ").append(state);
}

bool OnVirtualTime(const Options& options) { return options.simulated && !options.sim.realTime; }

std::string LogFailedText(const std::string& log, const std::string& why) {
  return "the log " + log + " stopped taking records (" + why +
         "): no further headset is taken; those under way finish, and each record the log "
         "could not take is printed at the end";
}

void EndRunPlace(Context& context, const RunPlace& place,
                 const std::vector<HeadsetRecord>& unlogged) {
  if (unlogged.empty()) return;
  Console& console = context.console;
  nlohmann::ordered_json records = nlohmann::ordered_json::array();
  for (const HeadsetRecord& record : unlogged) {
    records.push_back(RecordJson(place.setting, record));
  }
  context.reply.fields["unlogged"] = records;
  const std::string count = std::to_string(unlogged.size());
  if (!console.json()) {
    console.Error("records the log could not take: " + count + ", a line each:");
    for (const auto& record : records) console.Record(record.dump());
  }
  // The headsets' outcomes rank first, an interruption after.
  if (context.reply.failed() && context.reply.code != ExitCode::kInterrupted) return;
  context.reply.Fail(
      ExitCode::kFileError,
      "the log " + context.options.log + " stopped taking records (" + place.log->failure() +
          "): " + count + " of this run's are not in it; " +
          (console.json() ? "they are under \"unlogged\"" : "they are printed above"));
}

}  // namespace obrint::cli
