// Stamping the checksum into any file of up to 128 KiB, with the file system failing where the
// first input byte says; the rest is the file.
//
// Invariants: nothing read or written out of bounds; the file never changes length; a file not
// stamped keeps every byte; a stamped one differs at most in its checksum field, which holds the
// sum of the file's words as they were; the file is closed, and open while the one box that tells
// the outcome is up (none for a cancelled dialog or a file that does not open).
#include <cstddef>
#include <cstdint>

#include "device/image.h"
#include "presenters/image_stamp.h"
#include "fuzz_check.h"
#include "native/fakes.h"
#include "native/reference.h"

namespace {

using obrint::Failure;
using obrint::Status;
using obrint::fuzz::Check;

OBRINT_FUZZ_HELPER bool HasMagic(const obrint::reference::Bytes& file) {
  return file.size() >= 0x9C04 && file[0x9C00] == 0x00 && file[0x9C01] == 0x55 &&
         file[0x9C02] == 0xAA && file[0x9C03] == 0xFF;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size - 1 > 128 * 1024) return -1;
  const auto fault = [&](int bit) { return (data[0] >> bit & 1) != 0; };
  const obrint::reference::Bytes original(data + 1, data + size);
  obrint::fakes::FakeFileSystem files;
  obrint::fakes::FakeFile& file = files.Add("fw.bin", original);
  file.failSize = fault(0);
  file.failReadNumber = fault(1) ? 1 : 0;
  file.failWrite = fault(2);
  file.failRewind = fault(3);
  file.readOnly = fault(4);
  file.locked = fault(5);
  files.failAllocation = fault(6);
  obrint::fakes::FakeUserInterface ui;
  if (!fault(7)) ui.choices.push_back("fw.bin");
  ui.onBox = [&](const obrint::fakes::Box&) { Check(files.openHandles() == 1, "open while told"); };

  // The outcome and box from the file and the failures alone.
  Status expected;
  const char* caption = "校验成功。";
  if (fault(7)) {
    expected = Failure::kCancelled, caption = nullptr;
  } else if (fault(4) || fault(5)) {
    expected = Failure::kFileNotOpened, caption = nullptr;
  } else if (fault(6)) {
    expected = Failure::kNoMemory, caption = "内存不足！";
  } else if (fault(0)) {
    expected = Failure::kFileUnreadable, caption = "固件文件读取失败！";
  } else if (original.size() > obrint::kStampBufferSize) {
    expected = Failure::kImageTooLarge, caption = "固件文件过大！";
  } else if (fault(1)) {
    expected = Failure::kFileUnreadable, caption = "固件文件读取失败！";
  } else if (!HasMagic(original)) {
    expected = Failure::kNoVersionBlock, caption = "固件版本无效！";
  } else if (fault(2) || fault(3)) {
    expected = Failure::kFileWriteFailed, caption = "校验和写入失败！";
  }

  const Status outcome = obrint::presenters::StampImageChecksum(files, ui);
  Check(outcome == expected, "the outcome follows from the file and the failures");
  Check(ui.boxes.size() == (caption ? 1u : 0u), "one box for an outcome the user is told of");
  if (caption) {
    const char* body = outcome ? "Checksum" : "CheckSum";
    Check(ui.boxes[0] == obrint::fakes::Box{body, caption}, "the box that tells it");
  }
  Check(files.openHandles() == 0, "the file is closed");
  obrint::reference::Bytes stamped = original;
  if (outcome) {
    const std::uint32_t sum = obrint::reference::ImageChecksum(original);
    for (std::size_t i = 0; i < 4 && 0x9C08 + i < stamped.size(); ++i) {
      stamped[0x9C08 + i] = static_cast<std::uint8_t>(sum >> (8 * i));
    }
  }
  Check(file.bytes == stamped, "only a stamp changes the file, only its field, to the old sum");
  return 0;
}
