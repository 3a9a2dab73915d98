// The built obrint-cli as a process: its exit statuses reach the shell, stdout carries the JSON
// alone and stderr the errors, stdin answers the confirmation.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "cli/exit_codes.h"
#include "cli_harness.h"

namespace obrint::cli::testing {
namespace {

TEST(CliProcessTest, ExitStatusesAndStreamsReachTheShell) {
  ScratchDir dir;
  const auto exec = [&](const std::vector<std::string>& args, const std::string& input = "") {
    std::string command = "'" OBRINT_CLI_EXE "'";
    // Appended piece by piece: g++ 12 at -O3 warns (-Wrestrict, wrongly) on " " + std::string.
    for (const std::string& arg : args) command.append(" '").append(arg).append("'");
    WriteBytes(dir.File("in"), Bytes(input.begin(), input.end()));
    command.append(" <").append(dir.File("in")).append(" >").append(dir.File("out"));
    const int status = std::system(command.append(" 2>").append(dir.File("err")).c_str());
    const Bytes out = ReadBytes(dir.File("out")), err = ReadBytes(dir.File("err"));
    return CliRun{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                  {out.begin(), out.end()},
                  {err.begin(), err.end()}};
  };
  EXPECT_EQ(exec({"--help"}).code, 0);
  EXPECT_EQ(exec({"nonsense"}).code, static_cast<int>(ExitCode::kUsage));
  EXPECT_EQ(exec({"check", dir.File("missing.bin")}).code, static_cast<int>(ExitCode::kFileError));
  const std::string image = dir.File("demo.bin");
  ASSERT_EQ(exec({"sample-image", image}).code, 0);
  EXPECT_EQ(exec({"--sim", "flash", image}, "no\n").code, static_cast<int>(ExitCode::kDeclined));
  EXPECT_EQ(exec({"--sim", "flash", image}, "yes\n").code, 0);

  const CliRun run = exec({"--sim", "--json", "--device", "elsewhere", "info"});
  EXPECT_EQ(run.code, static_cast<int>(ExitCode::kNoDevice));
  EXPECT_EQ(run.Json()["status"], "no-device");
  EXPECT_NE(run.err.find("obrint-cli: "), std::string::npos);
  EXPECT_EQ(run.err.find('{'), std::string::npos);
}

}  // namespace
}  // namespace obrint::cli::testing
