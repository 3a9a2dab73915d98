// What the GUI tests share: Obrint started beside the test-double hid.dll, over a simulated
// headset that each test configures before the program starts, and the window's controls.
#pragma once

#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"
#include "hiddouble/sim_store.h"
#include "winbase/text.h"

namespace obrint::gui {

inline constexpr int kTree = 1000, kLog = 1001, kUpgrade = 1002, kBootFirmware = 1003,
                     kDeviceInfo = 1004, kVerify = 1005, kRunMode = 1006, kDk2 = 1007, kDk1 = 1008;
// Headset commands block the window for seconds (restart waits, transfers).
inline constexpr Millis kCommandTimeout{60000};

// The Mode controls: whether 1006, 1007 (DK2) and 1008 (DK1) are enabled, and which is checked.
struct ModeState {
  bool runMode, dk2, dk1;
  int checked;  // 0 for none
  bool operator==(const ModeState&) const = default;
};
inline constexpr ModeState kModeOff{false, false, false, 0};
inline constexpr ModeState kDk2Shown{true, true, true, kDk2};
inline constexpr ModeState kDk1Shown{true, true, true, kDk1};
inline std::ostream& operator<<(std::ostream& out, const ModeState& s) {
  return out << "{1006 " << s.runMode << ", DK2 " << s.dk2 << ", DK1 " << s.dk1 << ", checked "
             << s.checked << "}";
}

inline std::ostream& operator<<(std::ostream& out, const TreeRow& row) {
  return out << "{" << row.level << ", " << winbase::Narrow(row.text) << ", " << row.expanded
             << "}";
}

// The name a device notification carries for the simulated headset's interface `pid`.
inline std::wstring HeadsetInterfaceName(const std::wstring& pid) {
  return L"\\\\?\\HID#VID_2833&PID_" + pid +
         L"#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

// Whether a box shows `text`, as a static text or a button's.
inline bool Shows(const Window& box, const std::wstring& text) {
  const std::vector<std::wstring> texts = box.ChildTexts();
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// Obrint running from the folder of the test-double hid.dll (install-sim.sh), over a new
// simulated headset with the test's configuration. The headset is on the bus but not yet known to
// the program: AdoptHeadset tells it, as plugging it in would.
class ObrintTest : public ::testing::Test {
 protected:
  virtual sim::HeadsetConfig Config() const { return {}; }

  void SetUp() override {
    ASSERT_TRUE(store_.Reset(sim::Headset(Config())));
    const std::wstring exe = runDirectory_ + L"\\Obrint.exe";
    static const bool copied = CopyFileW(L"Z:" OBRINT_EXE, exe.c_str(), FALSE);  // once a run
    ASSERT_TRUE(copied) << "Obrint.exe not copied beside the test-double hid.dll";
    program_.emplace(exe);
    main_ = program_->WaitForWindow([](const Window& w) { return IsDialog(w) && w.Child(kTree); });
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
  }

  std::wstring Log() const { return main_.ChildText(kLog); }
  ModeState Mode() const {
    return {main_.Child(kRunMode).IsEnabled(), main_.Child(kDk2).IsEnabled(),
            main_.Child(kDk1).IsEnabled(),
            main_.Child(kDk1).IsChecked()   ? kDk1
            : main_.Child(kDk2).IsChecked() ? kDk2
                                            : 0};
  }
  LRESULT Arrive(const std::wstring& name) const {
    return main_.SendHidInterfaceChange(DBT_DEVICEARRIVAL, name);
  }
  LRESULT Remove(const std::wstring& name) const {
    return main_.SendHidInterfaceChange(DBT_DEVICEREMOVECOMPLETE, name);
  }
  void AdoptHeadset() const { Arrive(HeadsetInterfaceName(L"0021")); }

  // A dialog of the program other than the Main window: with `caption`, or any when it is empty.
  Window Box(const std::wstring& caption, Millis timeout = kCommandTimeout) const {
    return program_->WaitForWindow(
        [&](const Window& w) {
          return w != main_ && IsDialog(w) && (caption.empty() || w.Text() == caption);
        },
        timeout);
  }
  // Presses the box's button and waits until the box has gone.
  static bool Answer(const Window& box, int button) {
    box.Click(button);
    return WaitFor([&] { return !box; });
  }
  // Types `path` into the open-file dialog's file-name field (the explorer style's combo box, the
  // old style's edit) and presses Open. The dialog must open on its first filter, "bin" (*.bin).
  void ChooseInFileDialog(const std::wstring& path) const {
    const auto field = [](const Window& w) {
      return w.Child(0x47C) ? w.Child(0x47C) : w.Child(0x480);
    };
    const Window dialog =
        program_->WaitForWindow([&](const Window& w) { return IsDialog(w) && field(w); });
    ASSERT_TRUE(dialog) << "the open-file dialog did not appear";
    EXPECT_EQ(dialog.ChildText(0x470), L"bin") << "the filter selected in the file-type box";
    field(dialog).Send(WM_SETTEXT, 0, LPARAM(path.c_str()));
    dialog.Click(IDOK);
    ASSERT_TRUE(WaitFor([&] { return !dialog; })) << "the open-file dialog did not close";
  }

  sim::Headset Headset() const { return store_.Read().value_or(sim::Headset()); }
  void ChangeHeadset(const std::function<void(sim::Headset&)>& change) const {
    ASSERT_TRUE(store_.Update([&](sim::Headset& headset) { return change(headset), true; }));
  }

  // A file of the test beside the program.
  std::wstring TestFile(const std::wstring& name, const std::vector<std::uint8_t>& bytes) const {
    const std::wstring path = runDirectory_ + L"\\" + name;
    std::ofstream(std::filesystem::path(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
  }

  const std::wstring runDirectory_ = hiddouble::RunDirectory();
  const hiddouble::SimStore store_;
  std::optional<Program> program_;
  Window main_;
};

}  // namespace obrint::gui
