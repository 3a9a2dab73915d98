#include "presenters/image_stamp.h"

#include <span>

#include "device/image.h"

namespace obrint::presenters {
namespace {

Status Tell(UserInterface& ui, std::string_view caption, Failure failure) {
  ui.ShowWindowBox("CheckSum", caption, kBoxOk);
  return failure;
}

// Reads the file whole into the buffer, stamps it, and writes it back from its start with the
// length the file has then, so that only the checksum field changes.
Status Stamp(ImageFile& file, std::span<std::uint8_t> buffer) {
  const std::optional<std::uint32_t> size = file.Size();
  if (!size) return Failure::kFileUnreadable;
  if (*size > buffer.size()) return Failure::kImageTooLarge;
  if (!file.Read(buffer.data(), *size)) return Failure::kFileUnreadable;
  if (const Result<obrint::Stamp> stamp = StampImage(buffer, *size); !stamp) {
    return stamp.failure();
  }
  const std::optional<std::uint32_t> now = file.Size();
  if (!now || *now > buffer.size() || !file.Rewind() || !file.Write(buffer.data(), *now)) {
    return Failure::kFileWriteFailed;
  }
  return {};
}

}  // namespace

Status StampImageFile(FileSystem& files, UserInterface& ui, const std::string& path) {
  std::unique_ptr<ImageFile> file = files.OpenForUpdate(path);
  if (!file) return Failure::kFileNotOpened;
  std::unique_ptr<std::uint8_t[]> buffer = files.AllocateBuffer(kStampBufferSize);
  if (!buffer) return Tell(ui, "内存不足！", Failure::kNoMemory);

  const Status stamped = Stamp(*file, std::span(buffer.get(), kStampBufferSize));
  if (!stamped) {
    switch (stamped.failure()) {
      case Failure::kImageTooLarge:
        return Tell(ui, "固件文件过大！", Failure::kImageTooLarge);
      case Failure::kNoVersionBlock:
        return Tell(ui, "固件版本无效！", Failure::kNoVersionBlock);
      case Failure::kFileWriteFailed:
        return Tell(ui, "校验和写入失败！", Failure::kFileWriteFailed);
      default:
        return Tell(ui, "固件文件读取失败！", Failure::kFileUnreadable);
    }
  }
  ui.ShowWindowBox("Checksum", "校验成功。", kBoxOk);
  return {};
}

Status StampImageChecksum(FileSystem& files, UserInterface& ui) {
  const std::string aFile = ui.ChooseImageFile();
  if (aFile.empty()) return Failure::kCancelled;
  return StampImageFile(files, ui, aFile);
}

}  // namespace obrint::presenters
