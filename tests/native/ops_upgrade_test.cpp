#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
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

constexpr char kImage[] = "C:\\fw\\kestic.bin";
constexpr std::uint16_t kApplicationPid = 0x0021;
using fakes::kBootAccessFailed;
using fakes::kRebootQuestion;
using fakes::kUpdateFailed;
using fakes::RandomImage;
using fakes::ReferenceBlockSum;
using fakes::ReferenceImageTotal;

std::string Hex(const Bytes& bytes) {
  std::ostringstream out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out << (i ? " " : "") << std::hex << (bytes[i] < 16 ? "0" : "") << int{bytes[i]};
  }
  return out.str();
}

// What the host's report buffer must hold and send, replayed over the recorded traffic: gets fill
// the buffer with the headset's answer, and every Transfer packet is the buffer as the previous
// exchange left it with only the named fields rewritten.
class ExpectedTraffic {
 public:
  explicit ExpectedTraffic(const std::vector<TransferRecord>& log) : log_(log) {}

  // A get of `id`: on success the answer lands in the buffer; a failed get leaves the ID in
  // byte 0 and nothing else of the headset's.
  void Get(std::uint8_t id, std::size_t length, bool ok = true) {
    const TransferRecord* r = Next("get");
    if (!r) return;
    EXPECT_EQ(r->direction, TransferRecord::Direction::kGet) << Where();
    EXPECT_EQ(r->reportId, id) << Where();
    EXPECT_EQ(r->length, length) << Where();
    EXPECT_EQ(r->ok, ok) << Where();
    buf_[0] = id;
    if (r->ok) std::copy(r->bytes.begin(), r->bytes.end(), buf_.begin());
  }
  // A report composed in a buffer of its own (the Restart report).
  void SetOwn(const Bytes& bytes, bool ok = true) {
    const TransferRecord* r = Next("set");
    if (!r) return;
    EXPECT_EQ(r->direction, TransferRecord::Direction::kSet) << Where();
    EXPECT_EQ(Hex(r->bytes), Hex(bytes)) << Where();
    EXPECT_EQ(r->ok, ok) << Where();
  }

  void Begin(std::uint16_t size, bool ok = true) {
    buf_[0] = 0x61;
    buf_[3] = 0x5A;
    Put16(6, size);
    SendBuffer(ok);
  }
  // One Data packet and, when its send succeeds, the read-back of its sum.
  void Data(const Bytes& block, bool last, bool sendOk = true, bool getOk = true) {
    const std::size_t n = block.size();
    if (n % 4 != 0) std::fill_n(buf_.begin() + 8 + n / 4 * 4, 4, 0);
    std::copy(block.begin(), block.end(), buf_.begin() + 8);
    buf_[3] = 0x02;
    const std::size_t padded = (n + 3) / 4 * 4;
    Put16(6, static_cast<std::uint16_t>(last ? padded : n));
    Put16(4, ReferenceBlockSum(block));
    SendBuffer(sendOk);
    if (!sendOk) return;
    Put16(4, 0);
    Get(0x61, 64, getOk);
  }
  void Finish(std::uint16_t total, bool readBack = true) {
    buf_[0] = 0x61;
    buf_[3] = 0x10;
    Put16(4, total);
    SendBuffer(true);
    if (!readBack) return;
    Put16(4, 0);
    Get(0x61, 64);
  }
  void Reboot() {
    buf_[0] = 0x61;
    buf_[3] = 0x11;
    SendBuffer(true);
  }
  // The probe and the restart into the boot firmware, then the boot firmware's version.
  void RestartAndReadVersion() {
    Get(0x58, 4);
    SetOwn({0x58, 0x01, 0x00, 0x01});
    Get(0x5F, 5);
  }
  // Every block of the image, the last one padded.
  void AllBlocks(const Bytes& image) {
    for (std::size_t offset = 0; offset < image.size(); offset += 56) {
      const std::size_t end = std::min(image.size(), offset + 56);
      Data(Bytes(image.begin() + offset, image.begin() + end), end == image.size());
    }
  }
  // A transfer of `image` that goes through, to the end of the run.
  void WholeTransfer(const Bytes& image) {
    Begin(static_cast<std::uint16_t>(image.size()));
    AllBlocks(image);
    Finish(ReferenceImageTotal(image));
    Reboot();
    NothingMore();
  }
  void NothingMore() const {
    EXPECT_EQ(next_, log_.size()) << "unexpected transfers from #" << next_ + 1;
  }

