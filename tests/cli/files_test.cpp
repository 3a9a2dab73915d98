// The files the command line writes: a new file beside the old one, made to last and renamed
// over it; a link stays a link; a failed write leaves the old file byte for byte and no
// temporary behind.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "cli_harness.h"
#include "device/image.h"

namespace obrint::cli::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Writes larger than `bytes` fail for the life of the object, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, saved_.rlim_max};
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

TEST(FilesTest, SampleImagesAndStateFilesAreReplacedWholeOrNotAtAll) {
  ScratchDir dir;
  const std::string image = dir.File("demo.bin"), target = dir.File("target.bin");
  const Bytes old = {'o', 'l', 'd'};
  WriteBytes(target, old);
  fs::create_symlink(target, image);

  EXPECT_EQ(RunCliWith({"sample-image", image}).code, 6) << "not without --force";
  EXPECT_EQ(ReadBytes(target), old);
  {
    const FileSizeLimit full(1000);
    EXPECT_EQ(RunCliWith({"sample-image", "--force", image}).code, 6);
  }
  EXPECT_EQ(ReadBytes(target), old) << "a failed write leaves the old file";
  EXPECT_EQ(Names(dir.File("")), (std::vector<std::string>{"demo.bin", "target.bin"}));

  ASSERT_EQ(RunCliWith({"sample-image", "--force", image}).code, 0);
  EXPECT_TRUE(fs::is_symlink(image)) << "the link stays, its target is replaced";
  EXPECT_EQ(ReadBytes(target), MakeSampleImage(kDefaultSampleSize));

  // The virtual headset's state: a link placed where a fixed temporary name would be is never
  // followed, and the state's own link stays.
  const std::string state = dir.File("state.txt"), real = dir.File("real-state.txt");
  const std::string victim = dir.File("victim");
  WriteBytes(victim, old);
  fs::create_symlink(victim, state + ".tmp");
  ASSERT_EQ(RunCliWith({"--sim-state", real, "mode", "dk1"}).code, 0);
  fs::create_symlink(real, state);
  ASSERT_EQ(RunCliWith({"--sim-state", state, "mode", "dk2"}).code, 0);
  EXPECT_TRUE(fs::is_symlink(state));
  EXPECT_EQ(LoadHeadset(real).runMode(), 0xFD);
  EXPECT_EQ(ReadBytes(victim), old);
  EXPECT_EQ(Names(dir.File("")).size(), 6u) << "no temporary left behind";
}

// The yield page: written whole from every log, or not at all.
TEST(FilesTest, TheYieldPageIsWrittenWholeFromEveryLogOrNotAtAll) {
  ScratchDir dir;
  const std::string page = dir.File("yield.html"), log = dir.File("a.jsonl");
  const Bytes old = {'o', 'l', 'd'};
  WriteBytes(page, old);
  WriteBytes(log, {});
  {
    const FileSizeLimit full(1000);
    EXPECT_EQ(RunCliWith({"report", "--html", page, log}).code, 6);
  }
  EXPECT_EQ(ReadBytes(page), old) << "a failed write leaves the old page";
  EXPECT_EQ(RunCliWith({"report", "--html", page, log, dir.File("gone.jsonl")}).code, 6);
  EXPECT_EQ(ReadBytes(page), old) << "a log that cannot be opened leaves the old page";
  ASSERT_EQ(RunCliWith({"report", "--html", page, log}).code, 0);
  const Bytes made = ReadBytes(page);
  EXPECT_NE(std::string(made.begin(), made.end()).find(R"({"records":0,)"), std::string::npos);
  EXPECT_EQ(Names(dir.File("")), (std::vector<std::string>{"a.jsonl", "yield.html"}));
}

// A log that stops taking records: a station takes no headset after the first record it refused,
// which is told at once; each record it could not take is printed whole (stdout with --json, else
// stderr); the run ends with 6 unless a headset's outcome is worse; and the next run starts on a
// line of its own, so that the torn record costs one line.
TEST(FilesTest, ALogThatStopsTakingRecords) {
  ScratchDir dir;
  const std::string image = dir.File("demo.bin"), log = dir.File("line.log");
  const std::string plugs = dir.File("plugs.txt"), script = "0 plug 1\n0 plug 2\n60000 plug 3\n";
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  WriteBytes(plugs, Bytes(script.begin(), script.end()));
  struct Case {
    std::vector<std::string> args;  // then flash --all and the log, unless the log is in them
    std::size_t before;             // bytes of a line the log holds already
    rlim_t limit;                   // one record of ~650 bytes fits, two do not
    std::size_t lines, unlogged;    // the log's whole lines after, and the records printed
    int code;
  };
  const std::vector<std::string> all = {"flash", "--all", "--yes", "--station", "s", "--log", log};
  // clang-format off
  const Case cases[] = {
      {{"--sim", "3", "--sim-plug-file", plugs, "--json", "station", "--station", "s", "--max", "3",
        "--log", log}, 0, 1000, 1, 1, 6},
      {{"--sim", "2", "--json", "--sim-fault", "2:total"}, 2000, 2000, 1, 2, 5},
      {{"--sim", "2"}, 2000, 3000, 2, 1, 6},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<std::string> args = c.args;
    if (args.back() != log) args.insert(args.end(), all.begin(), all.end());
    args.push_back(image);
    const bool station = std::find(args.begin(), args.end(), "station") != args.end();
    SCOPED_TRACE(c.limit);
    Bytes before(c.before, ' ');
    if (!before.empty()) before.back() = '\n';
    WriteBytes(log, before);
    CliRun run;
    {
      const FileSizeLimit full(c.limit);
      run = RunCliWith(args);
    }
    EXPECT_EQ(run.code, c.code) << run.err;
    const Bytes bytes = ReadBytes(log);
    EXPECT_EQ(static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n')), c.lines);
    std::vector<nlohmann::json> printed;
    std::istringstream err(run.err);
    for (std::string line; std::getline(err, line);) {
      if (line.starts_with("{")) printed.push_back(nlohmann::json::parse(line));
    }
    std::istringstream out(run.out);
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(out, line);) {
      if (line.starts_with("{")) events.push_back(nlohmann::json::parse(line));
    }
    if (!events.empty()) printed = events.back().value("unlogged", printed);
    EXPECT_EQ(printed.size(), c.unlogged);
    if (!station) continue;
    // Told at once, and no headset arrived after it was taken on.
    std::vector<std::string> told;
    for (const auto& event : events) told.push_back(event.value("event", ""));
    const auto failed = std::find(told.begin(), told.end(), "log_failed");
    ASSERT_NE(failed, told.end()) << run.out;
    EXPECT_EQ(std::count(told.begin(), failed, "done"), 2);
    EXPECT_EQ(std::count(told.begin(), told.end(), "arrival"), 2);
    EXPECT_EQ(std::count(failed, told.end(), "stop"), 1);
    // The next run's record starts on a line of its own.
    ASSERT_EQ(RunCliWith({"--sim", "flash", "--yes", "--log", log, image}).code, 0);
    const CliRun report = RunCliWith({"--json", "report", log});
    EXPECT_EQ(report.Json()["records"], 2);
    EXPECT_EQ(report.Json()["unreadable"]["count"], 1);
  }
}

}  // namespace
}  // namespace obrint::cli::testing
