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

// A record that cannot reach the log is a file error, but never hides a headset's worse outcome.
TEST(FilesTest, AFailedLogWriteRanksBelowTheHeadsetsOutcomes) {
  ScratchDir dir;
  const std::string image = dir.File("demo.bin"), log = dir.File("full.log");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  WriteBytes(log, Bytes(2000, ' '));
  for (const auto& [fault, code] :
       std::vector<std::pair<std::string, int>>{{"", 6}, {"2:total", 5}}) {
    std::vector<std::string> args = {"--sim", "2", "flash", "--all", "--yes", "--log", log, image};
    if (!fault.empty()) args.insert(args.begin() + 2, {"--sim-fault", fault});
    const FileSizeLimit full(1000);
    EXPECT_EQ(RunCliWith(args).code, code) << fault;
  }
}

}  // namespace
}  // namespace obrint::cli::testing
