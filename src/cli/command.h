// Every command has one shape: its name and help, whether it needs a headset, and how it runs;
// Commands() lists them all, and options.cpp defines their options.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/host.h"
#include "sim/sim_host.h"
#include "device/image.h"
#include "device/reports.h"
#include "engine/selection.h"
#include "engine/signals.h"
#include "records/failures.h"
#include "records/record.h"

namespace obrint::cli {

using engine::SignalWatch;
using records::ExitCode;
using records::HeadsetRecord;
using records::Message;

// Everything the command line takes, global options and each command's own.
struct Options {
  engine::Selection headsets;  // --device, --vid, --pid, --port, --mcu-id
  bool json = false, quiet = false, verbose = false;
  sim::Options sim;  // --sim and the virtual headsets' options

  std::string image;              // flash, stamp, check, sample-image, station
  std::vector<std::string> logs;  // report
  std::string log;                // flash, station: --log
  std::string station, operatorName;
  std::string onlyFailed;  // flash --all --only-failed LOG
  std::string mode;        // mode: dk1, dk2 or empty
  bool yes = false, all = false, force = false;
  bool again = false, recover = false;  // station
  unsigned maxHeadsets = 0;             // station: 0, no limit
  unsigned timeoutMs = 10000;
  std::uint32_t sampleSize = kDefaultSampleSize;
  bool csv = false;                // report
  std::string html;                // report --html FILE
  std::string since, imageFilter;  // report
  std::string db;                  // --db CONNINFO
};

// What a command found out (its fields in the --json object), and how it ended.
struct Reply {
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  ExitCode code = ExitCode::kSuccess;
  std::string error;

  // Ends the command with the failure's exit status and words, and `detail` after them.
  void Fail(Failure failure, std::string_view detail = {});
  // Ends a run of headsets with the worst status among their records, unless each was flashed.
  void FailRun(const std::vector<HeadsetRecord>& records, std::string detail);
  // Ends the command as a signal ends it: 128 + its number.
  void Stop(int signal, std::string detail);
  bool failed() const { return code != ExitCode::kSuccess; }
};

struct Context {
  std::string_view command;
  Console& console;
  const Options& options;
  Host* host;  // null for a command that needs no headset
  Reply& reply;
  SignalWatch& signals;
};

struct Command {
  std::string_view name;
  std::string_view help;
  bool needsHeadset;
  void (*run)(Context& context);
};

std::span<const Command* const> Commands();
// The commands the platform adds: push and db where the database is built (host_posix.cpp).
std::span<const Command* const> PlatformCommands();

// --json: the command's one object, with how it ended.
void PrintJson(Context& context);
// "boot" or "application", as the output names a firmware.
std::string_view FirmwareName(FirmwareKind kind);
// "dk1" or "dk2", and "DK1-compatible" or "DK2-compatible", as the output names a run mode.
std::string RunModeName(RunMode mode);
std::string RunModeTitle(RunMode mode);

extern const Command kListCommand;
extern const Command kInfoCommand;
extern const Command kFlashCommand;
extern const Command kStampCommand;
extern const Command kCheckCommand;
extern const Command kModeCommand;
extern const Command kSampleImageCommand;
extern const Command kReportCommand;
extern const Command kStationCommand;
// Where the database is built (not the Windows build).
extern const Command kPushCommand;
extern const Command kDbCommand;

}  // namespace obrint::cli
