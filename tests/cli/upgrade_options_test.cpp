// The firmware upgrade's options for other front ends: by default the run is the window's, packet
// for packet and wait for wait; the boot-firmware search, the version and progress callbacks and
// the reason of a failure behave as documented.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/firmware_upgrade.h"
#include "native/fakes/fake_files.h"
#include "native/fakes/fake_ui.h"
#include "native/fakes/upgrade_support.h"
#include "sim/headset_sim.h"

namespace obrint {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr char kImage[] = "fw.bin";

using fakes::RandomImage;

// One headset, one run.
struct Bench {
  explicit Bench(sim::HeadsetConfig config = {}) : headset(config) {}

  UpgradeOutcome Run(const Bytes& image, const UpgradeOptions* options = nullptr) {
    files.Add(kImage, image);
    imagePath = kImage;
    if (!options) return UpgradeFirmware(link, clock, files, ui, location, imagePath);
    return UpgradeFirmware(link, clock, files, ui, location, imagePath, *options, &why);
  }

  sim::Headset headset;
  sim::SimHidLink link{headset};
  sim::SimClock clock{headset};
  fakes::FakeFileSystem files;
  fakes::FakeUserInterface ui;
  HeadsetLocation location{headset.interfacePath(), kHeadsetVendorId, 0x0021};
  std::string imagePath;
  UpgradeFailure why = UpgradeFailure::kNone;
};

bool SameTraffic(const sim::Headset& a, const sim::Headset& b) {
  if (a.log().size() != b.log().size()) return false;
  for (std::size_t i = 0; i < a.log().size(); ++i) {
    const sim::TransferRecord& x = a.log()[i];
    const sim::TransferRecord& y = b.log()[i];
    if (x.direction != y.direction || x.reportId != y.reportId || x.length != y.length ||
        x.bytes != y.bytes || x.ok != y.ok || x.atMs != y.atMs) {
      return false;
    }
  }
  return true;
}

class DefaultOptionsTest : public ::testing::TestWithParam<int> {};

// Each case a headset that takes a different road through the procedure.
TEST_P(DefaultOptionsTest, RunIsTheWindowsOneExactly) {
  sim::HeadsetConfig config;
  const int faultCase = GetParam();
  if (faultCase == 1) config.startIn = sim::Firmware::kBoot;
  if (faultCase == 2) config.restartOnlyAsReport6 = true;
  Bench window(config);
  Bench other(config);
  auto fault = [faultCase](sim::Headset& h) {
    if (faultCase == 3) h.faults().wrongSumForBlock = 2;
    if (faultCase == 4) h.faults().staysAwayAfterRestart = true;
    if (faultCase == 5) h.faults().wrongTotal = true;
  };
  fault(window.headset);
  fault(other.headset);
  const Bytes image = RandomImage(1000 + 37 * static_cast<std::size_t>(faultCase), 11);

  const UpgradeOptions defaults;
  const UpgradeOutcome expected = window.Run(image);
  EXPECT_EQ(other.Run(image, &defaults), expected);
  EXPECT_TRUE(SameTraffic(window.headset, other.headset));
  EXPECT_EQ(window.clock.waits(), other.clock.waits());
  EXPECT_EQ(window.link.searches(), other.link.searches());
  EXPECT_EQ(window.ui.boxes, other.ui.boxes);
  EXPECT_EQ(window.ui.caption, other.ui.caption);
  EXPECT_EQ(window.location.devicePath, other.location.devicePath);
  EXPECT_EQ(other.why == UpgradeFailure::kNone, expected == UpgradeOutcome::kSucceeded);
}

INSTANTIATE_TEST_SUITE_P(Roads, DefaultOptionsTest, ::testing::Range(0, 6));

TEST(UpgradeOptionsTest, BootSearchReplacesTheWaitAndTheSingleSearch) {
  sim::HeadsetConfig config;
  config.restartMs = 3300;  // later than the window's single search
  Bench bench(config);
  int calls = 0;
  UpgradeOptions options;
  options.findBootFirmware = [&](HidLink& link, Clock& clock) -> std::optional<std::string> {
    ++calls;
    for (int i = 0; i < 50; ++i) {
      clock.Sleep(100);
      if (auto path = link.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, kBootProductId)) {
        return path;
      }
    }
    return std::nullopt;
  };
  const Bytes image = RandomImage(300, 2);
  ASSERT_EQ(bench.Run(image, &options), UpgradeOutcome::kSucceeded);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(bench.why, UpgradeFailure::kNone);
  EXPECT_EQ(bench.headset.flashed(), image);
  EXPECT_EQ(bench.location.devicePath.find("pid_0001") != std::string::npos, true);
  // 33 polls of 100 ms, then the 100 ms wait after opening the boot firmware: no 2000 ms wait.
  const std::vector<unsigned> waits = bench.clock.waits();
  ASSERT_GE(waits.size(), 34u);
  EXPECT_EQ(std::vector<unsigned>(waits.begin(), waits.begin() + 34), [] {
    std::vector<unsigned> w(33, 100);
    w.push_back(100);
    return w;
  }());
}

