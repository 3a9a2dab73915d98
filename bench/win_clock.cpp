// The Windows clock under the system it runs on (a Windows program; run it on Windows or under
// Wine): how long its 10 ms wait really lasts, next to a plain Sleep(10) at the default timer
// resolution, and a 40 KiB upgrade of the simulated headset on it against the sum of the waits the
// upgrade must make. Figures in docs/benchmarks.md.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "device/upgrade.h"
#include "sim/headset_sim.h"
#include "win/clock.h"

namespace {

double NowMs() {
  LARGE_INTEGER frequency{};
  LARGE_INTEGER now{};
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void TimeWaits(const char* what, const std::function<void()>& wait) {
  constexpr int kWaits = 200;
  std::vector<double> lasted;
  for (int i = 0; i < kWaits; ++i) {
    const double start = NowMs();
    wait();
    lasted.push_back(NowMs() - start);
  }
  double sum = 0;
  for (const double ms : lasted) sum += ms;
  std::printf("%-34s shortest %6.3f ms  mean %6.3f ms  worst %6.3f ms  (%d waits)\n", what,
              *std::min_element(lasted.begin(), lasted.end()), sum / kWaits,
              *std::max_element(lasted.begin(), lasted.end()), kWaits);
}

// The Windows clock's waits, passed on to the simulated headset's time as they were asked for.
class HeadsetOnWin32Clock : public obrint::Clock {
 public:
  explicit HeadsetOnWin32Clock(obrint::sim::Headset& headset) : headset_(headset) {}
  void Sleep(unsigned ms) override {
    clock_.Sleep(ms);
    headset_.Advance(ms);
    mandatedMs_ += ms;
  }
  unsigned mandatedMs() const { return mandatedMs_; }

 private:
  obrint::win::Win32Clock clock_;
  obrint::sim::Headset& headset_;
  unsigned mandatedMs_ = 0;
};

}  // namespace

int main() {
  {
    obrint::win::Win32Clock clock;
    TimeWaits("Win32Clock::Sleep(10)", [&] { clock.Sleep(10); });
  }
  TimeWaits("Sleep(10), default timer", [] { ::Sleep(10); });

  std::vector<std::uint8_t> image(40 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + 7);
  obrint::sim::Headset headset;
  obrint::sim::SimBus bus(headset);
  HeadsetOnWin32Clock clock(headset);
  obrint::UpgradeHooks hooks;
  hooks.findBootFirmware = [&] {
    return bus.Find(obrint::kHeadsetVendorId, obrint::kBootProductId);
  };
  const double start = NowMs();
  obrint::FirmwareUpgrade upgrade(bus, clock, image, hooks);
  const obrint::Status status = upgrade.Run(headset.interfacePath());
  upgrade.Release();
  const double wallMs = NowMs() - start;
  const bool flashed = !status.failed() && headset.flashed() == image;
  std::printf(
      "40 KiB upgrade on Win32Clock        %8.0f ms for %u ms of mandated waits (+%.1f%%)%s\n",
      wallMs, clock.mandatedMs(), 100.0 * (wallMs - clock.mandatedMs()) / clock.mandatedMs(),
      flashed ? "" : "  FAILED");
  return flashed ? 0 : 1;
}
