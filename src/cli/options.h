// The command line's words: every option, the global ones and each command's, and the parse of
// them. options.cpp is the one unit that compiles CLI11, a header heavy enough that each unit
// including it doubled its compile time.
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

// Each command's own arguments and options (Command::define).
void DefineImageArgument(CLI::App& command, Options& options);  // IMAGE
void DefineFlash(CLI::App& command, Options& options);
void DefineInfo(CLI::App& command, Options& options);
void DefineMode(CLI::App& command, Options& options);
void DefineSampleImage(CLI::App& command, Options& options);
void DefineStation(CLI::App& command, Options& options);
void DefineReport(CLI::App& command, Options& options);
void DefinePush(CLI::App& command, Options& options);
void DefineDb(CLI::App& command, Options& options);

}  // namespace obrint::cli
