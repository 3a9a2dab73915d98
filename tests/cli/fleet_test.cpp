// Fleet runs on virtual headsets: every headset gets a single run's packets and its own image,
// a fault stays with its headset, a boot firmware no headset restarted into is left alone, and
// the command's JSON, log and exit status.
#include <gtest/gtest.h>

#include <tuple>

#include "cli/backend.h"
#include "cli/fleet.h"
#include "cli/image_check.h"
#include "cli/shared_link.h"
#include "cli/std_files.h"
#include "cli_harness.h"
#include "native/reference.h"
#include "sim/fleet_sim.h"

namespace obrint::cli::testing {
namespace {

sim::Headset Member(unsigned unit, sim::Firmware startIn = sim::Firmware::kApplication) {
  sim::HeadsetConfig config;
  config.unit = static_cast<std::uint16_t>(unit);
  config.mcuId[0] = static_cast<std::uint8_t>(unit);
  config.startIn = startIn;
  return sim::Headset(config);
}

auto Key(const sim::TransferRecord& r) {
  return std::tie(r.direction, r.reportId, r.length, r.bytes, r.ok, r.firmware, r.atMs);
}

// What one headset alone sees of the window's upgrade.
std::vector<sim::TransferRecord> SingleRunLog(unsigned unit, const std::string& image) {
  sim::Headset headset = Member(unit);
  sim::SimHidLink link(headset);
  sim::SimClock clock(headset);
  StdFileSystem files;
  std::unique_ptr<ImageFile> file = files.OpenForReading(image);
  HeadsetLocation location{headset.interfacePath(), kHeadsetVendorId, headset.productId()};
  UpgradeOptions options;
  options.bootSearchMs = 10000;
  EXPECT_EQ(WriteFirmware(link, clock, location, *file, options).failure, UpgradeFailure::kNone);
  return headset.log();
}

// Unit 0: a boot firmware on a port of its own that is no target of the run. Units 1..n: the
// targets, each with an image of its own.
class FleetTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp(unsigned targets, bool ports) {
    std::vector<sim::FleetMember> members;
    members.push_back({Member(0, sim::Firmware::kBoot), ports ? "1-1" : ""});
    for (unsigned unit = 1; unit <= targets; ++unit) {
      members.push_back({Member(unit), ports ? "1-2." + std::to_string(unit) : ""});
      images.push_back(dir.File("image" + std::to_string(unit) + ".bin"));
      WriteBytes(images.back(), reference::RandomBytes(1000 + 61 * unit, unit));
    }
    fleet = std::make_shared<sim::Fleet>(std::move(members));
    backend = MakeSimBackend(fleet, false);
  }
  std::vector<HeadsetRun> Flash(const std::atomic<int>* interrupts = nullptr) {
    std::vector<FleetTarget> targets;
    for (const AttachedInterface& found : FleetHeadsets(*backend, kHeadsetVendorId)) {
      if (found.pid != kBootProductId) targets.push_back({found, images[targets.size()]});
    }
    FleetOptions options;
    options.interrupts = interrupts;
    FleetRun run(*backend, files, options);
    std::vector<HeadsetRun> runs = run.Flash(targets);
    strays = run.strays();
    return runs;
  }
  sim::Headset& Headset(unsigned unit) { return fleet->headset(unit); }
  bool Untouched(unsigned unit) {
    for (const sim::TransferRecord& record : Headset(unit).log()) {
      if (record.direction == sim::TransferRecord::Direction::kSet) return false;
    }
    return Headset(unit).flashed().empty();
  }

