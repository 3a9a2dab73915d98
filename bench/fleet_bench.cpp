// A fleet run against virtual headsets: 40 KiB into 1 and into 8 at once. On the real clock every
// headset's waits really pass, each on its own worker; the fleet should take about the time of
// one. On virtual time, what the workers cost outside their waits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/backend.h"
#include "cli/fleet.h"
#include "cli/std_files.h"
#include "sim/fleet_sim.h"

namespace obrint::cli {
namespace {

constexpr std::size_t kImageSize = 40 * 1024;

// A 40 KiB image in the temporary folder, removed at the end.
class ImageOnDisk {
 public:
  ImageOnDisk() : path_(std::filesystem::temp_directory_path() / "obrint-fleet-bench.bin") {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    for (std::size_t i = 0; i < kImageSize; ++i) out.put(static_cast<char>(i * 131 + 7));
  }
  ~ImageOnDisk() { std::filesystem::remove(path_); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

// Flashes `count` fresh headsets on ports of their own; the number flashed.
std::size_t FlashFleet(std::size_t count, bool realTime, const std::string& image) {
  std::vector<sim::FleetMember> members;
  for (std::size_t i = 0; i < count; ++i) {
    sim::HeadsetConfig config;
    config.unit = static_cast<std::uint16_t>(i);
    members.push_back({sim::Headset(config), "1-2." + std::to_string(i + 1)});
  }
  const std::unique_ptr<Backend> backend =
      MakeSimBackend(std::make_shared<sim::Fleet>(std::move(members)), realTime);
  std::vector<FleetTarget> targets;
  for (const AttachedInterface& found : FleetHeadsets(*backend, kHeadsetVendorId)) {
    targets.push_back({found, image});
  }
  StdFileSystem files;
  FleetRun fleet(*backend, files, FleetOptions{});
  std::size_t flashed = 0;
  for (const HeadsetRun& run : fleet.Flash(targets))
    flashed += run.outcome == FleetOutcome::kFlashed;
  return flashed;
}

void RunFleet(benchmark::State& state, bool realTime) {
  const ImageOnDisk image;
  const auto count = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    if (FlashFleet(count, realTime, image.path()) != count) {
      state.SkipWithError("a headset was not flashed");
      break;
    }
  }
  state.counters["headsets"] = static_cast<double>(count);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * kImageSize));
}

void BM_Fleet40K_VirtualClock(benchmark::State& state) { RunFleet(state, false); }
BENCHMARK(BM_Fleet40K_VirtualClock)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// Wall time: 8 headsets against 1 is the figure that counts.
void BM_Fleet40K_RealClock(benchmark::State& state) { RunFleet(state, true); }
BENCHMARK(BM_Fleet40K_RealClock)
    ->Arg(1)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
}  // namespace obrint::cli
