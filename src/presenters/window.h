// What the window's presenters reach outside themselves, as small interfaces that the window
// implements over Win32 and the tests over fakes (image files: device/image_file.h). UTF-8 texts.
#pragma once

#include <string>
#include <string_view>

#include "device/discovery.h"
#include "device/image_file.h"

namespace obrint::presenters {

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
