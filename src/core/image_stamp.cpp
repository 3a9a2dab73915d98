#include "core/image_stamp.h"

#include "core/checksum.h"
#include "core/reports.h"

namespace obrint {
namespace {

constexpr char kRefusalBody[] = "CheckSum";
constexpr std::uint32_t kInvalidFileSize = 0xFFFFFFFF;

StampOutcome Fail(UserInterface& ui, std::string_view caption, StampOutcome outcome) {
  ui.ShowWindowBox(kRefusalBody, caption, kBoxOk);
  return outcome;
}

}  // namespace

bool ComputeImageChecksum(ImageFile& file, std::span<std::uint8_t> buffer, std::uint32_t& uSum,
                          UserInterface& ui, StampOutcome* whyNot) {
  StampOutcome outcome = StampOutcome::kFailed;
  const std::uint32_t size = file.Size();
  if (size == kInvalidFileSize) {
    outcome = Fail(ui, "固件文件读取失败！", StampOutcome::kFailed);
  } else if (size > buffer.size()) {
    outcome = Fail(ui, "固件文件过大！", StampOutcome::kRefused);
  } else if (!file.Read(buffer.data(), size)) {
    outcome = Fail(ui, "固件文件读取失败！", StampOutcome::kFailed);
  } else if (ReadLe32(&buffer[kVersionBlockOffset]) != kVersionMagic) {
    outcome = Fail(ui, "固件版本无效！", StampOutcome::kRefused);
  } else {
    uSum += ImageChecksum(buffer.first(size));
    return true;
  }
  if (whyNot) *whyNot = outcome;
  return false;
}

StampOutcome StampImageFile(FileSystem& files, UserInterface& ui, const std::string& path) {
  std::unique_ptr<ImageFile> file = files.OpenForUpdate(path);
  if (!file) return StampOutcome::kNotOpened;
  std::unique_ptr<std::uint8_t[]> buffer = files.AllocateImageBuffer();
  if (!buffer) return Fail(ui, "内存不足！", StampOutcome::kFailed);
  const std::span<std::uint8_t> image(buffer.get(), kImageBufferSize);

  std::uint32_t uSum = 0;
  StampOutcome whyNot = StampOutcome::kFailed;
  if (!ComputeImageChecksum(*file, image, uSum, ui, &whyNot)) return whyNot;

  // The whole file goes back, so it keeps its length; a checksum field that runs past the end of
  // the file is cut off there.
  WriteLe32(&image[kChecksumFieldOffset], uSum);
  const std::uint32_t size = file->Size();
  if (size > image.size() || !file->Rewind() || !file->Write(image.data(), size)) {
    return Fail(ui, "校验和写入失败！", StampOutcome::kFailed);
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