  ScratchDir dir;
  StdFileSystem files;
  std::vector<std::string> images;
  std::shared_ptr<sim::Fleet> fleet;
  std::unique_ptr<Backend> backend;
  std::vector<AttachedInterface> strays;
};

// By port and, where none is told, by turns: each headset's traffic is a single run's with its
// own image, whatever the others do meanwhile, and the stray boot firmware gets nothing.
TEST_P(FleetTest, EachHeadsetGetsASingleRunsPacketsWithItsOwnImage) {
  SetUp(4, GetParam());
  const std::vector<HeadsetRun> runs = Flash();
  ASSERT_EQ(runs.size(), 4u);
  for (unsigned unit = 1; unit <= 4; ++unit) {
    SCOPED_TRACE(unit);
    EXPECT_EQ(runs[unit - 1].outcome, FleetOutcome::kFlashed) << runs[unit - 1].reason;
    EXPECT_EQ(Headset(unit).flashed(), ReadBytes(images[unit - 1]));
    const auto single = SingleRunLog(unit, images[unit - 1]);
    const auto& log = Headset(unit).log();
    // Before it: the version and MCU ID read for the record.
    ASSERT_GE(log.size(), single.size() + 2);
    for (std::size_t i = 0; i < single.size(); ++i) {
      ASSERT_EQ(Key(log[i + 2]), Key(single[i])) << "transfer " << i;
    }
  }
  EXPECT_TRUE(Untouched(0));
  ASSERT_EQ(strays.size(), 1u);
  EXPECT_EQ(strays[0].path, Headset(0).interfacePath());
  EXPECT_EQ(WorstExitCode(runs), ExitCode::kSuccess);
}

// One headset's fault ends its own run with its own reason; the others' images are whole.
TEST_P(FleetTest, AFaultStaysWithItsHeadset) {
  struct Case {
    std::function<void(sim::FaultPlan&)> inject;
    ExitCode code;
  };
  const Case cases[] = {
      {[](sim::FaultPlan& f) { f.wrongSumForBlock = 5; }, ExitCode::kVerificationFailed},
      {[](sim::FaultPlan& f) { f.wrongTotal = true; }, ExitCode::kVerificationFailed},
      {[](sim::FaultPlan& f) { f.staysAwayAfterRestart = true; }, ExitCode::kNoDevice},
      {[](sim::FaultPlan& f) { f.vanishAfterTransfer = 30; }, ExitCode::kDeviceRefused},
      {[](sim::FaultPlan& f) { f.refusedReports = {0x61}; }, ExitCode::kDeviceRefused},
  };
  for (const Case& c : cases) {
    images.clear();
    SetUp(3, GetParam());
    c.inject(Headset(2).faults());
    const std::vector<HeadsetRun> runs = Flash();
    SCOPED_TRACE(static_cast<int>(c.code));
    EXPECT_EQ(runs[1].outcome, FleetOutcome::kFailed);
    EXPECT_EQ(runs[1].code, c.code);
    EXPECT_FALSE(runs[1].reason.empty());
    EXPECT_TRUE(Headset(2).flashed().empty());
    for (unsigned unit : {1u, 3u}) {
      EXPECT_EQ(runs[unit - 1].outcome, FleetOutcome::kFlashed) << runs[unit - 1].reason;
      EXPECT_EQ(Headset(unit).flashed(), ReadBytes(images[unit - 1]));
    }
    EXPECT_EQ(WorstExitCode(runs), c.code);
  }
}

TEST_P(FleetTest, AfterCtrlCNoHeadsetStarts) {
  SetUp(2, GetParam());
  const std::atomic<int> pressed{1};
  for (const HeadsetRun& run : Flash(&pressed)) {
    EXPECT_EQ(run.outcome, FleetOutcome::kCancelled);
    EXPECT_EQ(run.code, ExitCode::kInterrupted);
  }
  EXPECT_TRUE(Untouched(1) && Untouched(2));
}

INSTANTIATE_TEST_SUITE_P(ByPortAndByTurns, FleetTest, ::testing::Bool());

TEST(FleetExitCode, TheWorstFailureClassWins) {
  using E = ExitCode;
  const std::vector<std::pair<std::vector<E>, E>> cases = {
      {{E::kSuccess, E::kSuccess}, E::kSuccess},
      {{E::kInterrupted, E::kFileError}, E::kFileError},
      {{E::kFileError, E::kNoDevice, E::kInterrupted}, E::kNoDevice},
      {{E::kNoDevice, E::kDeviceRefused}, E::kDeviceRefused},
      {{E::kDeviceRefused, E::kVerificationFailed, E::kSuccess}, E::kVerificationFailed},
  };
  for (const auto& [codes, worst] : cases) {
    std::vector<HeadsetRun> runs(codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i) runs[i].code = codes[i];
    EXPECT_EQ(WorstExitCode(runs), worst);
  }
}

// The platforms bind once per process: the last worker to let go releases the library.
TEST(SharedHidLinkTest, TheLastReleaseFreesTheLibrary) {
  sim::Headset headset;
  sim::SimHidLink inner(headset);
  SharedHidLink shared(inner);
  shared.LoadHidLibrary();
  shared.LoadHidLibrary();
  shared.FreeHidLibrary();
  EXPECT_TRUE(inner.bound());
  shared.FreeHidLibrary();
  shared.FreeHidLibrary();
  EXPECT_FALSE(inner.bound());
  EXPECT_EQ(inner.loads(), 1);
  EXPECT_EQ(inner.frees(), 1);
}

TEST(FleetCliTest, JsonLogAndExitStatusOfARunWithAFault) {
  ScratchDir dir;
  const std::string image = dir.File("demo.bin");
  const std::string log = dir.File("fleet.log");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  const std::vector<std::string> args = {"--sim",  "3",     "--sim-fault", "3:block-sum",
                                         "--json", "flash", "--all",       "--yes",
                                         "--log",  log,     image};
  RunCliWith(args);
  const CliRun run = RunCliWith(args);
  EXPECT_EQ(run.code, static_cast<int>(ExitCode::kVerificationFailed));
  const auto json = run.Json();
  EXPECT_EQ(json["totals"]["flashed"], 2);
  EXPECT_EQ(json["totals"]["failed"], 1);
  ASSERT_EQ(json["headsets"].size(), 3u);
  EXPECT_EQ(json["headsets"][0]["port"], "1-2.1");
  EXPECT_EQ(json["headsets"][0]["firmware_after"], "0025");
  EXPECT_EQ(json["headsets"][2]["status"], "verification-failed");
  EXPECT_EQ(json["headsets"][1]["mcu_id"], "04030202080706050C0B0A09");

  // Appended: three lines per run.
  const Bytes bytes = ReadBytes(log);
  std::istringstream lines(std::string(bytes.begin(), bytes.end()));
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[5]["port"], "1-2.3");
  EXPECT_EQ(records[5]["outcome"], "failed");
  EXPECT_EQ(records[4]["image"], "demo.bin");
  EXPECT_EQ(records[4]["size"], kDefaultSampleSize);
  EXPECT_EQ(records[4]["checksum"], json["checksum"]);
  EXPECT_EQ(records[4]["mcu_id"], json["headsets"][1]["mcu_id"]);
}

}  // namespace
}  // namespace obrint::cli::testing
