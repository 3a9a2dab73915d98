// The firmware upgrade against a headset whose every answer the input chooses: each open, search,
// get and set succeeds, fails, answers honestly, answers a wrong sum or answers arbitrary bytes;
// the image file, the dialog and the user's answer to "Reboot?" come from the input too. An input
// that runs out leaves an honest headset and a willing user.
//
// Invariants, on every path: every headset handle is closed, the HID library is released as often
// as it was bound and never used unbound, the image file is closed, and what the window shows
// agrees with the outcome. A run ends in success only if the headset accepted every block of the
// image in order, every read-back of a block sum that came back matched, the Finish packet carried
// the image total and the headset's answer matched it, and the user allowed the Reboot that the
// headset accepted. A Reboot packet is never sent before the headset confirmed the image total.
// The fixed waits come before the reads that depend on them.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/firmware_upgrade.h"
#include "fuzz_check.h"
#include "native/fakes/fake_files.h"
#include "native/fakes/fake_ui.h"

namespace {

using obrint::UpgradeFailure;
using obrint::UpgradeOutcome;
using obrint::fakes::Box;
using obrint::fuzz::Check;
using Bytes = std::vector<std::uint8_t>;

constexpr char kImagePath[] = "C:\\fw\\kestic.bin";
constexpr char kApplicationPath[] = "\\\\.\\hid#vid_2833&pid_0021#7&1a2b3c4d&0&0000#{4d1e55b2}";
constexpr char kBootPath[] = "\\\\.\\hid#vid_2833&pid_0001#7&5e6f7a8b&0&0000#{4d1e55b2}";
constexpr std::size_t kBlock = 56;

// The harness's own arithmetic is no coverage to steer by, and uninstrumented it runs faster.
#define OBRINT_FUZZ_HELPER __attribute__((no_sanitize("coverage")))

// The sums from their definitions, in wide arithmetic.
OBRINT_FUZZ_HELPER std::uint16_t FoldOnce(std::uint64_t s) {
  return static_cast<std::uint16_t>((s % 65536 + (s / 65536) % 65536) % 65536);
}
OBRINT_FUZZ_HELPER std::uint16_t ReferenceBlockSum(const std::uint8_t* data, std::size_t length) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < (length + 3) / 4 * 4; i += 2) {
    sum += (i < length ? data[i] : 0u) + 256u * (i + 1 < length ? data[i + 1] : 0u);
  }
  return FoldOnce(sum);
}
OBRINT_FUZZ_HELPER std::uint16_t ReferenceImageTotal(const Bytes& image) {
  std::uint64_t total = 0;
  for (std::size_t at = 0; at < image.size(); at += kBlock) {
    total += ReferenceBlockSum(image.data() + at, std::min(kBlock, image.size() - at));
  }
  return FoldOnce(total);
}
std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

// How the headset answers one get.
enum class Answer : std::uint8_t { kHonest, kFail, kWrongSum, kArbitrary, kMaxValue = kArbitrary };

// One Transfer packet as the host sent it, and when.
struct Packet {
  Bytes bytes;
  std::uint64_t atMs;
};

// The headset, the HID link and the clock, as the input has them behave; and what they saw.
class ScriptedWorld : public obrint::HidLink, public obrint::Clock {
 public:
  ScriptedWorld(FuzzedDataProvider& in, std::uint16_t imageTotal)
      : in_(in), imageTotal_(imageTotal) {}

  // HidLink.
  std::unique_ptr<obrint::HidDevice> OpenHidDevice(const std::string& path) override {
    if (path.empty() || in_.ConsumeBool()) return nullptr;
    if (restartedAtMs_) reopenedAtMs_ = nowMs_;
    return std::make_unique<Device>(*this);
  }
  void LoadHidLibrary() override {
    ++loads;
    bound_ = true;
  }
  void FreeHidLibrary() override {
    Check(loads > frees, "the library is released only after it was bound");
    ++frees;
    bound_ = false;
  }
  std::optional<std::string> FindHidDevicePath(std::string_view, std::uint16_t,
                                               std::uint16_t pid) override {
    if (restartedAtMs_) {
      Check(nowMs_ >= *restartedAtMs_ + 2000, "the boot firmware is looked for 2000 ms after");
    }
    if (in_.ConsumeBool()) return std::nullopt;
    return pid == 0x0001 ? kBootPath : kApplicationPath;
  }

  // Clock.
  void Sleep(unsigned ms) override { nowMs_ += ms; }

