#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/image_stamp.h"
#include "native/fakes/fake_files.h"
#include "native/fakes/fake_ui.h"

namespace obrint {
namespace {

using Bytes = std::vector<std::uint8_t>;
using fakes::Box;
using fakes::FakeFile;

constexpr char kPath[] = "C:\\fw\\image.bin";
const Box kStamped{"Checksum", "校验成功。", 0};
const Box kNoVersionBlock{"CheckSum", "固件版本无效！", 0};

// An image of `size` random bytes with the version block's magic at 0x9C00 when it fits.
Bytes MakeImage(std::size_t size, unsigned seed = 1) {
  std::mt19937 rng(seed);
  Bytes image(size);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  const std::uint8_t magic[4] = {0x00, 0x55, 0xAA, 0xFF};
  for (std::size_t i = 0; i < 4 && 0x9C00 + i < size; ++i) image[0x9C00 + i] = magic[i];
  return image;
}

// The image checksum from its definition: even offsets are low bytes, odd offsets high bytes.
std::uint32_t ReferenceSum(const Bytes& image) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < image.size(); ++i) sum += (i % 2 == 0) ? image[i] : 256u * image[i];
  return static_cast<std::uint32_t>(sum);
}

// The image with its checksum stored at 0x9C08, cut off at the end of the file.
Bytes Stamped(Bytes image) {
  const std::uint32_t sum = ReferenceSum(image);
  for (std::size_t i = 0; i < 4; ++i) {
    if (0x9C08 + i < image.size()) image[0x9C08 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
  }
  return image;
}

class StampTest : public ::testing::Test {
 protected:
  StampOutcome Run() {
    ui.choices.push_back(kPath);
    return StampImageChecksum(files, ui);
  }
  void ExpectNothingHeld() {
    EXPECT_EQ(files.openHandles(), 0);
    EXPECT_TRUE(ui.statusHistory.empty());
    EXPECT_EQ(ui.caption, "Obrint");
  }

  fakes::FakeFileSystem files;
  fakes::FakeUserInterface ui;
};

TEST_F(StampTest, StoresTheSumOfAllWordsAndKeepsTheLength) {
  for (std::size_t size : {0x9C0Cu, 0x9C0Du, 40u * 1024u + 1u, 65536u}) {
    SCOPED_TRACE(size);
    const Bytes image = MakeImage(size, static_cast<unsigned>(size));
    files.Add(kPath, image);
    ui.boxes.clear();
    EXPECT_EQ(Run(), StampOutcome::kStamped);
    EXPECT_EQ(files.file(kPath).bytes, Stamped(image));
    EXPECT_EQ(ui.boxes, std::vector<Box>{kStamped});
    ExpectNothingHeld();
  }
}

TEST_F(StampTest, OddLengthCountsTheLastByteAsALowByte) {
  Bytes image = MakeImage(0x9C0D);
  image.back() = 0xC3;
  Bytes evenPart(image.begin(), image.end() - 1);
  files.Add(kPath, image);
  ASSERT_EQ(Run(), StampOutcome::kStamped);
  const std::uint32_t stored = static_cast<std::uint32_t>(files.file(kPath).bytes[0x9C08]) |
                               files.file(kPath).bytes[0x9C09] << 8 |
                               files.file(kPath).bytes[0x9C0A] << 16 |
                               static_cast<std::uint32_t>(files.file(kPath).bytes[0x9C0B]) << 24;
  EXPECT_EQ(stored, ReferenceSum(evenPart) + 0xC3);
}

TEST_F(StampTest, ZeroFieldReceivesTheSumOfAllOtherWords) {
  Bytes image = MakeImage(0x9C0C);
  for (std::size_t i = 0x9C08; i < 0x9C0C; ++i) image[i] = 0;
  files.Add(kPath, image);
  ASSERT_EQ(Run(), StampOutcome::kStamped);
  const Bytes& stamped = files.file(kPath).bytes;
  EXPECT_EQ(stamped[0x9C08] | stamped[0x9C09] << 8, ReferenceSum(image) & 0xFFFF);
  EXPECT_EQ(stamped[0x9C0A] | stamped[0x9C0B] << 8, ReferenceSum(image) >> 16);
}

TEST_F(StampTest, SecondRunSumsTheFirstRunsValueToo) {
  const Bytes image = MakeImage(0x9C20, 5);
  files.Add(kPath, image);
  ASSERT_EQ(Run(), StampOutcome::kStamped);
  const Bytes once = files.file(kPath).bytes;
  ASSERT_EQ(once, Stamped(image));
  ASSERT_EQ(Run(), StampOutcome::kStamped);
  EXPECT_EQ(files.file(kPath).bytes, Stamped(once));
  EXPECT_NE(files.file(kPath).bytes, once);
  EXPECT_EQ(ui.dialogs, 2);  // asks every time; no path is remembered
}

TEST_F(StampTest, ShortFilesGetOnlyTheFieldBytesWithinTheirLength) {
  for (std::size_t size = 0x9C04; size <= 0x9C0B; ++size) {
    SCOPED_TRACE(size);
    const Bytes image = MakeImage(size, static_cast<unsigned>(size));
    files.Add(kPath, image);
    ui.boxes.clear();
    EXPECT_EQ(Run(), StampOutcome::kStamped);
    EXPECT_EQ(files.file(kPath).bytes.size(), size);  // never grows
    EXPECT_EQ(files.file(kPath).bytes, Stamped(image));
    if (size <= 0x9C08) {
      EXPECT_EQ(files.file(kPath).bytes, image);
    }
    EXPECT_EQ(ui.boxes, std::vector<Box>{kStamped});
    ExpectNothingHeld();
  }
}

TEST_F(StampTest, ImageWithoutVersionBlockIsLeftUntouched) {
  Bytes noMagic = MakeImage(0x9C10);
  noMagic[0x9C03] = 0xFE;
  // Shorter than the magic: the zero bytes past the end never match it.
  for (const Bytes& image : {noMagic, MakeImage(0x9C03), MakeImage(100), Bytes{}}) {
    SCOPED_TRACE(image.size());
    FakeFile& file = files.Add(kPath, image);
    ui.boxes.clear();
    EXPECT_EQ(Run(), StampOutcome::kRefused);
    EXPECT_EQ(file.bytes, image);
    EXPECT_EQ(file.writes, 0);
    EXPECT_EQ(ui.boxes, std::vector<Box>{kNoVersionBlock});
    ExpectNothingHeld();
  }
}

TEST_F(StampTest, OversizeFileIsRefusedUntouched) {
  const Bytes image = MakeImage(65537);
  FakeFile& file = files.Add(kPath, image);
  EXPECT_EQ(Run(), StampOutcome::kRefused);
  EXPECT_EQ(file.bytes, image);
  EXPECT_EQ(file.writes, 0);
  EXPECT_EQ(file.reads, 0);  // nothing is read into the 64 KiB buffer
  ASSERT_EQ(ui.boxes.size(), 1u);
  EXPECT_EQ(ui.boxes[0].body, "CheckSum");
  EXPECT_EQ(ui.boxes[0].caption, "固件文件过大！");
  ExpectNothingHeld();
}

TEST_F(StampTest, FileThatDoesNotOpenForWritingShowsNothing) {
  const Bytes image = MakeImage(0x9C10);
  files.Add(kPath, image).readOnly = true;
  EXPECT_EQ(Run(), StampOutcome::kNotOpened);
  files.Add("C:\\fw\\held.bin", image).locked = true;
  ui.choices.push_back("C:\\fw\\held.bin");
  EXPECT_EQ(StampImageChecksum(files, ui), StampOutcome::kNotOpened);
  EXPECT_EQ(files.file(kPath).bytes, image);
  EXPECT_TRUE(ui.boxes.empty());
  EXPECT_EQ(files.allocations(), 0);
  ExpectNothingHeld();
}

TEST_F(StampTest, CancelledDialogDoesNothing) {
  EXPECT_EQ(StampImageChecksum(files, ui), StampOutcome::kCancelled);
  EXPECT_EQ(files.opens(), 0);
  EXPECT_TRUE(ui.boxes.empty());
}

// Whatever goes wrong after the file is open, "校验成功。" is never shown, a failure box is, and a
// file that was not read whole is not written.
TEST_F(StampTest, FailuresNeverReportSuccess) {
  struct Case {
    const char* name;
    void (*arrange)(FakeFile&, fakes::FakeFileSystem&);
    const char* caption;  // the cause's own text, where it has one
  };
  const Case cases[] = {
      {"read fails", [](FakeFile& f, fakes::FakeFileSystem&) { f.failReadNumber = 1; },
       "固件文件读取失败！"},
      {"size unknown", [](FakeFile& f, fakes::FakeFileSystem&) { f.failSize = true; }, nullptr},
      {"no memory", [](FakeFile&, fakes::FakeFileSystem& fs) { fs.failAllocation = true; },
       "内存不足！"},
      {"rewind fails", [](FakeFile& f, fakes::FakeFileSystem&) { f.failRewind = true; }, nullptr},
      {"write fails", [](FakeFile& f, fakes::FakeFileSystem&) { f.failWrite = true; },
       "校验和写入失败！"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes image = MakeImage(0x9C10);
    FakeFile& file = files.Add(kPath, image);
    files.failAllocation = false;
    c.arrange(file, files);
    ui.boxes.clear();
    EXPECT_EQ(Run(), StampOutcome::kFailed);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_NE(ui.boxes[0].caption, "校验成功。");
    if (c.caption) {
      EXPECT_EQ(ui.boxes[0].caption, c.caption);
    }
    EXPECT_EQ(ui.boxes[0].body, "CheckSum");
    EXPECT_EQ(ui.boxes[0].type, 0u);
    EXPECT_EQ(file.bytes, image);
    EXPECT_EQ(file.writes, 0);
    ExpectNothingHeld();
  }
}

}  // namespace
}  // namespace obrint
