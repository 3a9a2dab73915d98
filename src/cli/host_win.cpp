// Windows: the process as Windows gives it.
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include "cli/command.h"
#include "winbase/handles.h"
#include "winbase/text.h"

namespace obrint::cli {

// Debian packages no libpq for this build: no push, no db (a collector pushes the logs).
std::span<const Command* const> PlatformCommands() { return {}; }

Process::Process(int, char**) : codePage_(GetConsoleOutputCP()) {
  // The ANSI argv loses what the code page cannot hold; the wide command line does not.
  int count = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
    const winbase::UniqueLocalMemory owner(wide);
    for (int i = 0; i < count; ++i) arguments_.push_back(winbase::Narrow(wide[i]));
  }
  // The output is UTF-8, on a console as in a pipe; the error stream's console (when it is one)
  // draws the live table's escape sequences.
  if (codePage_ != 0) SetConsoleOutputCP(CP_UTF8);
  DWORD mode = 0;
  const HANDLE errors = GetStdHandle(STD_ERROR_HANDLE);
  errTakesEscapes_ = GetConsoleMode(errors, &mode) &&
                     SetConsoleMode(errors, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  errorsMode_ = mode;
  errIsTerminal_ = _isatty(_fileno(stderr)) != 0;
  // _isatty also holds for NUL, which no one answers on.
  inIsTerminal_ = GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

Process::~Process() {
  if (errTakesEscapes_) SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), errorsMode_);
  if (codePage_ != 0) SetConsoleOutputCP(codePage_);
}

// The window of the console that stderr writes to.
TerminalSize Process::ErrorTerminalSize() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return {};
  return {static_cast<unsigned>(info.srWindow.Right - info.srWindow.Left + 1),
          static_cast<unsigned>(info.srWindow.Bottom - info.srWindow.Top + 1)};
}

}  // namespace obrint::cli