  bool bound() const { return bound_; }
  // The headset's answer to the last Finish matched the image total, and nothing was sent since.
  bool totalConfirmed() const { return totalConfirmed_; }

  int openHandles = 0;
  int loads = 0;
  int frees = 0;
  int unboundTransfers = 0;
  // The Transfer packets the headset took, in order.
  std::vector<Packet> accepted;
  // Every answer to a read of the Transfer report, with the packet the host had sent before it.
  struct ReadBack {
    Bytes sentBefore;
    std::uint16_t sum;
  };
  std::vector<ReadBack> readBacks;

 private:
  class Device : public obrint::HidDevice {
   public:
    explicit Device(ScriptedWorld& world) : world_(world) { ++world_.openHandles; }
    ~Device() override { --world_.openHandles; }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    bool GetFeature(std::uint8_t* report, std::size_t length) override {
      return world_.Get(report, length);
    }
    bool SetFeature(const std::uint8_t* report, std::size_t length) override {
      return world_.Set(report, length);
    }

   private:
    ScriptedWorld& world_;
  };

  bool Usable(std::size_t length) {
    Check(length >= 1 && length <= 64, "reports fit the 64-byte report buffer");
    if (reopenedAtMs_) {
      Check(nowMs_ >= *reopenedAtMs_ + 100, "the boot firmware is left 100 ms after its open");
    }
    if (!bound_) ++unboundTransfers;
    return bound_;
  }

  bool Get(std::uint8_t* report, std::size_t length) {
    if (!Usable(length)) return false;
    switch (report[0]) {
      case 0x58:
      case 0x06:
        Check(length == 4, "the Restart report is 4 bytes");
        break;
      case 0x5F:
        Check(length == 5, "the Version report is 5 bytes");
        break;
      case 0x61:
        Check(length == 64, "the Transfer report is 64 bytes");
        Check(lastSent_.has_value(), "the Transfer report is read only after a packet");
        if (lastSent_->bytes[3] == 0x02) {
          Check(nowMs_ >= lastSent_->atMs + 10, "a block sum is read 10 ms after its block");
        } else if (lastSent_->bytes[3] == 0x10) {
          Check(nowMs_ >= lastSent_->atMs + 120, "the image total is read 120 ms after Finish");
        }
        break;
      default:
        Check(false, "the upgrade reads only the Restart, Version and Transfer reports");
    }

    const Answer answer = in_.ConsumeEnum<Answer>();
    if (answer == Answer::kFail) return false;
    std::fill(report + 1, report + length, std::uint8_t{0xA5});
    if (answer == Answer::kArbitrary) {
      const Bytes bytes = in_.ConsumeBytes<std::uint8_t>(length - 1);
      std::copy(bytes.begin(), bytes.end(), report + 1);
    } else if (report[0] == 0x58 || report[0] == 0x06) {
      report[1] = 1;
      report[2] = 0;
      report[3] = 0;
    } else if (report[0] == 0x5F) {
      report[3] = 0x02;
      report[4] = 0x01;
    } else {
      std::uint16_t sum = HonestSum();
      if (answer == Answer::kWrongSum) {
        sum ^= static_cast<std::uint16_t>(in_.ConsumeIntegralInRange<unsigned>(1, 0xFFFF));
      }
      report[4] = static_cast<std::uint8_t>(sum);
      report[5] = static_cast<std::uint8_t>(sum >> 8);
    }
    if (report[0] == 0x61) {
      const std::uint16_t sum = Le16(&report[4]);
      readBacks.push_back({lastSent_->bytes, sum});
      if (lastSent_->bytes[3] == 0x10 && lastSentTaken_) {
        totalConfirmed_ = sum == Le16(&lastSent_->bytes[4]) && sum == imageTotal_;
      }
    }
    return true;
  }

  // What an honest headset answers: the sum of the last Data or Finish packet it took.
  std::uint16_t HonestSum() const {
    if (accepted.empty()) return 0;
    const Bytes& last = accepted.back().bytes;
    if (last[3] == 0x02) {
      return ReferenceBlockSum(&last[8], std::min<std::size_t>(Le16(&last[6]), kBlock));
    }
    if (last[3] == 0x10) return FoldOnce(blockSumsSinceBegin_);
    return 0;
  }

