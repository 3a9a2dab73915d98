#include "sim/headset_sim.h"

#include <algorithm>
#include <utility>

#include "device/bytes.h"
#include "device/text.h"

namespace obrint::sim {
namespace {

// The headset's own idea of its reports' lengths; a host that disagrees is refused.
std::size_t LengthOf(std::uint8_t id) {
  static constexpr std::pair<std::uint8_t, std::size_t> kLengths[] = {
      {0x02, 7},  {0x03, 69}, {0x04, 8}, {0x05, 6}, {0x06, 4}, {0x07, 5},  {0x08, 5},
      {0x09, 56}, {0x0A, 15}, {0x58, 4}, {0x59, 4}, {0x5F, 5}, {0x60, 15}, {0x61, 64}};
  for (const auto& [report, length] : kLengths) {
    if (report == id) return length;
  }
  return 0;
}

constexpr std::uint8_t kRestart = 0x58;
constexpr std::uint8_t kRestartAlt = 0x06;
constexpr std::uint8_t kRunMode = 0x59;
constexpr std::uint8_t kVersion = 0x5F;
constexpr std::uint8_t kMcuId = 0x60;
constexpr std::uint8_t kTransfer = 0x61;

constexpr std::uint8_t kBegin = 0x5A;
constexpr std::uint8_t kData = 0x02;
constexpr std::uint8_t kFinish = 0x10;
constexpr std::uint8_t kReboot = 0x11;

constexpr std::size_t kDataCapacity = 56;
constexpr unsigned kEraseMs = 10;
constexpr unsigned kBlockSumMs = 10;
constexpr unsigned kImageTotalMs = 120;
// A wrong sum must differ from the right one whatever it is.
constexpr std::uint16_t kSumCorruption = 0x00FF;

std::uint16_t Fold(std::uint32_t s) { return static_cast<std::uint16_t>((s & 0xFFFF) + (s >> 16)); }

// The firmware's block sum: 16-bit little-endian words of the data, zero-padded to whole 32-bit
// words, added into 32 bits and folded.
std::uint16_t BlockSum(const std::uint8_t* data, std::size_t length) {
  const std::size_t padded = (length + 3) / 4 * 4;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < padded; i += 2) {
    const std::uint32_t lo = i < length ? data[i] : 0;
    const std::uint32_t hi = i + 1 < length ? data[i + 1] : 0;
    sum += lo | hi << 8;
  }
  return Fold(sum);
}

}  // namespace

Headset::Headset(HeadsetConfig config) : config_(config) {
  runMode_ = config_.runMode;
  Start(config_.startIn);
}

std::uint16_t Headset::productId() const {
  return firmware_ == Firmware::kBoot ? kBootProductId : config_.applicationProductId;
}

