// The sums over a 64 KiB image, and stamping a 64 KiB image file held in memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "device/bytes.h"
#include "device/checksum.h"
#include "device/image.h"
#include "presenters/image_stamp.h"
#include "device/reports.h"
#include "native/fakes.h"

namespace obrint {
namespace {

constexpr std::size_t kImageSize = 64 * 1024;

std::vector<std::uint8_t> MakeImage(std::size_t size) {
  std::vector<std::uint8_t> image(size);
  std::uint32_t x = 0x9E3779B9;
  for (auto& b : image) {
    x = x * 1664525 + 1013904223;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return image;
}

// An image that the stamp accepts: the version block's magic in place.
std::vector<std::uint8_t> MakeStampableImage() {
  std::vector<std::uint8_t> image = MakeImage(kImageSize);
  WriteLe32(&image[kVersionBlockOffset], kVersionMagic);
  return image;
}

void SetBytes(benchmark::State& state, std::size_t perIteration) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * perIteration));
}

// The image checksum stamped into the version block: 16-bit words summed into 32 bits.
void BM_ImageChecksum64K(benchmark::State& state) {
  const std::vector<std::uint8_t> image = MakeImage(kImageSize);
  for (auto _ : state) benchmark::DoNotOptimize(ImageChecksum(image));
  SetBytes(state, kImageSize);
}
BENCHMARK(BM_ImageChecksum64K);

// The image total of the transfer: the image cut into 56-byte blocks, each summed and folded.
void BM_ImageTotal64K(benchmark::State& state) {
  const std::vector<std::uint8_t> image = MakeImage(kImageSize);
  for (auto _ : state) benchmark::DoNotOptimize(ImageTotal(image));
  SetBytes(state, kImageSize);
}
BENCHMARK(BM_ImageTotal64K);

// One block's sum, as the upgrade computes it for every Data packet.
void BM_BlockSum56(benchmark::State& state) {
  const std::vector<std::uint8_t> block = MakeImage(kTransferBlockSize);
  for (auto _ : state) benchmark::DoNotOptimize(BlockSum(block));
  SetBytes(state, kTransferBlockSize);
}
BENCHMARK(BM_BlockSum56);

// The whole stamp command on a file in memory: open, a zero-filled 64 KiB buffer, read, check the
// magic, sum, write the whole file back, close.
void BM_StampImageFile64K(benchmark::State& state) {
  fakes::FakeFileSystem files;
  files.Add("image.bin", MakeStampableImage());
  fakes::FakeUserInterface ui;
  for (auto _ : state) {
    if (presenters::StampImageFile(files, ui, "image.bin").failed()) {
      state.SkipWithError("the image was not stamped");
      break;
    }
    ui.boxes.clear();
  }
  SetBytes(state, kImageSize);
}
BENCHMARK(BM_StampImageFile64K);

}  // namespace
}  // namespace obrint
