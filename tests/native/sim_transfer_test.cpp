// The boot firmware's transfer protocol over report 0x61, driven directly: Begin, Data, Finish and
// Reboot, their pacing, the answers' bytes, and the faults that spoil sums.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/headset_sim.h"

namespace obrint::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Packet = std::array<std::uint8_t, 64>;

constexpr std::uint8_t kBegin = 0x5A;
constexpr std::uint8_t kData = 0x02;
constexpr std::uint8_t kFinish = 0x10;
constexpr std::uint8_t kReboot = 0x11;
constexpr std::size_t kBlock = 56;

// Sums worked out apart from the headset: even bytes count once, odd bytes 256 times, which is
// the same as adding the little-endian 16-bit words; zero padding adds nothing.
std::uint16_t ExpectedBlockSum(const std::uint8_t* data, std::size_t length) {
  std::uint32_t even = 0;
  std::uint32_t odd = 0;
  for (std::size_t i = 0; i < length; ++i) (i % 2 == 0 ? even : odd) += data[i];
  const std::uint32_t s = even + odd * 256u;
  return static_cast<std::uint16_t>((s & 0xFFFFu) + (s >> 16));
}
std::uint16_t ExpectedTotal(const std::vector<std::uint16_t>& blockSums) {
  std::uint32_t s = 0;
  for (std::uint16_t b : blockSums) s += b;
  return static_cast<std::uint16_t>((s & 0xFFFFu) + (s >> 16));
}