 private:
  const TransferRecord* Next(const char* what) {
    if (next_ >= log_.size()) {
      ADD_FAILURE() << "missing " << what << " #" << next_ + 1;
      ++next_;
      return nullptr;
    }
    return &log_[next_++];
  }
  std::string Where() const { return "transfer #" + std::to_string(next_); }
  void Put16(std::size_t at, std::uint16_t v) {
    buf_[at] = static_cast<std::uint8_t>(v);
    buf_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void SendBuffer(bool ok) {
    const TransferRecord* r = Next("Transfer packet");
    if (!r) return;
    EXPECT_EQ(r->direction, TransferRecord::Direction::kSet) << Where();
    EXPECT_EQ(r->length, 64u) << Where();
    EXPECT_EQ(Hex(r->bytes), Hex(buf_)) << Where();
    EXPECT_EQ(r->ok, ok) << Where();
  }

  const std::vector<TransferRecord>& log_;
  std::size_t next_ = 0;
  Bytes buf_ = Bytes(64, 0);
};

class UpgradeTest : public ::testing::Test {
 protected:
  UpgradeTest() { location.pid = kApplicationPid; }

  UpgradeOutcome Run() { return UpgradeFirmware(link, clock, files, ui, location, imagePath); }
  // Chooses `image` in the dialog and runs.
  UpgradeOutcome RunWith(const Bytes& image) {
    files.Add(kImage, image);
    ui.choices.push_back(kImage);
    return Run();
  }
  void ExpectReleased() {
    EXPECT_EQ(link.openHandles(), 0);
    EXPECT_FALSE(link.bound());
    EXPECT_EQ(link.loads(), link.frees());
    EXPECT_EQ(files.openHandles(), 0);
  }
  void ExpectFailureEnding() {
    EXPECT_EQ(ui.caption, "Update Err!");
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back(), kUpdateFailed);
    ExpectReleased();
  }
  std::vector<unsigned> TransferWaits(std::size_t blocks) {
    std::vector<unsigned> waits = {2000, 100, 10};
    waits.insert(waits.end(), blocks, 10);
    waits.insert(waits.end(), {20, 100});
    return waits;
  }
  int Count(std::uint8_t command) const {
    int n = 0;
    for (const auto& r : headset.log()) {
      n += r.direction == TransferRecord::Direction::kSet && r.reportId == 0x61 &&
           r.bytes.size() == 64 && r.bytes[3] == command;
    }
    return n;
  }

  sim::Headset headset;
  sim::SimHidLink link{headset};
  sim::SimClock clock{headset};
  fakes::FakeFileSystem files;
  fakes::FakeUserInterface ui;
  HeadsetLocation location;
  std::string imagePath;
};

// The whole packet sequence, byte for byte, carried-over bytes included: a short last block (5 and
// 61 bytes) is zero-padded to whole words over the headset's previous answer.
class UpgradeSequenceTest : public UpgradeTest,
                            public ::testing::WithParamInterface<std::size_t> {};

TEST_P(UpgradeSequenceTest, SendsEveryPacketAsTheHeadsetMustSeeIt) {
  const std::size_t size = GetParam();
  const Bytes image = RandomImage(size, static_cast<unsigned>(size) + 1);
  ASSERT_EQ(RunWith(image), UpgradeOutcome::kSucceeded);

  ExpectedTraffic expected(headset.log());
  expected.RestartAndReadVersion();
  expected.WholeTransfer(image);

  EXPECT_EQ(headset.flashed(), image);
  EXPECT_EQ(clock.waits(), TransferWaits((size + 55) / 56));
  EXPECT_EQ(ui.caption, "Update OK!");
  EXPECT_EQ(ui.boxes, std::vector<Box>{kRebootQuestion});
  EXPECT_EQ(ui.status, "引导固件版本 0102\r\n");
  EXPECT_EQ(imagePath, kImage);
  ExpectReleased();
}

