// A station on the real clock: 8 virtual headsets plugged in one after another, 20 ms apart, each
// flashed with 40 KiB as it arrives. Its headsets per hour against the limit that the mandated
// waits set with 8 ports in parallel: 8 headsets every 11,550 ms (the upgrade's 9,550 ms of fixed
// waits, then the first look for the headset back after its reboot, 2,000 ms on).
#include <benchmark/benchmark.h>

#include <chrono>

#include "sim/sim_host.h"
#include "engine/signals.h"
#include "engine/station.h"
#include "device/image.h"
#include "sim/fleet_sim.h"

namespace obrint::cli {
namespace {

using namespace obrint::engine;

constexpr std::size_t kPorts = 8;
constexpr unsigned kGapMs = 20;
constexpr double kMandatedMs = 2000 + 100 + 10 + 732 * 10 + 20 + 100 + 2000;

void BM_Station8_RealClock(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = MakeSampleImage(40 * 1024);
  const LoadedImage image{"bench.bin", bytes, CheckImage(bytes, bytes.size()), ""};
  double perHour = 0;
  for (auto _ : state) {
    std::vector<sim::FleetMember> members;
    for (std::size_t i = 0; i < kPorts; ++i) {
      sim::HeadsetConfig config;
      config.unit = static_cast<std::uint16_t>(i);
      config.mcuId[0] = static_cast<std::uint8_t>(i);
      members.push_back({sim::Headset(config), "1-2." + std::to_string(i + 1)});
    }
    const std::unique_ptr<Host> host =
        sim::MakeHost(std::make_shared<sim::VirtualFleet>(std::move(members)), true,
                    sim::PlugInTurn(kPorts, kGapMs));
    const std::unique_ptr<ArrivalWatch> watch = host->WatchArrivals();
    engine::SignalWatch signals;
    StationRules rules;
    rules.maxHeadsets = kPorts;
    std::optional<std::chrono::steady_clock::time_point> first, last;
    std::size_t flashed = 0;
    Station station({*host, image, signals, {}, 10000, nullptr, nullptr}, rules,
                    [&](const StationEvent& event) {
                      if (event.kind == StationEvent::Kind::kStart && !first)
                        first = std::chrono::steady_clock::now();
                      if (event.kind != StationEvent::Kind::kDone) return;
                      last = std::chrono::steady_clock::now();
                      flashed += event.record->outcome() == records::RunOutcome::kFlashed;
                    });
    station.Run(*watch);
    if (flashed != kPorts) {
      state.SkipWithError("a headset was not flashed");
      break;
    }
    perHour = 3600.0 * static_cast<double>(flashed) /
              std::chrono::duration<double>(*last - *first).count();
  }
  const double limit = 3600.0 * kPorts / (kMandatedMs / 1000.0);
  state.counters["per_hour"] = perHour;
  state.counters["limit_per_hour"] = limit;
  state.counters["of_limit_pct"] = 100.0 * perHour / limit;
}
BENCHMARK(BM_Station8_RealClock)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
}  // namespace obrint::cli
