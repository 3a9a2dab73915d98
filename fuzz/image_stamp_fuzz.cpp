// Stamping the checksum into any file of up to 128 KiB, with the file system failing where the
// input says. The first input byte chooses the failures, the rest is the file.
//
// Invariants: nothing is read or written out of bounds; the file never grows; a file that is not
// stamped keeps every byte; a stamped file differs at most in its checksum field, which holds the
// sum of the file's words as they were; every file handle is closed; the user sees one box for
// every outcome but a cancelled dialog and a file that does not open.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/image_stamp.h"
#include "fuzz_check.h"
#include "native/fakes.h"
#include "native/reference.h"

namespace {

using obrint::StampOutcome;
using obrint::fuzz::Check;

constexpr std::size_t kLargestFile = 128 * 1024;
constexpr char kPath[] = "C:\\fw\\image.bin";

// What the input's first byte makes go wrong.
struct Faults {
  explicit Faults(std::uint8_t bits)
      : failSize(bits & 0x01),
        failRead(bits & 0x02),
        failWrite(bits & 0x04),
        failRewind(bits & 0x08),
        readOnly(bits & 0x10),
        locked(bits & 0x20),
        failAllocation(bits & 0x40),
        cancel(bits & 0x80) {}
  bool failSize, failRead, failWrite, failRewind, readOnly, locked, failAllocation, cancel;
};

bool HasMagic(const std::vector<std::uint8_t>& file) {
  constexpr std::size_t at = obrint::kVersionBlockOffset;
  return file.size() >= at + 4 && file[at] == 0x00 && file[at + 1] == 0x55 &&
         file[at + 2] == 0xAA && file[at + 3] == 0xFF;
}

// The outcome a sound command must reach, from the file and the failures alone.
StampOutcome ExpectedOutcome(const std::vector<std::uint8_t>& file, const Faults& f) {
  if (f.cancel) return StampOutcome::kCancelled;
  if (f.locked || f.readOnly) return StampOutcome::kNotOpened;
  if (f.failAllocation || f.failSize) return StampOutcome::kFailed;
  if (file.size() > obrint::kImageBufferSize) return StampOutcome::kRefused;
  if (f.failRead) return StampOutcome::kFailed;
  if (!HasMagic(file)) return StampOutcome::kRefused;
  if (f.failRewind || f.failWrite) return StampOutcome::kFailed;
  return StampOutcome::kStamped;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size - 1 > kLargestFile) return -1;
  const Faults faults(data[0]);
  const std::vector<std::uint8_t> original(data + 1, data + size);

  obrint::fakes::FakeFileSystem files;
  obrint::fakes::FakeFile& file = files.Add(kPath, original);
  file.failSize = faults.failSize;
  file.failReadNumber = faults.failRead ? 1 : 0;
  file.failWrite = faults.failWrite;
  file.failRewind = faults.failRewind;
  file.readOnly = faults.readOnly;
  file.locked = faults.locked;
  files.failAllocation = faults.failAllocation;
  obrint::fakes::FakeUserInterface ui;
  if (!faults.cancel) ui.choices.push_back(kPath);

  const StampOutcome outcome = obrint::StampImageChecksum(files, ui);
  const StampOutcome expected = ExpectedOutcome(original, faults);

  Check(outcome == expected, "the outcome follows from the file and the failures");
  Check(files.openHandles() == 0, "the file is closed");
  Check(file.bytes.size() == original.size(), "the file never grows or shrinks");
  if (!HasMagic(original)) Check(file.bytes == original, "a file without the magic is untouched");

  if (outcome != StampOutcome::kStamped) {
    Check(file.bytes == original, "a file that is not stamped is untouched");
  } else {
    const std::uint32_t sum = obrint::reference::ImageChecksum(original);
    std::vector<std::uint8_t> stamped = original;
    for (std::size_t i = 0; i < 4 && obrint::kChecksumFieldOffset + i < stamped.size(); ++i) {
      stamped[obrint::kChecksumFieldOffset + i] = static_cast<std::uint8_t>(sum >> (8 * i));
    }
    Check(file.bytes == stamped, "only the checksum field changes, to the sum of the old file");
  }

  const bool silent = outcome == StampOutcome::kCancelled || outcome == StampOutcome::kNotOpened;
  Check(ui.boxes.size() == (silent ? 0u : 1u), "one box for every outcome the user is told of");
  if (outcome == StampOutcome::kStamped) {
    Check(ui.boxes[0] == obrint::fakes::Box{"Checksum", "校验成功。", 0}, "the success box");
  } else if (!silent) {
    Check(ui.boxes[0].body == "CheckSum" && ui.boxes[0].type == 0, "a refusal box");
  }
  if (expected == StampOutcome::kRefused && file.bytes.size() <= obrint::kImageBufferSize) {
    Check(ui.boxes[0].caption == "固件版本无效！", "no version block: the invalid-version box");
  }
  return 0;
}
