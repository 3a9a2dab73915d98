#include "core/checksum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "native/fakes/upgrade_support.h"

namespace obrint {
namespace {

using Bytes = std::vector<std::uint8_t>;
using fakes::ReferenceBlockSum;
using fakes::ReferenceImageTotal;
constexpr auto RandomBytes = fakes::RandomImage;

std::uint32_t ReferenceImageChecksum(const Bytes& image) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); ++i) sum += (i % 2 == 0) ? image[i] : 256u * image[i];
  return static_cast<std::uint32_t>(sum % 4294967296u);
}

TEST(FoldTest, AddsHalvesOnceAndDropsTheCarry) {
  EXPECT_EQ(Fold(0), 0);
  EXPECT_EQ(Fold(0x00123456), 0x3456 + 0x0012);
  // 0xFFFF + 0x0001 carries out of 16 bits; the carry is not added back in.
  EXPECT_EQ(Fold(0x0001FFFF), 0x0000);
  EXPECT_EQ(Fold(0xFFFFFFFF), 0xFFFE);
}

TEST(BlockSumTest, PadsAPartialLastWordAndFolds) {
  EXPECT_EQ(BlockSum(Bytes{}), 0);
  EXPECT_EQ(BlockSum(Bytes{0x01}), 0x0001);
  EXPECT_EQ(BlockSum(Bytes{0x01, 0x02, 0x03}), 0x0201 + 0x0003);
  EXPECT_EQ(BlockSum(Bytes{0x01, 0x02, 0x03, 0x04, 0x05}), 0x0201 + 0x0403 + 0x0005);
  // A full block of ones: 28 words of 0xFFFF make 0x1BFFE4, folded 0xFFE4 + 0x1B.
  EXPECT_EQ(BlockSum(Bytes(56, 0xFF)), 0xFFFF);
}

TEST(BlockSumTest, MatchesTheReferenceForEveryBlockLength) {
  for (std::size_t n = 0; n <= kTransferBlockSize; ++n) {
    const Bytes block = RandomBytes(n, static_cast<unsigned>(n));
    EXPECT_EQ(BlockSum(block), ReferenceBlockSum(block)) << "length " << n;
  }
}

TEST(ImageTotalTest, SumsTheBlockSumsOfFiftySixByteBlocks) {
  EXPECT_EQ(ImageTotal(Bytes{}), 0);
  // Two full blocks of 0xFF each sum to 0xFFFF; together 0x1FFFE, folded 0xFFFF.
  EXPECT_EQ(ImageTotal(Bytes(112, 0xFF)), 0xFFFF);
  for (std::size_t n : {1u, 5u, 55u, 56u, 57u, 61u, 112u, 113u, 40u * 1024u, 65535u}) {
    const Bytes image = RandomBytes(n, static_cast<unsigned>(n) + 7);
    EXPECT_EQ(ImageTotal(image), ReferenceImageTotal(image)) << "size " << n;
  }
}

TEST(ImageChecksumTest, AddsLittleEndianWordsAndAnOddLastByteAsALowByte) {
  EXPECT_EQ(ImageChecksum(Bytes{}), 0u);
  EXPECT_EQ(ImageChecksum(Bytes{0x34, 0x12}), 0x1234u);
  EXPECT_EQ(ImageChecksum(Bytes{0x34, 0x12, 0xAB}), 0x1234u + 0xABu);
  for (std::size_t n : {1u, 2u, 3u, 0x9C0Cu, 0x9C0Du, 65536u}) {
    const Bytes image = RandomBytes(n, static_cast<unsigned>(n) + 3);
    EXPECT_EQ(ImageChecksum(image), ReferenceImageChecksum(image)) << "size " << n;
  }
}

TEST(ImageChecksumTest, WrapsModulo2To32WithoutFolding) {
  const Bytes image(200000, 0xFF);  // 100000 words of 0xFFFF pass 2^32
  EXPECT_EQ(ImageChecksum(image), ReferenceImageChecksum(image));
  EXPECT_EQ(ImageChecksum(image), static_cast<std::uint32_t>(100000ull * 0xFFFF));
}

}  // namespace
}  // namespace obrint
