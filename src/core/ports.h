// What the headset operations reach outside themselves, as small interfaces.
//
// The window implements them over Win32 (hid.dll, the registry, files, dialogs and controls), the
// tests over the headset simulator and fakes, and the command line over its own front end. All
// texts are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "core/hid_device.h"

namespace obrint {

// The HID device interface class, as discovery takes it: the GUID without braces.
inline constexpr char kHidClassGuidText[] = "4D1E55B2-F16F-11CF-88CB-001111000030";
inline constexpr std::uint16_t kHeadsetVendorId = 0x2833;
// The product ID of the headset's boot firmware, and the identity searched for at start-up.
inline constexpr std::uint16_t kBootProductId = 0x0001;
// Paths and names fit in MAX_PATH characters, terminator included.
inline constexpr std::size_t kMaxPath = 260;

// The Device path and the identity it is searched under; one per process.
struct HeadsetLocation {
  std::string devicePath;  // empty: no headset known. Never cleared once set.
  std::uint16_t vid = kHeadsetVendorId;
  std::uint16_t pid = kBootProductId;
};

// Opening HID interfaces, binding the HID library, and finding the headset's interface.
class HidLink {
 public:
  virtual ~HidLink() = default;
  // Null when the path cannot be opened; an empty path never opens.
  virtual std::unique_ptr<HidDevice> OpenHidDevice(const std::string& path) = 0;
  virtual void LoadHidLibrary() = 0;
  virtual void FreeHidLibrary() = 0;
  // The first openable interface of the class whose name carries vid and pid; nullopt if none.
  virtual std::optional<std::string> FindHidDevicePath(std::string_view classGuidText,
                                                       std::uint16_t vid, std::uint16_t pid) = 0;
};

// The HID library bound for the life of the object. Declared after the device it serves, it is
// released before the device closes, as the headset operations have always done it.
class HidLibraryBinding {
 public:
  explicit HidLibraryBinding(HidLink& link) : link_(link) { link_.LoadHidLibrary(); }
  ~HidLibraryBinding() { link_.FreeHidLibrary(); }
  HidLibraryBinding(const HidLibraryBinding&) = delete;
  HidLibraryBinding& operator=(const HidLibraryBinding&) = delete;

 private:
  HidLink& link_;
};

// Fixed waits. A wait lasts at least `ms` milliseconds.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Sleep(unsigned ms) = 0;
};

// An open firmware image file. Destroying the object closes the file.
class ImageFile {
 public:
  virtual ~ImageFile() = default;
  // The file's size in bytes, 0xFFFFFFFF when it cannot be had (as GetFileSize gives it).
  virtual std::uint32_t Size() = 0;
  // Reads exactly `count` bytes from the current position; false on error or a short read.
  virtual bool Read(std::uint8_t* dst, std::uint32_t count) = 0;
  // Moves the position to the start of the file.
  virtual bool Rewind() = 0;
  // Writes exactly `count` bytes at the current position; false on error or a short write.
  virtual bool Write(const std::uint8_t* src, std::uint32_t count) = 0;
};

inline constexpr std::uint32_t kImageBufferSize = 65536;

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Opened for reading, no sharing; null when it cannot be opened.
  virtual std::unique_ptr<ImageFile> OpenForReading(const std::string& path) = 0;
  // Opened for reading and writing, no sharing; null when it cannot be opened.
  virtual std::unique_ptr<ImageFile> OpenForUpdate(const std::string& path) = 0;
  // kImageBufferSize zero bytes, or null when memory is short.
  virtual std::unique_ptr<std::uint8_t[]> AllocateImageBuffer() {
    return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[kImageBufferSize]());
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

}  // namespace obrint