  bool Set(const std::uint8_t* report, std::size_t length) {
    if (!Usable(length)) return false;
    const bool ok = !in_.ConsumeBool();
    if (report[0] == 0x58 || report[0] == 0x06) {
      Check(length == 4 && report[1] == 1 && report[2] == 0 && report[3] == 1,
            "the only Restart sent is the one into the boot firmware");
      if (ok) restartedAtMs_ = nowMs_;
      return ok;
    }
    Check(report[0] == 0x61 && length == 64, "the upgrade sends only Restart and Transfer reports");
    const std::uint8_t command = report[3];
    if (command == 0x11)
      Check(totalConfirmed_, "Reboot only after the headset confirmed the image");
    if (command == 0x02) {
      Check(Le16(&report[6]) <= kBlock, "a Data packet carries at most 56 bytes");
      Check(!accepted.empty() && accepted.front().bytes[3] == 0x5A,
            "Data only after the headset took Begin");
      Check(nowMs_ >= accepted.front().atMs + 10, "the first Data waits 10 ms after Begin");
    }
    lastSent_ = Packet{Bytes(report, report + length), nowMs_};
    lastSentTaken_ = ok;
    totalConfirmed_ = false;
    if (!ok) return false;
    accepted.push_back(*lastSent_);
    if (command == 0x5A) blockSumsSinceBegin_ = 0;
    if (command == 0x02) blockSumsSinceBegin_ += ReferenceBlockSum(&report[8], Le16(&report[6]));
    return true;
  }

  FuzzedDataProvider& in_;
  const std::uint16_t imageTotal_;
  bool bound_ = false;
  std::uint64_t nowMs_ = 0;
  std::optional<std::uint64_t> restartedAtMs_;
  std::optional<std::uint64_t> reopenedAtMs_;
  std::optional<Packet> lastSent_;
  bool lastSentTaken_ = false;
  bool totalConfirmed_ = false;
  std::uint64_t blockSumsSinceBegin_ = 0;
};

OBRINT_FUZZ_HELPER Bytes MakeImage(std::size_t size, std::uint32_t seed) {
  Bytes image(size);
  std::uint32_t x = seed | 1;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return image;
}

