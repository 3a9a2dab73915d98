// obrint-cli in-process against the virtual headset, with a scratch folder of its own per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "engine/fleet.h"
#include "records/failures.h"
#include "sim/headset_sim.h"

namespace obrint::cli::testing {

using namespace obrint::engine;
using namespace obrint::files;
using namespace obrint::records;

// A fleet's observer made of the hooks a test sets.
struct Hooks : FleetObserver {
  std::function<void(std::size_t, RunStage, std::uint32_t, std::uint32_t)> progress;
  std::function<void(std::size_t, const UpgradeEvent&)> step;
  std::function<void(std::size_t, const HeadsetRecord&)> ended;
  std::function<bool(std::size_t)> confirm;
  void Progress(std::size_t run, RunStage stage, std::uint32_t sent, std::uint32_t size) override {
    if (progress) progress(run, stage, sent, size);
  }
  void Step(std::size_t run, const UpgradeEvent& event) override {
    if (step) step(run, event);
  }
  void Ended(std::size_t run, const HeadsetRecord& record) override {
    if (ended) ended(run, record);
  }
  bool ConfirmReboot(std::size_t run) override { return !confirm || confirm(run); }
};

using Bytes = std::vector<std::uint8_t>;

struct CliRun {
  int code = -1;
  std::string out, err;
  // The one object --json printed on stdout.
  nlohmann::json Json() const {
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << "stdout: " << out;
    return nlohmann::json::parse(out);
  }
};

// `terminal`: stdin and stderr are a terminal.
inline CliRun RunCliWith(std::vector<std::string> args, const std::string& input = "",
                         bool terminal = false, TerminalSize (*errSize)() = nullptr) {
  args.insert(args.begin(), "obrint-cli");
  std::ostringstream out, err;
  std::istringstream in(input);
  const int code = RunCli(args, {out, err, in, terminal, true, terminal, errSize});
  return {code, out.str(), err.str()};
}

class ScratchDir {
 public:
  ScratchDir() { std::filesystem::create_directories(path_); }
  ~ScratchDir() { std::filesystem::remove_all(path_, error_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                ("obrint-cli-" + std::to_string(std::random_device{}()));
  std::error_code error_;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline sim::Headset LoadHeadset(const std::string& path) {
  const Bytes text = ReadBytes(path);
  std::optional<sim::Headset> headset = sim::Headset::Load(std::string(text.begin(), text.end()));
  EXPECT_TRUE(headset) << path << " holds no headset state";
  return headset ? std::move(*headset) : sim::Headset{};
}

}  // namespace obrint::cli::testing
