// The firmware upgrade: its packets byte for byte against an independent replay, every ending
// with its reason and every resource released, and the window's boxes around it.
#include <gtest/gtest.h>

#include "device/upgrade.h"
#include "presenters/firmware_upgrade.h"
#include "native/fakes.h"
#include "native/reference.h"
#include "sim/headset_sim.h"

namespace obrint::presenters {
namespace {

using fakes::Box;
using reference::Bytes;
using sim::TransferRecord;

constexpr char kImage[] = "fw.bin";
const Box kUpdateFailed{"Update", "升级失败。", kBoxOk};
const Box kRebootQuestion{"Update", "Reboot?", kBoxYesNo};

// Replays what the host's report buffer must hold over the recorded traffic: a get fills the
// buffer with the answer, and every transfer packet is the buffer as the previous exchange left
// it with only the named fields rewritten.
class ExpectedTraffic {
 public:
  explicit ExpectedTraffic(const std::vector<TransferRecord>& log) : log_(log) {}
  ~ExpectedTraffic() { EXPECT_EQ(next_, log_.size()) << "transfers beyond the expected ones"; }

  void Get(std::uint8_t id, std::size_t length, bool ok = true) {
    const TransferRecord* r = Next();
    if (!r) return;
    EXPECT_TRUE(r->direction == TransferRecord::Direction::kGet && r->reportId == id &&
                r->length == length && r->ok == ok)
        << "transfer #" << next_;
    buf_[0] = id;
    if (r->ok) std::copy(r->bytes.begin(), r->bytes.end(), buf_.begin());
  }
  void Set(const Bytes& bytes, bool ok = true) {
    const TransferRecord* r = Next();
    if (!r) return;
    EXPECT_EQ(r->direction, TransferRecord::Direction::kSet) << "transfer #" << next_;
    EXPECT_EQ(reference::Spaced(r->bytes), reference::Spaced(bytes)) << "transfer #" << next_;
    EXPECT_EQ(r->ok, ok) << "transfer #" << next_;
  }
  void Restart() {
    Get(0x58, 4);
    Set({0x58, 1, 0, 1});
  }
  void Begin(std::uint16_t size, bool ok = true) { Send(0x5A, {{6, size}}, ok); }
  void Data(const Bytes& image, std::size_t at, bool readBack = true) {
    const std::size_t n = std::min<std::size_t>(56, image.size() - at);
    if (n % 4 != 0) std::fill_n(buf_.begin() + 8 + n / 4 * 4, 4, 0);
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(at), n, buf_.begin() + 8);
    const bool last = at + n == image.size();
    Send(0x02, {{6, last ? (n + 3) / 4 * 4 : n}, {4, reference::BlockSum(&image[at], n)}});
    Put16(4, 0);
    Get(0x61, 64, readBack);
  }
  void Transfer(const Bytes& image) {
    Begin(static_cast<std::uint16_t>(image.size()));
    for (std::size_t at = 0; at < image.size(); at += 56) Data(image, at);
    Finish(reference::ImageTotal(image));
  }
  void Finish(std::uint16_t total) {
    Send(0x10, {{4, total}});
    Put16(4, 0);
    Get(0x61, 64);
    Send(0x11, {});
  }

