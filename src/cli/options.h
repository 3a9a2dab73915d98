// The command line's words: every option, the global ones and each command's, and the parse of
// them. options.cpp is the one unit that compiles CLI11, which costs each unit that includes it
// about 2 s of compile time (4 s in the Windows build).
#pragma once

#include <string>
#include <vector>

#include "cli/command.h"

namespace obrint::cli {

// How the arguments read.
struct Parsed {
  const Command* command = nullptr;  // the command to run, when they hold together
  std::string problem;               // else why not: a usage error
  std::string text;                  // or --help or --version's text, to print before ending
};

// `args` as RunCli takes them; fills `options`.
Parsed ParseArguments(const std::vector<std::string>& args, Options& options);

}  // namespace obrint::cli
