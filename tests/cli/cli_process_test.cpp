// The built obrint-cli as a process: its exit statuses reach the shell, stdout carries the JSON
// alone and stderr the errors, stdin answers the confirmation; a signal in the middle of a run
// leaves every headset's record, and the JSON, and ends with 128 + its number.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "cli/failures.h"
#include "cli_harness.h"
#include "record_schema.h"

namespace obrint::cli::testing {
namespace {

// The program with its streams in files of `dir`.
class Process {
 public:
  Process(const ScratchDir& dir, const std::vector<std::string>& args,
          const std::string& input = "")
      : dir_(dir) {
    WriteBytes(dir.File("in"), Bytes(input.begin(), input.end()));
    pid_ = fork();
    if (pid_ != 0) return;
    const auto redirect = [&](const char* name, int fd, int flags) {
      const int file = open(dir.File(name).c_str(), flags, 0644);
      dup2(file, fd);
    };
    redirect("in", STDIN_FILENO, O_RDONLY);
    redirect("out", STDOUT_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    redirect("err", STDERR_FILENO, O_WRONLY | O_CREAT | O_TRUNC);
    std::vector<char*> argv = {const_cast<char*>(OBRINT_CLI_EXE)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(OBRINT_CLI_EXE, argv.data());
    _exit(127);
  }
  void Signal(int signal) const { kill(pid_, signal); }
  std::string Err() const {
    const Bytes err = ReadBytes(dir_.File("err"));
    return {err.begin(), err.end()};
  }
  CliRun Wait() const {
    int status = 0;
    waitpid(pid_, &status, 0);
    const Bytes out = ReadBytes(dir_.File("out"));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, Err()};
  }

 private:
  const ScratchDir& dir_;
  pid_t pid_;
};

CliRun Exec(const ScratchDir& dir, const std::vector<std::string>& args,
            const std::string& input = "") {
  return Process(dir, args, input).Wait();
}

TEST(CliProcessTest, ExitStatusesAndStreamsReachTheShell) {
  ScratchDir dir;
  EXPECT_EQ(Exec(dir, {"--help"}).code, 0);
  EXPECT_EQ(Exec(dir, {"nonsense"}).code, static_cast<int>(ExitCode::kUsage));
  EXPECT_EQ(Exec(dir, {"check", dir.File("missing.bin")}).code,
            static_cast<int>(ExitCode::kFileError));
  const std::string image = dir.File("demo.bin");
  ASSERT_EQ(Exec(dir, {"sample-image", image}).code, 0);
  // No terminal to answer on and no --yes: refused before any headset is touched.
  for (const std::vector<std::string>& flash :
       {std::vector<std::string>{"flash"}, {"flash", "--all", "--only-failed", image}}) {
    std::vector<std::string> args = {"--sim-state", dir.File("state"), "--sim"};
    args.insert(args.end(), flash.begin(), flash.end());
    args.push_back(image);
    const CliRun refused = Exec(dir, args, "yes\n");
    EXPECT_EQ(refused.code, static_cast<int>(ExitCode::kUsage));
    EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
    EXPECT_TRUE(LoadHeadset(dir.File("state")).log().empty()) << "untouched";
  }

  const CliRun run = Exec(dir, {"--sim", "--json", "--device", "elsewhere", "info"});
  EXPECT_EQ(run.code, static_cast<int>(ExitCode::kNoDevice));
  EXPECT_EQ(run.Json()["status"], "no-device");
  EXPECT_NE(run.err.find("obrint-cli: "), std::string::npos);
  EXPECT_EQ(run.err.find('{'), std::string::npos);
}

// Headsets in the middle of their transfer when the signal comes, on the real clock.
TEST(CliProcessTest, ASignalLeavesEveryHeadsetsRecord) {
  struct Case {
    std::vector<int> signals;
    int code;
  };
  for (const Case& c : {Case{{SIGTERM}, 128 + SIGTERM}, Case{{SIGINT, SIGINT}, 130},
                        Case{{SIGHUP}, 128 + SIGHUP}}) {
    ScratchDir dir;
    const std::string image = dir.File("demo.bin"), log = dir.File("fleet.log");
    ASSERT_EQ(Exec(dir, {"sample-image", "--size", "39948", image}).code, 0);
    const Process run(dir, {"--sim", "2", "--sim-real-time", "--json", "flash", "--all", "--yes",
                            "--log", log, image});
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    for (const int signal : c.signals) {
      run.Signal(signal);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (c.signals.size() > 1 && signal == c.signals.front()) {
        EXPECT_NE(run.Err().find("Ctrl+C"), std::string::npos) << "told at once";
      }
    }
    const CliRun ended = run.Wait();
    EXPECT_EQ(ended.code, c.code) << ended.err;
    EXPECT_EQ(ended.Json()["headsets"].size(), 2u);
    const Bytes bytes = ReadBytes(log);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    int records = 0;
    for (std::string line; std::getline(lines, line); ++records) {
      const nlohmann::json record = nlohmann::json::parse(line);
      ExpectRecord(record);
      EXPECT_EQ(record["outcome"], "interrupted");
      EXPECT_EQ(record["reason"], "interrupted in its boot firmware: needs a new flash");
      EXPECT_EQ(record["exit_status"], c.code);
    }
    EXPECT_EQ(records, 2);
  }
}

// A station on the real clock, two headsets under way at 3 s and a third plugged in at 5 s: one
// Ctrl+C lets the two finish and starts no other, which gets its record of not started; a second
// ends at once, with every record. Either ends with 130.
TEST(CliProcessTest, CtrlCOnceAndTwiceAtAStation) {
  struct Case {
    int presses;
    int code;
    std::vector<std::string> outcomes;  // of the records in the log
  };
  for (const Case& c : {Case{1, 130, {"not started", "flashed", "flashed"}},
                        Case{2, 130, {"interrupted", "interrupted"}}}) {
    ScratchDir dir;
    const std::string image = dir.File("demo.bin"), log = dir.File("station.log");
    const std::string plugs = "0 plug 1\n0 plug 2\n5000 plug 3\n";
    WriteBytes(dir.File("plugs.txt"), Bytes(plugs.begin(), plugs.end()));
    ASSERT_EQ(Exec(dir, {"sample-image", "--size", "39948", image}).code, 0);
    const Process run(dir, {"--sim", "3", "--sim-real-time", "--sim-plug-file",
                            dir.File("plugs.txt"), "station", "--log", log, image});
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    for (int i = 0; i < c.presses; ++i) {
      run.Signal(SIGINT);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    const CliRun ended = run.Wait();
    EXPECT_EQ(ended.code, c.code) << ended.err;
    std::istringstream lines(ended.out);
    std::vector<std::string> events;
    for (std::string line; std::getline(lines, line);) {
      events.push_back(nlohmann::json::parse(line).value("event", ""));
    }
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "stop");
    EXPECT_EQ(std::count(events.begin(), events.end(), "start"), 2) << ended.out;
    const Bytes bytes = ReadBytes(log);
    std::istringstream records(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> outcomes;
    for (std::string line; std::getline(records, line);) {
      const nlohmann::json record = nlohmann::json::parse(line);
      ExpectRecord(record);
      outcomes.push_back(record["outcome"]);
    }
    EXPECT_EQ(outcomes, c.outcomes);
  }
}

}  // namespace
}  // namespace obrint::cli::testing
