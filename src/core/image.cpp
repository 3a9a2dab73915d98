#include "core/image.h"

#include "core/bytes.h"
#include "core/checksum.h"

namespace obrint {
namespace {

constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFF;

}  // namespace

StampResult StampImage(ImageFile& file, std::span<std::uint8_t> buffer) {
  StampResult result;
  result.size = file.Size();
  if (result.size == kInvalidFileSize) {
    result.failure = StampFailure::kUnreadable;
  } else if (result.size > buffer.size()) {
    result.failure = StampFailure::kTooLarge;
  } else if (!file.Read(buffer.data(), result.size)) {
    result.failure = StampFailure::kUnreadable;
  } else if (ReadLe32(&buffer[kVersionBlockOffset]) != kVersionMagic) {
    result.failure = StampFailure::kNoVersionBlock;
  }
  if (result.failure != StampFailure::kNone) return result;

  result.previous = ReadLe32(&buffer[kChecksumFieldOffset]);
  result.checksum = ImageChecksum(buffer.first(result.size));
  result.fieldWhole = result.size >= kChecksumFieldOffset + kChecksumFieldSize;
  // The whole file goes back, so it keeps its length; a checksum field that runs past the end of
  // the file is cut off there.
  WriteLe32(&buffer[kChecksumFieldOffset], result.checksum);
  const std::uint32_t size = file.Size();
  if (size > buffer.size() || !file.Rewind() || !file.Write(buffer.data(), size)) {
    result.failure = StampFailure::kWriteFailed;
  }
  return result;
}

StampResult StampImage(FileSystem& files, const std::string& path) {
  std::unique_ptr<ImageFile> file = files.OpenForUpdate(path);
  if (!file) return {.failure = StampFailure::kNotOpened};
  std::unique_ptr<std::uint8_t[]> buffer = files.AllocateImageBuffer();
  if (!buffer) return {.failure = StampFailure::kNoMemory};
  return StampImage(*file, std::span(buffer.get(), kImageBufferSize));
}

}  // namespace obrint
