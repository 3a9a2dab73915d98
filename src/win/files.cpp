#include "win/files.h"

#include <optional>

#include <windows.h>

#include "winbase/handles.h"
#include "winbase/text.h"

namespace obrint::win {

namespace {

class Win32ImageFile : public ImageFile {
 public:
  explicit Win32ImageFile(winbase::UniqueHandle file) : file_(std::move(file)) {}

  std::optional<std::uint32_t> Size() override {
    const DWORD size = ::GetFileSize(file_.get(), nullptr);
    if (size == INVALID_FILE_SIZE) return std::nullopt;
    return size;
  }
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
  winbase::UniqueHandle file_;
};

std::unique_ptr<ImageFile> Open(const std::string& path, DWORD access) {
  if (path.empty()) return nullptr;
  winbase::UniqueHandle file(::CreateFileW(winbase::Widen(path).c_str(), access, 0, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return nullptr;
  return std::make_unique<Win32ImageFile>(std::move(file));
}

}  // namespace

std::unique_ptr<ImageFile> Win32FileSystem::OpenForReading(const std::string& path) {
  return Open(path, GENERIC_READ);
}

std::unique_ptr<ImageFile> Win32FileSystem::OpenForUpdate(const std::string& path) {
  return Open(path, GENERIC_READ | GENERIC_WRITE);
}

}  // namespace obrint::win
