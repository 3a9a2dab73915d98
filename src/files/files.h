// Files as the command line reads and writes them, so that nothing is lost: an image read once, a
// file replaced whole through a new file beside it, a record appended and made to last, a field
// written in place into the very file that was checked. Paths are UTF-8; handles in handle.h.
#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "device/failure.h"
#include "files/handle.h"

namespace obrint::files {

std::filesystem::path PathFromUtf8(const std::string& utf8);

// "PATH: the system's reason" ("demo.bin: Is a directory"): a file as a message names it, with
// why the last file operation of this thread failed; the path alone where no reason is known.
std::string WithSystemReason(const std::string& path);

// Opens a log to read line by line: a file, or a pipe (a log given as /dev/stdin); a folder is
// refused. Failure::kFileNotOpened, with its reason for WithSystemReason.
Status OpenLog(const std::string& path, std::ifstream& log);

// One open file; closed when the object goes. A failure leaves its reason for WithSystemReason.
class File {
 public:
  // A regular file (never a folder or a device); Failure::kFileNotOpened.
  static Result<File> Open(const std::string& path, Access access);
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  ~File();

  // The size it has now; Failure::kFileUnreadable.
  Result<std::uint64_t> Size();
  // Up to `limit` bytes from `offset` (fewer where it ends); Failure::kFileUnreadable.
  Result<std::vector<std::uint8_t>> Read(std::uint64_t offset, std::size_t limit);
  // Writes `bytes` at `offset` and makes them last; Failure::kFileWriteFailed.
  Status WriteAt(std::uint64_t offset, std::span<const std::uint8_t> bytes);
  // Writes `bytes` at the end (a file opened for appending) and makes them last.
  Status Append(std::span<const std::uint8_t> bytes);

 private:
  explicit File(Handle handle) : handle_(handle) {}
  Handle handle_;
};

// Replaces (or creates) the file at `path` with `bytes`: written into a new file of a unique name
// beside it (created exclusively, never through a link), made to last, then renamed over it. A
// link at `path` stays and its target is replaced. A failure leaves the old file as it was and no
// new one behind: Failure::kFileWriteFailed, or kFileExists when `replace` is false and the file
// is there.
Status ReplaceContents(const std::string& path, std::span<const std::uint8_t> bytes, bool replace);

// The whole content of a small file (a state file); Failure::kFileNotOpened or kFileUnreadable.
Result<std::string> ReadText(const std::string& path, std::size_t limit = 1 << 20);

// An append-only log of lines, each made to last before Append returns. Several threads may
// append at once. A log that ends without a line break (its last line torn by a full disk or a
// power cut) gets its first line on a line of its own, so that a torn line costs one line only.
class AppendLog {
 public:
  // Failure::kFileNotOpened.
  static Result<AppendLog> Open(const std::string& path);
  // `line` and a line break; Failure::kFileWriteFailed. Once an append has failed, the file may
  // end inside its line: nothing more is written, and every later append fails too.
  Status Append(std::string_view line);
  // The system's reason for the append that failed; empty while none did.
  std::string failure() const;

 private:
  explicit AppendLog(File file) : file_(std::move(file)) {}
  File file_;
  std::unique_ptr<std::mutex> mutex_ = std::make_unique<std::mutex>();
  bool lineOpen_ = false;  // the file ends without a line break
  bool broken_ = false;
  std::string failure_;
};

}  // namespace obrint::files
