// Image validation and sample images, against the window's own stamping.
#include <gtest/gtest.h>

#include "cli/image_check.h"
#include "core/image_stamp.h"
#include "native/fakes/fake_files.h"
#include "native/fakes/fake_ui.h"
#include "reference.h"

namespace obrint::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ReferenceStamp;

Bytes WithMagic(Bytes image) {
  image[0x9C00] = 0x00;
  image[0x9C01] = 0x55;
  image[0x9C02] = 0xAA;
  image[0x9C03] = 0xFF;
  return image;
}

Bytes Unstamped(std::size_t size, unsigned seed) {
  Bytes image(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  image = WithMagic(std::move(image));
  // Empty the part of the checksum field that lies within the image.
  for (std::size_t i = 0x9C08; i < std::min<std::size_t>(size, 0x9C0C); ++i) image[i] = 0;
  return image;
}

// The window's stamp of `image`, through its own code.
Bytes StampedByTheWindow(const Bytes& image) {
  fakes::FakeFileSystem files;
  fakes::FakeUserInterface ui;
  files.Add("x.bin", image);
  EXPECT_EQ(StampImageFile(files, ui, "x.bin"), StampOutcome::kStamped);
  return files.file("x.bin").bytes;
}

class StampAgreementTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(StampAgreementTest, AnImageTheWindowStampedIsReadyAndOnlyThen) {
  const Bytes fresh = Unstamped(GetParam(), static_cast<unsigned>(GetParam()));
  const ImageCheck before = CheckImage(fresh, fresh.size());
  EXPECT_EQ(before.expectedChecksum, ReferenceStamp(fresh));
  EXPECT_EQ(before.ready(), ReferenceStamp(fresh) == 0);

  const Bytes stamped = StampedByTheWindow(fresh);
  const ImageCheck after = CheckImage(stamped, stamped.size());
  EXPECT_TRUE(after.ready()) << after.problems.front();
  EXPECT_EQ(after.storedChecksum, ReferenceStamp(fresh));
  EXPECT_EQ(after.expectedChecksum, before.expectedChecksum);
}

// Even and odd sizes, the smallest image with a whole version block, and the largest flashable.
INSTANTIATE_TEST_SUITE_P(Sizes, StampAgreementTest,
                         ::testing::Values(0x9C0C, 0x9C0D, 40 * 1024, 40 * 1024 + 1, 65535));

TEST(ImageCheckTest, AnImageStampedTwiceDoesNotCheckOut) {
  const Bytes twice = StampedByTheWindow(StampedByTheWindow(Unstamped(0xA000, 1)));
  const ImageCheck check = CheckImage(twice, twice.size());
  EXPECT_FALSE(check.ready());
  EXPECT_EQ(check.problems.size(), 1u);
}

TEST(ImageCheckTest, OddLastByteCountsAsALowByte) {
  Bytes image = Unstamped(0x9C0D, 2);
  image.back() = 0x00;
  const std::uint32_t without = CheckImage(image, image.size()).expectedChecksum;
  image.back() = 0x7B;
  EXPECT_EQ(CheckImage(image, image.size()).expectedChecksum, without + 0x7B);
}

TEST(ImageCheckTest, WithoutMagicThereIsNoVersionBlock) {
  Bytes image = Unstamped(0xA000, 3);
  image[0x9C03] = 0xFE;
  const ImageCheck check = CheckImage(image, image.size());
  EXPECT_FALSE(check.hasVersionBlock);
  EXPECT_FALSE(check.ready());
  // A file that ends before the magic reads as zeros there.
  const Bytes shortImage(image.begin(), image.begin() + 0x9C02);
  EXPECT_FALSE(CheckImage(shortImage, shortImage.size()).hasVersionBlock);
}

TEST(ImageCheckTest, AFileEndingInsideTheChecksumFieldIsNotReady) {
  for (std::size_t size = 0x9C04; size < 0x9C0C; ++size) {
    const Bytes image = StampedByTheWindow(Unstamped(size, 4));
    const ImageCheck check = CheckImage(image, image.size());
    EXPECT_TRUE(check.hasVersionBlock) << size;
    EXPECT_FALSE(check.checksumFieldWhole) << size;
    EXPECT_FALSE(check.ready()) << size;
  }
}

TEST(ImageCheckTest, OnlyImagesThatFitTheBeginPacketCanBeReady) {
  const Bytes largest = StampedByTheWindow(Unstamped(65535, 5));
  EXPECT_TRUE(CheckImage(largest, largest.size()).fitsTransfer);
  const Bytes tooLarge = StampedByTheWindow(Unstamped(65536, 5));
  const ImageCheck check = CheckImage(tooLarge, tooLarge.size());
  EXPECT_FALSE(check.fitsTransfer);
  EXPECT_FALSE(check.ready());
  // Only the head of a large file is read; its size alone refuses it.
  EXPECT_FALSE(CheckImage(std::span(largest).first(1000), 1u << 20).fitsTransfer);
}

TEST(SampleImageTest, IsReadyRepeatableAndSeedDependent) {
  const Bytes a = MakeSampleImage(kDefaultSampleSize, 1);
  EXPECT_EQ(a.size(), kDefaultSampleSize);
  EXPECT_TRUE(CheckImage(a, a.size()).ready());
  EXPECT_EQ(a, MakeSampleImage(kDefaultSampleSize, 1));
  EXPECT_NE(a, MakeSampleImage(kDefaultSampleSize, 2));
  // The checksum field holds the window's stamp of the image with the field empty.
  Bytes empty = a;
  std::fill_n(empty.begin() + 0x9C08, 4, 0);
  EXPECT_EQ(StampedByTheWindow(empty), a);
}

TEST(SampleImageTest, SizeIsKeptWithinAWholeVersionBlockAndTheTransfer) {
  EXPECT_EQ(MakeSampleImage(10).size(), kMinSampleSize);
  EXPECT_EQ(MakeSampleImage(100000).size(), 65535u);
  const Bytes smallest = MakeSampleImage(kMinSampleSize);
  EXPECT_TRUE(CheckImage(smallest, smallest.size()).ready());
}

}  // namespace
}  // namespace obrint::cli
