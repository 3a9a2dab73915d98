// Arrivals and removals of the headset's interface: adoption as the device to talk to, and the
// refresh of the Mode controls that follows every HID event.
#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "driver.h"
#include "hiddouble/sim_install.h"
#include "hiddouble/sim_store.h"
#include "inventory_support.h"

namespace obrint::gui::inventory {
namespace {

constexpr int kDeviceInfo = 1004, kRunMode = 1006, kDk2 = 1007, kDk1 = 1008;
constexpr std::uint16_t kBootPid = 0x0001;

// The interface name that a notification carries for the simulated headset's interface.
std::wstring HeadsetInterfaceName(std::uint16_t pid) {
  const std::string key = hiddouble::InterfaceSubkeyName(pid);  // ##?#HID#VID_2833&PID_...
  return L"\\\\?\\" + Widen(key.substr(4));
}

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(towlower(c));
  return text;
}

std::wstring Hex4(unsigned value) {
  wchar_t text[8];
  std::swprintf(text, 8, L"%04X", value);
  return text;
}

class InventoryHeadsetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring exe = ProgramPath();
    programDirectory_ = exe.substr(0, exe.find_last_of(L"\\/"));
    statePath_ = programDirectory_ + L"\\inventory-headset.state";
    const std::string error =
        hiddouble::InstallSimulatedHeadset(programDirectory_, statePath_, sim::Headset(config_));
    ASSERT_EQ(error, "") << "the simulated headset could not be installed";
    installed_ = true;
    SetEnvironmentVariableW(hiddouble::kStateVariable, statePath_.c_str());
    program_.emplace();
    main_ = program_->WaitForMainWindow();
    ASSERT_TRUE(main_) << "Obrint's Main window did not appear";
    others_ = PresentHidInterfaces();
  }

  void TearDown() override {
    program_.reset();
    if (installed_) {
      hiddouble::UninstallSimulatedHeadset(
          {programDirectory_, statePath_, config_.applicationProductId});
    }
  }

  LRESULT Arrive(const std::wstring& name) const {
    return main_.SendDeviceInterfaceChange(DBT_DEVICEARRIVAL, name, kHidInterfaceClass);
  }
  LRESULT Remove(const std::wstring& name) const {
    return main_.SendDeviceInterfaceChange(DBT_DEVICEREMOVECOMPLETE, name, kHidInterfaceClass);
  }

  // Enabled state of 1006, 1007, 1008 and the checks of 1008 (DK1) and 1007 (DK2).
  struct ModeState {
    bool runModeEnabled, dk2Enabled, dk1Enabled, dk1Checked, dk2Checked;
    bool operator==(const ModeState&) const = default;
  };
  ModeState Mode() const {
    return {main_.Child(kRunMode).IsEnabled(), main_.Child(kDk2).IsEnabled(),
            main_.Child(kDk1).IsEnabled(), main_.Child(kDk1).IsChecked(),
            main_.Child(kDk2).IsChecked()};
  }
  static constexpr ModeState kUntouched{false, false, false, false, false};
  static constexpr ModeState kDk2Shown{true, true, true, false, true};
  static constexpr ModeState kDk1Shown{true, true, true, true, false};

  // Writes the headset's run mode behind the program's back.
  void SetHeadsetRunMode(std::uint8_t mode) const {
    ASSERT_TRUE(hiddouble::SimStore(statePath_).Update([mode](sim::Headset& headset) {
      std::uint8_t report[4] = {0x59, 1, 0, mode};
      headset.SetFeature(headset.generation(), report, sizeof report);
    }));
  }

  std::optional<HidInterface> OtherVendorsInterface() const {
    for (const HidInterface& device : others_) {
      if (Lower(device.name).find(L"vid_2833") == std::wstring::npos) return device;
    }
    return std::nullopt;
  }

  sim::HeadsetConfig config_;
  std::wstring programDirectory_;
  std::wstring statePath_;
  bool installed_ = false;
  std::optional<Program> program_;
  Window main_;
  std::vector<HidInterface> others_;
};

