#include "cli/command.h"

namespace obrint::cli {
namespace {

const Command* const kCommands[] = {
    &kListCommand, &kInfoCommand,        &kFlashCommand,   &kStampCommand,  &kCheckCommand,
    &kModeCommand, &kSampleImageCommand, &kStationCommand, &kReportCommand,
#ifdef OBRINT_WITH_DATABASE
    &kPushCommand, &kDbCommand,
#endif
};

}  // namespace

std::span<const Command* const> Commands() { return kCommands; }

void Reply::Fail(Failure failure, std::string_view detail) {
  code = ExitCodeOf(failure);
  error = Message(failure, detail);
}

void Reply::Fail(ExitCode failure, std::string message) {
  code = failure;
  error = std::move(message);
}

}  // namespace obrint::cli