INSTANTIATE_TEST_SUITE_P(ImageSizes, UpgradeSequenceTest,
                         ::testing::Values(0, 5, 56, 61, 112, 40 * 1024));

TEST_F(UpgradeTest, FindsTheHeadsetAndFollowsItIntoTheBootFirmware) {
  ASSERT_EQ(RunWith(RandomImage(100, 9)), UpgradeOutcome::kSucceeded);
  // One search for the headset, one under product ID 0x0001 after the restart.
  EXPECT_EQ(link.searches(), 2);
  EXPECT_NE(location.devicePath.find("pid_0001"), std::string::npos);
  EXPECT_EQ(headset.restarts(), 2);  // into the boot firmware, and the final reboot
}

TEST_F(UpgradeTest, HeadsetAlreadyInBootFirmwareIsWrittenWithoutRestart) {
  headset.config().startIn = sim::Firmware::kBoot;
  headset = sim::Headset(headset.config());
  location.devicePath = headset.interfacePath();
  const Bytes image = RandomImage(130, 4);
  ASSERT_EQ(RunWith(image), UpgradeOutcome::kSucceeded);

  ExpectedTraffic expected(headset.log());
  expected.Get(0x58, 4, false);
  expected.Get(0x06, 4, false);
  expected.Get(0x5F, 5);
  expected.WholeTransfer(image);
  EXPECT_EQ(link.searches(), 0);
  EXPECT_EQ(link.opens(), 1);
  EXPECT_EQ(clock.waits().front(), 10u);  // no 2000 ms restart wait, no 100 ms open wait
  EXPECT_EQ(headset.flashed(), image);
}

TEST_F(UpgradeTest, HeadsetAnsweringOnlyReport6IsRestartedUnderIt) {
  headset.config().restartOnlyAsReport6 = true;
  const Bytes image = RandomImage(70, 5);
  ASSERT_EQ(RunWith(image), UpgradeOutcome::kSucceeded);

  ExpectedTraffic expected(headset.log());
  expected.Get(0x58, 4, false);
  expected.Get(0x06, 4);
  expected.SetOwn({0x58, 0x01, 0x00, 0x01}, false);
  expected.SetOwn({0x06, 0x01, 0x00, 0x01});
  expected.Get(0x5F, 5);
  expected.WholeTransfer(image);
}

TEST_F(UpgradeTest, BootFirmwareThatNeverAppearsEndsWithoutTouchingTheTitle) {
  headset.faults().staysAwayAfterRestart = true;
  const std::string applicationPath = headset.interfacePath();
  location.devicePath = applicationPath;
  EXPECT_EQ(RunWith(RandomImage(100, 6)), UpgradeOutcome::kBootAccessFailed);
  EXPECT_EQ(ui.boxes, std::vector<Box>{kBootAccessFailed});
  EXPECT_EQ(ui.caption, "Obrint");
  EXPECT_EQ(link.searches(), 1);  // the single search under product ID 0x0001
  EXPECT_EQ(location.devicePath, applicationPath);
  EXPECT_EQ(clock.waits(), std::vector<unsigned>{2000});
  ExpectReleased();
}

TEST_F(UpgradeTest, RefusedRestartReportEndsAtBootAccess) {
  // The probe goes through under report 6; both tries of the restart are refused.
  headset.config().restartOnlyAsReport6 = true;
  headset.faults().failTransfer = 4;
  EXPECT_EQ(RunWith(RandomImage(100, 7)), UpgradeOutcome::kBootAccessFailed);
  EXPECT_EQ(ui.boxes, std::vector<Box>{kBootAccessFailed});
  EXPECT_EQ(ui.caption, "Obrint");
  EXPECT_TRUE(clock.waits().empty());
  EXPECT_EQ(headset.restarts(), 0);
  ExpectReleased();
}

