#include "win/ports.h"

#include <commdlg.h>
#include <mmsystem.h>

#include <array>

#include "win/handles.h"
#include "win/text.h"

namespace obrint::win {
namespace {

class Win32ImageFile : public ImageFile {
 public:
  explicit Win32ImageFile(UniqueHandle file) : file_(std::move(file)) {}

  std::uint32_t Size() override { return ::GetFileSize(file_.get(), nullptr); }
  bool Read(std::uint8_t* dst, std::uint32_t count) override {
    DWORD done = 0;
    return ::ReadFile(file_.get(), dst, count, &done, nullptr) && done == count;
  }
  bool Rewind() override {
    return ::SetFilePointer(file_.get(), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER;
  }
  bool Write(const std::uint8_t* src, std::uint32_t count) override {
    DWORD done = 0;
    return ::WriteFile(file_.get(), src, count, &done, nullptr) && done == count;
  }

 private:
  UniqueHandle file_;
};

std::unique_ptr<ImageFile> Open(const std::string& path, DWORD access) {
  if (path.empty()) return nullptr;
  UniqueHandle file(::CreateFileW(Widen(path).c_str(), access, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return nullptr;
  return std::make_unique<Win32ImageFile>(std::move(file));
}

// The dialog's structure is passed at its full size, as the system's own file dialogs expect.
static_assert(sizeof(void*) != 4 || sizeof(OPENFILENAMEW) == 88);

}  // namespace

std::unique_ptr<ImageFile> Win32FileSystem::OpenForReading(const std::string& path) {
  return Open(path, GENERIC_READ);
}

std::unique_ptr<ImageFile> Win32FileSystem::OpenForUpdate(const std::string& path) {
  return Open(path, GENERIC_READ | GENERIC_WRITE);
}

Win32Clock::Win32Clock() {
  TIMECAPS caps{};
  if (::timeGetDevCaps(&caps, sizeof caps) == MMSYSERR_NOERROR &&
      ::timeBeginPeriod(caps.wPeriodMin) == TIMERR_NOERROR) {
    timerResolutionMs_ = caps.wPeriodMin;
  }
  LARGE_INTEGER frequency{};
  ::QueryPerformanceFrequency(&frequency);
  ticksPerSecond_ = frequency.QuadPart;
}

Win32Clock::~Win32Clock() {
  if (timerResolutionMs_ != 0) ::timeEndPeriod(timerResolutionMs_);
}

void Win32Clock::Sleep(unsigned ms) {
  LARGE_INTEGER start{};
  ::QueryPerformanceCounter(&start);
  // Whole counter ticks, rounded up, so that the wait is never a fraction short.
  const LONGLONG wait = (static_cast<LONGLONG>(ms) * ticksPerSecond_ + 999) / 1000;
  for (;;) {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const LONGLONG left = wait - (now.QuadPart - start.QuadPart);
    if (left <= 0) return;
    ::SleepEx(static_cast<DWORD>((left * 1000 + ticksPerSecond_ - 1) / ticksPerSecond_), TRUE);
  }
}

std::string ChooseFirmwareImage(HWND owner) {
  std::array<wchar_t, kMaxPath> file{};
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  // Each entry ends in a null character; the literal's own terminator ends the list.
  ofn.lpstrFilter = L"bin\0*.bin\0All\0*.*\0";
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
  if (!::GetOpenFileNameW(&ofn)) return {};
  return Narrow(file.data());
}

}  // namespace obrint::win
