// Linux: the process as POSIX gives it, and the database's commands.
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>

#include "cli/command.h"

namespace obrint::cli {

std::span<const Command* const> PlatformCommands() {
  static const Command* const kDatabase[] = {&kPushCommand, &kDbCommand};
  return kDatabase;
}

Process::Process(int argc, char** argv)
    : arguments_(argv, argv + argc),
      errIsTerminal_(isatty(STDERR_FILENO) != 0),
      errTakesEscapes_(true),
      inIsTerminal_(isatty(STDIN_FILENO) != 0) {
  // A file size limit then fails the write (EFBIG), which is told, and not the whole process.
  std::signal(SIGXFSZ, SIG_IGN);
}

Process::~Process() = default;

TerminalSize Process::ErrorTerminalSize() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}

}  // namespace obrint::cli
