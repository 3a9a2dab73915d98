// The feature report set over a recording device: IDs, lengths, the composed Restart and Run mode
// reports, the fallback to report ID 6, and buffers that are too short.
#include "core/reports.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <vector>

namespace obrint {
namespace {

// Records every transfer (the bytes as the device saw them at the call) and answers gets by
// filling the report after byte 0 with a marker.
class RecordingDevice : public HidDevice {
 public:
  struct Call {
    bool get;
    std::size_t length;
    std::vector<std::uint8_t> bytes;
  };
  static constexpr std::uint8_t kAnswer = 0xA7;

  // The IDs (byte 0 at the call) whose transfers succeed; all when empty and `answerAll`.
  std::set<std::uint8_t> answers;
  bool answerAll = true;
  std::vector<Call> calls;

  bool GetFeature(std::uint8_t* report, std::size_t length) override {
    calls.push_back({true, length, std::vector<std::uint8_t>(report, report + length)});
    if (!Answers(report[0])) return false;
    for (std::size_t i = 1; i < length; ++i) report[i] = kAnswer;
    return true;
  }
  bool SetFeature(const std::uint8_t* report, std::size_t length) override {
    calls.push_back({false, length, std::vector<std::uint8_t>(report, report + length)});
    return Answers(report[0]);
  }

