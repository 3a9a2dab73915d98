#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <sstream>

#include "cli/commands.h"
#include "cli/image_check.h"
#include "cli/std_files.h"
#include "core/headset.h"
#include "core/text.h"
#include "obrint_version.h"

namespace obrint::cli {
namespace {

constexpr double kDefaultTimeoutSeconds = 10;
constexpr double kMaxTimeoutSeconds = 3600;
constexpr unsigned kMaxSimHeadsets = 64;

// Vendor and product IDs are hexadecimal, as in "2833:0021"; a 0x prefix is allowed.
std::optional<std::uint16_t> ParseId(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  const std::optional<std::uint32_t> value = ParseHex(text);
  if (!value || *value > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

std::string ExitCodeHelp() {
  std::ostringstream text;
  text << "Exit status:\n";
  for (const ExitCodeInfo& info : ExitCodeTable()) {
    text << "  " << static_cast<int>(info.code) << "  " << info.name << ": " << info.meaning
         << '\n';
  }
  text << "\nA fleet run stops at the worst failure among its headsets, in this order: "
          "verification-failed, device-refused, no-device, file-error, interrupted.\n"
          "\nTry it without a headset:\n"
          "  obrint-cli sample-image demo.bin && obrint-cli --sim flash --yes demo.bin\n"
          "  obrint-cli --sim 8 flash --all --yes demo.bin\n";
  return text.str();
}

struct Parsed {
  std::string command;
  std::string device, vid, pid, simState, image, mode, log;
  bool json = false, quiet = false, verbose = false, yes = false, force = false, all = false;
  SimSetup sim;
  std::vector<std::string> simFaults;
  bool simRealTime = false, simNoPorts = false;
  double timeoutSeconds = kDefaultTimeoutSeconds;
  std::uint32_t sampleSize = kDefaultSampleSize;
};

// Writes the one --json object: the command's fields and how it ended.
void PrintJson(Console& console, const std::string& command, const Report& report) {
  nlohmann::ordered_json object;
  object["command"] = command.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(command);
  object["ok"] = report.code == ExitCode::kSuccess;
  object["exit_code"] = static_cast<int>(report.code);
  object["status"] = ExitCodeName(report.code);
  for (const auto& [key, value] : report.fields.items()) object[key] = value;
  if (!report.error.empty()) object["error"] = report.error;
  console.Json(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

int Finish(Console& console, const std::string& command, const Report& report) {
  if (report.code != ExitCode::kSuccess) console.Error(report.error);
  if (console.json()) PrintJson(console, command, report);
  return static_cast<int>(report.code);
}

int Usage(Io io, bool json, const std::string& message) {
  Console console(io, json, Verbosity::kNormal);
  Report report;
  report.Fail(ExitCode::kUsage, message);
  const int code = Finish(console, "", report);
  if (!json) io.err << "Run with --help for more information.\n";
  return code;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, Io io) {
  Parsed p;
  CLI::App app{
      "Services the USB VR headset (vendor 2833): firmware readout, firmware upgrade, "
      "image checksums and run mode.",
      "obrint-cli"};
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(ExitCodeHelp());
  app.set_version_flag("--version", "obrint-cli " OBRINT_VERSION_TEXT);
  app.get_formatter()->column_width(28);
  app.add_option("--device", p.device, "HID interface path of the headset (no search)")
      ->type_name("PATH");
  app.add_option("--vid", p.vid, "vendor ID to search for, hexadecimal (default 2833)")
      ->type_name("ID");
  app.add_option("--pid", p.pid, "product ID to search for, hexadecimal (default: any)")
      ->type_name("ID");
  app.add_flag("--json", p.json, "one JSON object per command on stdout, no progress bar");
  auto* quiet = app.add_flag("-q,--quiet", p.quiet, "print errors only");
  app.add_flag("-v,--verbose", p.verbose, "print each step")->excludes(quiet);
  auto* sim =
      app.add_option("--sim", p.sim.count,
                     "use N built-in virtual headsets (default 1), on ports 1-2.1, 1-2.2, ...")
          ->expected(0, 1)
          ->default_str("1")
          ->check(CLI::Range(1u, kMaxSimHeadsets))
          ->type_name("[N]");
  app.add_option("--sim-fault", p.simFaults,
                 "give virtual headset N a fault: block-sum, total, no-return or unplug")
      ->type_name("N:KIND")
      ->check([](const std::string& text) {
        return ParseSimFault(text) ? std::string() : "not N:KIND: " + text;
      });
  app.add_flag("--sim-real-time", p.simRealTime, "the virtual headsets' waits really pass");
  app.add_flag("--sim-no-ports", p.simNoPorts,
               "the virtual headsets tell no USB port (fleet restarts take turns)");
  app.add_option("--sim-state", p.simState,
                 "keep the virtual headset's state in FILE between commands (implies --sim)")
      ->type_name("FILE");

  auto* list = app.add_subcommand("list", "list the attached headsets and their firmware");
  auto* info = app.add_subcommand("info", "show the firmware version, MCU ID and run mode");
  info->add_flag("--all", p.all, "every attached headset: port, firmware version and MCU ID");
  auto* flash = app.add_subcommand("flash", "write a firmware image into the headset");
  flash->add_option("IMAGE", p.image, "firmware image (*.bin)")->required();
  flash->add_flag("-y,--yes", p.yes, "reboot into the new firmware without asking");
  flash->add_flag("--all", p.all, "every attached headset at once, each followed by its USB port");
  flash->add_option("--log", p.log, "with --all: append one JSON line per headset to FILE")
      ->type_name("FILE");
  flash
      ->add_option("--timeout", p.timeoutSeconds,
                   "seconds to wait for the headset to come back in its boot firmware")
      ->check(CLI::Range(0.0, kMaxTimeoutSeconds).description(""))
      ->type_name("SECONDS")
      ->capture_default_str();
  auto* stamp = app.add_subcommand("stamp", "write an image's checksum into its version block");
  stamp->add_option("IMAGE", p.image, "firmware image (*.bin)")->required();
  auto* check = app.add_subcommand("check", "tell whether an image is ready to flash (read-only)");
  check->add_option("IMAGE", p.image, "firmware image (*.bin)")->required();
  auto* mode = app.add_subcommand("mode", "show the run mode, or set it to dk1 or dk2");
  mode->add_option("MODE", p.mode, "dk1 or dk2; none shows the current mode")
      ->check(CLI::IsMember({"dk1", "dk2"}));
  auto* sample = app.add_subcommand("sample-image", "write a made-up, stamped image for trying");
  sample->add_option("FILE", p.image, "where to write it")->required();
  sample->add_option("--size", p.sampleSize, "its size in bytes")
      ->check(CLI::Range(kMinSampleSize, kMaxImageSize))
      ->capture_default_str();
  sample->add_flag("--force", p.force, "replace an existing file");

  const bool jsonAsked = std::find(args.begin(), args.end(), "--json") != args.end();
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    io.out << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    io.out << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    io.out << e.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    return Usage(io, jsonAsked, e.what());
  }

  for (CLI::App* sub : app.get_subcommands()) p.command = sub->get_name();
  const bool simulated = sim->count() > 0 || !p.simState.empty() || !p.simFaults.empty() ||
                         p.simRealTime || p.simNoPorts;
  if (!p.simState.empty() && p.sim.count > 1) {
    return Usage(io, p.json, "--sim-state keeps one virtual headset only");
  }
  if (p.all && !p.device.empty()) return Usage(io, p.json, "--all and --device exclude each other");
  if (!p.log.empty() && !p.all) return Usage(io, p.json, "--log needs --all");
  for (const std::string& text : p.simFaults) {
    const std::optional<SimFault> fault = ParseSimFault(text);
    if (fault->headset > p.sim.count) {
      return Usage(io, p.json, "--sim-fault: there is no virtual headset " + text);
    }
    p.sim.faults.push_back(*fault);
  }
  p.sim.stateFile = p.simState;
  p.sim.realTime = p.simRealTime;
  p.sim.noPorts = p.simNoPorts;
  GlobalOptions options;
  options.device = p.device;
  if (!p.vid.empty() && !(options.vid = ParseId(p.vid))) {
    return Usage(io, p.json, "--vid: not a hexadecimal ID: " + p.vid);
  }
  if (!p.pid.empty() && !(options.pid = ParseId(p.pid))) {
    return Usage(io, p.json, "--pid: not a hexadecimal ID: " + p.pid);
  }
  const Verbosity verbosity =
      p.quiet ? Verbosity::kQuiet : (p.verbose ? Verbosity::kVerbose : Verbosity::kNormal);
  Console console(io, p.json, verbosity);
  StdFileSystem files;
  Report report;

  // Only the headset commands need a backend; the file commands never touch a headset.
  std::unique_ptr<Backend> backend;
  const bool needsHeadset = *list || *info || *flash || *mode;
  if (needsHeadset) {
    std::string error;
    backend = simulated ? MakeSimBackend(p.sim, error) : MakeHardwareBackend(error);
    if (!backend) {
      report.Fail(simulated ? ExitCode::kFileError : ExitCode::kNoDevice, error);
      return Finish(console, p.command, report);
    }
    report.fields["backend"] = backend->name();
  }
  Session session{console, files, backend.get(), options};

  if (*list) {
    ListHeadsets(session, report);
  } else if (*info) {
    p.all ? ShowInfoAll(session, report) : ShowInfo(session, report);
  } else if (*flash) {
    const auto timeoutMs = static_cast<unsigned>(p.timeoutSeconds * 1000 + 0.5);
    p.all ? FlashAll(session, p.image, p.yes, timeoutMs, p.log, report)
          : FlashImage(session, p.image, p.yes, timeoutMs, report);
  } else if (*stamp) {
    StampImage(session, p.image, report);
  } else if (*check) {
    CheckImageFile(session, p.image, report);
  } else if (*mode) {
    if (p.mode.empty()) {
      ShowRunMode(session, report);
    } else {
      SelectRunMode(session, p.mode == "dk1" ? RunModeChoice::kDk1 : RunModeChoice::kDk2, report);
    }
  } else if (*sample) {
    WriteSampleImage(session, p.image, p.sampleSize, p.force, report);
  }

  if (backend) {
    std::string error;
    if (!backend->Finish(error) && report.code == ExitCode::kSuccess) {
      report.Fail(ExitCode::kFileError, error);
    }
  }
  return Finish(console, p.command, report);
}

}  // namespace obrint::cli
