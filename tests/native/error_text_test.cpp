// Error code texts: trimming of the system's line break and the fallback texts for codes the
// system has no message for.
#include "core/error_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace obrint {
namespace {

TEST(TrimTrailingLineBreak, RemovesOneFinalCrLfOrLf) {
  EXPECT_EQ(TrimTrailingLineBreak("Access is denied.\r\n"), "Access is denied.");
  EXPECT_EQ(TrimTrailingLineBreak("Access is denied.\n"), "Access is denied.");
  EXPECT_EQ(TrimTrailingLineBreak("访问被拒绝。\r\n"), "访问被拒绝。");
  // Only the one line break at the end goes.
  EXPECT_EQ(TrimTrailingLineBreak("first\r\nsecond\r\n"), "first\r\nsecond");
  EXPECT_EQ(TrimTrailingLineBreak("text\n\n"), "text\n");
  EXPECT_EQ(TrimTrailingLineBreak("text\r\r\n"), "text\r");
  EXPECT_EQ(TrimTrailingLineBreak("\r\n"), "");
}

TEST(TrimTrailingLineBreak, LeavesShortAndUnbrokenTextsAlone) {
  EXPECT_EQ(TrimTrailingLineBreak(""), "");
  EXPECT_EQ(TrimTrailingLineBreak("x"), "x");
  // One character is never cut, even a line break.
  EXPECT_EQ(TrimTrailingLineBreak("\n"), "\n");
  EXPECT_EQ(TrimTrailingLineBreak("\r"), "\r");
  // A bare CR at the end is not a line break of its own.
  EXPECT_EQ(TrimTrailingLineBreak("text\r"), "text\r");
  EXPECT_EQ(TrimTrailingLineBreak("text\n "), "text\n ");
  // Insert markers stay as the system wrote them.
  EXPECT_EQ(TrimTrailingLineBreak("%1 is not valid.\r\n"), "%1 is not valid.");
}

TEST(DispatchCode, CoversTheCodesAbove0x80040200UpTo0x8004FFFF) {
  EXPECT_EQ(DispatchCode(0x80040200u), 0);
  EXPECT_EQ(DispatchCode(0x80040201u), 1);
  EXPECT_EQ(DispatchCode(0x8004FFFFu), 0xFFFF - 0x0200);
  EXPECT_EQ(DispatchCode(0x800401FFu), 0);
  EXPECT_EQ(DispatchCode(0x80050000u), 0);
  // What GetLastError() gives: small positive codes and device installer codes.
  EXPECT_EQ(DispatchCode(0x1Fu), 0);
  EXPECT_EQ(DispatchCode(0xE000020Eu), 0);
  EXPECT_EQ(DispatchCode(0x00040201u), 0);
}

TEST(FallbackErrorText, UnknownErrorInUpperCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(FallbackErrorText(0x1F), "Unknown error 0x1F");
  EXPECT_EQ(FallbackErrorText(0), "Unknown error 0x0");
  EXPECT_EQ(FallbackErrorText(0xE000020E), "Unknown error 0xE000020E");
  EXPECT_EQ(FallbackErrorText(0xFFFFFFFF), "Unknown error 0xFFFFFFFF");
  EXPECT_EQ(FallbackErrorText(0xabcdef), "Unknown error 0xABCDEF");
}

TEST(FallbackErrorText, DispatchRangeBoundaries) {
  // 0x80040200 has dispatch code 0, so it reads as an unknown error.
  EXPECT_EQ(FallbackErrorText(0x80040200), "Unknown error 0x80040200");
  EXPECT_EQ(FallbackErrorText(0x80040201), "IDispatch error #1");
  EXPECT_EQ(FallbackErrorText(0x8004FFFF), "IDispatch error #65023");
  EXPECT_EQ(FallbackErrorText(0x80050000), "Unknown error 0x80050000");
  EXPECT_EQ(FallbackErrorText(0x800401FF), "Unknown error 0x800401FF");
}

TEST(FallbackErrorText, EveryDispatchCodeIsItsDistanceInDecimal) {
  for (std::uint32_t code = 0x80040201u; code <= 0x8004FFFFu; ++code) {
    const std::string expected = "IDispatch error #" + std::to_string(code - 0x80040200u);
    ASSERT_EQ(FallbackErrorText(code), expected) << std::hex << code;
  }
}

TEST(FallbackErrorText, FitsThe32ByteBuffer) {
  for (std::uint32_t code : {0u, 0x7FFFFFFFu, 0x80040200u, 0x8004FDFFu, 0x8004FFFFu, 0xFFFFFFFFu}) {
    EXPECT_LT(FallbackErrorText(code).size(), 32u) << std::hex << code;
  }
}

}  // namespace
}  // namespace obrint
