#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/image_stamp.h"
#include "win/ports.h"
#include "win/text.h"

namespace obrint::win {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records the boxes; the stamp never asks for a file here.
class BoxRecorder : public UserInterface {
 public:
  void ShowStatus(std::string_view) override {}
  int ShowWindowBox(std::string_view, std::string_view caption, unsigned) override {
    captions.emplace_back(caption);
    return kAnswerOk;
  }
  void SetCaption(std::string_view) override {}
  std::string ChooseImageFile() override { return {}; }
  std::vector<std::string> captions;
};

class Win32PortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, dir), 0u);
    // A Chinese name: paths travel as UTF-8 up to CreateFileW.
    path = Narrow(dir) + "固件_" + std::to_string(::GetCurrentProcessId()) + ".bin";
  }
  void TearDown() override {
    ::SetFileAttributesW(Widen(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(Widen(path).c_str());
  }
  void WriteFileBytes(const Bytes& bytes) {
    const HANDLE h = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD done = 0;
    ASSERT_TRUE(::WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
    ::CloseHandle(h);
  }
  Bytes ReadFileBytes() {
    auto file = files.OpenForReading(path);
    if (!file) return {};
    Bytes bytes(file->Size());
    EXPECT_TRUE(file->Read(bytes.data(), static_cast<std::uint32_t>(bytes.size())));
    return bytes;
  }

  Win32FileSystem files;
  std::string path;
};

TEST_F(Win32PortsTest, ReadsRewindsAndWritesWholeFiles) {
  WriteFileBytes({1, 2, 3, 4, 5});
  auto file = files.OpenForUpdate(path);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Size(), 5u);
  std::uint8_t got[6] = {};
  EXPECT_TRUE(file->Read(got, 3));
  EXPECT_FALSE(file->Read(got, 3));  // only two bytes left: a short read fails
  ASSERT_TRUE(file->Rewind());
  const std::uint8_t put[2] = {9, 8};
  EXPECT_TRUE(file->Write(put, 2));
  file.reset();
  EXPECT_EQ(ReadFileBytes(), (Bytes{9, 8, 3, 4, 5}));
}

TEST_F(Win32PortsTest, OpenFilesAreNotShared) {
  WriteFileBytes({1});
  auto reader = files.OpenForReading(path);
  ASSERT_TRUE(reader);
  EXPECT_FALSE(files.OpenForReading(path));
  EXPECT_FALSE(files.OpenForUpdate(path));
  reader.reset();
  EXPECT_TRUE(files.OpenForUpdate(path));
}

TEST_F(Win32PortsTest, ReadOnlyAndMissingFilesDoNotOpenForUpdate) {
  EXPECT_FALSE(files.OpenForReading(path));
  EXPECT_FALSE(files.OpenForReading(""));
  WriteFileBytes({1});
  ASSERT_TRUE(::SetFileAttributesW(Widen(path).c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(files.OpenForReading(path));
  // Wine maps the attribute to file permissions, which do not hold for root.
  const HANDLE probe = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(probe);
    GTEST_SKIP() << "read-only files are writable here";
  }
  EXPECT_FALSE(files.OpenForUpdate(path));
}

TEST_F(Win32PortsTest, StampsARealFileInPlace) {
  Bytes image(0x9C0C, 0);
  image[0] = 0x34;
  image[1] = 0x12;
  image[0x9C01] = 0x55;
  image[0x9C02] = 0xAA;
  image[0x9C03] = 0xFF;
  WriteFileBytes(image);
  BoxRecorder ui;
  EXPECT_EQ(StampImageFile(files, ui, path), StampOutcome::kStamped);
  // 0x1234 + 0x5500 + 0xFFAA: the words of the file, its zero checksum field included.
  const std::uint32_t sum = 0x1234 + 0x5500 + 0xFFAA;
  Bytes expected = image;
  for (int i = 0; i < 4; ++i) expected[0x9C08 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
  EXPECT_EQ(ReadFileBytes(), expected);
  EXPECT_EQ(ui.captions, std::vector<std::string>{"校验成功。"});
}

VOID CALLBACK NoteApc(ULONG_PTR count) { ++*reinterpret_cast<int*>(count); }

TEST(Win32ClockTest, WaitsAtLeastTheWholeTimeDespiteApcs) {
  int apcs = 0;
  ASSERT_TRUE(::QueueUserAPC(&NoteApc, ::GetCurrentThread(), reinterpret_cast<ULONG_PTR>(&apcs)));
  Win32Clock clock;
  const ULONGLONG start = ::GetTickCount64();
  clock.Sleep(60);
  EXPECT_GE(::GetTickCount64() - start, 60u);
  EXPECT_EQ(apcs, 1);  // the sleep is alertable
}

}  // namespace
}  // namespace obrint::win