 private:
  bool Answers(std::uint8_t id) const { return answerAll || answers.count(id) != 0; }
};

using Op = bool (*)(HidDevice&, ReportSpan);
struct Catalogued {
  Op op;
  std::uint8_t id;
  std::size_t length;
};

// The catalogue as the headset defines it: ID and length, byte 0 included.
const std::vector<Catalogued> kGets = {
    {GetReport02, 0x02, 7},  {GetReport03, 0x03, 69}, {GetReport04, 0x04, 8},
    {GetReport05, 0x05, 6},  {GetReport07, 0x07, 5},  {GetReport08, 0x08, 5},
    {GetReport09, 0x09, 56}, {GetReport0A, 0x0A, 15}, {GetReport59, 0x59, 4},
    {GetReport5F, 0x5F, 5},  {GetReport60, 0x60, 15}, {GetReport61, 0x61, 64},
};
const std::vector<Catalogued> kSets = {
    {SetReport02, 0x02, 7},  {SetReport03, 0x03, 69}, {SetReport04, 0x04, 8},
    {SetReport05, 0x05, 6},  {SetReport07, 0x07, 5},  {SetReport08, 0x08, 5},
    {SetReport09, 0x09, 56}, {SetReport0A, 0x0A, 15}, {SetReport61, 0x61, 64},
};

// Large enough for the longest report, 0x03.
using BigBuffer = std::array<std::uint8_t, 80>;

BigBuffer Filled(std::uint8_t value) {
  BigBuffer b;
  b.fill(value);
  return b;
}

TEST(ReportCatalogue, LengthsCountByteZero) {
  for (const auto& r : kGets) EXPECT_EQ(ReportLength(r.id), r.length) << int(r.id);
  EXPECT_EQ(ReportLength(kRestartReport), 4u);
  EXPECT_EQ(ReportLength(kRestartFallbackReport), 4u);
  for (const std::uint8_t unknown : {0x00, 0x01, 0x0B, 0x57, 0x5A, 0x5E, 0x62, 0xFF}) {
    EXPECT_EQ(ReportLength(unknown), 0u) << int(unknown);
  }
}

TEST(GetReports, WriteTheIdAndTransferTheCatalogueLengthOnly) {
  for (const auto& r : kGets) {
    RecordingDevice device;
    BigBuffer buf = Filled(0xCC);
    EXPECT_TRUE(r.op(device, buf)) << int(r.id);
    ASSERT_EQ(device.calls.size(), 1u) << int(r.id);
    EXPECT_TRUE(device.calls[0].get);
    EXPECT_EQ(device.calls[0].length, r.length) << int(r.id);
    EXPECT_EQ(device.calls[0].bytes[0], r.id) << "byte 0 carries the ID into the transfer";
    EXPECT_EQ(buf[0], r.id);
    EXPECT_EQ(buf[r.length - 1], RecordingDevice::kAnswer) << int(r.id);
    for (std::size_t i = r.length; i < buf.size(); ++i) {
      ASSERT_EQ(buf[i], 0xCC) << "byte " << i << " past report " << int(r.id) << " was touched";
    }
  }
}

TEST(GetReports, AFailedGetIsReportedWithTheIdInByteZero) {
  RecordingDevice device;
  device.answerAll = false;
  BigBuffer buf = Filled(0);
  EXPECT_FALSE(GetReport60(device, buf));
  EXPECT_EQ(device.calls.size(), 1u) << "no report but 0x58 is tried twice";
  EXPECT_EQ(buf[0], kMcuIdReport);
}

TEST(GetReports, TheTransferReportIdIsWrittenEvenWhenPresent) {
  RecordingDevice device;
  BigBuffer buf = Filled(0);
  buf[0] = kTransferReport;
  EXPECT_TRUE(GetReport61(device, buf));
  buf[0] = 0x02;
  EXPECT_TRUE(GetReport61(device, buf));
  ASSERT_EQ(device.calls.size(), 2u);
  EXPECT_EQ(device.calls[1].bytes[0], kTransferReport);
}

TEST(SetReports, SendTheCallersBytesUnchanged) {
  for (const auto& r : kSets) {
    RecordingDevice device;
    BigBuffer buf;
    for (std::size_t i = 0; i < buf.size(); ++i) buf[i] = static_cast<std::uint8_t>(i * 7 + 1);
    buf[0] = static_cast<std::uint8_t>(r.id ^ 0x40);  // byte 0 is the caller's, ID or not
    const BigBuffer before = buf;
    EXPECT_TRUE(r.op(device, buf)) << int(r.id);
    ASSERT_EQ(device.calls.size(), 1u);
    EXPECT_FALSE(device.calls[0].get);
    EXPECT_EQ(device.calls[0].bytes,
              std::vector<std::uint8_t>(before.begin(), before.begin() + r.length))
        << int(r.id);
    EXPECT_EQ(buf, before) << "a set does not change the buffer";
  }
}

TEST(ShortBuffers, AreRefusedWithoutATransfer) {
  // Report 0x03 is longer than the 64-byte buffers the headset operations use.
  RecordingDevice device;
  ReportBuffer aBuf;
  aBuf.fill(0x5A);
  EXPECT_FALSE(GetReport03(device, aBuf));
  EXPECT_FALSE(SetReport03(device, aBuf));
  EXPECT_TRUE(device.calls.empty());
  EXPECT_EQ(aBuf[0], 0x5A) << "a refused get leaves even byte 0 alone";

  for (const auto& r : kGets) {
    std::vector<std::uint8_t> buf(r.length - 1, 0x5A);
    EXPECT_FALSE(r.op(device, buf)) << int(r.id);
    EXPECT_EQ(buf, std::vector<std::uint8_t>(r.length - 1, 0x5A));
  }
  for (const auto& r : kSets) {
    std::vector<std::uint8_t> buf(r.length - 1, r.id);
    EXPECT_FALSE(r.op(device, buf)) << int(r.id);
  }
  std::vector<std::uint8_t> three(3, 0);
  EXPECT_FALSE(GetReport58(device, three));
  EXPECT_FALSE(GetReport61(device, ReportSpan()));
  EXPECT_TRUE(device.calls.empty());

  // A buffer of exactly the report's length is enough.
  std::vector<std::uint8_t> exact(69, 0);
  EXPECT_TRUE(GetReport03(device, exact));
  EXPECT_EQ(device.calls.size(), 1u);
}

TEST(RestartReportGet, AHeadsetAnswering0x58NeedsOneTransfer) {
  RecordingDevice device;
  device.answerAll = false;
  device.answers = {kRestartReport, kRestartFallbackReport};
  ReportBuffer aBuf{};
  EXPECT_TRUE(GetReport58(device, aBuf));
  ASSERT_EQ(device.calls.size(), 1u);
  EXPECT_EQ(device.calls[0].length, 4u);
  EXPECT_EQ(aBuf[0], kRestartReport);
}

TEST(RestartReportGet, FallsBackToReport6Once) {
  RecordingDevice device;
  device.answerAll = false;
  device.answers = {kRestartFallbackReport};
  ReportBuffer aBuf;
  aBuf.fill(0x21);
  EXPECT_TRUE(GetReport58(device, aBuf));
  ASSERT_EQ(device.calls.size(), 2u);
  EXPECT_EQ(device.calls[0].bytes[0], kRestartReport);
  EXPECT_EQ(device.calls[1].bytes[0], kRestartFallbackReport);
  EXPECT_EQ(device.calls[1].length, 4u);
  EXPECT_EQ(
      std::vector<std::uint8_t>(device.calls[1].bytes.begin() + 1, device.calls[1].bytes.end()),
      std::vector<std::uint8_t>(device.calls[0].bytes.begin() + 1, device.calls[0].bytes.end()))
      << "bytes 1 to 3 are left as they were";
  EXPECT_EQ(aBuf[0], kRestartFallbackReport) << "byte 0 keeps the ID of the try that answered";
  EXPECT_EQ(aBuf[4], 0x21);
}

TEST(RestartReportGet, GivesUpAfterTheSecondTry) {
  RecordingDevice device;
  device.answerAll = false;
  ReportBuffer aBuf{};
  EXPECT_FALSE(GetReport58(device, aBuf));
  EXPECT_EQ(device.calls.size(), 2u);
  EXPECT_EQ(aBuf[0], kRestartFallbackReport);
}

TEST(RestartReportSet, ComposesTheBootFlag) {
  for (const int flag : {0, 1, 5, -1, 256}) {
    RecordingDevice device;
    EXPECT_TRUE(SetReport58(device, flag));
    ASSERT_EQ(device.calls.size(), 1u) << flag;
    const std::vector<std::uint8_t> expected = {kRestartReport, 1, 0,
                                                static_cast<std::uint8_t>(flag != 0 ? 1 : 0)};
    EXPECT_EQ(device.calls[0].bytes, expected) << "boot flag " << flag;
  }
}

TEST(RestartReportSet, FallsBackToReport6Once) {
  RecordingDevice device;
  device.answerAll = false;
  device.answers = {kRestartFallbackReport};
  EXPECT_TRUE(SetReport58(device, 1));
  ASSERT_EQ(device.calls.size(), 2u);
  EXPECT_EQ(device.calls[0].bytes, (std::vector<std::uint8_t>{0x58, 1, 0, 1}));
  EXPECT_EQ(device.calls[1].bytes, (std::vector<std::uint8_t>{6, 1, 0, 1}));

  RecordingDevice deaf;
  deaf.answerAll = false;
  EXPECT_FALSE(SetReport58(deaf, 0));
  ASSERT_EQ(deaf.calls.size(), 2u) << "there is no third try";
  EXPECT_EQ(deaf.calls[1].bytes, (std::vector<std::uint8_t>{6, 1, 0, 0}));
}

TEST(RunModeReportSet, ComposesTheModeAndIsNeverRepeated) {
  RecordingDevice device;
  EXPECT_TRUE(SetReport59(device, kRunModeDk2));
  ASSERT_EQ(device.calls.size(), 1u);
  EXPECT_EQ(device.calls[0].bytes, (std::vector<std::uint8_t>{0x59, 1, 0, 0xFD}));

  RecordingDevice deaf;
  deaf.answerAll = false;
  EXPECT_FALSE(SetReport59(deaf, kRunModeDk1));
  ASSERT_EQ(deaf.calls.size(), 1u) << "no other ID is tried for the Run mode report";
  EXPECT_EQ(deaf.calls[0].bytes, (std::vector<std::uint8_t>{0x59, 1, 0, 0xFE}));
}

TEST(LittleEndianFields, ReadWhatWasWritten) {
  std::uint8_t b[4] = {};
  WriteLe16(b, 0x1234);
  EXPECT_EQ(b[0], 0x34);
  EXPECT_EQ(b[1], 0x12);
  EXPECT_EQ(ReadLe16(b), 0x1234);
  WriteLe32(b, 0xA1B2C3D4);
  EXPECT_EQ(b[0], 0xD4);
  EXPECT_EQ(b[3], 0xA1);
  EXPECT_EQ(ReadLe32(b), 0xA1B2C3D4u);
}

}  // namespace
}  // namespace obrint
