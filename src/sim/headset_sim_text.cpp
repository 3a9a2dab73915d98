// The headset's state as text: one "key=value" line per member, numbers in decimal, bytes in
// hexadecimal, one "log=" line per transfer in order. The first line names the format.
#include <charconv>
#include <span>
#include <type_traits>

#include "device/text.h"
#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

constexpr std::string_view kFormatLine = "obrint-headset-sim=1";

// Member types: one byte and byte sequences are hexadecimal, other integers decimal.
std::string Format(const std::uint8_t& v) { return FormatHex(v, 2, HexCase::kLower); }
std::string Format(const bool& v) { return v ? "1" : "0"; }
std::string Format(const Firmware& v) { return v == Firmware::kBoot ? "boot" : "application"; }
std::string Format(std::span<const std::uint8_t> v) {
  std::string out;
  AppendHexBytes(out, v);
  return out;
}
template <typename T>
requires std::is_integral_v<T> std::string Format(const T& v) { return std::to_string(v); }

// Exactly as many bytes as `v` holds.
bool ParseBytes(std::string_view text, std::span<std::uint8_t> v) {
  std::vector<std::uint8_t> bytes;
  if (!ParseHexBytes(text, bytes) || bytes.size() != v.size()) return false;
  std::copy(bytes.begin(), bytes.end(), v.begin());
  return true;
}
bool Parse(std::string_view text, std::uint8_t& v) { return ParseBytes(text, {&v, 1}); }
template <std::size_t N>
bool Parse(std::string_view text, std::array<std::uint8_t, N>& v) {
  return ParseBytes(text, v);
}
bool Parse(std::string_view text, bool& v) {
  if (text != "0" && text != "1") return false;
  v = text == "1";
  return true;
}
bool Parse(std::string_view text, Firmware& v) {
  if (text != "boot" && text != "application") return false;
  v = text == "boot" ? Firmware::kBoot : Firmware::kApplication;
  return true;
}
bool Parse(std::string_view text, std::vector<std::uint8_t>& v) { return ParseHexBytes(text, v); }
template <typename T>
requires std::is_integral_v<T>
bool Parse(std::string_view text, T& v) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  return ec == std::errc{} && ptr == end && !text.empty();
}

std::string FormatRecord(const TransferRecord& r) {
  std::string out = r.direction == TransferRecord::Direction::kGet ? "get " : "set ";
  out += Format(r.reportId) + ' ' + Format(r.length) + ' ' + Format(r.ok) + ' ';
  out += Format(r.firmware) + ' ' + Format(r.atMs) + ' ';
  out += r.bytes.empty() ? "-" : Format(r.bytes);
  return out;
}

std::optional<TransferRecord> ParseRecord(std::string_view text) {
  std::vector<std::string_view> parts;
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    parts.push_back(text.substr(0, space));
    text = space == std::string_view::npos ? std::string_view{} : text.substr(space + 1);
  }
  if (parts.size() != 7) return std::nullopt;
  TransferRecord r{TransferRecord::Direction::kGet, 0, 0, {}, false, Firmware::kApplication, 0};
  if (parts[0] == "set") {
    r.direction = TransferRecord::Direction::kSet;
  } else if (parts[0] != "get") {
    return std::nullopt;
  }
  if (!Parse(parts[1], r.reportId) || !Parse(parts[2], r.length) || !Parse(parts[3], r.ok) ||
      !Parse(parts[4], r.firmware) || !Parse(parts[5], r.atMs)) {
    return std::nullopt;
  }
  if (parts[6] != "-" && (!ParseHexBytes(parts[6], r.bytes) || r.bytes.empty()))
    return std::nullopt;
  return r;
}

}  // namespace

