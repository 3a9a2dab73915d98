// The built obrint-cli as a process: exit statuses, stdout and stderr kept apart, stdin for the
// confirmation.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cli/exit_codes.h"
#include "cli_harness.h"

namespace obrint::cli::testing {
namespace {

std::string Quote(const std::string& arg) {
  std::string quoted = "'";
  for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class CliProcessTest : public ::testing::Test {
 protected:
  CliRun Exec(const std::vector<std::string>& args, const std::string& input = "") {
    std::string command = Quote(OBRINT_CLI_EXE);
    // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict, wrongly) on " " + std::string.
    for (const std::string& arg : args) command.append(" ").append(Quote(arg));
    const std::string in = dir.File("stdin");
    WriteBytes(in, Bytes(input.begin(), input.end()));
    command.append(" <").append(Quote(in)).append(" >").append(Quote(dir.File("stdout")));
    command.append(" 2>").append(Quote(dir.File("stderr")));
    const int status = std::system(command.c_str());
    CliRun run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Slurp(dir.File("stdout"));
    run.err = Slurp(dir.File("stderr"));
    return run;
  }

  ScratchDir dir;
};

TEST_F(CliProcessTest, ExitStatusesReachTheShell) {
  EXPECT_EQ(Exec({"--help"}).code, 0);
  EXPECT_EQ(Exec({"nonsense"}).code, static_cast<int>(ExitCode::kUsage));
  EXPECT_EQ(Exec({"check", dir.File("missing.bin")}).code, static_cast<int>(ExitCode::kFileError));
  EXPECT_EQ(Exec({"--sim", "--device", "elsewhere", "info"}).code,
            static_cast<int>(ExitCode::kNoDevice));
  const std::string image = dir.File("demo.bin");
  ASSERT_EQ(Exec({"sample-image", image}).code, 0);
  EXPECT_EQ(Exec({"--sim", "flash", image}, "no\n").code, static_cast<int>(ExitCode::kDeclined));
  EXPECT_EQ(Exec({"--sim", "flash", image}, "yes\n").code, 0);
}

TEST_F(CliProcessTest, JsonGoesToStdoutAloneAndErrorsToStderr) {
  const CliRun run = Exec({"--sim", "--json", "--device", "elsewhere", "info"});
  EXPECT_EQ(run.code, static_cast<int>(ExitCode::kNoDevice));
  EXPECT_EQ(run.Json()["status"], "no-device");
  EXPECT_NE(run.err.find("obrint-cli: "), std::string::npos);
  EXPECT_EQ(run.err.find('{'), std::string::npos);
}

}  // namespace
}  // namespace obrint::cli::testing