Bytes Image(std::size_t size, unsigned seed = 1) {
  Bytes image(size);
  unsigned x = seed * 2654435761u + 12345u;
  for (auto& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return image;
}

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void PutLe16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

Packet Command(std::uint8_t command, std::uint16_t sum = 0, std::uint16_t length = 0) {
  Packet p{};
  p[0] = 0x61;
  p[3] = command;
  PutLe16(p.data() + 4, sum);
  PutLe16(p.data() + 6, length);
  return p;
}

// The Data packet of one block: data zero-padded to whole 32-bit words, length counting them.
Packet DataPacket(const std::uint8_t* data, std::size_t length, std::uint16_t sum) {
  const std::size_t padded = (length + 3) / 4 * 4;
  Packet p = Command(kData, sum, static_cast<std::uint16_t>(padded));
  std::copy(data, data + length, p.begin() + 8);
  return p;
}

class BootHeadsetTest : public ::testing::Test {
 protected:
  BootHeadsetTest() : h_(BootConfig()) {}
  static HeadsetConfig BootConfig() {
    HeadsetConfig config;
    config.startIn = Firmware::kBoot;
    return config;
  }
  bool Send(const Packet& p) { return h_.SetFeature(h_.generation(), p.data(), p.size()); }
  Packet Read() {
    Packet p{};
    p[0] = 0x61;
    EXPECT_TRUE(h_.GetFeature(h_.generation(), p.data(), p.size()));
    return p;
  }
  std::uint16_t ReadSum() {
    const Packet p = Read();
    return Le16(p.data() + 4);
  }

  // Streams a whole image with the host's waits; gives the block sums the headset answered.
  std::vector<std::uint16_t> Stream(const Bytes& image) {
    std::vector<std::uint16_t> answered;
    EXPECT_TRUE(Send(Command(kBegin, 0, static_cast<std::uint16_t>(image.size()))));
    h_.Advance(10);
    for (std::size_t offset = 0; offset < image.size(); offset += kBlock) {
      const std::size_t length = std::min(kBlock, image.size() - offset);
      const std::uint16_t sum = ExpectedBlockSum(image.data() + offset, length);
      EXPECT_TRUE(Send(DataPacket(image.data() + offset, length, sum)));
      h_.Advance(10);
      answered.push_back(ReadSum());
    }
    return answered;
  }

  // Finish answered "rejected", and a Reboot that leaves the old firmware in place.
  void ExpectRejectedAndNotFlashed(std::uint16_t total) {
    ASSERT_TRUE(Send(Command(kFinish, total)));
    h_.Advance(120);
    EXPECT_EQ(Read()[8], 3) << "rejected";
    ASSERT_TRUE(Send(Command(kReboot)));
    h_.Advance(h_.config().restartMs);
    EXPECT_TRUE(h_.flashed().empty());
  }

  Headset h_;
};

class FullRunTest : public BootHeadsetTest, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(FullRunTest, VerifiedImageIsFlashedOnReboot) {
  const Bytes image = Image(GetParam());
  std::vector<std::uint16_t> expected;
  for (std::size_t offset = 0; offset < image.size(); offset += kBlock) {
    expected.push_back(
        ExpectedBlockSum(image.data() + offset, std::min(kBlock, image.size() - offset)));
  }

  EXPECT_EQ(Stream(image), expected);
  const std::uint16_t total = ExpectedTotal(expected);
  ASSERT_TRUE(Send(Command(kFinish, total)));
  h_.Advance(120);
  const Packet answer = Read();
  EXPECT_EQ(Le16(answer.data() + 4), total);
  EXPECT_EQ(answer[8], 2) << "verified";

  // What arrived is the image plus the zero padding of its last block.
  Bytes padded = image;
  padded.resize((image.size() + 3) / 4 * 4, 0);
  EXPECT_EQ(h_.received(), padded);

  const std::uint32_t generation = h_.generation();
  ASSERT_TRUE(Send(Command(kReboot)));
  EXPECT_FALSE(h_.present());
  EXPECT_NE(h_.generation(), generation);
  h_.Advance(h_.config().restartMs);
  ASSERT_TRUE(h_.present());
  EXPECT_EQ(h_.firmware(), Firmware::kApplication);
  EXPECT_EQ(h_.productId(), h_.config().applicationProductId);
  EXPECT_EQ(h_.flashed(), image);
}

// Empty, one word, a partial word, exactly one block, one block and five bytes (length 8), two
// whole blocks, and an image long enough for its block sums' total to carry past 16 bits.
INSTANTIATE_TEST_SUITE_P(Sizes, FullRunTest,
                         ::testing::Values(0u, 4u, 5u, 56u, 61u, 112u, 1000u, 40000u));

TEST_F(BootHeadsetTest, FoldDropsTheCarryOfItsAddition) {
  // Words FFFF FFFF FFFF 0002 add up to 0x2FFFF; FFFF + 2 carries out of 16 bits, and the carry
  // is dropped: the block sum is 1, not 2.
  const Bytes block = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00};
  ASSERT_EQ(ExpectedBlockSum(block.data(), block.size()), 1);
  EXPECT_EQ(Stream(block), (std::vector<std::uint16_t>{1}));

  // Three blocks of sum FFFF and a last one of sum 2 total 0x2FFFF: the image total is 1 too.
  Bytes image(3 * kBlock + 4, 0);
  for (std::size_t b = 0; b < 3; ++b) image[b * kBlock] = image[b * kBlock + 1] = 0xFF;
  image[3 * kBlock] = 0x02;
  const std::vector<std::uint16_t> sums = Stream(image);
  EXPECT_EQ(sums, (std::vector<std::uint16_t>{0xFFFF, 0xFFFF, 0xFFFF, 2}));
  ASSERT_EQ(ExpectedTotal(sums), 1);
  ASSERT_TRUE(Send(Command(kFinish, 1)));
  h_.Advance(120);
  EXPECT_EQ(ReadSum(), 1);
  EXPECT_EQ(Read()[8], 2);
}

TEST_F(BootHeadsetTest, AnswerCarriesCounterCommandReceivedCountAndState) {
  Packet a = Read();
  EXPECT_EQ(a[0], 0x61);
  EXPECT_EQ(Le16(a.data() + 1), 0);
  EXPECT_EQ(a[8], 0) << "idle";

  const Bytes image = Image(100);
  ASSERT_TRUE(Send(Command(kBegin, 0, 100)));
  a = Read();
  EXPECT_EQ(Le16(a.data() + 1), 1);
  EXPECT_EQ(a[3], kBegin);
  EXPECT_EQ(Le16(a.data() + 4), 0);
  EXPECT_EQ(Le16(a.data() + 6), 0);
  EXPECT_EQ(a[8], 1) << "receiving";

  h_.Advance(10);
  ASSERT_TRUE(Send(DataPacket(image.data(), kBlock, ExpectedBlockSum(image.data(), kBlock))));
  h_.Advance(10);
  a = Read();
  EXPECT_EQ(Le16(a.data() + 1), 2);
  EXPECT_EQ(a[3], kData);
  EXPECT_EQ(Le16(a.data() + 6), kBlock);
  for (std::size_t i = 9; i < a.size(); ++i) EXPECT_EQ(a[i], 0xA5) << i;
}