// Checks what a successful run must have done: every block taken in order, every answer right.
void CheckSuccess(const ScriptedWorld& world, const Bytes& image) {
  const auto& packets = world.accepted;
  std::size_t at = 0;
  if (!packets.empty() && packets[0].bytes[3] == 0x5A) {
    Check(Le16(&packets[0].bytes[6]) == image.size(), "Begin carries the image size");
    at = 1;
  } else {
    Check(image.empty(), "the headset took Begin");
  }

  Bytes received;
  for (std::size_t block = 0; block * kBlock < image.size(); ++block, ++at) {
    Check(at < packets.size() && packets[at].bytes[3] == 0x02, "the headset took every block");
    const Bytes& p = packets[at].bytes;
    const std::size_t length = Le16(&p[6]);
    const std::size_t want = std::min(kBlock, image.size() - block * kBlock);
    Check(length == (want == kBlock ? kBlock : (want + 3) / 4 * 4), "the block's length field");
    Check(Le16(&p[4]) == ReferenceBlockSum(&image[block * kBlock], want), "the block's sum");
    received.insert(received.end(), p.begin() + 8, p.begin() + 8 + static_cast<long>(length));
  }
  Check(received.size() >= image.size() && received.size() < image.size() + 4,
        "the blocks carry the image and at most its padding");
  Check(std::equal(image.begin(), image.end(), received.begin()), "the blocks carry the image");
  for (std::size_t i = image.size(); i < received.size(); ++i) {
    Check(received[i] == 0, "the padding is zero");
  }

  Check(at + 2 == packets.size(), "Finish and Reboot follow the last block");
  Check(packets[at].bytes[3] == 0x10 && Le16(&packets[at].bytes[4]) == ReferenceImageTotal(image),
        "Finish carries the image total");
  Check(packets[at + 1].bytes[3] == 0x11, "the run ends with the Reboot the headset took");

  for (const auto& readBack : world.readBacks) {
    Check(readBack.sum == Le16(&readBack.sentBefore[4]), "every sum the headset answered matched");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);

  // The image and the file it lies in.
  // Mostly a few blocks; now and then one too large for the Begin packet, refused before the
  // headset is touched.
  const bool large = in.ConsumeIntegral<std::uint8_t>() == 0xFF;
  const std::size_t imageSize = large ? in.ConsumeIntegralInRange<std::size_t>(65536, 70000)
                                      : in.ConsumeIntegralInRange<std::size_t>(0, 300);
  // The content of a refused image does not matter; leaving it zero keeps those runs fast.
  const std::uint32_t seed = in.ConsumeIntegral<std::uint32_t>();
  const Bytes image = large ? Bytes() : MakeImage(imageSize, seed);
  obrint::fakes::FakeFileSystem files;
  obrint::fakes::FakeFile& file = files.Add(kImagePath, large ? Bytes(imageSize) : image);
  file.failSize = in.ConsumeBool();
  file.failReadNumber =
      in.ConsumeIntegralInRange<int>(0, 3) == 3
          ? in.ConsumeIntegralInRange<int>(1, static_cast<int>(imageSize / 56 + 2))
          : 0;
  file.locked = in.ConsumeIntegralInRange<int>(0, 7) == 7;

  // The window's state and the user.
  obrint::HeadsetLocation location;
  if (!in.ConsumeBool()) location.devicePath = kApplicationPath;
  std::string imagePath = in.ConsumeBool() ? kImagePath : "";
  obrint::fakes::FakeUserInterface ui;
  if (!in.ConsumeBool()) ui.choices.push_back(kImagePath);
  ui.yesNoAnswer = in.ConsumeBool() ? obrint::kAnswerNo : obrint::kAnswerYes;

  ScriptedWorld world(in, ReferenceImageTotal(image));
  std::uint32_t lastProgress = 0;
  obrint::UpgradeOptions options;
  options.onProgress = [&](std::uint32_t sent, std::uint32_t total) {
    Check(sent > lastProgress && sent <= total && total == imageSize, "progress only grows");
    lastProgress = sent;
  };
  ui.onBox = [&](const Box& box) {
    if (box.caption == "Reboot?") {
      Check(world.totalConfirmed(), "Reboot? only after the headset confirmed the image total");
    }
  };

  UpgradeFailure why = UpgradeFailure::kNone;
  const std::string captionBefore = ui.caption;
  const UpgradeOutcome outcome =
      obrint::UpgradeFirmware(world, world, files, ui, location, imagePath, options, &why);

  // OBRINT_FUZZ_TRACE=1 prints each run's outcome and reason, to see what a corpus reaches.
  static const bool trace = std::getenv("OBRINT_FUZZ_TRACE") != nullptr;
  if (trace) {
    std::fprintf(stderr, "outcome %d why %d size %zu blocks %zu\n", static_cast<int>(outcome),
                 static_cast<int>(why), imageSize, world.accepted.size());
  }

  Check(world.openHandles == 0, "every headset handle is closed");
  Check(world.loads == world.frees && !world.bound(), "the library is released");
  Check(world.unboundTransfers == 0, "no transfer without the library");
  Check(files.openHandles() == 0, "the image file is closed");
  Check((outcome == UpgradeOutcome::kSucceeded) == (why == UpgradeFailure::kNone),
        "a reason for every run that did not succeed");

  const Box failed{"Update", "升级失败。", 0};
  switch (outcome) {
    case UpgradeOutcome::kSucceeded:
      CheckSuccess(world, image);
      Check(ui.caption == "Update OK!", "success shows Update OK!");
      Check(ui.boxes == std::vector<Box>{{"Update", "Reboot?", 4}}, "success asks Reboot? alone");
      Check(ui.yesNoAnswer == obrint::kAnswerYes, "success only when the user allowed the reboot");
      Check(lastProgress == imageSize, "progress reaches the image size");
      break;
    case UpgradeOutcome::kFailed:
      Check(ui.caption == "Update Err!", "failure shows Update Err!");
      Check(!ui.boxes.empty() && ui.boxes.back() == failed, "failure ends with its box");
      break;
    case UpgradeOutcome::kBootAccessFailed:
      Check(ui.caption == captionBefore, "boot access failure leaves the title");
      Check(ui.boxes == std::vector<Box>{{"Update", "引导访问失败。", 0}}, "the boot access box");
      break;
    case UpgradeOutcome::kNoHeadset:
      Check(ui.boxes.size() == 1 && world.loads == 0, "no headset: one box, nothing opened");
      break;
    case UpgradeOutcome::kCancelled:
      Check(ui.boxes.empty() && ui.caption == captionBefore, "a cancelled dialog shows nothing");
      break;
    case UpgradeOutcome::kImageTooLarge:
      Check(imageSize > 65535 && world.loads == 0, "only an oversize image is refused early");
      break;
  }
  if (outcome != UpgradeOutcome::kSucceeded) {
    Check(world.accepted.empty() || world.accepted.back().bytes[3] != 0x11 ||
              why == UpgradeFailure::kNone,
          "a Reboot the headset took ends in success");
  }
  return 0;
}
