// The command line as a function: parses the arguments, runs one subcommand, prints its output
// and gives the exit status. main() and the tests call it alike.
#pragma once

#include <string>
#include <vector>

#include "cli/host.h"

namespace obrint::cli {

// `args` are UTF-8, args[0] the program name.
int RunCli(const std::vector<std::string>& args, Io io);

}  // namespace obrint::cli
