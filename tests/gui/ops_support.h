// What the tests of the headset commands share: Obrint started beside the test-double hid.dll over
// a simulated headset of the test's own configuration, the headset's adoption through a device
// arrival, the headset's saved state, message boxes and image files.
#pragma once

#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "driver.h"
#include "hiddouble/sim_install.h"
#include "hiddouble/sim_store.h"

namespace obrint::gui::ops {

inline constexpr int kLog = 1001, kUpgrade = 1002, kDeviceInfo = 1004, kVerify = 1005,
                     kRunMode = 1006, kDk2 = 1007, kDk1 = 1008;
inline constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
inline constexpr wchar_t kMainCaption[] = L"VR设备控制端";
// A headset command that blocks the window for a while (the upgrade's waits and transfer, the
// run mode's restart wait) still ends well within this.
inline constexpr Millis kCommandTimeout{60000};

// The name that a device notification carries for one of the simulated headset's interfaces.
inline std::wstring HeadsetInterfaceName(std::uint16_t pid) {
  const std::string key = hiddouble::InterfaceSubkeyName(pid);  // ##?#HID#VID_2833&PID_...
  return L"\\\\?\\" + Widen(key.substr(4));
}

// `value` as `digits` upper-case hexadecimal digits.
inline std::wstring Hex(unsigned value, int digits) {
  wchar_t text[16];
  std::swprintf(text, 16, L"%0*X", digits, value);
  return text;
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::wstring& path) {
  std::vector<std::uint8_t> bytes;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  const DWORD size = GetFileSize(file, nullptr);
  bytes.resize(size);
  DWORD read = 0;
  if (size == INVALID_FILE_SIZE || !ReadFile(file, bytes.data(), size, &read, nullptr) ||
      read != size) {
    bytes.clear();
  }
  CloseHandle(file);
  return bytes;
}

inline bool WriteFileBytes(const std::wstring& path, const std::vector<std::uint8_t>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

// Bytes that no two offsets of a block share by accident (a small linear congruential sequence).
inline std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::uint32_t state = seed;
  for (std::uint8_t& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(state >> 24);
  }
  return bytes;
}

// The sets of one report ID that reached the simulated headset, in order.
inline std::vector<sim::TransferRecord> SetsOf(const sim::Headset& headset, std::uint8_t id) {
  std::vector<sim::TransferRecord> sets;
  for (const sim::TransferRecord& record : headset.log()) {
    if (record.direction == sim::TransferRecord::Direction::kSet && record.reportId == id) {
      sets.push_back(record);
    }
  }
  return sets;
}

// Obrint running from its build folder with the test-double hid.dll beside it, over a simulated
// headset that each test configures for itself (Configure) before the program starts. The headset
// is on the bus but not yet known to the program: AdoptHeadset tells it, as plugging it in would.
class HeadsetWindowTest : public ::testing::Test {
 protected:
  // The headset's configuration and faults before it is installed.
  virtual void Configure(sim::Headset& /*headset*/) {}

  void SetUp() override {
    const std::wstring exe = ProgramPath();
    programDirectory_ = exe.substr(0, exe.find_last_of(L"\\/"));
    // One state file per test suite, so that no two test programs share a headset.
    std::wstring suite =
        Widen(::testing::UnitTest::GetInstance()->current_test_info()->test_suite_name());
    for (wchar_t& c : suite) {
      if (c == L'/') c = L'-';  // "Prefix/Suite" of parameterised tests
    }
    statePath_ = programDirectory_ + L"\\" + suite + L".state";
    // The headset powers up with the configuration it is built with (its run mode, its firmware).
    sim::Headset configured;
    Configure(configured);
    sim::Headset headset(configured.config());
    headset.faults() = configured.faults();
    applicationPid_ = headset.config().applicationProductId;
    const std::string error =
        hiddouble::InstallSimulatedHeadset(programDirectory_, statePath_, headset);
    ASSERT_EQ(error, "") << "the simulated headset could not be installed";
    installed_ = true;
    SetEnvironmentVariableW(hiddouble::kStateVariable, statePath_.c_str());
    program_.emplace();
    main_ = program_->WaitForMainWindow();
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
  }

  void TearDown() override {
    program_.reset();  // kills the program if it still runs
    for (const std::wstring& file : temporaryFiles_) DeleteFileW(file.c_str());
    if (installed_) {
      hiddouble::UninstallSimulatedHeadset({programDirectory_, statePath_, applicationPid_});
    }
  }

  // The arrival of the headset's application interface, which the window adopts as the device to
  // talk to and which refreshes the Mode controls.
  void AdoptHeadset() const {
    const std::wstring before = Log();
    EXPECT_EQ(main_.SendDeviceInterfaceChange(
                  DBT_DEVICEARRIVAL, HeadsetInterfaceName(applicationPid_), kHidInterfaceClass),
              0);
    const std::wstring after = Log();
    ASSERT_TRUE(after.starts_with(before) && after.substr(before.size()).starts_with(L"设备链接 "))
        << "the arrival was not logged: " << Narrow(after);
  }

  std::wstring Log() const { return main_.ChildText(kLog); }

  // The headset as the double last saved it.
  sim::Headset SavedHeadset() const {
    std::optional<sim::Headset> headset = hiddouble::SimStore(statePath_).Read();
    if (!headset) ADD_FAILURE() << "the simulated headset's state cannot be read";
    return headset ? *headset : sim::Headset();
  }
  void ChangeHeadset(const std::function<void(sim::Headset&)>& change) const {
    ASSERT_TRUE(hiddouble::SimStore(statePath_).Update(change));
  }

  // A message box of the program with this caption, as the user sees it; waits for it.
  DialogView WaitForBox(const std::wstring& caption, Millis timeout = kCommandTimeout) const {
    const Window box = program_->WaitForDialog(caption, timeout, main_);
    return box ? ViewDialog(box) : DialogView{};
  }
  // Presses the box's button and waits until the box has gone.
  static bool Answer(const DialogView& box, int button) {
    PressButton(box.window, button);
    return WaitFor([&] { return !box.window; });
  }
  // Any dialog of the program other than the Main window that shows up within `wait`.
  Window OtherDialog(Millis wait = Millis(500)) const {
    return program_->WaitForOtherDialog(main_, wait);
  }

  // Chooses `path` in the open-file dialog that the command just pressed shows.
  void ChooseInFileDialog(const std::wstring& path) const {
    const Window dialog = program_->WaitForFileDialog();
    ASSERT_TRUE(dialog) << "the open-file dialog did not appear";
    Program::ChooseFile(dialog, path);
    ASSERT_TRUE(WaitFor([&] { return !dialog; })) << "the open-file dialog did not close";
  }

  // A file of the test in the temporary folder, deleted after the test.
  std::wstring TemporaryFile(const std::wstring& name, const std::vector<std::uint8_t>& bytes) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << "cannot write " << Narrow(path);
    temporaryFiles_.push_back(path);
    return path;
  }

  std::wstring programDirectory_;
  std::wstring statePath_;
  std::uint16_t applicationPid_ = 0;
  bool installed_ = false;
  std::optional<Program> program_;
  Window main_;
  std::vector<std::wstring> temporaryFiles_;
};

}  // namespace obrint::gui::ops
