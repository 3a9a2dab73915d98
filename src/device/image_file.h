// An open firmware image file as the window reads and stamps it, and where such files are opened:
// a small port that the window implements over Win32 and the tests over fakes. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>

namespace obrint {

// An open firmware image file. Destroying the object closes the file.
class ImageFile {
 public:
  virtual ~ImageFile() = default;
  // The file's size in bytes; nullopt when it cannot be had.
  virtual std::optional<std::uint32_t> Size() = 0;
  // Reads exactly `count` bytes from the current position; false on error or a short read.
  virtual bool Read(std::uint8_t* dst, std::uint32_t count) = 0;
  // Moves the position to the start of the file.
  virtual bool Rewind() = 0;
  // Writes exactly `count` bytes at the current position; false on error or a short write.
  virtual bool Write(const std::uint8_t* src, std::uint32_t count) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opened for reading (or for reading and writing), no sharing; null when it cannot be opened.
  virtual std::unique_ptr<ImageFile> OpenForReading(const std::string& path) = 0;
  virtual std::unique_ptr<ImageFile> OpenForUpdate(const std::string& path) = 0;
  // `size` zero bytes, or null when memory is short.
  virtual std::unique_ptr<std::uint8_t[]> AllocateBuffer(std::uint32_t size) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]());
  }
};

}  // namespace obrint
