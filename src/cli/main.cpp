// obrint-cli's entry point: the arguments as UTF-8 and the process's streams.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

#ifdef _WIN32
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include "win/handles.h"
#include "win/text.h"
#else
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
  const obrint::win::UniqueLocalMemory owner(wide);
  for (int i = 0; i < count; ++i) args.push_back(obrint::win::Narrow(wide[i]));
  return args;
}
// Sets the console's output code page for the life of the object.
class ConsoleCodePage {
 public:
  explicit ConsoleCodePage(UINT codePage) : previous_(GetConsoleOutputCP()) {
    if (previous_ != 0) SetConsoleOutputCP(codePage);
  }
  ~ConsoleCodePage() {
    if (previous_ != 0) SetConsoleOutputCP(previous_);
  }
  ConsoleCodePage(const ConsoleCodePage&) = delete;
  ConsoleCodePage& operator=(const ConsoleCodePage&) = delete;

 private:
  UINT previous_;
};
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  // The output is UTF-8, on a console as in a pipe; the console gets its code page back after.
  const ConsoleCodePage utf8Console(CP_UTF8);
  const std::vector<std::string> args = Utf8Arguments();
  const bool errIsTerminal = _isatty(_fileno(stderr)) != 0;
#else
  const std::vector<std::string> args(argv, argv + argc);
  const bool errIsTerminal = isatty(STDERR_FILENO) != 0;
#endif
  const int status = obrint::cli::RunCli(args, {std::cout, std::cerr, std::cin, errIsTerminal});
  // Out while the console still reads UTF-8.
  std::cout.flush();
  return status;
}
