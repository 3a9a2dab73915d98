// The small pieces whose edges the headset runs do not reach: sums at their carries, report
// buffers too short, error texts at their boundaries, hexadecimal and case.
#include <gtest/gtest.h>

#include "core/checksum.h"
#include "core/error_text.h"
#include "core/reports.h"
#include "core/text.h"
#include "native/reference.h"

namespace obrint {
namespace {

TEST(Units, SumsMatchTheirDefinitionAtEveryBlockLengthAndCarry) {
  for (const std::uint8_t fill : {0x00, 0x01, 0x7F, 0xFF}) {
    const reference::Bytes block =
        fill ? reference::Bytes(56, fill) : reference::RandomBytes(56, 9);
    for (std::size_t n = 0; n <= 56; ++n) {
      EXPECT_EQ(BlockSum(std::span(block).first(n)), reference::BlockSum(block.data(), n)) << n;
    }
  }
  EXPECT_EQ(Fold(0xFFFF'FFFF), 0xFFFE) << "the carry out of the fold is dropped";
  const reference::Bytes image = reference::RandomBytes(65535, 3);
  EXPECT_EQ(ImageTotal(image), reference::ImageTotal(image));
  EXPECT_EQ(ImageChecksum(image), reference::ImageChecksum(image));
}

struct ShortDevice : HidDevice {
  bool GetFeature(std::uint8_t* r, std::size_t) override { return ids.push_back(r[0]), false; }
  bool SetFeature(const std::uint8_t* r, std::size_t) override {
    return ids.push_back(r[0]), false;
  }
  std::vector<std::uint8_t> ids;
};

TEST(Units, ShortBuffersAreRefusedAndTheRestartIsTriedTwiceAtMost) {
  ShortDevice device;
  std::array<std::uint8_t, 63> shortBuf{};
  EXPECT_FALSE(GetReport61(device, shortBuf));
  EXPECT_FALSE(SetReport61(device, shortBuf));
  EXPECT_FALSE(GetReport60(device, std::span(shortBuf).first(14)));
  EXPECT_FALSE(GetReport58(device, std::span(shortBuf).first(3)));
  EXPECT_TRUE(device.ids.empty());
  EXPECT_FALSE(GetReport58(device, shortBuf));
  EXPECT_FALSE(SetReport58(device, 1));
  EXPECT_EQ(device.ids, (std::vector<std::uint8_t>{0x58, 0x06, 0x58, 0x06}));
}

TEST(Units, ErrorTextsAtTheirBoundaries) {
  EXPECT_EQ(TrimTrailingLineBreak("Access is denied.\r\n"), "Access is denied.");
  EXPECT_EQ(TrimTrailingLineBreak("text\n\n"), "text\n");
  EXPECT_EQ(TrimTrailingLineBreak("text\r"), "text\r");
  EXPECT_EQ(TrimTrailingLineBreak("\n"), "\n");
  EXPECT_EQ(TrimTrailingLineBreak("\r\n"), "");
  EXPECT_EQ(FallbackErrorText(0x80040200u), "Unknown error 0x80040200");
  EXPECT_EQ(FallbackErrorText(0x80040201u), "IDispatch error #1");
  EXPECT_EQ(FallbackErrorText(0x8004FFFFu), "IDispatch error #65023");
  EXPECT_EQ(FallbackErrorText(0x80050000u), "Unknown error 0x80050000");
  EXPECT_EQ(FallbackErrorText(0x1Fu), "Unknown error 0x1F");
  EXPECT_EQ(FallbackErrorText(0u), "Unknown error 0x0");
}

TEST(Units, HexAndCase) {
  EXPECT_EQ(FormatHex(0x2833, 4, HexCase::kLower), "2833");
  EXPECT_EQ(FormatHex(0xAB, 4), "00AB");
  EXPECT_EQ(FormatHex(0xDEADBEEF, 4, HexCase::kLower), "deadbeef");
  EXPECT_EQ(ParseHex("00fF"), 0xFFu);
  for (const char* bad : {"", "0x1", "+1", " 1", "1g", "123456789"})
    EXPECT_FALSE(ParseHex(bad)) << bad;
  std::size_t used = 0;
  EXPECT_EQ(ParseHexPrefix("2833&", &used), 0x2833u);
  EXPECT_EQ(used, 4u);
  EXPECT_TRUE(EqualsIgnoringAsciiCase("&mi_", "&MI_"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("&mi_0", "&MI_"));
  EXPECT_FALSE(EqualsIgnoringAsciiCase("\xC3\xA9", "\xC3\x89")) << "ASCII letters only";
}

}  // namespace
}  // namespace obrint
