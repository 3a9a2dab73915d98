// A 40 KiB firmware upgrade against the simulated headset: with virtual time, the host's own work
// outside the fixed waits; with real sleeps, the whole run against the sum of the waits.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "presenters/firmware_upgrade.h"
#include "native/fakes.h"
#include "sim/headset_sim.h"

namespace obrint {
namespace {

constexpr std::size_t kImageSize = 40 * 1024;
constexpr char kImagePath[] = "fw.bin";

std::vector<std::uint8_t> MakeImage() {
  std::vector<std::uint8_t> image(kImageSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + 7);
  return image;
}

// Waits that really pass: sleeps on the calling thread, and moves the headset's time on by the
// same amount so that it answers as a real one would after that long.
class SleepingClock : public Clock {
 public:
  explicit SleepingClock(sim::Headset& headset) : headset_(headset) {}
  void Sleep(unsigned ms) override {
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    const double slept =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    overshootMs_ += slept - ms;
    headset_.Advance(ms);
    mandatedMs_ += ms;
    ++waits_;
  }
  std::uint64_t mandatedMs() const { return mandatedMs_; }
  int waits() const { return waits_; }
  // How much longer than asked the sleeps lasted, together.
  double overshootMs() const { return overshootMs_; }

 private:
  sim::Headset& headset_;
  std::uint64_t mandatedMs_ = 0;
  int waits_ = 0;
  double overshootMs_ = 0;
};

// What one upgrade took.
struct RunStats {
  bool succeeded = false;  // and the headset holds the image
  std::uint64_t mandatedMs = 0;
  int waits = 0;
  double overshootMs = 0;
};

// One upgrade from a fresh headset.
template <typename MakeClock>
RunStats Upgrade(const std::vector<std::uint8_t>& image, MakeClock makeClock) {
  sim::Headset headset;
  sim::SimBus bus(headset);
  auto clock = makeClock(headset);
  fakes::FakeFileSystem files;
  files.Add(kImagePath, image);
  fakes::FakeUserInterface ui;
  ui.choices.push_back(kImagePath);
  HeadsetLocation location;
  location.pid = headset.config().applicationProductId;
  std::string imagePath;
  const Status outcome = presenters::UpgradeFirmware(bus, clock, files, ui, location, imagePath);

  RunStats stats;
  stats.succeeded = !outcome.failed() && headset.flashed() == image;
  if constexpr (std::is_same_v<decltype(clock), SleepingClock>) {
    stats.mandatedMs = clock.mandatedMs();
    stats.waits = clock.waits();
    stats.overshootMs = clock.overshootMs();
  } else {
    stats.mandatedMs = clock.sleptMs();
    stats.waits = static_cast<int>(clock.waits().size());
  }
  return stats;
}

void Report(benchmark::State& state, const RunStats& stats) {
  state.counters["mandated_ms"] = static_cast<double>(stats.mandatedMs);
  state.counters["waits"] = stats.waits;
  state.counters["blocks"] = static_cast<double>((kImageSize + 55) / 56);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kImageSize));
}

// Virtual time: every wait returns at once, so the time measured is the host's and the simulated
// headset's work alone, the time the run spends outside the waits it must make.
void BM_Upgrade40K_VirtualClock(benchmark::State& state) {
  const std::vector<std::uint8_t> image = MakeImage();
  RunStats stats;
  for (auto _ : state) {
    stats = Upgrade(image, [](sim::Headset& h) { return sim::SimClock(h); });
    if (!stats.succeeded) {
      state.SkipWithError("the upgrade failed");
      break;
    }
  }
  Report(state, stats);
}
BENCHMARK(BM_Upgrade40K_VirtualClock)->Unit(benchmark::kMillisecond);

// Real sleeps: the whole run, to set against the sum of the fixed waits (mandated_ms). The
// difference, overhead_ms, is how much the sleeps overshoot (overshoot_ms) plus the work between
// them (work_ms).
void BM_Upgrade40K_RealClock(benchmark::State& state) {
  const std::vector<std::uint8_t> image = MakeImage();
  RunStats stats;
  double wallMs = 0;
  double overshootMs = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    stats = Upgrade(image, [](sim::Headset& h) { return SleepingClock(h); });
    wallMs +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    overshootMs += stats.overshootMs;
    if (!stats.succeeded) {
      state.SkipWithError("the upgrade failed");
      break;
    }
  }
  Report(state, stats);
  const double runs = static_cast<double>(state.iterations());
  const double overheadMs = wallMs / runs - static_cast<double>(stats.mandatedMs);
  state.counters["overhead_ms"] = overheadMs;
  state.counters["overhead_pct"] = 100.0 * overheadMs / static_cast<double>(stats.mandatedMs);
  state.counters["overshoot_ms"] = overshootMs / runs;
  state.counters["work_ms"] = overheadMs - overshootMs / runs;
}
BENCHMARK(BM_Upgrade40K_RealClock)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace obrint