TEST(UpgradeOptionsTest, BootSearchIsNotAskedWhenTheHeadsetRunsItsBootFirmware) {
  sim::HeadsetConfig config;
  config.startIn = sim::Firmware::kBoot;
  Bench bench(config);
  bool asked = false;
  UpgradeOptions options;
  options.findBootFirmware = [&](HidLink&, Clock&) -> std::optional<std::string> {
    asked = true;
    return std::nullopt;
  };
  EXPECT_EQ(bench.Run(RandomImage(90, 3), &options), UpgradeOutcome::kSucceeded);
  EXPECT_FALSE(asked);
}

TEST(UpgradeOptionsTest, BootSearchThatFindsNothingOpensThePreviousPathAndFails) {
  Bench bench;
  bench.headset.faults().staysAwayAfterRestart = true;
  const std::string before = bench.location.devicePath;
  UpgradeOptions options;
  options.findBootFirmware = [](HidLink&, Clock&) { return std::optional<std::string>(); };
  EXPECT_EQ(bench.Run(RandomImage(90, 3), &options), UpgradeOutcome::kBootAccessFailed);
  EXPECT_EQ(bench.why, UpgradeFailure::kBootNotFound);
  EXPECT_EQ(bench.location.devicePath, before);
  EXPECT_EQ(bench.link.failedOpens(), 1);
  EXPECT_EQ(bench.link.openHandles(), 0);
  EXPECT_FALSE(bench.link.bound());
}

TEST(UpgradeOptionsTest, ProgressCountsEveryBlockTheHeadsetTookAndVersionIsReported) {
  sim::HeadsetConfig config;
  config.bootVersion = 0x0A1B;
  Bench bench(config);
  std::vector<std::uint32_t> progress;
  std::optional<std::uint16_t> version;
  UpgradeOptions options;
  options.onProgress = [&](std::uint32_t sent, std::uint32_t size) {
    EXPECT_EQ(size, 150u);
    progress.push_back(sent);
  };
  options.onBootVersion = [&](std::uint16_t v) { version = v; };
  ASSERT_EQ(bench.Run(RandomImage(150, 4), &options), UpgradeOutcome::kSucceeded);
  EXPECT_EQ(progress, (std::vector<std::uint32_t>{56, 112, 150}));
  EXPECT_EQ(version, std::optional<std::uint16_t>(0x0A1B));
  EXPECT_EQ(bench.ui.status, "引导固件版本 0A1B\r\n");
}

TEST(UpgradeOptionsTest, ProgressStopsAtTheBlockTheHeadsetGotWrong) {
  Bench bench;
  bench.headset.faults().wrongSumForBlock = 1;
  std::vector<std::uint32_t> progress;
  UpgradeOptions options;
  options.onProgress = [&](std::uint32_t sent, std::uint32_t) { progress.push_back(sent); };
  EXPECT_EQ(bench.Run(RandomImage(300, 5), &options), UpgradeOutcome::kFailed);
  EXPECT_EQ(progress, std::vector<std::uint32_t>{56});
  EXPECT_EQ(bench.why, UpgradeFailure::kBlockMismatch);
}

struct FailureCase {
  const char* name;
  std::function<void(Bench&)> arrange;
  UpgradeOutcome outcome;
  UpgradeFailure why;
};

class UpgradeFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(UpgradeFailureTest, EachEndingNamesItsReason) {
  Bench bench;
  GetParam().arrange(bench);
  const UpgradeOptions options;
  const Bytes image = RandomImage(200, 6);
  // A case that arranged the image file itself ("keep") runs on it as it is.
  UpgradeOutcome outcome;
  if (bench.imagePath == "keep") {
    bench.imagePath = kImage;
    outcome = UpgradeFirmware(bench.link, bench.clock, bench.files, bench.ui, bench.location,
                              bench.imagePath, options, &bench.why);
  } else {
    outcome = bench.Run(image, &options);
  }
  EXPECT_EQ(outcome, GetParam().outcome);
  EXPECT_EQ(bench.why, GetParam().why);
  EXPECT_EQ(bench.link.openHandles(), 0);
  EXPECT_FALSE(bench.link.bound());
}

INSTANTIATE_TEST_SUITE_P(
    Endings, UpgradeFailureTest,
    ::testing::Values(
        FailureCase{"NoHeadset",
                    [](Bench& b) {
                      b.headset.Unplug();
                      b.location.devicePath.clear();
                    },
                    UpgradeOutcome::kNoHeadset, UpgradeFailure::kNoHeadset},
        FailureCase{"ImageGone",
                    [](Bench& b) { b.imagePath = "keep"; },  // never added: does not open
                    UpgradeOutcome::kCancelled, UpgradeFailure::kCancelled},
        FailureCase{"ImageTooLarge",
                    [](Bench& b) {
                      b.files.Add(kImage, Bytes(65536, 1));
                      b.imagePath = "keep";
                    },
                    UpgradeOutcome::kImageTooLarge, UpgradeFailure::kImageTooLarge},
        FailureCase{"ImageSizeUnknown",
                    [](Bench& b) {
                      b.files.Add(kImage, Bytes(100, 1)).failSize = true;
                      b.imagePath = "keep";
                    },
                    UpgradeOutcome::kFailed, UpgradeFailure::kImageUnreadable},
        FailureCase{"BlockUnreadable",
                    [](Bench& b) {
                      b.files.Add(kImage, Bytes(300, 1)).failReadNumber = 2;
                      b.imagePath = "keep";
                    },
                    UpgradeOutcome::kFailed, UpgradeFailure::kImageUnreadable},
        FailureCase{"HeadsetGone", [](Bench& b) { b.headset.Unplug(); }, UpgradeOutcome::kFailed,
                    UpgradeFailure::kHeadsetNotOpened},
        FailureCase{"RestartRefused",
                    [](Bench& b) {
                      b.headset.config().restartOnlyAsReport6 = true;
                      b.headset.faults().failTransfer = 4;
                    },
                    UpgradeOutcome::kBootAccessFailed, UpgradeFailure::kRestartRefused},
        FailureCase{"BootNeverBack",
                    [](Bench& b) { b.headset.faults().staysAwayAfterRestart = true; },
                    UpgradeOutcome::kBootAccessFailed, UpgradeFailure::kBootNotFound},
        FailureCase{"TransferRefused", [](Bench& b) { b.headset.faults().refusedReports = {0x61}; },
                    UpgradeOutcome::kFailed, UpgradeFailure::kTransferRefused},
        FailureCase{"BlockWrong", [](Bench& b) { b.headset.faults().wrongSumForBlock = 0; },
                    UpgradeOutcome::kFailed, UpgradeFailure::kBlockMismatch},
        FailureCase{"TotalWrong", [](Bench& b) { b.headset.faults().wrongTotal = true; },
                    UpgradeOutcome::kFailed, UpgradeFailure::kTotalMismatch},
        FailureCase{"RebootDeclined", [](Bench& b) { b.ui.yesNoAnswer = kAnswerNo; },
                    UpgradeOutcome::kFailed, UpgradeFailure::kRebootDeclined},
        FailureCase{"HeadsetLeavesBeforeReboot",
                    [](Bench& b) {
                      b.ui.onBox = [&b](const fakes::Box& box) {
                        if (box.caption == "Reboot?") b.headset.Unplug();
                      };
                    },
                    UpgradeOutcome::kFailed, UpgradeFailure::kRebootRefused}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

}  // namespace
}  // namespace obrint
