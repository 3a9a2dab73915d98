// What the platform gives the command line's process (host_posix.cpp, host_win.cpp), beside the
// engine's host (engine/host.h).
#pragma once

#include <string>
#include <vector>

#include "console/console.h"
#include "engine/host.h"

namespace obrint::cli {

using console::Console;
using console::Io;
using console::TerminalSize;
using console::Verbosity;
using engine::Host;

// The process as its platform gives it to the command line: its arguments as UTF-8, and what its
// streams are. For the life of the object a Windows console takes UTF-8 and escape sequences, and
// a POSIX process outlives a write past a file size limit, which then fails and is told.
class Process {
 public:
  Process(int argc, char** argv);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  const std::vector<std::string>& arguments() const { return arguments_; }
  bool errIsTerminal() const { return errIsTerminal_; }
  // Whether the error stream's terminal draws escape sequences (a console before Windows 10 not).
  bool errTakesEscapes() const { return errTakesEscapes_; }
  // Whether stdin is a terminal that a person answers on.
  bool inIsTerminal() const { return inIsTerminal_; }
  // The size of the terminal that stderr shows on, now.
  static TerminalSize ErrorTerminalSize();

 private:
  std::vector<std::string> arguments_;
  bool errIsTerminal_ = false, errTakesEscapes_ = false, inIsTerminal_ = false;
  unsigned codePage_ = 0;         // Windows: the console's output code page, given back after
  unsigned long errorsMode_ = 0;  // Windows: the error console's mode, given back after
};

}  // namespace obrint::cli
