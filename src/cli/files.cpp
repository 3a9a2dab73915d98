#include "cli/files.h"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>

#include "winbase/text.h"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace obrint::cli {
namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::string& utf8) { return PathFromUtf8(utf8); }

// Why the last file operation of this thread failed, in the system's words.
thread_local std::string tReason;

// Notes the system's reason for the call that just failed; false, for `return Failed()`.
bool Failed() {
#ifdef _WIN32
  // In the system's language, as UTF-8, without the message's line end and full stop.
  wchar_t text[512] = L"";
  const DWORD length =
      ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       ::GetLastError(), 0, text, static_cast<DWORD>(std::size(text)), nullptr);
  tReason = winbase::Narrow(std::wstring_view(text, length));
  while (!tReason.empty() &&
         (std::isspace(static_cast<unsigned char>(tReason.back())) || tReason.back() == '.')) {
    tReason.pop_back();
  }
#else
  tReason = std::generic_category().message(errno);
#endif
  return false;
}

// A folder opens on some systems and is refused in other words on others: said alike.
void NoteFolder() { tReason = std::generic_category().message(EISDIR); }

// Where a write to `path` lands: the target of a link at `path`, followed to its end.
fs::path Target(const fs::path& path) {
  std::error_code ec;
  fs::path target = path;
  for (int hops = 0; hops < 40 && fs::is_symlink(target, ec); ++hops) {
    const fs::path next = fs::read_symlink(target, ec);
    if (ec) break;
    target = next.is_absolute() ? next : target.parent_path() / next;
  }
  return target;
}

// A name for a new file beside `target` that no one else picks.
fs::path TemporaryBeside(const fs::path& target) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  // Appended piece by piece: g++ 12 at -O2 warns (-Wrestrict, wrongly) on "." + std::string.
  std::string name(".");
  name.append(target.filename().string())
      .append(".obrint-")
      .append(std::to_string(random() % 1000000000000ull));
  return fs::path(target).replace_filename(name);
}

#ifdef _WIN32
constexpr std::intptr_t kNone = -1;

HANDLE H(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t OpenHandle(const fs::path& path, DWORD access, DWORD share, DWORD disposition) {
  HANDLE h = ::CreateFileW(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (h != INVALID_HANDLE_VALUE) return reinterpret_cast<std::intptr_t>(h);
  Failed();
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    NoteFolder();
  }
  return kNone;
}

void CloseHandle(std::intptr_t handle) {
  if (handle != kNone) ::CloseHandle(H(handle));
}

bool WriteAll(std::intptr_t handle, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
    if (!::WriteFile(H(handle), bytes.data(), chunk, &written, nullptr) || written == 0) {
      return Failed();
    }
    bytes = bytes.subspan(written);
  }
  return true;
}

bool Sync(std::intptr_t handle) { return ::FlushFileBuffers(H(handle)) || Failed(); }

// Creates a new file exclusively; kNone when the name is taken or the folder refuses.
std::intptr_t CreateNew(const fs::path& path) {
  return OpenHandle(path, GENERIC_WRITE, 0, CREATE_NEW);
}

bool RenameOver(const fs::path& from, const fs::path& to, bool replace) {
  return ::MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

void SyncFolder(const fs::path&) {}  // the rename was written through
#else
constexpr std::intptr_t kNone = -1;

std::intptr_t OpenHandle(const fs::path& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    Failed();
    return kNone;
  }
  // A folder or a device node is no file to read or write as one.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    S_ISDIR(info.st_mode) ? NoteFolder() : void(tReason = "not a regular file");
    ::close(fd);
    return kNone;
  }
  return fd;
}

void CloseHandle(std::intptr_t handle) {
  if (handle != kNone) ::close(static_cast<int>(handle));
}

