#include "cli/cli.h"

#include <algorithm>

#include "cli/options.h"
#include "files/files.h"

namespace obrint::cli {
namespace {

const Command* const kCommands[] = {
    &kListCommand, &kInfoCommand,        &kFlashCommand,   &kStampCommand,  &kCheckCommand,
    &kModeCommand, &kSampleImageCommand, &kStationCommand, &kReportCommand,
};

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
  const Parsed parsed = ParseArguments(args, options);
  if (!parsed.text.empty()) {
    io.out << parsed.text;
    return 0;
  }
  const Command* chosen = parsed.command;
  const std::string& problem = parsed.problem;
  SignalWatch signals;
  const bool jsonAsked = std::find(args.begin(), args.end(), "--json") != args.end();
  Reply reply;
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
