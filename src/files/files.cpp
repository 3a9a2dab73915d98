#include "files/files.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <system_error>
#include <utility>

#include "files/handle.h"

namespace obrint::files {
namespace {

namespace fs = std::filesystem;

// Why the last file operation of this thread failed, in the system's words.
thread_local std::string tReason;

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

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

void NoteReason(std::string reason) { tReason = std::move(reason); }
void NoteFolder() { tReason = std::generic_category().message(EISDIR); }

std::string WithSystemReason(const std::string& path) {
  return tReason.empty() ? path : path + ": " + tReason;
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
  NoteReason(std::generic_category().message(errno));
  return Failure::kFileNotOpened;
}

Result<File> File::Open(const std::string& path, Access access) {
  tReason.clear();
  const Handle handle = path.empty() ? kNoHandle : OpenHandle(PathFromUtf8(path), access);
  if (handle == kNoHandle) return Failure::kFileNotOpened;
  return File(handle);
}

File::File(File&& other) noexcept : handle_(std::exchange(other.handle_, kNoHandle)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    CloseHandle(handle_);
    handle_ = std::exchange(other.handle_, kNoHandle);
  }
  return *this;
}

File::~File() { CloseHandle(handle_); }

Result<std::uint64_t> File::Size() {
  const std::optional<std::uint64_t> size = SizeOf(handle_);
  if (!size) return Failure::kFileUnreadable;
  return *size;
}

Result<std::vector<std::uint8_t>> File::Read(std::uint64_t offset, std::size_t limit) {
  std::vector<std::uint8_t> bytes(limit);
  std::size_t got = 0;
  while (got < limit) {
    const std::optional<std::size_t> n = ReadAt(handle_, offset + got, &bytes[got], limit - got);
    if (!n) return Failure::kFileUnreadable;
    if (*n == 0) break;
    got += *n;
  }
  bytes.resize(got);
  return bytes;
}

Status File::WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  if (!files::WriteAt(handle_, offset, bytes) || !Sync(handle_)) return Failure::kFileWriteFailed;
  return {};
}

Status File::Append(std::span<const std::uint8_t> bytes) {
  if (!WriteAll(handle_, bytes) || !Sync(handle_)) return Failure::kFileWriteFailed;
  return {};
}

Status ReplaceContents(const std::string& path, std::span<const std::uint8_t> bytes, bool replace) {
  tReason.clear();
  if (path.empty()) return Failure::kFileWriteFailed;
  const fs::path target = Target(PathFromUtf8(path));
  std::error_code ec;
  if (!replace && fs::exists(fs::symlink_status(target, ec))) return Failure::kFileExists;
  fs::path temporary;
  Handle handle = kNoHandle;
  for (int attempt = 0; attempt < 16 && handle == kNoHandle; ++attempt) {
    temporary = TemporaryBeside(target);
    handle = CreateNewHandle(temporary);
  }
  if (handle == kNoHandle) {
    NoteFailure();
    return Failure::kFileWriteFailed;
  }
  const bool written = WriteAll(handle, bytes) && Sync(handle);
  CloseHandle(handle);
  const bool renamed = written && RenameOver(temporary, target, replace);
  if (written && !renamed) NoteFailure();
  if (!renamed) {
    const bool existed = !replace && fs::exists(fs::symlink_status(target, ec));
    fs::remove(temporary, ec);
    return existed ? Failure::kFileExists : Failure::kFileWriteFailed;
  }
  SyncFolder(target.parent_path());
  return {};
}

Result<std::string> ReadText(const std::string& path, std::size_t limit) {
  Result<File> file = File::Open(path, Access::kRead);
  if (!file) return file.failure();
  Result<std::vector<std::uint8_t>> bytes = file->Read(0, limit);
  if (!bytes) return bytes.failure();
  return std::string(bytes->begin(), bytes->end());
}

Result<AppendLog> AppendLog::Open(const std::string& path) {
  Result<File> file = File::Open(path, Access::kAppend);
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

}  // namespace obrint::files
