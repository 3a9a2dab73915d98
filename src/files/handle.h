// The platform's half of the files: an open file's handle and the few calls made on it, each
// noting the system's reason when it fails (NoteReason). posix/file_handle.cpp and
// win/file_handle.cpp implement them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace obrint::files {

using Handle = std::intptr_t;  // a descriptor, or a Windows HANDLE
inline constexpr Handle kNoHandle = -1;

enum class Access : std::uint8_t {
  kRead,    // others may read too
  kUpdate,  // reading and writing, no one else writing meanwhile
  kAppend,  // appending (and reading), created when it is not there
};

// Only a regular file opens; a folder is refused with the words the system has for a folder.
Handle OpenHandle(const std::filesystem::path& path, Access access);
// A new file, created exclusively and never through a link at the name; kNoHandle when the name
// is taken or the folder refuses.
Handle CreateNewHandle(const std::filesystem::path& path);
void CloseHandle(Handle handle);
bool WriteAll(Handle handle, std::span<const std::uint8_t> bytes);
// Makes what was written last.
bool Sync(Handle handle);
std::optional<std::uint64_t> SizeOf(Handle handle);
// Up to `count` bytes at `offset`, by one call: how many, 0 at the end; nullopt on an error.
std::optional<std::size_t> ReadAt(Handle handle, std::uint64_t offset, std::uint8_t* bytes,
                                  std::size_t count);
bool WriteAt(Handle handle, std::uint64_t offset, std::span<const std::uint8_t> bytes);
// Without `replace`, never over a file that is there, however the race goes.
bool RenameOver(const std::filesystem::path& from, const std::filesystem::path& to, bool replace);
// Makes a rename in `folder` last.
void SyncFolder(const std::filesystem::path& folder);
// Notes the system's reason for the call that just failed; false, for `return NoteFailure()`.
bool NoteFailure();

// Why the last file operation of this thread failed, in the system's words.
void NoteReason(std::string reason);
// The words a folder is refused in, alike on every system.
void NoteFolder();

}  // namespace obrint::files
