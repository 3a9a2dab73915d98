#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "device/text.h"
#include "device/upgrade.h"
#include "obrint_version.h"

namespace obrint::cli {
namespace {

constexpr double kMaxTimeoutSeconds = 3600;

std::string ExitCodeHelp() {
  std::ostringstream text;
  text << "Exit status:\n";
  for (const records::ExitCodeInfo& info : records::ExitCodeTable()) {
    text << "  " << static_cast<int>(info.code) << "  " << info.name << ": " << info.meaning
         << '\n';
  }
  text << "\nA run of several headsets ends with the worst status among them, in this order: "
          "verification-failed, device-refused, no-device, usage, file-error, declined, "
          "interrupted (or another signal).\n"
          "\nTry it without a headset:\n"
          "  obrint-cli sample-image demo.bin && obrint-cli --sim flash --yes demo.bin\n"
          "  obrint-cli --sim 8 flash --all --yes demo.bin\n";
  return text.str();
}

// "flsh is no command; the nearest is flash": the command nearest `word` by edits of a letter.
std::string UnknownCommand(std::string_view word) {
  std::string_view nearest;
  std::size_t fewest = std::string::npos;
  for (const Command* command : Commands()) {
    const std::size_t edits = EditDistance(word, command->name);
    if (edits < fewest) fewest = edits, nearest = command->name;
  }
  return std::string(word) + " is no command; the nearest is " + std::string(nearest);
}

// The text options, parsed and checked once CLI11 is done, and the options whose presence counts.
struct Texts {
  std::string vid, pid;
  std::vector<std::string> mcuIds;
  CLI::Option *simCount = nullptr, *simPlugMs = nullptr;
};

// The options of the virtual headsets.
void DefineSim(CLI::App& app, sim::Options& options, Texts& texts) {
  texts.simCount =
      app.add_option("--sim", options.setup.count,
                     "use N built-in virtual headsets (default 1), on ports 1-2.1, 1-2.2, ...")
          ->expected(0, 1)
          ->default_str("1")
          ->check(CLI::Range(1u, sim::kMaxSimHeadsets))
          ->type_name("[N]");
  app.add_option("--sim-fault", options.faults,
                 "give virtual headset N a fault: block-sum, total, no-return, not-back, unplug, "
                 "late-boot or no-mcu-id")
      ->type_name("N:KIND")
      ->check([](const std::string& text) {
        return sim::ParseFault(text) ? std::string() : "not N:KIND: " + text;
      });
  app.add_flag("--sim-real-time", options.setup.realTime,
               "the virtual headsets' waits really pass");
  app.add_flag("--sim-no-ports", options.setup.noPorts,
               "the virtual headsets tell no USB port (restarts take turns)");
  app.add_flag("--sim-reuse-paths", options.setup.reusePaths,
               "the virtual interfaces take the lowest free /dev/hidrawN, as Linux numbers them");
  texts.simPlugMs =
      app.add_option("--sim-plug", options.plugMs,
                     "station: the virtual headsets are plugged in one after another, MS apart")
          ->type_name("MS");
  app.add_option("--sim-plug-file", options.plugFile,
                 "station: plug the virtual headsets in and out as FILE says, a step a line: "
                 "\"MS plug N\", \"MS plug N boot\", \"MS unplug N\"")
      ->type_name("FILE");
  app.add_option("--sim-state", options.state,
                 "keep the virtual headset's state in FILE between commands (implies --sim)")
      ->type_name("FILE");
}

void DefineGlobal(CLI::App& app, Options& options, Texts& texts) {
  app.add_option("--device", options.headsets.device,
                 "HID interface path of the headset (no search)")
      ->type_name("PATH");
  app.add_option("--vid", texts.vid, "vendor ID to search for, hexadecimal (default 2833)")
      ->type_name("ID");
  app.add_option("--pid", texts.pid, "product ID to search for, hexadecimal (default: any)")
      ->type_name("ID");
  app.add_option("--port", options.headsets.usbPorts,
                 "only the headsets on this USB port (as list shows it); may be given again")
      ->type_name("PORT");
  app.add_option("--mcu-id", texts.mcuIds,
                 "only the headsets with this MCU ID (24 hex digits); may be given again")
      ->type_name("ID");
  app.add_flag("--json", options.json, "one JSON object per command on stdout, no progress bar");
  auto* quiet = app.add_flag("-q,--quiet", options.quiet, "print errors only");
  app.add_flag("-v,--verbose", options.verbose, "print each step")->excludes(quiet);
  DefineSim(app, options.sim, texts);
}

// The checks CLI11 cannot make; an empty text when the options hold together.
std::string Complete(const CLI::App& app, Options& options, const Texts& texts) {
  options.sim.countGiven = texts.simCount->count() > 0;
  options.sim.plugMsGiven = texts.simPlugMs->count() > 0;
  if (std::string problem = sim::Complete(options.sim, app.got_subcommand("station"));
      !problem.empty()) {
    return problem;
  }
  if (options.all && !options.headsets.device.empty())
    return "--all and --device exclude each other";
  if (!options.onlyFailed.empty() && !options.all) return "--only-failed needs --all";
  if (!texts.vid.empty() && !(options.headsets.vid = engine::ParseUsbId(texts.vid))) {
    return "--vid: not a hexadecimal ID: " + texts.vid;
  }
  if (!texts.pid.empty() && !(options.headsets.pid = engine::ParseUsbId(texts.pid))) {
    return "--pid: not a hexadecimal ID: " + texts.pid;
  }
  for (const std::string& text : texts.mcuIds) {
    const std::optional<McuId> id = ParseMcuId(text);
    if (!id) return "--mcu-id: not 24 hexadecimal digits: " + text;
    options.headsets.mcuIds.push_back(*id);
  }
  return {};
}

void DefineImageArgument(CLI::App& command, Options& options) {
  command.add_option("IMAGE", options.image, "firmware image (*.bin)")->required();
}

CLI::Option* DefineDatabaseOption(CLI::App& command, Options& options) {
  return command
      .add_option("--db", options.db,
                  "the line's PostgreSQL database: a libpq connection string or URI, its password "
                  "from the password file (~/.pgpass, PGPASSFILE), the service file or PGPASSWORD")
      ->type_name("CONNINFO");
}

// What flash and station share: IMAGE, --force, --log, --db, --station, --operator, --timeout.
void DefineRunOptions(CLI::App& command, Options& options) {
  DefineImageArgument(command, options);
  command.add_flag("--force", options.force,
                   "flash an image whose stored checksum is not the image's");
  command.add_option("--log", options.log, "append one JSON record per headset to FILE")
      ->type_name("FILE");
  DefineDatabaseOption(command, options);
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
      ->check([](const std::string& text) -> std::string {
        const double seconds = std::atof(text.c_str());
        if (seconds >= kBootSearchMs / 1000.0 && seconds <= kMaxTimeoutSeconds) return {};
        return "at least 2 seconds (a restart into the boot firmware takes them), at most " +
               std::to_string(static_cast<int>(kMaxTimeoutSeconds));
      })
      ->default_str("10")
      ->type_name("SECONDS");
}

void DefineFlash(CLI::App& command, Options& options) {
  command.add_flag("-y,--yes", options.yes,
                   "do not ask: reboot into the new firmware (with --all: flash every headset)");
  command.add_flag("--all", options.all,
                   "every attached headset at once, each followed by its USB port");
  command
      .add_option("--only-failed", options.onlyFailed,
                  "with --all: only the headsets whose last record in LOG failed")
      ->type_name("LOG");
  DefineRunOptions(command, options);
}

void DefineInfo(CLI::App& command, Options& options) {
  command.add_flag("--all", options.all, "every attached headset: port, firmware and MCU ID");
}

void DefineMode(CLI::App& command, Options& options) {
  command.add_option("MODE", options.mode, "dk1 or dk2; none shows the current mode")
      ->check(CLI::IsMember({"dk1", "dk2"}));
}

void DefineSampleImage(CLI::App& command, Options& options) {
  command.add_option("FILE", options.image, "where to write it")->required();
  command.add_option("--size", options.sampleSize, "its size in bytes")
      ->check(CLI::Range(kMinWholeBlockSize, kMaxImageSize))
      ->capture_default_str();
  command.add_flag("--force", options.force, "replace an existing file");
}

void DefineStation(CLI::App& command, Options& options) {
  command.add_flag("--again", options.again,
                   "flash a headset that the log shows flashed with this image before");
  command.add_flag("--recover", options.recover,
                   "flash a headset that arrives in its boot firmware (it needs recovery)");
  command
      .add_option("--max", options.maxHeadsets,
                  "end once N headsets (1 or more) have arrived and been dealt with")
      ->type_name("N")
      ->check([](const std::string& text) -> std::string {
        return text.find_first_not_of("0123456789") == std::string::npos &&
                       text.find_first_not_of('0') != std::string::npos
                   ? ""
                   : "N is 1 or more";
      });
  DefineRunOptions(command, options);
}

void DefineReport(CLI::App& command, Options& options) {
  auto* logs = command.add_option("LOG", options.logs, "the stations' --log files");
  command
      .add_option("--db", options.db,
                  "instead of logs, the line's PostgreSQL database (a libpq connection string or "
                  "URI); a login of obrint_report suffices")
      ->type_name("CONNINFO")
      ->excludes(logs);
  auto* csv = command.add_flag(
      "--csv", options.csv,
      "CSV: a \"group\" row of totals per group, each followed by a \"failure\" row per reason "
      "with its count; then the line's figures in rows \"line\", \"line_first_pass\", "
      "\"line_final\", \"first_pass\", \"final\" (per day and station), \"hour\", \"reason\", "
      "\"port\" and \"duration\"; each column sums right over the rows of one kind");
  command.add_option("--html", options.html, "write the yield as a page of charts and tables")
      ->type_name("FILE")
      ->excludes(csv);
  command.add_option("--since", options.since, "only records that ended that day (UTC) or later")
      ->type_name("YYYY-MM-DD");
  command.add_option("--image", options.imageFilter, "only the image of this SHA-256 (or prefix)")
      ->type_name("SHA256");
}

void DefinePush(CLI::App& command, Options& options) {
  command.add_option("LOG", options.logs, "the stations' --log files")->required();
  DefineDatabaseOption(command, options)->required();
}

void DefineDb(CLI::App& command, Options& options) {
  command.require_subcommand(1);
  CLI::App* init = command.add_subcommand(
      "init",
      "make the records' schema and the roles obrint_station (insert only) and obrint_report "
      "(read only), or migrate the schema to this version's");
  DefineDatabaseOption(*init, options)->required();
}

// Each command's own arguments and options, by the command's name.
const std::pair<std::string_view, void (*)(CLI::App&, Options&)> kCommandOptions[] = {
    {"info", DefineInfo},           {"flash", DefineFlash},
    {"stamp", DefineImageArgument}, {"check", DefineImageArgument},
    {"mode", DefineMode},           {"sample-image", DefineSampleImage},
    {"station", DefineStation},     {"report", DefineReport},
    {"push", DefinePush},           {"db", DefineDb},
};

}  // namespace

Parsed ParseArguments(const std::vector<std::string>& args, Options& options) {
  Texts texts;
  CLI::App app{
      "Services the USB VR headset (vendor 2833): firmware readout, firmware upgrade, "
      "image checksums and run mode.",
      "obrint-cli"};
  app.require_subcommand(1);
  app.fallthrough();
  app.footer(ExitCodeHelp());
  app.get_formatter()->column_width(30);
  app.set_version_flag("--version", "obrint-cli " OBRINT_VERSION_TEXT);
  DefineGlobal(app, options, texts);
  std::vector<std::pair<CLI::App*, const Command*>> subcommands;
  for (const Command* command : Commands()) {
    CLI::App* sub = app.add_subcommand(std::string(command->name), std::string(command->help));
    for (const auto& [name, define] : kCommandOptions) {
      if (name == command->name) define(*sub, options);
    }
    subcommands.emplace_back(sub, command);
  }

  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  Parsed parsed;
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
    for (const auto& [sub, command] : subcommands) {
      if (sub->parsed()) parsed.command = command;
    }
    parsed.problem = Complete(app, options, texts);
  } catch (const CLI::CallForHelp&) {
    parsed.text = app.help();
  } catch (const CLI::CallForAllHelp&) {
    parsed.text = app.help("", CLI::AppFormatMode::All);
  } catch (const CLI::CallForVersion&) {
    parsed.text = app.version() + '\n';
  } catch (const CLI::ParseError& e) {
    parsed.problem = e.what();
    // A word where the command belongs.
    const std::vector<std::string> left = app.remaining();
    const auto word = std::find_if(left.begin(), left.end(),
                                   [](const std::string& arg) { return !arg.starts_with('-'); });
    const bool none = std::none_of(subcommands.begin(), subcommands.end(),
                                   [](const auto& sub) { return sub.first->parsed(); });
    if (none && word != left.end()) parsed.problem = UnknownCommand(*word);
  }
  return parsed;
}

}  // namespace obrint::cli