bool WriteAll(std::intptr_t handle, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(static_cast<int>(handle), bytes.data(), bytes.size());
    if (written <= 0) return Failed();
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

bool Sync(std::intptr_t handle) { return ::fsync(static_cast<int>(handle)) == 0 || Failed(); }

std::intptr_t CreateNew(const fs::path& path) {
  // O_EXCL also refuses a link placed at the name.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  return fd < 0 ? kNone : fd;
}

bool RenameOver(const fs::path& from, const fs::path& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  // A hard link fails when the name is taken: nothing is replaced, however the race goes.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// The rename itself lasts once the folder that holds the name is made to last.
void SyncFolder(const fs::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}
#endif

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

Status OpenLog(const std::string& path, std::ifstream& log) {
  tReason.clear();
  std::error_code ec;
  // A folder opens as a stream of nothing; a pipe (a log given as /dev/stdin) is read as a file.
  if (fs::is_directory(PathFromUtf8(path), ec)) {
    NoteFolder();
    return Failure::kFileNotOpened;
  }
  log.open(PathFromUtf8(path), std::ios::binary);
  if (log) return {};
  Failed();
  return Failure::kFileNotOpened;
}

std::string WithSystemReason(const std::string& path) {
  return tReason.empty() ? path : path + ": " + tReason;
}

Result<File> File::OpenForReading(const std::string& path) {
  tReason.clear();
#ifdef _WIN32
  const std::intptr_t h = OpenHandle(PathOf(path), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
#else
  const std::intptr_t h = OpenHandle(PathOf(path), O_RDONLY);
#endif
  if (path.empty() || h == kNone) return Failure::kFileNotOpened;
  return File(h);
}

Result<File> File::OpenForUpdate(const std::string& path) {
  tReason.clear();
#ifdef _WIN32
  const std::intptr_t h =
      OpenHandle(PathOf(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
#else
  const std::intptr_t h = OpenHandle(PathOf(path), O_RDWR);
#endif
  if (path.empty() || h == kNone) return Failure::kFileNotOpened;
  return File(h);
}

Result<File> File::OpenForAppending(const std::string& path) {
  tReason.clear();
#ifdef _WIN32
  const std::intptr_t h = OpenHandle(PathOf(path), FILE_APPEND_DATA | FILE_READ_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
#else
  const std::intptr_t h = OpenHandle(PathOf(path), O_RDWR | O_APPEND | O_CREAT);
#endif
  if (path.empty() || h == kNone) return Failure::kFileNotOpened;
  return File(h);
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    CloseHandle(handle_);
    handle_ = std::exchange(other.handle_, kNone);
  }
  return *this;
}

File::~File() { CloseHandle(handle_); }

Result<std::uint64_t> File::Size() {
#ifdef _WIN32
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(H(handle_), &size)) return Failure::kFileUnreadable;
  return static_cast<std::uint64_t>(size.QuadPart);
#else
  struct stat info {};
  if (::fstat(static_cast<int>(handle_), &info) != 0) return Failure::kFileUnreadable;
  return static_cast<std::uint64_t>(info.st_size);
#endif
}

Result<std::vector<std::uint8_t>> File::Read(std::uint64_t offset, std::size_t limit) {
  std::vector<std::uint8_t> bytes(limit);
  std::size_t got = 0;
  while (got < limit) {
#ifdef _WIN32
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(offset + got);
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(limit - got, 1 << 20));
    if (!::SetFilePointerEx(H(handle_), at, nullptr, FILE_BEGIN) ||
        !::ReadFile(H(handle_), bytes.data() + got, chunk, &n, nullptr)) {
      Failed();
      return Failure::kFileUnreadable;
    }
#else
    const ssize_t n = ::pread(static_cast<int>(handle_), bytes.data() + got, limit - got,
                              static_cast<off_t>(offset + got));
    if (n < 0) {
      Failed();
      return Failure::kFileUnreadable;
    }
#endif
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

Status File::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
#ifdef _WIN32
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(H(handle_), at, nullptr, FILE_BEGIN)) return Failure::kFileWriteFailed;
  if (!WriteAll(handle_, bytes) || !Sync(handle_)) return Failure::kFileWriteFailed;
#else
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pwrite(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + done));
    if (n <= 0) {
      Failed();
      return Failure::kFileWriteFailed;
    }
    done += static_cast<std::size_t>(n);
  }
  if (!Sync(handle_)) return Failure::kFileWriteFailed;
#endif
  return {};
}

Status File::Append(std::span<const std::uint8_t> bytes) {
  if (!WriteAll(handle_, bytes) || !Sync(handle_)) return Failure::kFileWriteFailed;
  return {};
}

Status ReplaceContents(const std::string& path, std::span<const std::uint8_t> bytes, bool replace) {
  tReason.clear();
  if (path.empty()) return Failure::kFileWriteFailed;
  const fs::path target = Target(PathOf(path));
  std::error_code ec;
  if (!replace && fs::exists(fs::symlink_status(target, ec))) return Failure::kFileExists;
  fs::path temporary;
  std::intptr_t handle = kNone;
  for (int attempt = 0; attempt < 16 && handle == kNone; ++attempt) {
    temporary = TemporaryBeside(target);
    handle = CreateNew(temporary);
  }
  if (handle == kNone) {
    Failed();
    return Failure::kFileWriteFailed;
  }
  const bool written = WriteAll(handle, bytes) && Sync(handle);
  CloseHandle(handle);
  const bool renamed = written && RenameOver(temporary, target, replace);
  if (written && !renamed) Failed();
  if (!renamed) {
    const bool existed = !replace && fs::exists(fs::symlink_status(target, ec));
    fs::remove(temporary, ec);
    return existed ? Failure::kFileExists : Failure::kFileWriteFailed;
  }
  SyncFolder(target.parent_path());
  return {};
}

Result<std::string> ReadText(const std::string& path, std::size_t limit) {
  Result<File> file = File::OpenForReading(path);
  if (!file) return file.failure();
  Result<std::vector<std::uint8_t>> bytes = file->Read(0, limit);
  if (!bytes) return bytes.failure();
  return std::string(bytes->begin(), bytes->end());
}

Result<AppendLog> AppendLog::Open(const std::string& path) {
  Result<File> file = File::OpenForAppending(path);
  if (!file) return file.failure();
  bool lineOpen = false;
  if (const Result<std::uint64_t> size = file->Size(); size && *size > 0) {
    const Result<std::vector<std::uint8_t>> last = file->Read(*size - 1, 1);
    lineOpen = last && !last->empty() && last->back() != '\n';
  }
  AppendLog log(std::move(*file));
  log.lineOpen_ = lineOpen;
  return log;
}

AppendLog::AppendLog(AppendLog&& other) noexcept
    : file_(std::move(other.file_)),
      mutex_(std::move(other.mutex_)),
      lineOpen_(other.lineOpen_),
      broken_(other.broken_),
      failure_(std::move(other.failure_)) {}

AppendLog::~AppendLog() = default;

Status AppendLog::Append(std::string_view line) {
  const std::lock_guard lock(*mutex_);
  if (broken_) return Failure::kFileWriteFailed;
  std::string text(lineOpen_ ? "\n" : "");
  text.append(line) += '\n';
  if (file_.Append(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()))) {
    lineOpen_ = false;
    return {};
  }
  broken_ = true;
  failure_ = tReason;
  return Failure::kFileWriteFailed;
}

std::string AppendLog::failure() const {
  const std::lock_guard lock(*mutex_);
  return failure_;
}

}  // namespace obrint::cli
