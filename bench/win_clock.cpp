// The Windows clock under the system it runs on (a Windows program; run it on Windows or under
// Wine): how long its 10 ms wait really lasts, next to a plain Sleep(10) at the default timer
// resolution; and the window's 40 KiB upgrade of the simulated headset on it, side by side with a
// minimal flasher that sends the same packets and makes the same waits, in straight-line code,
// against the sum of the waits the upgrade must make. Figures in docs/benchmarks.md.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "device/bytes.h"
#include "device/checksum.h"
#include "device/reports.h"
#include "presenters/firmware_upgrade.h"
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

// The window's side: the image in memory, every question answered yes.
class MemoryImage : public obrint::ImageFile {
 public:
  explicit MemoryImage(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::optional<std::uint32_t> Size() override { return static_cast<std::uint32_t>(bytes_.size()); }
  bool Read(std::uint8_t* dst, std::uint32_t count) override {
    std::memcpy(dst, bytes_.data(), std::min<std::size_t>(count, bytes_.size()));
    return count <= bytes_.size();
  }
  bool Rewind() override { return true; }
  bool Write(const std::uint8_t*, std::uint32_t) override { return false; }

 private:
  const std::vector<std::uint8_t>& bytes_;
};
class Files : public obrint::FileSystem {
 public:
  explicit Files(const std::vector<std::uint8_t>& image) : image_(image) {}
  std::unique_ptr<obrint::ImageFile> OpenForReading(const std::string&) override {
    return std::make_unique<MemoryImage>(image_);
  }
  std::unique_ptr<obrint::ImageFile> OpenForUpdate(const std::string&) override { return nullptr; }

 private:
  const std::vector<std::uint8_t>& image_;
};
class YesWindow : public obrint::presenters::UserInterface {
 public:
  void ShowStatus(std::string_view) override {}
  int ShowWindowBox(std::string_view, std::string_view, unsigned) override {
    return obrint::presenters::kAnswerYes;
  }
  void SetCaption(std::string_view) override {}
  std::string ChooseImageFile() override { return "image.bin"; }
};

// The window's upgrade, as button 1002 runs it.
bool WindowUpgrade(obrint::sim::Headset& headset, obrint::Clock& clock,
                   const std::vector<std::uint8_t>& image) {
  obrint::sim::SimBus bus(headset);
  Files files(image);
  YesWindow window;
  obrint::HeadsetLocation location{headset.interfacePath()};
  std::string imagePath;
  return !obrint::presenters::UpgradeFirmware(bus, clock, files, window, location, imagePath)
              .failed();
}

// The least a flasher can do: the same packets, the same waits, nothing else.
bool MinimalUpgrade(obrint::sim::Headset& headset, obrint::Clock& clock,
                    const std::vector<std::uint8_t>& image) {
  using namespace obrint;
  sim::SimBus bus(headset);
  auto device = bus.Open(headset.interfacePath());
  auto session = bus.OpenSession();
  ReportBuffer b{};
  GetReport58(*device, b);
  SetReport58(*device, 1);
  device.reset();
  clock.Sleep(2000);
  device = bus.Open(*bus.Find(kHeadsetVendorId, kBootProductId));
  clock.Sleep(100);
  GetReport5F(*device, b);
  b[0] = 0x61, b[3] = 0x5A;
  WriteLe16(&b[6], static_cast<std::uint16_t>(image.size()));
  SetReport61(*device, b);
  clock.Sleep(10);
  std::uint32_t total = 0;
  for (std::size_t at = 0; at < image.size(); at += 56) {
    const std::size_t n = std::min<std::size_t>(56, image.size() - at);
    const std::size_t padded = (n + 3) / 4 * 4;
    std::fill_n(&b[8 + n / 4 * 4], 4, std::uint8_t{0});
    std::memcpy(&b[8], &image[at], n);
    b[3] = 0x02;
    WriteLe16(&b[6], static_cast<std::uint16_t>(at + n == image.size() ? padded : n));
    const std::uint16_t sum = BlockSum(std::span(&b[8], padded));
    WriteLe16(&b[4], sum);
    SetReport61(*device, b);
    clock.Sleep(10);
    WriteLe16(&b[4], 0);
    GetReport61(*device, b);
    total += sum;
  }
  b[0] = 0x61, b[3] = 0x10;
  WriteLe16(&b[4], Fold(total));
  SetReport61(*device, b);
  clock.Sleep(20);
  clock.Sleep(100);
  WriteLe16(&b[4], 0);
  GetReport61(*device, b);
  b[0] = 0x61, b[3] = 0x11;
  return SetReport61(*device, b);
}

}  // namespace

int main() {
  {
    obrint::win::Win32Clock clock;
    TimeWaits("Win32Clock::Sleep(10)", [&] { clock.Sleep(10); });
  }
  TimeWaits("Sleep(10), default timer", [] { ::Sleep(10); });

  std::vector<std::uint8_t> image(40 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + 7);
  // Alternately, so that a slow spell of the machine falls on both alike.
  bool flashed = true;
  double window = 0, minimal = 0;
  unsigned mandated = 0;
  constexpr int kRuns = 3;
  for (int run = 0; run < kRuns; ++run) {
    for (const bool minimalRun : {false, true}) {
      obrint::sim::Headset headset;
      HeadsetOnWin32Clock clock(headset);
      const double start = NowMs();
      const bool done =
          minimalRun ? MinimalUpgrade(headset, clock, image) : WindowUpgrade(headset, clock, image);
      (minimalRun ? minimal : window) += NowMs() - start;
      flashed = flashed && done && headset.flashed() == image;
      mandated = clock.mandatedMs();
    }
  }
  window /= kRuns;
  minimal /= kRuns;
  std::printf(
      "40 KiB upgrade, minimal flasher     %8.0f ms for %u ms of mandated waits (+%.1f%%)\n",
      minimal, mandated, 100.0 * (minimal - mandated) / mandated);
  std::printf("40 KiB upgrade, the window's        %8.0f ms (%+.2f%% against the minimal)%s\n",
              window, 100.0 * (window - minimal) / minimal, flashed ? "" : "  FAILED");
  return flashed ? 0 : 1;
}
