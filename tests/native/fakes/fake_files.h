// In-memory image files for the headset operations' tests, with failures to order and a count of
// the handles still open.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/ports.h"

namespace obrint::fakes {

struct FakeFile {
  std::vector<std::uint8_t> bytes;
  bool readOnly = false;   // opens for reading only
  bool locked = false;     // held by another program: does not open at all
  int failReadNumber = 0;  // the Nth Read on a handle of this file fails (1-based; 0: none)
  bool failSize = false;
  bool failRewind = false;
  bool failWrite = false;
  int reads = 0;   // Read calls over all handles
  int writes = 0;  // Write calls that changed the file
};

class FakeFileSystem : public FileSystem {
 public:
  FakeFile& Add(const std::string& path, std::vector<std::uint8_t> bytes) {
    FakeFile& file = files_[path];
    file = FakeFile{};
    file.bytes = std::move(bytes);
    return file;
  }
  void Remove(const std::string& path) { files_.erase(path); }
  FakeFile& file(const std::string& path) { return files_.at(path); }

  std::unique_ptr<ImageFile> OpenForReading(const std::string& path) override {
    return Open(path, false);
  }
  std::unique_ptr<ImageFile> OpenForUpdate(const std::string& path) override {
    return Open(path, true);
  }
  std::unique_ptr<std::uint8_t[]> AllocateImageBuffer() override {
    ++allocations_;
    if (failAllocation) return nullptr;
    return FileSystem::AllocateImageBuffer();
  }

  bool failAllocation = false;
  int openHandles() const { return openHandles_; }
  int opens() const { return opens_; }
  int allocations() const { return allocations_; }

 private:
  class Handle : public ImageFile {
   public:
    Handle(FakeFile& file, bool writable, int& openHandles)
        : file_(file), writable_(writable), openHandles_(openHandles) {
      ++openHandles_;
    }
    ~Handle() override { --openHandles_; }

    std::uint32_t Size() override {
      return file_.failSize ? 0xFFFFFFFF : static_cast<std::uint32_t>(file_.bytes.size());
    }
    bool Read(std::uint8_t* dst, std::uint32_t count) override {
      ++reads_;
      ++file_.reads;
      if (reads_ == file_.failReadNumber) return false;
      const std::size_t available = file_.bytes.size() - std::min(position_, file_.bytes.size());
      const std::size_t n = std::min<std::size_t>(count, available);
      std::copy_n(file_.bytes.begin() + static_cast<std::ptrdiff_t>(position_), n, dst);
      position_ += n;
      return n == count;
    }
    bool Rewind() override {
      if (file_.failRewind) return false;
      position_ = 0;
      return true;
    }
    bool Write(const std::uint8_t* src, std::uint32_t count) override {
      if (!writable_ || file_.failWrite) return false;
      if (position_ + count > file_.bytes.size()) file_.bytes.resize(position_ + count);
      std::copy_n(src, count, file_.bytes.begin() + static_cast<std::ptrdiff_t>(position_));
      position_ += count;
      ++file_.writes;
      return true;
    }

   private:
    FakeFile& file_;
    bool writable_;
    int& openHandles_;
    std::size_t position_ = 0;
    int reads_ = 0;
  };

  std::unique_ptr<ImageFile> Open(const std::string& path, bool writable) {
    auto it = files_.find(path);
    if (it == files_.end() || it->second.locked || (writable && it->second.readOnly)) {
      return nullptr;
    }
    ++opens_;
    return std::make_unique<Handle>(it->second, writable, openHandles_);
  }

  std::map<std::string, FakeFile> files_;
  int openHandles_ = 0;
  int opens_ = 0;
  int allocations_ = 0;
};

}  // namespace obrint::fakes
