// OpenHidDevice: the one open that every headset operation and the interface search use. A plain
// file stands in for an interface; what matters is how it is opened.
#include <gtest/gtest.h>
#include <winternl.h>

#include <string>

#include "hid/hid_binding.h"
#include "win/hid_link.h"

namespace obrint::win {
namespace {

class OpenHidDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[MAX_PATH];
    ASSERT_TRUE(::GetTempPathA(MAX_PATH, dir));
    char file[MAX_PATH];
    ASSERT_TRUE(::GetTempFileNameA(dir, "hid", 0, file));
    path_ = file;
    HANDLE h = ::CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(h, "interface", 9, &written, nullptr);
    ::CloseHandle(h);
  }
  void TearDown() override { ::DeleteFileA(path_.c_str()); }

  std::string path_;
};

TEST_F(OpenHidDeviceTest, EmptyAndNullPathsFail) {
  EXPECT_EQ(OpenHidDevice(""), INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenHidDevice(nullptr), INVALID_HANDLE_VALUE);
  WinHidLink link;
  EXPECT_EQ(link.OpenHidDevice(""), nullptr);
}

TEST_F(OpenHidDeviceTest, APathThatDoesNotExistFailsAndIsNotCreated) {
  const std::string missing = path_ + ".absent";
  EXPECT_EQ(OpenHidDevice(missing.c_str()), INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
  WinHidLink link;
  EXPECT_EQ(link.OpenHidDevice(missing), nullptr);
}

TEST_F(OpenHidDeviceTest, APathAlreadyOpenOpensAgain) {
  UniqueHandle first(OpenHidDevice(path_.c_str()));
  ASSERT_TRUE(first.valid());
  UniqueHandle second(OpenHidDevice(path_.c_str()));
  EXPECT_TRUE(second.valid()) << "read and write sharing admits a second reader-writer";

  WinHidLink link;
  EXPECT_NE(link.OpenHidDevice(path_), nullptr);
}

TEST_F(OpenHidDeviceTest, SharesReadingAndWritingButNotDeletion) {
  UniqueHandle held(OpenHidDevice(path_.c_str()));
  ASSERT_TRUE(held.valid());
  // Whoever opens next must share reading and writing in turn, since the handle reads and writes.
  UniqueHandle readOnlyShare(::CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(readOnlyShare.valid());
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(::DeleteFileA(path_.c_str())) << "deletion is not shared";
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
}

TEST_F(OpenHidDeviceTest, TheHandleReadsAndWritesOverlapped) {
  UniqueHandle h(OpenHidDevice(path_.c_str()));
  ASSERT_TRUE(h.valid());

  using QueryFn = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, PVOID, ULONG, int);
  const auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  ASSERT_NE(query, nullptr);
  IO_STATUS_BLOCK io{};
  ULONG mode = 0xFFFFFFFF;
  constexpr int kFileModeInformation = 16;
  constexpr ULONG kSynchronousIo = 0x10 | 0x20;  // FILE_SYNCHRONOUS_IO_ALERT | _NONALERT
  ASSERT_EQ(query(h.get(), &io, &mode, sizeof mode, kFileModeInformation), 0);
  EXPECT_EQ(mode & kSynchronousIo, 0u) << "the handle is opened for overlapped I/O";

  OVERLAPPED ov{};
  ov.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  char text[16] = {};
  DWORD done = 0;
  if (!::ReadFile(h.get(), text, 9, nullptr, &ov)) {
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  }
  EXPECT_TRUE(::GetOverlappedResult(h.get(), &ov, &done, TRUE)) << "the handle reads";
  EXPECT_EQ(std::string(text, done), "interface");
  ::ResetEvent(ov.hEvent);
  ov.Offset = 9;
  if (!::WriteFile(h.get(), "!", 1, nullptr, &ov)) {
    ASSERT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
  }
  EXPECT_TRUE(::GetOverlappedResult(h.get(), &ov, &done, TRUE)) << "the handle writes";
  ::CloseHandle(ov.hEvent);
}

}  // namespace
}  // namespace obrint::win