TEST_F(InventoryHeadsetTest, NothingProbesTheHeadsetBeforeAnEvent) {
  EXPECT_EQ(Mode(), kUntouched);
}

TEST_F(InventoryHeadsetTest, HeadsetArrivalAdoptsItAndRefreshesTheModeControls) {
  const std::wstring name = HeadsetInterfaceName(config_.applicationProductId);
  EXPECT_EQ(Arrive(name), 0);

  EXPECT_EQ(Mode(), kDk2Shown);
  EXPECT_EQ(main_.ChildText(kLog), L"设备链接 HID\\VID_2833&PID_" +
                                       Hex4(config_.applicationProductId) +
                                       L"\\7&1A2B3C4D&0&0000\r\n");

  // The adopted interface is the one that the device information command reads.
  main_.ClickButton(kDeviceInfo);
  const std::wstring expected = L"版本信息 " + Hex4(config_.applicationVersion) + L":";
  const bool read = WaitFor([&] { return main_.ChildText(kLog).starts_with(L"版本信息 "); });
  ASSERT_TRUE(read) << Narrow(main_.ChildText(kLog));
  EXPECT_TRUE(main_.ChildText(kLog).starts_with(expected)) << Narrow(main_.ChildText(kLog));
}

TEST_F(InventoryHeadsetTest, AVendorIdInLowerCaseHexadecimalIsTheHeadsets) {
  Arrive(Lower(HeadsetInterfaceName(config_.applicationProductId)));
  EXPECT_EQ(Mode(), kDk2Shown);
}

TEST_F(InventoryHeadsetTest, AnotherVendorsArrivalKeepsTheAdoptedHeadset) {
  const std::optional<HidInterface> other = OtherVendorsInterface();
  if (!other) GTEST_SKIP() << "no HID interface of another vendor here";
  Arrive(HeadsetInterfaceName(config_.applicationProductId));
  ASSERT_EQ(Mode(), kDk2Shown);
  SetHeadsetRunMode(0xFE);

  // The refresh still reads the headset: the other interface was not taken for it.
  Arrive(other->name);
  EXPECT_EQ(Mode(), kDk1Shown);
}

TEST_F(InventoryHeadsetTest, AnotherVendorsArrivalAloneFindsNoHeadset) {
  const std::optional<HidInterface> other = OtherVendorsInterface();
  if (!other) GTEST_SKIP() << "no HID interface of another vendor here";
  // The search under the starting identity looks for the boot firmware, which is not running.
  Arrive(other->name);
  EXPECT_EQ(Mode(), kUntouched);
  EXPECT_EQ(main_.ChildText(kLog), L"设备链接 " + other->instanceId + L"\r\n");
}

TEST_F(InventoryHeadsetTest, AHeadsetInterfaceThatDoesNotOpenIsNotAdopted) {
  // The boot firmware's interface is listed but not on the bus while the application runs.
  Arrive(HeadsetInterfaceName(kBootPid));
  EXPECT_EQ(Mode(), kUntouched);
  Arrive(HeadsetInterfaceName(config_.applicationProductId));
  EXPECT_EQ(Mode(), kDk2Shown);
}

TEST_F(InventoryHeadsetTest, UnpluggingTheHeadsetLeavesTheModeControlsAsTheyWere) {
  const std::wstring name = HeadsetInterfaceName(config_.applicationProductId);
  Arrive(name);
  ASSERT_EQ(Mode(), kDk2Shown);
  ASSERT_TRUE(
      hiddouble::SimStore(statePath_).Update([](sim::Headset& headset) { headset.Unplug(); }));

  EXPECT_EQ(Remove(name), 0);
  EXPECT_EQ(Mode(), kDk2Shown);
  const std::wstring id =
      L"HID\\VID_2833&PID_" + Hex4(config_.applicationProductId) + L"\\7&1A2B3C4D&0&0000";
  EXPECT_EQ(main_.ChildText(kLog), L"设备链接 " + id + L"\r\n设备断开 " + id + L"\r\n");
}

}  // namespace
}  // namespace obrint::gui::inventory
