#include "core/image_stamp.h"

namespace obrint {
namespace {

StampOutcome Tell(UserInterface& ui, std::string_view caption, StampOutcome outcome) {
  ui.ShowWindowBox("CheckSum", caption, kBoxOk);
  return outcome;
}

}  // namespace

StampOutcome StampImageFile(FileSystem& files, UserInterface& ui, const std::string& path) {
  std::unique_ptr<ImageFile> file = files.OpenForUpdate(path);
  if (!file) return StampOutcome::kNotOpened;
  std::unique_ptr<std::uint8_t[]> buffer = files.AllocateImageBuffer();
  if (!buffer) return Tell(ui, "内存不足！", StampOutcome::kFailed);

  switch (StampImage(*file, std::span(buffer.get(), kImageBufferSize)).failure) {
    case StampFailure::kNone:
      break;
    case StampFailure::kNotOpened:
    case StampFailure::kNoMemory:
    case StampFailure::kUnreadable:
      return Tell(ui, "固件文件读取失败！", StampOutcome::kFailed);
    case StampFailure::kTooLarge:
      return Tell(ui, "固件文件过大！", StampOutcome::kRefused);
    case StampFailure::kNoVersionBlock:
      return Tell(ui, "固件版本无效！", StampOutcome::kRefused);
    case StampFailure::kWriteFailed:
      return Tell(ui, "校验和写入失败！", StampOutcome::kFailed);
  }
  ui.ShowWindowBox("Checksum", "校验成功。", kBoxOk);
  return StampOutcome::kStamped;
}

StampOutcome StampImageChecksum(FileSystem& files, UserInterface& ui) {
  const std::string aFile = ui.ChooseImageFile();
  if (aFile.empty()) return StampOutcome::kCancelled;
  return StampImageFile(files, ui, aFile);
}

}  // namespace obrint