TEST_F(UpgradeTest, WrongBlockSumStopsTheTransfer) {
  headset.faults().wrongSumForBlock = 1;
  const Bytes image = RandomImage(56 * 4, 8);
  EXPECT_EQ(RunWith(image), UpgradeOutcome::kFailed);

  ExpectedTraffic expected(headset.log());
  expected.RestartAndReadVersion();
  expected.Begin(56 * 4);
  expected.Data(Bytes(image.begin(), image.begin() + 56), false);
  expected.Data(Bytes(image.begin() + 56, image.begin() + 112), false);
  expected.NothingMore();  // no third block, no Finish, no Reboot
  EXPECT_EQ(ui.boxes, std::vector<Box>{kUpdateFailed});
  ExpectFailureEnding();
}

TEST_F(UpgradeTest, WrongImageTotalFailsWithoutAskingToReboot) {
  headset.faults().wrongTotal = true;
  const Bytes image = RandomImage(200, 10);
  EXPECT_EQ(RunWith(image), UpgradeOutcome::kFailed);
  ExpectedTraffic expected(headset.log());
  expected.RestartAndReadVersion();
  expected.Begin(200);
  expected.AllBlocks(image);
  expected.Finish(ReferenceImageTotal(image));
  expected.NothingMore();
  EXPECT_EQ(ui.boxes, std::vector<Box>{kUpdateFailed});
  ExpectFailureEnding();
}

TEST_F(UpgradeTest, NoAtRebootEndsAsFailureWithoutReboot) {
  ui.yesNoAnswer = kAnswerNo;
  EXPECT_EQ(RunWith(RandomImage(90, 11)), UpgradeOutcome::kFailed);
  EXPECT_EQ(Count(0x10), 1);
  EXPECT_EQ(Count(0x11), 0);
  EXPECT_EQ(ui.boxes, (std::vector<Box>{kRebootQuestion, kUpdateFailed}));
  ExpectFailureEnding();
}

TEST_F(UpgradeTest, OversizeImageIsRefusedBeforeTheHeadsetIsTouched) {
  EXPECT_EQ(RunWith(RandomImage(65536, 12)), UpgradeOutcome::kImageTooLarge);
  EXPECT_TRUE(headset.log().empty());
  EXPECT_EQ(link.opens(), 0);
  EXPECT_EQ(link.loads(), 0);
  EXPECT_EQ(headset.restarts(), 0);
  EXPECT_EQ(ui.caption, "Update Err!");
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"Update", "固件文件过大！", 0}}));
  ExpectReleased();
}

TEST_F(UpgradeTest, LargestImageThatFitsGoesThrough) {
  const Bytes image = RandomImage(65535, 13);
  ASSERT_EQ(RunWith(image), UpgradeOutcome::kSucceeded);
  EXPECT_EQ(headset.flashed(), image);
}

TEST_F(UpgradeTest, FailedDataSendEndsAtOnce) {
  // Transfers: probe, restart, version, Begin, then Data and read-back per block.
  headset.faults().failTransfer = 4 + 2 * 1 + 1;  // the second Data packet
  const Bytes image = RandomImage(56 * 3, 14);
  EXPECT_EQ(RunWith(image), UpgradeOutcome::kFailed);
  ExpectedTraffic expected(headset.log());
  expected.RestartAndReadVersion();
  expected.Begin(56 * 3);
  expected.Data(Bytes(image.begin(), image.begin() + 56), false);
  expected.Data(Bytes(image.begin() + 56, image.begin() + 112), false, false);
  expected.NothingMore();
  EXPECT_EQ(Count(0x10), 0);
  EXPECT_EQ(ui.boxes, std::vector<Box>{kUpdateFailed});
  ExpectFailureEnding();
}

TEST_F(UpgradeTest, FailedReadBackCountsTheBlockAsDelivered) {
  headset.faults().failTransfer = 4 + 2 * 1 + 2;  // the read-back of the second block
  const Bytes image = RandomImage(56 * 3, 15);
  ASSERT_EQ(RunWith(image), UpgradeOutcome::kSucceeded);
  ExpectedTraffic expected(headset.log());
  expected.RestartAndReadVersion();
  expected.Begin(56 * 3);
  expected.Data(Bytes(image.begin(), image.begin() + 56), false);
  expected.Data(Bytes(image.begin() + 56, image.begin() + 112), false, true, false);
  expected.Data(Bytes(image.begin() + 112, image.end()), true);
  expected.Finish(ReferenceImageTotal(image));
  expected.Reboot();
  expected.NothingMore();
}