 private:
  const TransferRecord* Next() {
    if (next_ < log_.size()) return &log_[next_++];
    ADD_FAILURE() << "missing transfer #" << ++next_;
    return nullptr;
  }
  void Put16(std::size_t at, std::size_t v) {
    buf_[at] = static_cast<std::uint8_t>(v);
    buf_[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  void Send(std::uint8_t command, std::vector<std::pair<std::size_t, std::size_t>> fields,
            bool ok = true) {
    buf_[0] = 0x61;
    buf_[3] = command;
    for (const auto& [at, v] : fields) Put16(at, v);
    Set(buf_, ok);
  }

  const std::vector<TransferRecord>& log_;
  std::size_t next_ = 0;
  Bytes buf_ = Bytes(64, 0);
};

class UpgradeTest : public ::testing::Test {
 protected:
  UpgradeTest() { Reset(); }

  // A fresh headset and window; the bus's and files' counts go on.
  void Reset(sim::HeadsetConfig config = {}) {
    headset = sim::Headset(config);
    ui = {};
    location = {.pid = headset.productId()};
    imagePath.clear();
    progress.clear();
    waited = clock.waits().size();
  }
  std::vector<unsigned> Waits() const {
    return {clock.waits().begin() + waited, clock.waits().end()};
  }

  Status RunWith(const Bytes& image) {
    files.Add(kImage, image);
    ui.choices.push_back(kImage);
    return UpgradeFirmware(bus, clock, files, ui, location, imagePath);
  }
  // The sequence alone, looking for the boot firmware under its product ID.
  Status WriteWith(const Bytes& image, bool confirm = true) {
    UpgradeHooks hooks;
    hooks.findBootFirmware = [this] { return bus.Find(kHeadsetVendorId, kBootProductId); };
    hooks.confirmReboot = [confirm] { return confirm; };
    hooks.onProgress = [this](std::uint32_t sent, std::uint32_t) { progress.push_back(sent); };
    Status why;
    {
      FirmwareUpgrade upgrade(bus, clock, image, hooks);
      why = upgrade.Run(headset.interfacePath());
    }
    ExpectReleased();
    return why;
  }
  void ExpectReleased() {
    EXPECT_EQ(bus.openHandles(), 0);
    EXPECT_FALSE(bus.bound());
    EXPECT_EQ(bus.loads(), bus.frees());
    EXPECT_EQ(files.openHandles(), 0);
  }

  sim::Headset headset;
  sim::SimBus bus{headset};
  sim::SimClock clock{headset};
  fakes::FakeFileSystem files;
  fakes::FakeUserInterface ui;
  HeadsetLocation location;
  std::string imagePath;
  std::vector<std::uint32_t> progress;
  std::size_t waited = 0;
};

// Short last blocks zero-padded over the previous answer, whole blocks, the largest image.
TEST_F(UpgradeTest, SendsEveryPacketByteForByte) {
  for (const std::size_t size : {0, 5, 56, 61, 112, 65535}) {
    SCOPED_TRACE(size);
    Reset();
    const Bytes image = reference::RandomBytes(size, static_cast<unsigned>(size));
    ASSERT_EQ(RunWith(image), Status());
    {
      ExpectedTraffic expected(headset.log());
      expected.Restart();
      expected.Get(0x5F, 5);
      expected.Transfer(image);
    }
    EXPECT_EQ(headset.flashed(), image);
    std::vector<unsigned> waits = {2000, 100, 10};
    waits.insert(waits.end(), (size + 55) / 56, 10);
    waits.insert(waits.end(), {20, 100});
    EXPECT_EQ(Waits(), waits);
    EXPECT_EQ(ui.boxes, std::vector<Box>{kRebootQuestion});
    EXPECT_EQ(ui.status, std::vector<std::string>{"引导固件版本 0102\r\n"});
    EXPECT_EQ(ui.caption, "Update OK!");
    ExpectReleased();
  }
}

// The restart answered under report 6 only; a headset in its boot firmware already; a failed
// read-back counted as delivered; a failed Begin of an empty image still finished.
TEST_F(UpgradeTest, TheRunAdaptsToWhatTheHeadsetAnswers) {
  const Bytes image = reference::RandomBytes(70, 3);
  struct Row {
    sim::HeadsetConfig config;
    int failTransfer;
    Bytes image;
    std::function<void(ExpectedTraffic&)> traffic;
  };
  // clang-format off
  const std::vector<Row> rows = {
      {{.restartOnlyAsReport6 = true}, 0, image, [&](ExpectedTraffic& t) {
         t.Get(0x58, 4, false); t.Get(0x06, 4); t.Set({0x58, 1, 0, 1}, false);
         t.Set({0x06, 1, 0, 1}); t.Get(0x5F, 5); t.Transfer(image); }},
      {{.startIn = sim::Firmware::kBoot}, 0, image, [&](ExpectedTraffic& t) {
         t.Get(0x58, 4, false); t.Get(0x06, 4, false); t.Get(0x5F, 5); t.Transfer(image); }},
      {{}, 6, image, [&](ExpectedTraffic& t) {
         t.Restart(); t.Get(0x5F, 5); t.Begin(70); t.Data(image, 0, false); t.Data(image, 56);
         t.Finish(reference::ImageTotal(image)); }},
      {{}, 4, {}, [](ExpectedTraffic& t) {
         t.Restart(); t.Get(0x5F, 5); t.Begin(0, false); t.Finish(0); }},
  };
  // clang-format on
  for (const Row& row : rows) {
    Reset(row.config);
    headset.faults().failTransfer = row.failTransfer;
    EXPECT_EQ(RunWith(row.image), Status());
    ExpectedTraffic expected(headset.log());
    row.traffic(expected);
    if (row.config.startIn == sim::Firmware::kBoot) {
      EXPECT_EQ(Waits(), (std::vector<unsigned>{10, 10, 10, 20, 100})) << "no restart wait";
    }
  }
}

// What each exchange of a three-block run leads to when it is refused, or when the headset leaves
// the bus right after it; then wrong sums and a declined reboot.
TEST_F(UpgradeTest, EveryEndingHasItsReason) {
  using F = Failure;
  const Bytes image = reference::RandomBytes(130, 4);
  struct Row {
    const char* exchange;
    Status refused;
    Status goneAfter;
  };
  const Status kRefused = F::kTransferRefused, kGone = F::kUnplugged, kNone;
  // clang-format off
  const std::vector<Row> rows = {
      // Refused, the probe and the restart are answered under report 6.
      {"probe", kNone, F::kRestartRefused}, {"restart", kNone, F::kBootNotFound},
      {"boot version", kNone, kGone}, {"Begin", kRefused, kGone},
      {"Data 0", kRefused, kGone}, {"sum 0", kNone, kGone},
      {"Data 1", kRefused, kGone}, {"sum 1", kNone, kGone},
      {"Data 2", kRefused, kGone}, {"sum 2", kNone, kGone},
      {"Finish", kRefused, kGone}, {"total", kRefused, kGone},
      {"Reboot", F::kRebootRefused, kNone},
  };
  // clang-format on
  for (int n = 1; n <= static_cast<int>(rows.size()); ++n) {
    for (const bool gone : {false, true}) {
      SCOPED_TRACE(std::string(rows[n - 1].exchange) + (gone ? ", then gone" : ", refused"));
      headset = sim::Headset();
      (gone ? headset.faults().vanishAfterTransfer : headset.faults().failTransfer) = n;
      const Status why = WriteWith(image);
      EXPECT_EQ(why, gone ? rows[n - 1].goneAfter : rows[n - 1].refused);
      EXPECT_EQ(headset.flashed() == image, !why.failed());
    }
  }
  for (int block = 0; block < 3; ++block) {
    headset = sim::Headset();
    headset.faults().wrongSumForBlock = block;
    EXPECT_EQ(WriteWith(image), Status(F::kBlockMismatch)) << block;
  }
  headset = sim::Headset();
  headset.faults().wrongTotal = true;
  EXPECT_EQ(WriteWith(image), Status(F::kTotalMismatch));
  // The limit at its edge, in the sequence itself: the largest image is written, one byte more
  // touches nothing.
  for (const std::size_t size : {65535, 65536}) {
    Reset();
    EXPECT_EQ(WriteWith(Bytes(size, 1)), size == 65535 ? Status() : Status(F::kImageTooLarge));
    EXPECT_EQ(headset.flashed().size(), size == 65535 ? size : 0);
  }
  Reset();
  EXPECT_EQ(WriteWith(image, false), Status(F::kRebootDeclined));
  EXPECT_EQ(progress, (std::vector<std::uint32_t>{56, 112, 130}));
  EXPECT_TRUE(headset.flashed().empty());
}

// The window's endings: the boxes, in order, and what is still held while each is up.
TEST_F(UpgradeTest, TheWindowTellsEachEndingAfterReleasingWhatItHeld) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    Bytes image;
    Status outcome;
    std::vector<Box> boxes;
    std::string caption;
  };
  const Box kTooLarge{"Update", "固件文件过大！"}, kBootFailed{"Update", "引导访问失败。"},
      kNoHeadset{"Update", "未发现设备或访问被拒绝！"};
  using F = Failure;
  // clang-format off
  const std::vector<Row> rows = {
      {"no headset", [this] { headset.Unplug(); }, {}, F::kNoHeadset, {kNoHeadset}, "Obrint"},
      {"cancelled", [this] { ui.choices.push_front(""); }, Bytes(10), F::kCancelled, {}, "Obrint"},
      {"too large", nullptr, Bytes(65536), F::kImageTooLarge, {kTooLarge}, "Update Err!"},
      {"unreadable", [this] { files.Add(kImage, Bytes(130)).failReadNumber = 1; }, {},
       F::kFileUnreadable, {kUpdateFailed}, "Update Err!"},
      {"no boot firmware", [this] { headset.faults().staysAwayAfterRestart = true; }, Bytes(10),
       F::kBootNotOpened, {kBootFailed}, "Obrint"},
      {"declined", [this] { ui.yesNoAnswer = kAnswerNo; }, Bytes(10), F::kRebootDeclined,
       {kRebootQuestion, kUpdateFailed}, "Update Err!"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Reset();
    files.Add(kImage, row.image);
    ui.choices.push_back(kImage);
    if (row.arrange) row.arrange();
    std::vector<bool> boundWhileUp;
    ui.onBox = [&](const Box&) { boundWhileUp.push_back(bus.bound()); };
    EXPECT_EQ(UpgradeFirmware(bus, clock, files, ui, location, imagePath), row.outcome);
    EXPECT_EQ(ui.boxes, row.boxes);
    EXPECT_EQ(ui.caption, row.caption);
    // The boot failure and the reboot question are asked while bound; the ending box after.
    for (std::size_t i = 0; i < boundWhileUp.size(); ++i) {
      EXPECT_EQ(boundWhileUp[i], ui.boxes[i] == kBootFailed || ui.boxes[i] == kRebootQuestion);
    }
    if (row.outcome == Status(F::kImageTooLarge) || row.outcome == Status(F::kFileUnreadable)) {
      EXPECT_TRUE(headset.log().empty()) << "refused before the headset is touched";
    }
    EXPECT_TRUE(headset.flashed().empty());
    ExpectReleased();
  }
}

TEST_F(UpgradeTest, TheImageChosenLastIsReusedWhileItOpens) {
  ASSERT_EQ(RunWith(Bytes(20, 1)), Status());
  headset.Advance(1000);
  location.devicePath.clear();
  location.pid = 0x0021;
  EXPECT_EQ(UpgradeFirmware(bus, clock, files, ui, location, imagePath), Status());
  EXPECT_EQ(ui.dialogs, 1);
}

}  // namespace
}  // namespace obrint::presenters
