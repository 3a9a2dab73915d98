#include "engine/loaded_image.h"

#include "files/files.h"
#include "device/sha256.h"

namespace obrint::engine {

Result<LoadedImage> LoadImage(const std::string& path) {
  Result<files::File> file = files::File::Open(path, files::Access::kRead);
  if (!file) return file.failure();
  const Result<std::uint64_t> size = file->Size();
  if (!size) return size.failure();
  // Never more than stamping would read: a larger image is refused by its size alone.
  const auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(*size, kStampBufferSize));
  Result<std::vector<std::uint8_t>> bytes = file->Read(0, wanted);
  if (!bytes) return bytes.failure();
  // A file that shrank while it was read is no image to trust.
  if (bytes->size() != wanted) return Failure::kFileUnreadable;
  LoadedImage image{path, std::move(*bytes), {}, {}};
  image.check = CheckImage(image.bytes, *size);
  image.sha256 = Sha256Hex(image.bytes);
  return image;
}

Result<LoadedImage> LoadFlashable(const std::string& path, bool force, std::string& detail) {
  Result<LoadedImage> image = LoadImage(path);
  detail = image ? path : files::WithSystemReason(path);
  if (!image) return image;
  const Status verdict = image->check.verdict;
  if (verdict.failed() && !(force && verdict.failure() == Failure::kChecksumMismatch)) {
    return verdict.failure();
  }
  return image;
}

}  // namespace obrint::engine
