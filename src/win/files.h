// The window's firmware image files: opened through CreateFileW by their UTF-8 paths.
#pragma once

#include <memory>
#include <string>

#include "device/image_file.h"

namespace obrint::win {

// Image files, never shared while open: for reading (the upgrade) or for reading and writing
// (the checksum stamp).
class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<ImageFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<ImageFile> OpenForUpdate(const std::string& path) override;
};

}  // namespace obrint::win
