// A firmware image as the engine flashes it: read once, checked, and then only those bytes,
// exactly, are written, under their SHA-256.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/failure.h"
#include "device/image.h"

namespace obrint::engine {

struct LoadedImage {
  std::string path;                 // as given
  std::vector<std::uint8_t> bytes;  // the whole image (its first 65,536 bytes when larger)
  ImageCheck check;
  std::string sha256;  // of `bytes`
};

// Reads the file once; Failure::kFileNotOpened or kFileUnreadable.
Result<LoadedImage> LoadImage(const std::string& path);

// The image read, if it may be flashed: by its check's verdict, where `force` lifts only a
// checksum that does not check out. A failure's words in `detail`.
Result<LoadedImage> LoadFlashable(const std::string& path, bool force, std::string& detail);

}  // namespace obrint::engine
