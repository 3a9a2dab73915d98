#include "cli/std_files.h"

#include <fstream>
#include <system_error>

namespace obrint::cli {
namespace {

constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;

class StdImageFile : public ImageFile {
 public:
  explicit StdImageFile(std::fstream stream) : stream_(std::move(stream)) {
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.tellg();
    // A size that does not fit 32 bits is reported like a failed GetFileSize.
    size_ = end < 0 || end >= std::streamoff{kUnknownSize} ? kUnknownSize
                                                           : static_cast<std::uint32_t>(end);
    stream_.seekg(0, std::ios::beg);
    stream_.clear();
  }

  std::uint32_t Size() override { return size_; }

  bool Read(std::uint8_t* dst, std::uint32_t count) override {
    stream_.read(reinterpret_cast<char*>(dst), static_cast<std::streamsize>(count));
    const bool whole = stream_.gcount() == static_cast<std::streamsize>(count);
    if (!whole) stream_.clear();
    return whole && !stream_.bad();
  }

  bool Rewind() override {
    stream_.clear();
    stream_.seekg(0, std::ios::beg);
    stream_.seekp(0, std::ios::beg);
    return static_cast<bool>(stream_);
  }

  bool Write(const std::uint8_t* src, std::uint32_t count) override {
    stream_.write(reinterpret_cast<const char*>(src), static_cast<std::streamsize>(count));
    stream_.flush();
    return static_cast<bool>(stream_);
  }

 private:
  std::fstream stream_;
  std::uint32_t size_ = kUnknownSize;
};

std::unique_ptr<ImageFile> Open(const std::string& path, std::ios::openmode mode) {
  if (path.empty()) return nullptr;
  const std::filesystem::path fsPath = PathFromUtf8(path);
  std::error_code ec;
  // A directory opens as a stream on some systems but is no image.
  if (!std::filesystem::is_regular_file(fsPath, ec)) return nullptr;
  std::fstream stream(fsPath, mode | std::ios::binary);
  if (!stream.is_open()) return nullptr;
  return std::make_unique<StdImageFile>(std::move(stream));
}

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::unique_ptr<ImageFile> StdFileSystem::OpenForReading(const std::string& path) {
  return Open(path, std::ios::in);
}

std::unique_ptr<ImageFile> StdFileSystem::OpenForUpdate(const std::string& path) {
  return Open(path, std::ios::in | std::ios::out);
}

bool WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool replace,
                  std::string& error) {
  const std::filesystem::path fsPath = PathFromUtf8(path);
  std::error_code ec;
  if (!replace && std::filesystem::exists(fsPath, ec)) {
    error = "exists already (use --force to replace it)";
    return false;
  }
  std::ofstream out(fsPath, std::ios::binary | std::ios::trunc);
  if (!out.is_open()) {
    error = "cannot be created";
    return false;
  }
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = "cannot be written";
    return false;
  }
  return true;
}

}  // namespace obrint::cli
