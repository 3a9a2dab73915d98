// Windows: the files' handles are HANDLEs, their reasons the system's messages.
#include <windows.h>

#include <algorithm>
#include <cctype>

#include "files/handle.h"
#include "winbase/text.h"

namespace obrint::files {
namespace {

HANDLE H(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

Handle Open(const std::filesystem::path& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<Handle>(h);
  NoteFailure();
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    NoteFolder();
  }
  return kNoHandle;
}

bool Seek(Handle handle, std::uint64_t offset) {
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(H(handle), at, nullptr, FILE_BEGIN) || NoteFailure();
}

}  // namespace

bool NoteFailure() {
  // In the system's language, as UTF-8, without the message's line end and full stop.
  wchar_t text[512] = L"";
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       ::GetLastError(), 0, text, static_cast<DWORD>(std::size(text)), nullptr);
  std::string reason = winbase::Narrow(std::wstring_view(text, length));
  while (!reason.empty() &&
         (std::isspace(static_cast<unsigned char>(reason.back())) || reason.back() == '.')) {
    reason.pop_back();
  }
  NoteReason(std::move(reason));
  return false;
}

Handle OpenHandle(const std::filesystem::path& path, Access access) {
  switch (access) {
    case Access::kRead:
      return Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    case Access::kUpdate:
      return Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    case Access::kAppend:
      return Open(path, FILE_APPEND_DATA | FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  OPEN_ALWAYS);
  }
  return kNoHandle;
}

Handle CreateNewHandle(const std::filesystem::path& path) {
  return Open(path, GENERIC_WRITE, 0, CREATE_NEW);
}

void CloseHandle(Handle handle) {
  if (handle != kNoHandle) ::CloseHandle(H(handle));
}

bool WriteAll(Handle handle, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (!::WriteFile(H(handle), bytes.data(), chunk, &written, nullptr) || written == 0) {
      return NoteFailure();
    }
    bytes = bytes.subspan(written);
  }
  return true;
}

bool Sync(Handle handle) { return ::FlushFileBuffers(H(handle)) || NoteFailure(); }

std::optional<std::uint64_t> SizeOf(Handle handle) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(H(handle), &size)) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> ReadAt(Handle handle, std::uint64_t offset, std::uint8_t* bytes,
                                  std::size_t count) {
  DWORD n = 0;
  const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count, 1 << 20));
  if (!Seek(handle, offset)) return std::nullopt;
  if (!::ReadFile(H(handle), bytes, chunk, &n, nullptr)) {
    NoteFailure();
    return std::nullopt;
  }
  return n;
}

bool WriteAt(Handle handle, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  return Seek(handle, offset) && WriteAll(handle, bytes);
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to, bool replace) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

void SyncFolder(const std::filesystem::path&) {}  // the rename was written through

}  // namespace obrint::files