std::string Headset::interfacePath() const {
  return "\\\\.\\hid#vid_" + FormatHex(kHeadsetVendorId, 4, HexCase::kLower) + "&pid_" +
         FormatHex(productId(), 4, HexCase::kLower) + "#7&" +
         FormatHex(0x1a2b3c4du + config_.unit, 8, HexCase::kLower) +
         "&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

void Headset::Start(Firmware firmware) {
  present_ = true;
  firmware_ = firmware;
  ++generation_;
  restartPending_ = false;
  if (firmware == Firmware::kApplication) {
    activeRunMode_ = runMode_;
  } else {
    boot_ = BootTransfer{};
  }
}

void Headset::LeaveBus() {
  if (present_) ++generation_;
  present_ = false;
}

void Headset::StartRestart(Firmware into) {
  const bool reboot = firmware_ == Firmware::kBoot && into == Firmware::kApplication;
  ++restarts_;
  LeaveBus();
  if (faults_.staysAwayAfterRestart || (reboot && faults_.staysAwayAfterReboot)) {
    goneForGood_ = true;
    return;
  }
  restartPending_ = true;
  restartInto_ = into;
  restartDueMs_ = nowMs_ + config_.restartMs;
  waitingForAnother_ = into == Firmware::kBoot && faults_.bootWaitsForAnother;
}

void Headset::Advance(unsigned ms) {
  nowMs_ += ms;
  if (restartPending_ && !goneForGood_ && !waitingForAnother_ && nowMs_ >= restartDueMs_) {
    Start(restartInto_);
  }
}

void Headset::CompleteRestart() {
  if (!restartPending_ || goneForGood_) return;
  waitingForAnother_ = false;
  Start(restartInto_);
}

void Headset::Unplug() {
  LeaveBus();
  if (restartPending_ && restartInto_ == Firmware::kApplication) firmware_ = Firmware::kApplication;
  restartPending_ = false;
  waitingForAnother_ = false;
}

void Headset::PlugIn(std::optional<Firmware> firmware) {
  goneForGood_ = false;
  if (present_) LeaveBus();
  Start(firmware.value_or(firmware_));
}

bool Headset::GetFeature(std::uint32_t generation, std::uint8_t* report, std::size_t length) {
  return Transfer(TransferRecord::Direction::kGet, generation, report, nullptr, length);
}

bool Headset::SetFeature(std::uint32_t generation, const std::uint8_t* report, std::size_t length) {
  return Transfer(TransferRecord::Direction::kSet, generation, nullptr, report, length);
}

bool Headset::Transfer(TransferRecord::Direction direction, std::uint32_t generation,
                       std::uint8_t* report, const std::uint8_t* sent, std::size_t length) {
  const bool isGet = direction == TransferRecord::Direction::kGet;
  const std::uint8_t* head = isGet ? report : sent;
  const int number = ++transfers_;
  TransferRecord record{
      direction, head && length > 0 ? head[0] : std::uint8_t{0}, length, {}, false, firmware_,
      nowMs_};
  if (!isGet && sent && length > 0) record.bytes.assign(sent, sent + length);

  const bool refused = std::find(faults_.refusedReports.begin(), faults_.refusedReports.end(),
                                 record.reportId) != faults_.refusedReports.end();
  if (head && length > 0 && present_ && generation == generation_ && !refused &&
      number != faults_.failTransfer) {
    record.ok = Serve(direction, report, sent, length);
  }
  if (isGet && record.ok) record.bytes.assign(report, report + length);
  log_.push_back(std::move(record));

  if (number == faults_.vanishAfterTransfer) {
    goneForGood_ = true;
    restartPending_ = false;
    LeaveBus();
  }
  return log_.back().ok;
}

bool Headset::Serve(TransferRecord::Direction direction, std::uint8_t* report,
                    const std::uint8_t* sent, std::size_t length) {
  const bool isGet = direction == TransferRecord::Direction::kGet;
  const std::uint8_t id = isGet ? report[0] : sent[0];
  if (LengthOf(id) == 0 || length != LengthOf(id)) return false;
  return firmware_ == Firmware::kApplication ? ServeApplication(direction, id, report, sent)
                                             : ServeBoot(direction, id, report, sent);
}

// Both firmwares answer the Version report with their own version and the MCU ID report alike.
bool Headset::AnswerIdentity(std::uint8_t id, std::uint16_t version, std::uint8_t* report) const {
  report[1] = 0;
  report[2] = 0;
  if (id == kVersion) {
    WriteLe16(report + 3, version);
  } else {
    std::copy(config_.mcuId.begin(), config_.mcuId.end(), report + 3);
  }
  return true;
}

bool Headset::ServeApplication(TransferRecord::Direction direction, std::uint8_t id,
                               std::uint8_t* report, const std::uint8_t* sent) {
  const bool isGet = direction == TransferRecord::Direction::kGet;
  switch (id) {
    case kRestart:
    case kRestartAlt:
      if (id == kRestart && config_.restartOnlyAsReport6) return false;
      if (isGet) {
        report[1] = 1;
        report[2] = 0;
        report[3] = 0;
        return true;
      }
      if (sent[1] != 1 || sent[2] != 0 || sent[3] > 1) return false;
      StartRestart(sent[3] == 1 ? Firmware::kBoot : Firmware::kApplication);
      return true;
    case kRunMode:
      if (isGet) {
        report[1] = 1;
        report[2] = 0;
        report[3] = runMode_;
        return true;
      }
      if (sent[1] != 1 || sent[2] != 0) return false;
      runMode_ = sent[3];
      return true;
    case kVersion:
    case kMcuId:
      return isGet && AnswerIdentity(id, config_.applicationVersion, report);
    case kTransfer:
      return false;
    default: {
      // Reports 0x02..0x0A: plain storage.
      std::vector<std::uint8_t>& stored = echoReports_[id - 2];
      const std::size_t length = LengthOf(id);
      if (isGet) {
        if (stored.size() == length) {
          std::copy(stored.begin() + 1, stored.end(), report + 1);
        } else {
          std::fill(report + 1, report + length, std::uint8_t{0});
        }
      } else {
        stored.assign(sent, sent + length);
      }
      return true;
    }
  }
}

bool Headset::ServeBoot(TransferRecord::Direction direction, std::uint8_t id, std::uint8_t* report,
                        const std::uint8_t* sent) {
  const bool isGet = direction == TransferRecord::Direction::kGet;
  switch (id) {
    case kVersion:
    case kMcuId:
      if (id == kMcuId && !config_.bootGivesMcuId) return false;
      return isGet && AnswerIdentity(id, config_.bootVersion, report);
    case kTransfer:
      if (isGet) {
        AnswerTransfer(report);
      } else {
        ReceiveTransferPacket(sent);
      }
      return true;
    default:
      return false;
  }
}

void Headset::ReceiveTransferPacket(const std::uint8_t* packet) {
  BootTransfer& t = boot_;
  ++t.packets;
  t.lastCommand = packet[3];
  const std::uint16_t hostSum = ReadLe16(packet + 4);
  const std::uint16_t length = ReadLe16(packet + 6);
  switch (packet[3]) {
    case kBegin: {
      const std::uint16_t packets = t.packets;
      t = BootTransfer{};
      t.packets = packets;
      t.lastCommand = kBegin;
      t.begun = true;
      t.size = length;
      t.begunAtMs = nowMs_;
      received_.clear();
      t.answerReadyAtMs = nowMs_;
      break;
    }
    case kData: {
      const int block = t.dataPackets++;
      t.verified = false;
      t.answerSum = 0;
      t.answerReadyAtMs = nowMs_;
      // Lost: no Begin, still erasing, or more data than the packet can hold.
      if (!t.begun || t.finished || nowMs_ < t.begunAtMs + kEraseMs || length > kDataCapacity) {
        t.broken = true;
        break;
      }
      const std::uint16_t sum = BlockSum(packet + 8, length);
      received_.insert(received_.end(), packet + 8, packet + 8 + length);
      t.sumOfBlockSums += sum;
      t.answerSum = sum;
      if (block == faults_.wrongSumForBlock) t.answerSum ^= kSumCorruption;
      if (t.answerSum != hostSum) t.broken = true;
      t.answerReadyAtMs = nowMs_ + kBlockSumMs;
      break;
    }
    case kFinish: {
      std::uint16_t total = Fold(t.sumOfBlockSums);
      if (faults_.wrongTotal) total ^= kSumCorruption;
      t.answerSum = total;
      t.answerReadyAtMs = nowMs_ + kImageTotalMs;
      t.verified =
          t.begun && !t.finished && !t.broken && received_.size() >= t.size && total == hostSum;
      t.finished = true;
      break;
    }
    case kReboot:
      if (t.verified) {
        const std::size_t size = std::min<std::size_t>(t.size, received_.size());
        flashed_.assign(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(size));
      }
      t.verified = false;
      StartRestart(Firmware::kApplication);
      break;
    default:
      break;
  }
}

void Headset::AnswerTransfer(std::uint8_t* report) const {
  const BootTransfer& t = boot_;
  std::fill(report + 1, report + 64, std::uint8_t{0xA5});
  WriteLe16(report + 1, t.packets);
  report[3] = t.lastCommand;
  WriteLe16(report + 4, nowMs_ >= t.answerReadyAtMs ? t.answerSum : std::uint16_t{0});
  WriteLe16(report + 6, static_cast<std::uint16_t>(received_.size() & 0xFFFF));
  std::uint8_t state = 0;
  if (t.verified) {
    state = 2;
  } else if (t.broken || (t.finished && !t.verified)) {
    state = 3;
  } else if (t.begun) {
    state = 1;
  }
  report[8] = state;
}

}  // namespace obrint::sim
