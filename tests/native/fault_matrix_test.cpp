// The firmware upgrade with each exchange of one run failing in turn: every send and every read
// refused, every block's sum answered wrong, a wrong image total, and the headset leaving the bus
// after each exchange. For each, what the window ends up showing (title and message boxes), what
// the headset ends up holding, and that nothing stays open: no headset handle, no HID library
// binding, no image file.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/firmware_upgrade.h"
#include "native/fakes/fake_files.h"
#include "native/fakes/upgrade_support.h"
#include "sim/headset_sim.h"

namespace obrint {
namespace {

using Bytes = std::vector<std::uint8_t>;
using fakes::Box;
using sim::TransferRecord;

constexpr char kImagePath[] = "C:\\fw\\matrix.bin";
constexpr char kInitialCaption[] = "Obrint";
using fakes::kBootAccessFailed;
using fakes::kRebootQuestion;
using fakes::kUpdateFailed;

Bytes MakeImage(std::size_t size) { return fakes::RandomImage(size, 37); }

// What one exchange of a run is for.
enum class Role {
  kProbe,       // the read of the Restart report
  kRestart,     // the Restart report with the boot flag
  kVersion,     // the read of the boot firmware's version
  kBegin,       // the Begin packet
  kDataSend,    // a Data packet
  kDataRead,    // the read-back of a block's sum
  kFinishSend,  // the Finish packet
  kFinishRead,  // the read-back of the image total
  kReboot,      // the Reboot packet
};

const char* RoleName(Role role) {
  static constexpr const char* kNames[] = {"Probe",      "Restart",    "Version",
                                           "Begin",      "DataSend",   "DataRead",
                                           "FinishSend", "FinishRead", "Reboot"};
  return kNames[static_cast<int>(role)];
}

// How a run ends, as the window shows it.
enum class Ending { kSucceeded, kFailed, kBootAccessFailed };

struct RunResult {
  UpgradeOutcome outcome;
  std::string caption;
  std::vector<Box> boxes;
  Bytes flashed;  // what the headset runs after the run
  std::vector<TransferRecord> log;
  int openHandles;
  bool bound;
  int loads;
  int frees;
  int openFiles;
};

// One upgrade of `image` against a headset with the given faults, from a clean start.
RunResult RunUpgrade(const Bytes& image, const sim::FaultPlan& faults) {
  sim::Headset headset;
  headset.faults() = faults;
  sim::SimHidLink link(headset);
  sim::SimClock clock(headset);
  fakes::FakeFileSystem files;
  files.Add(kImagePath, image);
  fakes::FakeUserInterface ui;
  ui.caption = kInitialCaption;
  ui.choices.push_back(kImagePath);
  HeadsetLocation location;
  location.pid = headset.config().applicationProductId;
  std::string imagePath;

  const UpgradeOutcome outcome = UpgradeFirmware(link, clock, files, ui, location, imagePath);
  return {outcome,       ui.caption,         ui.boxes,     headset.flashed(),
          headset.log(), link.openHandles(), link.bound(), link.loads(),
          link.frees(),  files.openHandles()};
}

struct Exchange {
  int number;  // 1-based, as the headset counts its transfers
  Role role;
  int block;  // for Data exchanges, 0-based; -1 otherwise
};

// The exchanges of a run in which nothing fails, each with its role.
std::vector<Exchange> ExchangesOf(const Bytes& image) {
  const RunResult clean = RunUpgrade(image, {});
  std::vector<Exchange> exchanges;
  int block = -1;
  std::uint8_t lastCommand = 0;
  for (std::size_t i = 0; i < clean.log.size(); ++i) {
    const TransferRecord& r = clean.log[i];
    const bool set = r.direction == TransferRecord::Direction::kSet;
    const int number = static_cast<int>(i) + 1;
    Role role = Role::kVersion;
    if (r.reportId == 0x58 || r.reportId == 0x06) {
      role = set ? Role::kRestart : Role::kProbe;
    } else if (r.reportId == 0x61 && set) {
      lastCommand = r.bytes.at(3);
      if (lastCommand == 0x02) ++block;
      role = lastCommand == 0x5A   ? Role::kBegin
             : lastCommand == 0x02 ? Role::kDataSend
             : lastCommand == 0x10 ? Role::kFinishSend
                                   : Role::kReboot;
    } else if (r.reportId == 0x61) {
      role = lastCommand == 0x02 ? Role::kDataRead : Role::kFinishRead;
    }
    const bool data = role == Role::kDataSend || role == Role::kDataRead;
    exchanges.push_back({number, role, data ? block : -1});
  }
  return exchanges;
}

int Blocks(const Bytes& image) { return static_cast<int>((image.size() + 55) / 56); }

// Transfer packets with the given command that the headset took.
int Accepted(const RunResult& run, std::uint8_t command) {
  int n = 0;
  for (const auto& r : run.log) {
    n += r.direction == TransferRecord::Direction::kSet && r.reportId == 0x61 && r.ok &&
         r.bytes.at(3) == command;
  }
  return n;
}

void ExpectEnding(const RunResult& run, Ending ending, const Bytes& image) {
  switch (ending) {
    case Ending::kSucceeded:
      EXPECT_EQ(run.outcome, UpgradeOutcome::kSucceeded);
      EXPECT_EQ(run.caption, "Update OK!");
      EXPECT_EQ(run.boxes, std::vector<Box>{kRebootQuestion});
      EXPECT_EQ(run.flashed, image) << "the headset runs the new image";
      break;
    case Ending::kFailed:
      EXPECT_EQ(run.outcome, UpgradeOutcome::kFailed);
      EXPECT_EQ(run.caption, "Update Err!");
      ASSERT_FALSE(run.boxes.empty());
      EXPECT_EQ(run.boxes.back(), kUpdateFailed);
      EXPECT_LE(run.boxes.size(), 2u);
      if (run.boxes.size() == 2) {
        EXPECT_EQ(run.boxes.front(), kRebootQuestion);
      }
      EXPECT_TRUE(run.flashed.empty()) << "the old firmware stays";
      EXPECT_EQ(Accepted(run, 0x11), 0) << "no reboot into an image that failed";
      break;
    case Ending::kBootAccessFailed:
      EXPECT_EQ(run.outcome, UpgradeOutcome::kBootAccessFailed);
      EXPECT_EQ(run.caption, kInitialCaption);
      EXPECT_EQ(run.boxes, std::vector<Box>{kBootAccessFailed});
      EXPECT_TRUE(run.flashed.empty());
      EXPECT_EQ(Accepted(run, 0x5A), 0) << "nothing was written";
      break;
  }
  // Whatever happened, the run holds nothing afterwards.
  EXPECT_EQ(run.openHandles, 0) << "a headset handle was left open";
  EXPECT_FALSE(run.bound) << "the HID library was left bound";
  EXPECT_EQ(run.loads, run.frees);
  EXPECT_EQ(run.openFiles, 0) << "the image file was left open";
}

// Two images: one whose last block is short (padded on the way), one of whole blocks only.
const std::vector<std::size_t> kImageSizes = {200, 112};

struct FaultCase {
  std::size_t imageSize;
  Exchange exchange;
};

std::vector<FaultCase> AllExchanges() {
  std::vector<FaultCase> cases;
  for (const std::size_t size : kImageSizes) {
    for (const Exchange& e : ExchangesOf(MakeImage(size))) cases.push_back({size, e});
  }
  return cases;
}

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) {
  const FaultCase& c = info.param;
  std::string name = "Image" + std::to_string(c.imageSize) + "_Transfer" +
                     std::to_string(c.exchange.number) + "_" + RoleName(c.exchange.role);
  if (c.exchange.block >= 0) name += std::to_string(c.exchange.block);
  return name;
}

class FailedExchange : public ::testing::TestWithParam<FaultCase> {};

// A refused transfer has no effect on the headset. Only a refused read of a block's sum is let
// through (the image total vouches for the block), and the Restart report and its probe have a
// second try under report ID 6; every other refusal ends the run.
TEST_P(FailedExchange, EndsAsTheWindowMustShowIt) {
  const FaultCase& c = GetParam();
  const Bytes image = MakeImage(c.imageSize);
  sim::FaultPlan faults;
  faults.failTransfer = c.exchange.number;
  const RunResult run = RunUpgrade(image, faults);

  switch (c.exchange.role) {
    case Role::kProbe:
    case Role::kRestart:
    case Role::kVersion:
    case Role::kDataRead:
      ExpectEnding(run, Ending::kSucceeded, image);
      break;
    case Role::kBegin:
    case Role::kDataSend:
    case Role::kFinishSend:
    case Role::kFinishRead:
    case Role::kReboot:
      ExpectEnding(run, Ending::kFailed, image);
      break;
  }
  if (c.exchange.role == Role::kDataSend) {
    EXPECT_EQ(Accepted(run, 0x02), c.exchange.block) << "no block after the refused one";
    EXPECT_EQ(Accepted(run, 0x10), 0) << "no Finish after a refused block";
  }
  if (c.exchange.role == Role::kBegin) {
    EXPECT_EQ(Accepted(run, 0x02), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(EachExchange, FailedExchange, ::testing::ValuesIn(AllExchanges()),
                         CaseName);

class HeadsetGone : public ::testing::TestWithParam<FaultCase> {};

// The headset leaves the bus for good right after one exchange: before the restart has been
// accepted the boot firmware is never reached; afterwards every later exchange fails, and only a
// headset that already took the Reboot has its new image.
TEST_P(HeadsetGone, AfterEachExchange) {
  const FaultCase& c = GetParam();
  const Bytes image = MakeImage(c.imageSize);
  sim::FaultPlan faults;
  faults.vanishAfterTransfer = c.exchange.number;
  const RunResult run = RunUpgrade(image, faults);

  switch (c.exchange.role) {
    case Role::kProbe:
    case Role::kRestart:
      ExpectEnding(run, Ending::kBootAccessFailed, image);
      break;
    case Role::kReboot:
      ExpectEnding(run, Ending::kSucceeded, image);
      break;
    default:
      ExpectEnding(run, Ending::kFailed, image);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(EachExchange, HeadsetGone, ::testing::ValuesIn(AllExchanges()), CaseName);

class WrongBlockSum : public ::testing::TestWithParam<FaultCase> {};

// The headset answers one block's sum wrong: the transfer stops at that block, before Finish.
TEST_P(WrongBlockSum, StopsTheTransferAtThatBlock) {
  const FaultCase& c = GetParam();
  const Bytes image = MakeImage(c.imageSize);
  sim::FaultPlan faults;
  faults.wrongSumForBlock = c.exchange.block;
  const RunResult run = RunUpgrade(image, faults);

  ExpectEnding(run, Ending::kFailed, image);
  EXPECT_EQ(Accepted(run, 0x02), c.exchange.block + 1);
  EXPECT_EQ(Accepted(run, 0x10), 0);
  EXPECT_EQ(run.boxes, std::vector<Box>{kUpdateFailed}) << "no Reboot? question";
}

std::vector<FaultCase> AllBlockReads() {
  std::vector<FaultCase> cases;
  for (const FaultCase& c : AllExchanges()) {
    if (c.exchange.role == Role::kDataRead) cases.push_back(c);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EachBlock, WrongBlockSum, ::testing::ValuesIn(AllBlockReads()), CaseName);

// The matrix covers every exchange a run makes: a probe, the restart, the version, Begin, a send
// and a read for each block, Finish with its read, and Reboot.
TEST(FaultMatrix, CoversEveryExchangeOfTheRun) {
  for (const std::size_t size : kImageSizes) {
    const Bytes image = MakeImage(size);
    const std::vector<Exchange> exchanges = ExchangesOf(image);
    EXPECT_EQ(static_cast<int>(exchanges.size()), 3 + 1 + 2 * Blocks(image) + 2 + 1) << size;
    ASSERT_FALSE(exchanges.empty());
    EXPECT_EQ(exchanges.back().role, Role::kReboot);
  }
}

}  // namespace
}  // namespace obrint
