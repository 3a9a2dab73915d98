// Between two commands that share a state file, the headset gets the time it needs to finish a
// restart, as it would while the user types the next command.
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>
#include <utility>

#include "sim/sim_host.h"

#include "files/files.h"
#include "records/failures.h"

namespace obrint::sim {
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

class SimHost : public engine::Host {
 public:
  SimHost(std::shared_ptr<VirtualFleet> fleet, std::string stateFile, bool realTime,
          std::vector<PlugStep> plugs)
      : fleet_(std::move(fleet)),
        stateFile_(std::move(stateFile)),
        realTime_(realTime),
        realTimeClock_(fleet_->clock()),
        plugs_(std::move(plugs)) {}

  HidBus& bus() override { return fleet_->bus(); }
  Clock& clock() override { return realTime_ ? realTimeClock_ : fleet_->clock(); }
  std::string_view name() const override { return "sim"; }
  std::unique_ptr<ArrivalWatch> WatchArrivals() override {
    return std::make_unique<PlugWatch>(fleet_, plugs_, realTime_);
  }

  // Each headset on its own time, so that no worker waits for another.
  std::unique_ptr<Clock> ClockFor(const HidInterface& headset) override {
    const std::optional<std::size_t> member = fleet_->MemberAt(headset.path);
    if (!member) return engine::Host::ClockFor(headset);
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
  std::shared_ptr<VirtualFleet> fleet_;
  std::string stateFile_;
  bool realTime_;
  RealTimeClock realTimeClock_;
  std::vector<PlugStep> plugs_;
};

void Inject(FaultKind kind, Headset& headset) {
  FaultPlan& faults = headset.faults();
  switch (kind) {
    case FaultKind::kBlockSum:
      faults.wrongSumForBlock = 0;
      break;
    case FaultKind::kTotal:
      faults.wrongTotal = true;
      break;
    case FaultKind::kNoReturn:
      faults.staysAwayAfterRestart = true;
      break;
    case FaultKind::kNotBack:
      faults.staysAwayAfterReboot = true;
      break;
    case FaultKind::kUnplug:
      faults.vanishAfterTransfer = kUnplugAfterTransfer;
      break;
    case FaultKind::kLateBoot:
      faults.bootWaitsForAnother = true;
      break;
    case FaultKind::kNoMcuId:
      headset.config().bootGivesMcuId = false;
      break;
  }
}

constexpr std::pair<std::string_view, FaultKind> kFaultNames[] = {
    {"block-sum", FaultKind::kBlockSum}, {"total", FaultKind::kTotal},
    {"no-return", FaultKind::kNoReturn}, {"not-back", FaultKind::kNotBack},
    {"unplug", FaultKind::kUnplug},      {"late-boot", FaultKind::kLateBoot},
    {"no-mcu-id", FaultKind::kNoMcuId}};

// The state file's headset, or a fresh one.
Result<Headset> FirstHeadset(const std::string& stateFile) {
  std::error_code ec;
  // A state file that is not there yet starts a fresh headset.
  if (stateFile.empty() || !std::filesystem::exists(files::PathFromUtf8(stateFile), ec)) {
    return Headset{};
  }
  const Result<std::string> text = files::ReadText(stateFile);
  if (!text) return Failure::kFileUnreadable;
  std::optional<Headset> headset = Headset::Load(*text);
  if (!headset) return Failure::kFileUnreadable;
  // The state keeps the traffic of the last command only.
  headset->ClearLog();
  headset->Advance(headset->config().restartMs);
  return std::move(*headset);
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos || colon > 3) return std::nullopt;
  Fault fault{0, FaultKind::kBlockSum};
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

Result<std::unique_ptr<engine::Host>> MakeHost(const HostSetup& setup) {
  Result<Headset> first = FirstHeadset(setup.stateFile);
  if (!first) return first.failure();
  std::vector<FleetMember> members;
  for (unsigned i = 0; i < setup.count; ++i) {
    Headset headset = i == 0 ? std::move(*first) : Headset{};
    if (i > 0) {
      HeadsetConfig& config = headset.config();
      config.unit = static_cast<std::uint16_t>(i);
      config.mcuId[0] = static_cast<std::uint8_t>(config.mcuId[0] + i);
      headset = Headset(config);
    }
    for (const Fault& fault : setup.faults) {
      if (fault.headset == i + 1) Inject(fault.kind, headset);
    }
    members.push_back({std::move(headset), setup.noPorts ? "" : "1-2." + std::to_string(i + 1)});
  }
  auto fleet = std::make_shared<VirtualFleet>(
      std::move(members), setup.reusePaths ? PathScheme::kReusedNodes : PathScheme::kPerHeadset);
  return std::unique_ptr<engine::Host>(
      std::make_unique<SimHost>(fleet, setup.stateFile, setup.realTime, setup.plugs));
}

std::unique_ptr<engine::Host> MakeHost(std::shared_ptr<VirtualFleet> fleet, bool realTime,
                                       std::vector<PlugStep> plugs) {
  return std::make_unique<SimHost>(std::move(fleet), "", realTime, std::move(plugs));
}

std::string Complete(Options& options, bool station) {
  HostSetup& setup = options.setup;
  setup.stateFile = options.state;
  const bool plugged = options.plugMsGiven || !options.plugFile.empty();
  options.used = options.countGiven || !options.state.empty() || !options.faults.empty() ||
                 setup.realTime || setup.noPorts || setup.reusePaths || plugged;
  if (plugged && !station) return "--sim-plug and --sim-plug-file rehearse a station";
  if (options.plugMsGiven && !options.plugFile.empty()) {
    return "--sim-plug and --sim-plug-file exclude each other";
  }
  if (options.plugMsGiven) setup.plugs = PlugInTurn(setup.count, options.plugMs);
  if (!options.plugFile.empty()) {
    const Result<std::string> script = files::ReadText(options.plugFile);
    if (!script) {
      return "--sim-plug-file: " +
             records::Message(script.failure(), files::WithSystemReason(options.plugFile));
    }
    std::string problem;
    std::optional<std::vector<PlugStep>> steps = ParsePlugScript(*script, setup.count, problem);
    if (!steps) return "--sim-plug-file " + options.plugFile + ": " + problem;
    setup.plugs = std::move(*steps);
  }
  if (!options.state.empty() && setup.count > 1) {
    return "--sim-state keeps one virtual headset only";
  }
  for (const std::string& text : options.faults) {
    const std::optional<Fault> fault = ParseFault(text);
    if (!fault || fault->headset > setup.count) {
      return "--sim-fault: there is no virtual headset " + text;
    }
    setup.faults.push_back(*fault);
  }
  return {};
}

}  // namespace obrint::sim