TEST_F(BootHeadsetTest, DataTooSoonAfterBeginIsLost) {
  const Bytes image = Image(56);
  const std::uint16_t sum = ExpectedBlockSum(image.data(), 56);
  ASSERT_TRUE(Send(Command(kBegin, 0, 56)));
  h_.Advance(9);
  ASSERT_TRUE(Send(DataPacket(image.data(), 56, sum)));
  h_.Advance(10);
  EXPECT_EQ(ReadSum(), 0);
  EXPECT_TRUE(h_.received().empty());

  ExpectRejectedAndNotFlashed(sum);
}

TEST_F(BootHeadsetTest, BlockSumIsReadyTenMillisecondsAfterData) {
  const Bytes image = Image(56);
  const std::uint16_t sum = ExpectedBlockSum(image.data(), 56);
  ASSERT_NE(sum, 0);
  ASSERT_TRUE(Send(Command(kBegin, 0, 56)));
  h_.Advance(10);
  ASSERT_TRUE(Send(DataPacket(image.data(), 56, sum)));
  EXPECT_EQ(ReadSum(), 0);
  h_.Advance(9);
  EXPECT_EQ(ReadSum(), 0);
  h_.Advance(1);
  EXPECT_EQ(ReadSum(), sum);
  EXPECT_EQ(ReadSum(), sum) << "the answer can be read again";
}

TEST_F(BootHeadsetTest, ImageTotalIsReady120MillisecondsAfterFinish) {
  const Bytes image = Image(30);
  const std::uint16_t total = ExpectedTotal(Stream(image));
  ASSERT_NE(total, 0);
  ASSERT_TRUE(Send(Command(kFinish, total)));
  h_.Advance(20);
  EXPECT_EQ(ReadSum(), 0);
  h_.Advance(99);
  EXPECT_EQ(ReadSum(), 0);
  h_.Advance(1);
  EXPECT_EQ(ReadSum(), total);
}

TEST_F(BootHeadsetTest, HostBlockSumThatDisagreesSpoilsTheImage) {
  const Bytes image = Image(112);
  const std::uint16_t right0 = ExpectedBlockSum(image.data(), 56);
  const std::uint16_t right1 = ExpectedBlockSum(image.data() + 56, 56);
  ASSERT_TRUE(Send(Command(kBegin, 0, 112)));
  h_.Advance(10);
  ASSERT_TRUE(Send(DataPacket(image.data(), 56, static_cast<std::uint16_t>(right0 + 1))));
  h_.Advance(10);
  EXPECT_EQ(ReadSum(), right0) << "the answer is the headset's own sum";
  ASSERT_TRUE(Send(DataPacket(image.data() + 56, 56, right1)));
  h_.Advance(10);
  ExpectRejectedAndNotFlashed(ExpectedTotal({right0, right1}));
}

TEST_F(BootHeadsetTest, WrongHostTotalOrShortImageIsNotFlashed) {
  const Bytes image = Image(100);
  const std::uint16_t total = ExpectedTotal(Stream(image));
  ASSERT_TRUE(Send(Command(kFinish, static_cast<std::uint16_t>(total ^ 1))));
  h_.Advance(120);
  EXPECT_EQ(ReadSum(), total);
  EXPECT_EQ(Read()[8], 3);

  // Begin announces more than arrives.
  ASSERT_TRUE(Send(Command(kBegin, 0, 200)));
  EXPECT_TRUE(h_.received().empty()) << "Begin starts over";
  h_.Advance(10);
  ASSERT_TRUE(Send(DataPacket(image.data(), 56, ExpectedBlockSum(image.data(), 56))));
  h_.Advance(10);
  ExpectRejectedAndNotFlashed(ExpectedBlockSum(image.data(), 56));
}

TEST_F(BootHeadsetTest, OversizedDataLengthIsLost) {
  Packet p = Command(kData, 0, 60);
  ASSERT_TRUE(Send(Command(kBegin, 0, 60)));
  h_.Advance(10);
  ASSERT_TRUE(Send(p));
  h_.Advance(10);
  EXPECT_TRUE(h_.received().empty());
  EXPECT_TRUE(h_.bootTransfer().broken);
}

}  // namespace
}  // namespace obrint::sim
