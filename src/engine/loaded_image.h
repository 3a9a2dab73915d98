// A firmware image as the engine flashes it: read once and checked; exactly those bytes are
// written, under their SHA-256.
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

// The image, if its check lets it be flashed (`force` lifts only a wrong checksum); a failure's
// words in `detail`.
Result<LoadedImage> LoadFlashable(const std::string& path, bool force, std::string& detail);

}  // namespace obrint::engine
