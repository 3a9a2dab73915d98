// Button 1005 "校验固件程序" on the running program: an image file chosen in the open-file dialog
// gets its checksum written into its version block, or is refused and left as it was.
#include "ops_support.h"

namespace obrint::gui::ops {
namespace {

constexpr std::size_t kMagicOffset = 0x9C00, kChecksumOffset = 0x9C08;

// The file's 16-bit little-endian words added up modulo 2^32; an odd last byte is a word of its
// own with a zero high byte.
std::uint32_t WordSum(const std::vector<std::uint8_t>& bytes) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const std::uint32_t high = i + 1 < bytes.size() ? bytes[i + 1] : 0;
    sum += bytes[i] | (high << 8);
  }
  return sum;
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A firmware image of `size` bytes with the version block's magic and a non-zero checksum field.
std::vector<std::uint8_t> ImageWithVersionBlock(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> image = PatternBytes(size, seed);
  PutLe32(image, kMagicOffset, 0xFFAA5500);
  PutLe32(image, kChecksumOffset, 0x8000FFFF);  // carries into both halves when summed again
  return image;
}

FILETIME LastWriteTime(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

class StampTest : public HeadsetWindowTest {
 protected:
  // Presses 1005, chooses `path`, and gives back the box that the command ends with.
  DialogView StampThroughTheWindow(const std::wstring& path, const std::wstring& boxCaption) const {
    main_.ClickButton(kVerify);
    ChooseInFileDialog(path);
    return WaitForBox(boxCaption);
  }
};

TEST_F(StampTest, WritesTheFilesChecksumIntoItsVersionBlock) {
  // An odd length, so that the last byte counts as a word of its own.
  const std::vector<std::uint8_t> image = ImageWithVersionBlock(0x9C00 + 0x801, 0x57A1);
  const std::wstring path = TemporaryFile(L"obrint-ops-stamp.bin", image);
  std::vector<std::uint8_t> expected = image;
  PutLe32(expected, kChecksumOffset, WordSum(image));
  ASSERT_NE(expected, image) << "the example image already carries its checksum";

  const DialogView done = StampThroughTheWindow(path, L"校验成功。");
  ASSERT_TRUE(done.window) << "no success box";
  EXPECT_TRUE(done.HasText(L"Checksum"));
  ASSERT_TRUE(Answer(done, IDOK));
  EXPECT_FALSE(OtherDialog()) << "another box followed";
  // Only the checksum field changed.
  EXPECT_EQ(ReadFileBytes(path), expected);

  EXPECT_EQ(main_.Text(), kMainCaption);
  EXPECT_EQ(Log(), L"");
  EXPECT_TRUE(SavedHeadset().log().empty()) << "the stamp talked to the headset";
}

TEST_F(StampTest, StampingAgainSumsThePreviousChecksumToo) {
  const std::vector<std::uint8_t> image = ImageWithVersionBlock(0x9C0C, 0x2AD0);
  const std::wstring path = TemporaryFile(L"obrint-ops-stamp-twice.bin", image);
  DialogView done = StampThroughTheWindow(path, L"校验成功。");
  ASSERT_TRUE(done.window) << "no success box after the first stamp";
  ASSERT_TRUE(Answer(done, IDOK));
  const std::vector<std::uint8_t> once = ReadFileBytes(path);

  done = StampThroughTheWindow(path, L"校验成功。");
  ASSERT_TRUE(done.window) << "no success box after the second stamp";
  ASSERT_TRUE(Answer(done, IDOK));
  std::vector<std::uint8_t> expected = once;
  PutLe32(expected, kChecksumOffset, WordSum(once));
  EXPECT_EQ(ReadFileBytes(path), expected);
  EXPECT_NE(expected, once);
}

TEST_F(StampTest, AFileWithoutTheMagicIsRefusedAndLeftUntouched) {
  std::vector<std::uint8_t> image = ImageWithVersionBlock(0xA000, 0x0BAD);
  image[kMagicOffset + 3] = 0xFE;  // 0xFEAA5500: one bit away from the magic
  const std::wstring path = TemporaryFile(L"obrint-ops-stamp-no-magic.bin", image);
  const FILETIME written = LastWriteTime(path);

  const DialogView refused = StampThroughTheWindow(path, L"固件版本无效！");
  ASSERT_TRUE(refused.window) << "no refusal box";
  EXPECT_TRUE(refused.HasText(L"CheckSum"));
  ASSERT_TRUE(Answer(refused, IDOK));
  EXPECT_FALSE(OtherDialog()) << "another box followed";

  EXPECT_EQ(ReadFileBytes(path), image);
  const FILETIME after = LastWriteTime(path);
  EXPECT_EQ(CompareFileTime(&written, &after), 0) << "the file was written";
}

}  // namespace
}  // namespace obrint::gui::ops
