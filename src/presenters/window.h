// What the window's presenters reach outside themselves: the window's own state and controls,
// and image files, as small interfaces. The window implements them over Win32, the tests over
// fakes. All texts are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "device/hid_bus.h"

namespace obrint::presenters {

// The Device path and the identity it is searched under; one per process.
struct HeadsetLocation {
  std::string devicePath;  // empty: no headset known. Never cleared once set.
  std::uint16_t vid = kHeadsetVendorId;
  std::uint16_t pid = kBootProductId;
};

// An open firmware image file. Destroying the object closes the file.
class ImageFile {
 public:
  virtual ~ImageFile() = default;
  // The file's size in bytes; nullopt when it cannot be had.
  virtual std::optional<std::uint32_t> Size() = 0;
  // Reads exactly `count` bytes from the current position; false on error or a short read.
  virtual bool Read(std::uint8_t* dst, std::uint32_t count) = 0;
  // Moves the position to the start of the file.
  virtual bool Rewind() = 0;
  // Writes exactly `count` bytes at the current position; false on error or a short write.
  virtual bool Write(const std::uint8_t* src, std::uint32_t count) = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opened for reading, no sharing; null when it cannot be opened.
  virtual std::unique_ptr<ImageFile> OpenForReading(const std::string& path) = 0;
  // Opened for reading and writing, no sharing; null when it cannot be opened.
  virtual std::unique_ptr<ImageFile> OpenForUpdate(const std::string& path) = 0;
  // `size` zero bytes, or null when memory is short.
  virtual std::unique_ptr<std::uint8_t[]> AllocateBuffer(std::uint32_t size) {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[size]());
  }
};

// Message box types and answers, with the platform's values.
inline constexpr unsigned kBoxOk = 0;     // MB_OK
inline constexpr unsigned kBoxYesNo = 4;  // MB_YESNO
inline constexpr int kAnswerOk = 1;       // IDOK
inline constexpr int kAnswerYes = 6;      // IDYES
inline constexpr int kAnswerNo = 7;       // IDNO

// What the user sees and answers.
class UserInterface {
 public:
  virtual ~UserInterface() = default;
  // Replaces the whole text of the Status log.
  virtual void ShowStatus(std::string_view text) = 0;
  // A message box owned by the Main window: body text, caption, type; returns the answer.
  virtual int ShowWindowBox(std::string_view body, std::string_view caption, unsigned type) = 0;
  // Replaces the Main window's caption.
  virtual void SetCaption(std::string_view text) = 0;
  // The open-file dialog with the filters "bin" (*.bin) and "All" (*.*), starting with an empty
  // name; the chosen path, or empty when the user cancelled.
  virtual std::string ChooseImageFile() = 0;
};

// The Mode controls: button 1006 "设置运行模式" and the radio buttons 1008 "DK1兼容" and
// 1007 "DK2兼容".
class ModeControls {
 public:
  virtual ~ModeControls() = default;
  // Enables or disables the three controls together.
  virtual void EnableModeControls(bool enabled) = 0;
  // Enables or disables button 1006 alone.
  virtual void EnableRunModeButton(bool enabled) = 0;
  virtual void SetModeChecks(bool dk1Checked, bool dk2Checked) = 0;
  virtual bool IsDk1Checked() = 0;
  virtual bool IsDk2Checked() = 0;
};

}  // namespace obrint::presenters
