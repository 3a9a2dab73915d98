// POSIX: the files' handles are descriptors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "files/handle.h"

namespace obrint::files {

bool NoteFailure() {
  NoteReason(std::generic_category().message(errno));
  return false;
}

Handle OpenHandle(const std::filesystem::path& path, Access access) {
  const int flags = access == Access::kRead     ? O_RDONLY
                    : access == Access::kUpdate ? O_RDWR
                                                : O_RDWR | O_APPEND | O_CREAT;
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) {
    NoteFailure();
    return kNoHandle;
  }
  // A folder or a device node is no file to read or write as one.
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    S_ISDIR(info.st_mode) ? NoteFolder() : NoteReason("not a regular file");
    ::close(fd);
    return kNoHandle;
  }
  return fd;
}

Handle CreateNewHandle(const std::filesystem::path& path) {
  // O_EXCL also refuses a link placed at the name.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  return fd < 0 ? kNoHandle : fd;
}

void CloseHandle(Handle handle) {
  if (handle != kNoHandle) ::close(static_cast<int>(handle));
}

bool WriteAll(Handle handle, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(static_cast<int>(handle), bytes.data(), bytes.size());
    if (written <= 0) return NoteFailure();
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

bool Sync(Handle handle) { return ::fsync(static_cast<int>(handle)) == 0 || NoteFailure(); }

std::optional<std::uint64_t> SizeOf(Handle handle) {
  struct stat info {};
  if (::fstat(static_cast<int>(handle), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::size_t> ReadAt(Handle handle, std::uint64_t offset, std::uint8_t* bytes,
                                  std::size_t count) {
  const ssize_t n = ::pread(static_cast<int>(handle), bytes, count, static_cast<off_t>(offset));
  if (n < 0) {
    NoteFailure();
    return std::nullopt;
  }
  return static_cast<std::size_t>(n);
}

bool WriteAt(Handle handle, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::pwrite(static_cast<int>(handle), bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(offset + done));
    if (n <= 0) return NoteFailure();
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0;
  // A hard link fails when the name is taken: nothing is replaced, however the race goes.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// The rename itself lasts once the folder that holds the name is made to last.
void SyncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace obrint::files
