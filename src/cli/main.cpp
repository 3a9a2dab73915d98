// obrint-cli's entry point: the process as its platform gives it (host_posix.cpp, host_win.cpp).
#include <iostream>

#include "cli/cli.h"
#include "cli/host.h"

int main(int argc, char** argv) {
  using obrint::cli::Process;
  const Process process(argc, argv);
  const int status = obrint::cli::RunCli(
      process.arguments(),
      {std::cout, std::cerr, std::cin, process.errIsTerminal(), process.errTakesEscapes(),
       process.inIsTerminal(), &Process::ErrorTerminalSize});
  // Out while the console still reads UTF-8.
  std::cout.flush();
  return status;
}
