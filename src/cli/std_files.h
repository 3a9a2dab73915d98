// Image files through the C++ standard library, for the command line on every platform. Paths
// are UTF-8; on Windows they reach the file system as UTF-16.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>

#include "device/ports.h"

namespace obrint::cli {

std::filesystem::path PathFromUtf8(const std::string& utf8);

class StdFileSystem : public FileSystem {
 public:
  std::unique_ptr<ImageFile> OpenForReading(const std::string& path) override;
  std::unique_ptr<ImageFile> OpenForUpdate(const std::string& path) override;
};

// Creates `path` with `bytes`; with `replace` false an existing file is left alone and refused.
// False with a reason in `error` on failure.
bool WriteNewFile(const std::string& path, std::span<const std::uint8_t> bytes, bool replace,
                  std::string& error);

}  // namespace obrint::cli
