// The virtual headset: the simulator the tests use, with virtual time, so that its waits cost
// nothing. Between two commands that share a state file, the headset gets the time it needs to
// finish a restart, as it would while the user types the next command.
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "cli/backend.h"
#include "cli/std_files.h"
#include "sim/headset_sim.h"

namespace obrint::cli {
namespace {

class SimBackend : public Backend {
 public:
  SimBackend(sim::Headset headset, std::string stateFile)
      : headset_(std::move(headset)),
        link_(headset_),
        clock_(headset_),
        stateFile_(std::move(stateFile)) {}

  HidLink& link() override { return link_; }
  Clock& clock() override { return clock_; }
  std::string_view name() const override { return "sim"; }

  std::vector<AttachedInterface> Enumerate(std::uint16_t vid) override {
    if (!headset_.present() || vid != kHeadsetVendorId) return {};
    return {{headset_.interfacePath(), kHeadsetVendorId, headset_.productId(), -1}};
  }

  bool Finish(std::string& error) override {
    if (stateFile_.empty()) return true;
    // Written next to the file and renamed over it, so that a failed write keeps the old state.
    const std::filesystem::path target = PathFromUtf8(stateFile_);
    std::filesystem::path temporary = target;
    temporary += ".tmp";
    {
      std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
      out << headset_.Save();
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
  sim::Headset headset_;
  sim::SimHidLink link_;
  sim::SimClock clock_;
  std::string stateFile_;
};

}  // namespace

std::unique_ptr<Backend> MakeSimBackend(const std::string& stateFile, std::string& error) {
  std::error_code ec;
  if (stateFile.empty() || !std::filesystem::exists(PathFromUtf8(stateFile), ec)) {
    return std::make_unique<SimBackend>(sim::Headset{}, stateFile);
  }
  std::ifstream in(PathFromUtf8(stateFile), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    error = "cannot read the virtual headset's state from " + stateFile;
    return nullptr;
  }
  std::optional<sim::Headset> headset = sim::Headset::Load(text.str());
  if (!headset) {
    error = stateFile + " holds no virtual headset state";
    return nullptr;
  }
  // The state keeps the traffic of the last command only.
  headset->ClearLog();
  headset->Advance(headset->config().restartMs);
  return std::make_unique<SimBackend>(std::move(*headset), stateFile);
}

}  // namespace obrint::cli
