#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <sstream>

#include "cli/command.h"
#include "device/text.h"
#include "files/files.h"
#include "obrint_version.h"

namespace obrint::cli {
namespace {

const Command* const kCommands[] = {
    &kListCommand, &kInfoCommand,        &kFlashCommand,   &kStampCommand,  &kCheckCommand,
    &kModeCommand, &kSampleImageCommand, &kStationCommand, &kReportCommand,
};

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

// The text options, parsed and checked once CLI11 is done.
struct Texts {
  std::string vid, pid;
  std::vector<std::string> mcuIds;
};

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
  sim::AddOptions(app, options.sim);
}

// The checks CLI11 cannot make; an empty text when the options hold together.
std::string Complete(const CLI::App& app, Options& options, const Texts& texts) {
  if (std::string problem = sim::Complete(app, options.sim, app.got_subcommand("station"));
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

int Finish(Context& context) {
  // A signal ends the command, unless a flashing run took the signals over.
  if (const int signal = context.signals.first(); signal && !context.signals.takenOver()) {
    std::string why = "stopped by signal " + std::to_string(signal);
    if (context.reply.failed()) why += ": " + context.reply.error;
    context.reply.Stop(signal, std::move(why));
  }
  if (context.reply.failed()) context.console.Error(context.reply.error);
  if (context.console.json()) PrintJson(context);
  return static_cast<int>(context.reply.code);
}

}  // namespace

std::span<const Command* const> Commands() {
  static const std::vector<const Command*> all = [] {
    std::vector<const Command*> commands(std::begin(kCommands), std::end(kCommands));
    for (const Command* command : PlatformCommands()) commands.push_back(command);
    return commands;
  }();
  return all;
}

std::string_view FirmwareName(FirmwareKind kind) {
  return kind == FirmwareKind::kBoot ? "boot" : "application";
}

std::string RunModeName(RunMode mode) { return mode == RunMode::kDk1 ? "dk1" : "dk2"; }
std::string RunModeTitle(RunMode mode) {
  return mode == RunMode::kDk1 ? "DK1-compatible" : "DK2-compatible";
}

void Reply::Fail(Failure failure, std::string_view detail) {
  code = records::ExitCodeOf(failure);
  error = Message(failure, detail);
}

void Reply::FailRun(const std::vector<HeadsetRecord>& records, std::string detail) {
  const ExitCode worst = records::WorstExitCode(records);
  if (worst == ExitCode::kSuccess) return;
  code = worst;
  error = std::move(detail);
}

void Reply::Stop(int signal, std::string detail) {
  code = static_cast<ExitCode>(128 + signal);
  error = std::move(detail);
}

void AddImageArgument(CLI::App& command, Options& options) {
  command.add_option("IMAGE", options.image, "firmware image (*.bin)")->required();
}

void PrintJson(Context& context) {
  const Reply& reply = context.reply;
  nlohmann::ordered_json object;
  object["command"] = context.command;
  object["ok"] = !reply.failed();
  object["exit_code"] = static_cast<int>(reply.code);
  object["status"] = records::ExitCodeName(reply.code);
  for (const auto& [key, value] : reply.fields.items()) object[key] = value;
  object["error"] = reply.error;
  context.console.Json(object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

int RunCli(const std::vector<std::string>& args, Io io) {
  Options options;
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
    if (command->define) command->define(*sub, options);
    subcommands.emplace_back(sub, command);
  }

  SignalWatch signals;
  const bool jsonAsked = std::find(args.begin(), args.end(), "--json") != args.end();
  Reply reply;
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  const Command* chosen = nullptr;
  std::string problem;
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
    for (const auto& [sub, command] : subcommands) {
      if (sub->parsed()) chosen = command;
    }
    problem = Complete(app, options, texts);
  } catch (const CLI::CallForHelp&) {
    io.out << app.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    io.out << app.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::CallForVersion&) {
    io.out << app.version() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    problem = e.what();
    // A word where the command belongs.
    const std::vector<std::string> left = app.remaining();
    const auto word = std::find_if(left.begin(), left.end(),
                                   [](const std::string& arg) { return !arg.starts_with('-'); });
    const bool none = std::none_of(subcommands.begin(), subcommands.end(),
                                   [](const auto& sub) { return sub.first->parsed(); });
    if (none && word != left.end()) problem = UnknownCommand(*word);
  }
  const Verbosity verbosity = options.quiet     ? Verbosity::kQuiet
                              : options.verbose ? Verbosity::kVerbose
                                                : Verbosity::kNormal;
  Console console(io, jsonAsked || options.json, problem.empty() ? verbosity : Verbosity::kNormal,
                  signals);
  Context context{
      chosen ? chosen->name : std::string_view(), console, options, nullptr, reply, signals};
  if (!problem.empty()) {
    reply.Fail(Failure::kBadUsage, problem);
    const int code = Finish(context);
    if (!jsonAsked) io.err << "Run with --help for more information.\n";
    return code;
  }

  // Only the headset commands need a host; the file commands never touch a headset.
  std::unique_ptr<Host> host;
  if (chosen->needsHeadset) {
    Result<std::unique_ptr<Host>> made =
        options.sim.used ? sim::MakeHost(options.sim.setup) : engine::MakeHardwareHost();
    if (!made) {
      reply.Fail(made.failure(), options.sim.used
                                     ? files::WithSystemReason(options.sim.setup.stateFile)
                                     : "the HID library could not be started");
      return Finish(context);
    }
    host = std::move(*made);
    reply.fields["backend"] = host->name();
    context.host = host.get();
  }
  chosen->run(context);
  if (host) {
    if (const Status kept = host->Finish(); !kept && !reply.failed()) {
      reply.Fail(kept.failure(), files::WithSystemReason(options.sim.setup.stateFile));
    }
  }
  return Finish(context);
}

}  // namespace obrint::cli
