// The virtual headsets: the simulator the tests use, with virtual time, so that their waits cost
// nothing. Between two commands that share a state file, the headset gets the time it needs to
// finish a restart, as it would while the user types the next command.
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "cli/backend.h"
#include "cli/std_files.h"
#include "sim/fleet_sim.h"

namespace obrint::cli {
namespace {

// A Data block well inside any image, and a transfer well inside a 40 KiB one.
constexpr int kUnplugAfterTransfer = 40;

class SimBackend : public Backend {
 public:
  SimBackend(std::shared_ptr<sim::Fleet> fleet, std::string stateFile, bool realTime)
      : fleet_(std::move(fleet)), stateFile_(std::move(stateFile)), realTime_(realTime) {}

  HidLink& link() override { return fleet_->link(); }
  Clock& clock() override { return fleet_->clock(); }
  std::string_view name() const override { return "sim"; }

  // Each headset on its own time, so that no worker waits for another.
  std::unique_ptr<Clock> WorkerClock(const AttachedInterface& headset) override {
    const std::optional<std::size_t> member = fleet_->MemberAt(headset.path);
    if (!member) return Backend::WorkerClock(headset);
    return fleet_->MemberClock(*member, realTime_);
  }

  std::vector<AttachedInterface> Enumerate(std::uint16_t vid) override {
    std::vector<AttachedInterface> found;
    if (vid != kHeadsetVendorId) return found;
    for (const sim::Fleet::Interface& attached : fleet_->Attached()) {
      found.push_back({attached.path, kHeadsetVendorId, attached.pid, -1, attached.port});
    }
    return found;
  }

  bool Finish(std::string& error) override {
    if (stateFile_.empty()) return true;
    // Written next to the file and renamed over it, so that a failed write keeps the old state.
    const std::filesystem::path target = PathFromUtf8(stateFile_);
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << fleet_->headset(0).Save();
      out.close();
      if (!out) {
        error = "cannot write the virtual headset's state to " + stateFile_;
        return false;
      }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, target, ec);
    if (ec) {
      std::filesystem::remove(temporary, ec);
      error = "cannot replace " + stateFile_;
      return false;
    }
    return true;
  }

 private:
  std::shared_ptr<sim::Fleet> fleet_;
  std::string stateFile_;
  bool realTime_;
};

void Inject(SimFaultKind kind, sim::FaultPlan& faults) {
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
    case SimFaultKind::kUnplug:
      faults.vanishAfterTransfer = kUnplugAfterTransfer;
      break;
  }
}

// The state file's headset, or a fresh one; nullopt, with the reason, when the file is no state.
std::optional<sim::Headset> FirstHeadset(const std::string& stateFile, std::string& error) {
  std::error_code ec;
  if (stateFile.empty() || !std::filesystem::exists(PathFromUtf8(stateFile), ec)) {
    return sim::Headset{};
  }
  std::ifstream in(PathFromUtf8(stateFile), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    error = "cannot read the virtual headset's state from " + stateFile;
    return std::nullopt;
  }
  std::optional<sim::Headset> headset = sim::Headset::Load(text.str());
  if (!headset) {
    error = stateFile + " holds no virtual headset state";
    return std::nullopt;
  }
  // The state keeps the traffic of the last command only.
  headset->ClearLog();
  headset->Advance(headset->config().restartMs);
  return headset;
}

}  // namespace

std::optional<SimFault> ParseSimFault(std::string_view text) {
  static constexpr std::pair<std::string_view, SimFaultKind> kKinds[] = {
      {"block-sum", SimFaultKind::kBlockSum},
      {"total", SimFaultKind::kTotal},
      {"no-return", SimFaultKind::kNoReturn},
      {"unplug", SimFaultKind::kUnplug}};
  const std::size_t colon = text.find(':');
  if (colon == 0 || colon == std::string_view::npos || colon > 3) return std::nullopt;
  SimFault fault{0, SimFaultKind::kBlockSum};
  for (const char digit : text.substr(0, colon)) {
    if (digit < '0' || digit > '9') return std::nullopt;
    fault.headset = fault.headset * 10 + static_cast<unsigned>(digit - '0');
  }
  for (const auto& [name, kind] : kKinds) {
    if (text.substr(colon + 1) == name && fault.headset > 0) {
      fault.kind = kind;
      return fault;
    }
  }
  return std::nullopt;
}

std::unique_ptr<Backend> MakeSimBackend(const SimSetup& setup, std::string& error) {
  std::optional<sim::Headset> first = FirstHeadset(setup.stateFile, error);
  if (!first) return nullptr;
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
      if (fault.headset == i + 1) Inject(fault.kind, headset.faults());
    }
    members.push_back({std::move(headset), setup.noPorts ? "" : "1-2." + std::to_string(i + 1)});
  }
  return std::make_unique<SimBackend>(std::make_shared<sim::Fleet>(std::move(members)),
                                      setup.stateFile, setup.realTime);
}

std::unique_ptr<Backend> MakeSimBackend(std::shared_ptr<sim::Fleet> fleet, bool realTime) {
  return std::make_unique<SimBackend>(std::move(fleet), "", realTime);
}

}  // namespace obrint::cli
