// The built obrint-cli as a process: its exit statuses reach the shell, stdout carries the JSON
// alone and stderr the errors, stdin answers the confirmation; a signal ends every command with
// 128 + its number, and in the middle of a run leaves every headset's record, and the JSON.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "records/failures.h"
#include "cli_harness.h"
#include "record_schema.h"

namespace obrint::cli::testing {
namespace {

// The program with stdout and stderr in files of `dir`, stdin a pipe that the test writes to, or
// with `terminal` a pseudo-terminal, on which a question can be answered.
class Process {
 public:
  Process(const ScratchDir& dir, const std::vector<std::string>& args, bool terminal = false)
      : dir_(dir) {
    int fds[2] = {-1, -1};
    if (terminal) {
      fds[1] = posix_openpt(O_RDWR | O_NOCTTY);
      if (fds[1] < 0 || grantpt(fds[1]) != 0 || unlockpt(fds[1]) != 0) ADD_FAILURE() << "no pty";
      fds[0] = open(ptsname(fds[1]), O_RDWR | O_NOCTTY);
    } else if (pipe(fds) != 0) {
      ADD_FAILURE() << "no pipe";
    }
    pid_ = fork();
    if (pid_ != 0) {
      close(fds[0]);
      in_ = fds[1];
      return;
    }
    dup2(fds[0], STDIN_FILENO);
    close(fds[1]);
    for (const auto& [name, fd] : {std::pair{"out", STDOUT_FILENO}, {"err", STDERR_FILENO}}) {
      dup2(open(dir.File(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), fd);
    }
    std::vector<char*> argv = {const_cast<char*>(OBRINT_CLI_EXE)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(OBRINT_CLI_EXE, argv.data());
    _exit(127);
  }
  ~Process() { Close(); }
  void Signal(int signal) const { kill(pid_, signal); }
  void Write(const std::string& text) const {
    if (write(in_, text.data(), text.size()) < 0) ADD_FAILURE() << "stdin closed";
  }
  void Close() {
    if (in_ >= 0) close(in_);
    in_ = -1;
  }
  std::string Err() const {
    const Bytes err = ReadBytes(dir_.File("err"));
    return {err.begin(), err.end()};
  }
  // Its end; one still running after `patience` gets the end of its input, later SIGKILL.
  CliRun Wait(std::chrono::milliseconds patience = std::chrono::hours(1)) {
    int status = 0;
    for (auto waited = std::chrono::milliseconds(0); waitpid(pid_, &status, WNOHANG) == 0;
         waited += std::chrono::milliseconds(20)) {
      if (waited > patience) Close();
      if (waited > patience + std::chrono::seconds(5)) kill(pid_, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const Bytes out = ReadBytes(dir_.File("out"));
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, Err()};
  }

 private:
  const ScratchDir& dir_;
  pid_t pid_;
  int in_ = -1;
};

CliRun Exec(const ScratchDir& dir, const std::vector<std::string>& args,
            const std::string& input = "") {
  Process run(dir, args);
  if (!input.empty()) run.Write(input);
  run.Close();
  return run.Wait();
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

// Every command ends at a signal with 128 + its number: in the middle of a transfer with every
// headset's record; at a question with nothing written; a run mode written and its headset
// restarting, said so; a report that reads a pipe, with no report of part of it.
TEST(CliProcessTest, ASignalEndsAnyCommand) {
  struct Case {
    const char* name;
    std::vector<std::string> args;  // IMAGE, LOG and STATE: files of the test's
    std::vector<int> signals;       // 300 ms apart
    int afterMs;                    // before the first
    int code;
    std::string said;                  // on stderr
    std::vector<std::string> records;  // in LOG: the reasons
    bool untouched = false;            // the headset in STATE got nothing
  };
  const std::vector<std::string> all = {"--sim", "2",     "--sim-real-time", "--json", "flash",
                                        "--all", "--yes", "--log",           "LOG",    "IMAGE"};
  const std::string boot = "interrupted in its boot firmware: needs a new flash";
  // clang-format off
  const Case cases[] = {
      {"transfers, SIGTERM", all, {SIGTERM}, 3000, 128 + SIGTERM, "", {boot, boot}},
      {"transfers, Ctrl+C twice", all, {SIGINT, SIGINT}, 3000, 130, "Ctrl+C", {boot, boot}},
      {"transfers, SIGHUP", all, {SIGHUP}, 3000, 128 + SIGHUP, "", {boot, boot}},
      {"the question of flash --all", {"--sim-state", "STATE", "flash", "--all", "--log", "LOG",
       "IMAGE"}, {SIGINT}, 500, 130, "stopped by signal 2", {}, true},
      {"the question of flash", {"--sim", "flash", "--log", "LOG", "IMAGE"}, {SIGINT}, 500, 130,
       "obrint-cli: interrupted in its boot firmware", {boot}},
      {"a run mode's restart", {"--sim", "--sim-real-time", "mode", "dk1"}, {SIGTERM}, 1000,
       128 + SIGTERM, "the run mode dk1 was written and the headset restarted into it"},
      {"a report from a pipe", {"report", "/dev/stdin"}, {SIGINT}, 500, 130, "stopped by signal 2"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string image = dir.File("demo.bin"), log = dir.File("run.log");
    ASSERT_EQ(Exec(dir, {"sample-image", "--size", "39948", image}).code, 0);
    std::vector<std::string> args = c.args;
    for (std::string& arg : args) {
      arg = arg == "IMAGE" ? image : arg == "LOG" ? log : arg == "STATE" ? dir.File("state") : arg;
    }
    Process run(dir, args, c.args.front() != "report");
    std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
    for (const int signal : c.signals) {
      run.Signal(signal);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (c.signals.size() > 1 && signal == c.signals.front()) {
        EXPECT_NE(run.Err().find("Ctrl+C"), std::string::npos) << "told at once";
      }
    }
    if (c.args.front() == "report") run.Write("{}\n");  // a line to read after the signal
    const CliRun ended = run.Wait(std::chrono::seconds(3));
    EXPECT_EQ(ended.code, c.code) << ended.err;
    EXPECT_NE(ended.err.find(c.said), std::string::npos) << ended.err;
    EXPECT_EQ(ended.out.find(" records in "), std::string::npos) << "no report of part of a log";
    if (c.args == all) {
      EXPECT_EQ(ended.Json()["headsets"].size(), 2u);
    }
    const Bytes bytes = ReadBytes(log);
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::vector<std::string> reasons;
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json record = nlohmann::json::parse(line);
      ExpectRecord(record);
      EXPECT_EQ(record["outcome"], "interrupted");
      EXPECT_EQ(record["exit_status"], c.code);
      reasons.push_back(record["reason"]);
    }
    EXPECT_EQ(reasons, c.records);
    if (c.untouched) {
      const sim::Headset headset = LoadHeadset(dir.File("state"));
      for (const sim::TransferRecord& r : headset.log()) {
        EXPECT_NE(r.direction, sim::TransferRecord::Direction::kSet) << "nothing written";
      }
    }
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
    Process run(dir, {"--sim", "3", "--sim-real-time", "--sim-plug-file", dir.File("plugs.txt"),
                      "station", "--log", log, image});
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
