// The Win32 adapters against the real system: image files, the clock, and the system's error
// texts.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "usermsg.h"
#include "win/clock.h"
#include "win/files.h"
#include "winbase/handles.h"
#include "winbase/text.h"

namespace obrint::win {
namespace {

TEST(Win32FileSystem, OpensWholeFilesUnsharedAndNeverCreatesOne) {
  wchar_t dir[MAX_PATH];
  ASSERT_GT(::GetTempPathW(MAX_PATH, dir), 0u);
  // A Chinese name: paths travel as UTF-8 up to CreateFileW.
  const std::string path =
      winbase::Narrow(dir) + "固件_" + std::to_string(::GetCurrentProcessId()) + ".bin";
  Win32FileSystem files;
  EXPECT_EQ(files.OpenForUpdate(path), nullptr);
  EXPECT_EQ(files.OpenForReading(path), nullptr);
  EXPECT_EQ(::GetFileAttributesW(winbase::Widen(path).c_str()), INVALID_FILE_ATTRIBUTES)
      << "not created";

  const std::uint8_t bytes[5] = {1, 2, 3, 4, 5};
  {
    winbase::UniqueHandle create(::CreateFileW(winbase::Widen(path).c_str(), GENERIC_WRITE, 0,
                                               nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                               nullptr));
    ASSERT_TRUE(create.valid());
  }
  {
    auto file = files.OpenForUpdate(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(files.OpenForReading(path), nullptr) << "an open image is not shared";
    EXPECT_TRUE(file->Write(bytes, sizeof bytes));
    EXPECT_TRUE(file->Rewind());
    std::uint8_t back[6] = {};
    EXPECT_FALSE(file->Read(back, sizeof back)) << "a short read is a failure";
    EXPECT_EQ(file->Size(), sizeof bytes);
    EXPECT_EQ(std::string(back, back + 5), std::string(bytes, bytes + 5));
  }
  EXPECT_NE(files.OpenForReading(path), nullptr) << "the handle was closed";
  ::DeleteFileW(winbase::Widen(path).c_str());
}

VOID CALLBACK NoteApc(ULONG_PTR count) { ++*reinterpret_cast<std::atomic<int>*>(count); }

// Measured on the performance counter while APCs keep cutting the sleeps short: a wait measured on
// the tick count, which moves in steps, would end early whenever the tick steps past its end.
TEST(Win32Clock, EveryWaitLastsAtLeastTheWholeTimeDespiteApcs) {
  std::atomic<int> apcs = 0;
  std::atomic<bool> waiting = true;
  const winbase::UniqueHandle self(::OpenThread(THREAD_SET_CONTEXT, FALSE, ::GetCurrentThreadId()));
  std::thread interrupter([&] {
    while (waiting) {
      ::QueueUserAPC(&NoteApc, self.get(), reinterpret_cast<ULONG_PTR>(&apcs));
      ::Sleep(1);
    }
  });
  LARGE_INTEGER frequency{};
  ::QueryPerformanceFrequency(&frequency);
  Win32Clock clock;
  for (int i = 0; i < 20; ++i) {
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceCounter(&start);
    clock.Sleep(10);
    ::QueryPerformanceCounter(&end);
    EXPECT_GE((end.QuadPart - start.QuadPart) * 1000, 10 * frequency.QuadPart) << "wait " << i;
  }
  waiting = false;
  interrupter.join();
  EXPECT_GT(apcs, 0) << "the sleep is alertable";
}

TEST(SystemErrorText, IsTheSystemSentenceWithoutItsLineBreak) {
  for (const DWORD code : {ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE}) {
    wchar_t* raw = nullptr;
    ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&raw), 0,
        nullptr);
    const winbase::UniqueLocalMemory owner(raw);
    ASSERT_NE(raw, nullptr);
    std::wstring expected(raw);
    while (!expected.empty() && (expected.back() == L'\n' || expected.back() == L'\r')) {
      expected.pop_back();
    }
    EXPECT_EQ(winbase::Widen(SystemErrorText(code)), expected);
  }
}

}  // namespace
}  // namespace obrint::win
