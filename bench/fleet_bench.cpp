// A fleet run against virtual headsets: 40 KiB into 1 and into 8 at once. On the real clock every
// headset's waits really pass, each on its own worker; the fleet should take about the time of
// one. On virtual time, what the workers cost outside their waits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sim/sim_host.h"
#include "engine/signals.h"
#include "device/image.h"
#include "engine/fleet.h"
#include "sim/fleet_sim.h"

namespace obrint::cli {
namespace {

using namespace obrint::engine;
using records::LogFile;

constexpr std::size_t kImageSize = 40 * 1024;

// Flashes `count` fresh headsets on ports of their own; the number flashed. Each record is
// appended to `log` as its run ends.
std::size_t FlashFleet(std::size_t count, bool realTime, const LoadedImage& image, LogFile* log) {
  std::vector<sim::FleetMember> members;
  for (std::size_t i = 0; i < count; ++i) {
    sim::HeadsetConfig config;
    config.unit = static_cast<std::uint16_t>(i);
    members.push_back({sim::Headset(config), "1-2." + std::to_string(i + 1)});
  }
  const std::unique_ptr<Host> host =
      sim::MakeHost(std::make_shared<sim::VirtualFleet>(std::move(members)), realTime);
  engine::SignalWatch signals;
  Fleet fleet({*host, image, signals, {}, 10000, log, nullptr});
  std::size_t flashed = 0;
  for (const HeadsetRecord& record : fleet.Flash(*SelectHeadsets(host->bus(), {}))) {
    flashed += record.outcome() == records::RunOutcome::kFlashed;
  }
  return flashed;
}

// `logged`: every record appended to a log on disk and made to last as its run ends.
void RunFleet(benchmark::State& state, bool realTime, bool logged = false) {
  const std::vector<std::uint8_t> bytes = MakeSampleImage(kImageSize);
  LoadedImage image{"bench.bin", bytes, CheckImage(bytes, bytes.size()), ""};
  const std::filesystem::path logPath =
      std::filesystem::temp_directory_path() / "obrint-fleet-bench.log";
  std::optional<LogFile> log;
  if (logged) log.emplace(*LogFile::Open(logPath.string()));
  const auto count = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    if (FlashFleet(count, realTime, image, log ? &*log : nullptr) != count) {
      state.SkipWithError("a headset was not flashed");
      break;
    }
  }
  state.counters["headsets"] = static_cast<double>(count);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * count * kImageSize));
  std::filesystem::remove(logPath);
}

void BM_Fleet40K_VirtualClock(benchmark::State& state) { RunFleet(state, false); }
BENCHMARK(BM_Fleet40K_VirtualClock)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

// The same with each record appended and synced as its run ends: what the records cost.
void BM_Fleet40K_VirtualClockLogged(benchmark::State& state) { RunFleet(state, false, true); }
BENCHMARK(BM_Fleet40K_VirtualClockLogged)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond);

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