TEST_F(UpgradeTest, UnreadableBlockEndsAtOnce) {
  const Bytes image = RandomImage(56 * 3, 16);
  files.Add(kImage, image).failReadNumber = 2;
  ui.choices.push_back(kImage);
  EXPECT_EQ(Run(), UpgradeOutcome::kFailed);
  EXPECT_EQ(Count(0x02), 1);
  EXPECT_EQ(Count(0x10), 0);
  EXPECT_EQ(Count(0x11), 0);
  EXPECT_EQ(ui.boxes, std::vector<Box>{kUpdateFailed});
  ExpectFailureEnding();
}

TEST_F(UpgradeTest, FailedBeginOfAnEmptyImageStillReachesFinish) {
  headset.faults().failTransfer = 4;
  RunWith(Bytes{});
  ExpectedTraffic expected(headset.log());
  expected.RestartAndReadVersion();
  expected.Begin(0, false);
  expected.Finish(0);
  expected.Reboot();
  expected.NothingMore();
}

TEST_F(UpgradeTest, FailedVersionReadLeavesTheStatusLogAndGoesOn) {
  headset.faults().refusedReports = {0x5F};
  ui.status = "earlier\r\n";
  EXPECT_EQ(RunWith(RandomImage(60, 18)), UpgradeOutcome::kSucceeded);
  EXPECT_EQ(ui.status, "earlier\r\n");
  EXPECT_TRUE(ui.statusHistory.empty());
}

TEST_F(UpgradeTest, NoHeadsetShowsOneBoxAndNothingElse) {
  headset.Unplug();
  files.Add(kImage, RandomImage(10, 19));
  ui.choices.push_back(kImage);
  EXPECT_EQ(Run(), UpgradeOutcome::kNoHeadset);
  EXPECT_EQ(ui.boxes, (std::vector<Box>{{"Update", "未发现设备或访问被拒绝！", 0}}));
  EXPECT_EQ(ui.caption, "Obrint");
  EXPECT_EQ(ui.dialogs, 0);
  EXPECT_EQ(files.opens(), 0);
}

TEST_F(UpgradeTest, RememberedImageIsReusedWithoutAsking) {
  const Bytes image = RandomImage(60, 20);
  ASSERT_EQ(RunWith(image), UpgradeOutcome::kSucceeded);
  headset.Advance(1000);  // back in the application firmware after the reboot
  location.devicePath = headset.interfacePath();
  ASSERT_EQ(Run(), UpgradeOutcome::kSucceeded);
  EXPECT_EQ(ui.dialogs, 1);
  EXPECT_EQ(headset.flashed(), image);
}

TEST_F(UpgradeTest, VanishedImageAsksAgainAndCancelEndsSilently) {
  imagePath = kImage;  // chosen in an earlier run, since deleted
  ui.caption = "Update OK!";
  EXPECT_EQ(Run(), UpgradeOutcome::kCancelled);
  EXPECT_EQ(ui.dialogs, 1);
  EXPECT_TRUE(imagePath.empty());
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(ui.caption, "Update OK!");
  EXPECT_EQ(link.opens(), 0);
}

TEST_F(UpgradeTest, ImageThatDoesNotOpenFails) {
  files.Add(kImage, RandomImage(10, 21)).locked = true;
  ui.choices.push_back(kImage);
  EXPECT_EQ(Run(), UpgradeOutcome::kFailed);
  EXPECT_EQ(link.opens(), 0);
  EXPECT_EQ(ui.boxes, std::vector<Box>{kUpdateFailed});
  ExpectFailureEnding();
}

TEST_F(UpgradeTest, DevicePathThatDoesNotOpenFailsWithTheImageClosed) {
  location.devicePath = "\\\\.\\hid#vid_2833&pid_0021#gone";
  EXPECT_EQ(RunWith(RandomImage(10, 22)), UpgradeOutcome::kFailed);
  EXPECT_EQ(link.loads(), 0);
  EXPECT_TRUE(headset.log().empty());
  EXPECT_EQ(ui.boxes, std::vector<Box>{kUpdateFailed});
  ExpectFailureEnding();
}

}  // namespace
}  // namespace obrint