template <typename Self, typename Visit>
void Headset::VisitFields(Self& h, Visit&& visit) {
  visit("config.applicationProductId", h.config_.applicationProductId);
  visit("config.applicationVersion", h.config_.applicationVersion);
  visit("config.bootVersion", h.config_.bootVersion);
  visit("config.mcuId", h.config_.mcuId);
  visit("config.runMode", h.config_.runMode);
  visit("config.restartOnlyAsReport6", h.config_.restartOnlyAsReport6);
  visit("config.startIn", h.config_.startIn);
  visit("config.restartMs", h.config_.restartMs);
  visit("config.unit", h.config_.unit);
  visit("config.bootGivesMcuId", h.config_.bootGivesMcuId);
  visit("faults.refusedReports", h.faults_.refusedReports);
  visit("faults.failTransfer", h.faults_.failTransfer);
  visit("faults.wrongSumForBlock", h.faults_.wrongSumForBlock);
  visit("faults.wrongTotal", h.faults_.wrongTotal);
  visit("faults.staysAwayAfterRestart", h.faults_.staysAwayAfterRestart);
  visit("faults.staysAwayAfterReboot", h.faults_.staysAwayAfterReboot);
  visit("faults.vanishAfterTransfer", h.faults_.vanishAfterTransfer);
  visit("faults.bootWaitsForAnother", h.faults_.bootWaitsForAnother);
  visit("state.nowMs", h.nowMs_);
  visit("state.present", h.present_);
  visit("state.firmware", h.firmware_);
  visit("state.generation", h.generation_);
  visit("state.goneForGood", h.goneForGood_);
  visit("state.restartPending", h.restartPending_);
  visit("state.waitingForAnother", h.waitingForAnother_);
  visit("state.restartInto", h.restartInto_);
  visit("state.restartDueMs", h.restartDueMs_);
  visit("state.restarts", h.restarts_);
  visit("state.transfers", h.transfers_);
  visit("state.runMode", h.runMode_);
  visit("state.activeRunMode", h.activeRunMode_);
  static constexpr const char* kEchoKeys[] = {"state.report02", "state.report03", "state.report04",
                                              "state.report05", "state.report06", "state.report07",
                                              "state.report08", "state.report09", "state.report0a"};
  for (std::size_t i = 0; i < h.echoReports_.size(); ++i) visit(kEchoKeys[i], h.echoReports_[i]);
  visit("boot.begun", h.boot_.begun);
  visit("boot.size", h.boot_.size);
  visit("boot.begunAtMs", h.boot_.begunAtMs);
  visit("boot.dataPackets", h.boot_.dataPackets);
  visit("boot.sumOfBlockSums", h.boot_.sumOfBlockSums);
  visit("boot.broken", h.boot_.broken);
  visit("boot.verified", h.boot_.verified);
  visit("boot.finished", h.boot_.finished);
  visit("boot.packets", h.boot_.packets);
  visit("boot.lastCommand", h.boot_.lastCommand);
  visit("boot.answerSum", h.boot_.answerSum);
  visit("boot.answerReadyAtMs", h.boot_.answerReadyAtMs);
  visit("received", h.received_);
  visit("flashed", h.flashed_);
}

std::string Headset::Save() const {
  std::string out(kFormatLine);
  out += '\n';
  VisitFields(*this, [&out](std::string_view key, const auto& member) {
    out += key;
    out += '=';
    out += Format(member);
    out += '\n';
  });
  for (const TransferRecord& record : log_) out += "log=" + FormatRecord(record) + '\n';
  return out;
}

std::optional<Headset> Headset::Load(std::string_view text) {
  Headset headset;
  bool first = true;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      if (line != kFormatLine) return std::nullopt;
      first = false;
      continue;
    }
    if (line.empty()) continue;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    if (key == "log") {
      std::optional<TransferRecord> record = ParseRecord(value);
      if (!record) return std::nullopt;
      headset.log_.push_back(std::move(*record));
      continue;
    }
    bool known = false;
    bool parsed = false;
    VisitFields(headset, [&](std::string_view name, auto& member) {
      if (known || name != key) return;
      known = true;
      parsed = Parse(value, member);
    });
    if (!known || !parsed) return std::nullopt;
  }
  if (first) return std::nullopt;
  // The members must agree with each other: echo reports are whole reports of their ID.
  static constexpr std::size_t kEchoLengths[] = {7, 69, 8, 6, 4, 5, 5, 56, 15};
  for (std::size_t i = 0; i < headset.echoReports_.size(); ++i) {
    const std::vector<std::uint8_t>& stored = headset.echoReports_[i];
    if (!stored.empty() && stored.size() != kEchoLengths[i]) return std::nullopt;
  }
  return headset;
}

}  // namespace obrint::sim
