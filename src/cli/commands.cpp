#include "cli/command.h"

namespace obrint::cli {
namespace {

const Command* const kCommands[] = {
    &kListCommand, &kInfoCommand,        &kFlashCommand,   &kStampCommand,  &kCheckCommand,
    &kModeCommand, &kSampleImageCommand, &kStationCommand, &kReportCommand,
};

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

}  // namespace obrint::cli
