// obrint-cli's entry point: the arguments as UTF-8 and the process's streams.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include "winbase/handles.h"
#include "winbase/text.h"
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
// The ANSI argv loses what the code page cannot hold; the wide command line does not.
std::vector<std::string> Utf8Arguments() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return args;
  const obrint::winbase::UniqueLocalMemory owner(wide);
  for (int i = 0; i < count; ++i) args.push_back(obrint::winbase::Narrow(wide[i]));
  return args;
}
// For the life of the object: the console reads the output as UTF-8, and the error stream's
// console (when it is one) draws the progress lines' escape sequences. Both get their settings
// back after.
class ConsoleSettings {
 public:
  ConsoleSettings() : codePage_(GetConsoleOutputCP()), errors_(GetStdHandle(STD_ERROR_HANDLE)) {
    if (codePage_ != 0) SetConsoleOutputCP(CP_UTF8);
    drawsEscapes_ = GetConsoleMode(errors_, &errorsMode_) &&
                    SetConsoleMode(errors_, errorsMode_ | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
  ~ConsoleSettings() {
    if (drawsEscapes_) SetConsoleMode(errors_, errorsMode_);
    if (codePage_ != 0) SetConsoleOutputCP(codePage_);
  }
  ConsoleSettings(const ConsoleSettings&) = delete;
  ConsoleSettings& operator=(const ConsoleSettings&) = delete;

  // Whether progress lines can be redrawn in place on the error stream.
  bool drawsEscapes() const { return drawsEscapes_; }

 private:
  UINT codePage_;
  HANDLE errors_;
  DWORD errorsMode_ = 0;
  bool drawsEscapes_ = false;
};

// The window of the console that stderr writes to.
obrint::cli::TerminalSize ErrorTerminalSize() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return {};
  return {static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1),
          static_cast<unsigned>(info.srWindow.Bottom - info.srWindow.Top + 1)};
}
#else
obrint::cli::TerminalSize ErrorTerminalSize() {
  winsize size{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  // The output is UTF-8, on a console as in a pipe.
  const ConsoleSettings console;
  const std::vector<std::string> args = Utf8Arguments();
  const bool errIsTerminal = _isatty(_fileno(stderr)) != 0;
  const bool errTakesEscapes = console.drawsEscapes();
  // _isatty also holds for NUL, which no one answers on.
  DWORD inMode = 0;
  const bool inIsTerminal = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &inMode) != 0;
#else
  // A file size limit then fails the write (EFBIG), which is told, and not the whole process.
  std::signal(SIGXFSZ, SIG_IGN);
  const std::vector<std::string> args(argv, argv + argc);
  const bool errIsTerminal = isatty(STDERR_FILENO) != 0;
  const bool errTakesEscapes = true;
  const bool inIsTerminal = isatty(STDIN_FILENO) != 0;
#endif
  const int status = obrint::cli::RunCli(args, {std::cout, std::cerr, std::cin, errIsTerminal,
                                                errTakesEscapes, inIsTerminal, ErrorTerminalSize});
  // Out while the console still reads UTF-8.
  std::cout.flush();
  return status;
}
