// The virtual headsets: the simulator the tests use, with virtual time, so that their waits cost
// nothing. Between two commands that share a state file, the headset gets the time it needs to
// finish a restart, as it would while the user types the next command.
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "files/files.h"
#include "cli/host.h"
#include "sim/fleet_sim.h"

namespace obrint::cli {
namespace {

// A Data block well inside any image, and a transfer well inside a 40 KiB one.
constexpr int kUnplugAfterTransfer = 40;

// Every headset's time, moved on after really sleeping as long.
class RealTimeClock : public Clock {
 public:
  explicit RealTimeClock(Clock& virtualTime) : virtualTime_(virtualTime) {}
  void Sleep(unsigned ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    virtualTime_.Sleep(ms);
  }

 private:
  Clock& virtualTime_;
};

class SimHost : public Host {
 public:
  SimHost(std::shared_ptr<sim::VirtualFleet> fleet, std::string stateFile, bool realTime,
          std::vector<sim::PlugStep> plugs)
      : fleet_(std::move(fleet)),
        stateFile_(std::move(stateFile)),
        realTime_(realTime),
        realTimeClock_(fleet_->clock()),
        plugs_(std::move(plugs)) {}

  HidBus& bus() override { return fleet_->bus(); }
  Clock& clock() override { return realTime_ ? realTimeClock_ : fleet_->clock(); }
  std::string_view name() const override { return "sim"; }
  std::unique_ptr<ArrivalWatch> WatchArrivals() override {
    return std::make_unique<sim::PlugWatch>(fleet_, plugs_, realTime_);
  }

  // Each headset on its own time, so that no worker waits for another.
  std::unique_ptr<Clock> ClockFor(const HidInterface& headset) override {
    const std::optional<std::size_t> member = fleet_->MemberAt(headset.path);
    if (!member) return Host::ClockFor(headset);
    return fleet_->MemberClock(*member, realTime_);
  }

  Status Finish() override {
    if (stateFile_.empty()) return {};
    const std::string state = fleet_->headset(0).Save();
    return files::ReplaceContents(
        stateFile_, std::span(reinterpret_cast<const std::uint8_t*>(state.data()), state.size()),
        true);
  }

 private:
  std::shared_ptr<sim::VirtualFleet> fleet_;
  std::string stateFile_;
  bool realTime_;
  RealTimeClock realTimeClock_;
  std::vector<sim::PlugStep> plugs_;
};

void Inject(SimFaultKind kind, sim::Headset& headset) {
  sim::FaultPlan& faults = headset.faults();
  switch (kind) {
    case SimFaultKind::kBlockSum:
      faults.wrongSumForBlock = 0;
      break;
    case SimFaultKind::kTotal:
      faults.wrongTotal = true;
      break;
    case SimFaultKind::kNoReturn:
      faults.staysAwayAfterRestart = true;
      break;
    case SimFaultKind::kNotBack:
      faults.staysAwayAfterReboot = true;
      break;
    case SimFaultKind::kUnplug:
      faults.vanishAfterTransfer = kUnplugAfterTransfer;
      break;
    case SimFaultKind::kLateBoot:
      faults.bootWaitsForAnother = true;
      break;
    case SimFaultKind::kNoMcuId:
      headset.config().bootGivesMcuId = false;
      break;
  }
}

constexpr std::pair<std::string_view, SimFaultKind> kFaultNames[] = {
    {"block-sum", SimFaultKind::kBlockSum}, {"total", SimFaultKind::kTotal},
    {"no-return", SimFaultKind::kNoReturn}, {"not-back", SimFaultKind::kNotBack},
    {"unplug", SimFaultKind::kUnplug},      {"late-boot", SimFaultKind::kLateBoot},
    {"no-mcu-id", SimFaultKind::kNoMcuId}};

// The state file's headset, or a fresh one.
Result<sim::Headset> FirstHeadset(const std::string& stateFile) {
  std::error_code ec;
  // A state file that is not there yet starts a fresh headset.
  if (stateFile.empty() || !std::filesystem::exists(files::PathFromUtf8(stateFile), ec)) {
    return sim::Headset{};
  }
  const Result<std::string> text = files::ReadText(stateFile);
  if (!text) return Failure::kFileUnreadable;
  std::optional<sim::Headset> headset = sim::Headset::Load(*text);
  if (!headset) return Failure::kFileUnreadable;
  // The state keeps the traffic of the last command only.
  headset->ClearLog();
  headset->Advance(headset->config().restartMs);
  return std::move(*headset);
}

}  // namespace

std::optional<SimFault> ParseSimFault(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos || colon > 3) return std::nullopt;
  SimFault fault{0, SimFaultKind::kBlockSum};
  for (const char digit : text.substr(0, colon)) {
    if (digit < '0' || digit > '9') return std::nullopt;
    fault.headset = fault.headset * 10 + static_cast<unsigned>(digit - '0');
  }
  for (const auto& [name, kind] : kFaultNames) {
    if (text.substr(colon + 1) == name && fault.headset > 0) {
      fault.kind = kind;
      return fault;
    }
  }
  return std::nullopt;
}

std::string_view SimFaultNames() {
  return "block-sum, total, no-return, not-back, unplug, late-boot or no-mcu-id";
}

Result<std::unique_ptr<Host>> MakeSimHost(const SimSetup& setup) {
  Result<sim::Headset> first = FirstHeadset(setup.stateFile);
  if (!first) return first.failure();
  std::vector<sim::FleetMember> members;
  for (unsigned i = 0; i < setup.count; ++i) {
    sim::Headset headset = i == 0 ? std::move(*first) : sim::Headset{};
    if (i > 0) {
      sim::HeadsetConfig& config = headset.config();
      config.unit = static_cast<std::uint16_t>(i);
      config.mcuId[0] = static_cast<std::uint8_t>(config.mcuId[0] + i);
      headset = sim::Headset(config);
    }
    for (const SimFault& fault : setup.faults) {
      if (fault.headset == i + 1) Inject(fault.kind, headset);
    }
    members.push_back({std::move(headset), setup.noPorts ? "" : "1-2." + std::to_string(i + 1)});
  }
  auto fleet = std::make_shared<sim::VirtualFleet>(
      std::move(members),
      setup.reusePaths ? sim::PathScheme::kReusedNodes : sim::PathScheme::kPerHeadset);
  return std::unique_ptr<Host>(
      std::make_unique<SimHost>(fleet, setup.stateFile, setup.realTime, setup.plugs));
}

std::unique_ptr<Host> MakeSimHost(std::shared_ptr<sim::VirtualFleet> fleet, bool realTime,
                                  std::vector<sim::PlugStep> plugs) {
  return std::make_unique<SimHost>(std::move(fleet), "", realTime, std::move(plugs));
}

}  // namespace obrint::cli
