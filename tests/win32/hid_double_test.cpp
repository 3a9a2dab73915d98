// The HID link of the window against the test-double hid.dll and its simulated headset, end to
// end: the registry search, opens, the binding and the feature reports, and restarts of the
// headset into its boot firmware and back while the program holds a handle.
#include <gtest/gtest.h>

#include <string>

#include "core/firmware_upgrade.h"
#include "core/ports.h"
#include "core/reports.h"
#include "hid/hid_binding.h"
#include "win/hid_link.h"
#include "hiddouble/sim_install.h"
#include "hiddouble/sim_store.h"
#include "sim/headset_sim.h"
#include "win/ports.h"

namespace obrint::win {
namespace {

using hiddouble::SimStore;
using sim::Firmware;
using sim::Headset;

constexpr unsigned kRestartMs = 150;
// Long enough for a restart to complete in real time, as the firmware upgrade's 2000 ms are.
constexpr unsigned kRestartWaitMs = kRestartMs + 250;

std::wstring MakeTempDirectory() {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  for (unsigned n = ::GetTickCount();; ++n) {
    const std::wstring dir = std::wstring(base) + L"obrint-hiddouble-" + std::to_wstring(n);
    if (::CreateDirectoryW(dir.c_str(), nullptr)) return dir;
    if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
  }
}

void RemoveTree(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((dir + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = dir + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        ::DeleteFileW(path.c_str());
      }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(dir.c_str());
}

class HidDoubleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDirectory();
    ASSERT_FALSE(dir_.empty());
    state_ = dir_ + L"\\headset.state";
    ::SetEnvironmentVariableW(hiddouble::kStateVariable, state_.c_str());
    // hid.dll is looked for beside the program first: the double goes into a folder of its own
    // that the loader searches before the system.
    ::SetDllDirectoryW(dir_.c_str());

    Headset headset;
    headset.config().applicationProductId = 0x0021;
    headset.config().applicationVersion = 0x0031;
    headset.config().bootVersion = 0x0107;
    headset.config().mcuId = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA,
                              0xDC, 0xFE, 0x01, 0x23, 0x45, 0x67};
    headset.config().restartMs = kRestartMs;
    const std::string error = hiddouble::InstallSimulatedHeadset(dir_, state_, headset);
    ASSERT_EQ(error, "");
    installed_ = true;
  }

  void TearDown() override {
    link_.FreeHidLibrary();
    if (installed_) {
      hiddouble::UninstallSimulatedHeadset({dir_, state_, 0x0021});
    }
    ::SetDllDirectoryW(nullptr);
    ::SetEnvironmentVariableW(hiddouble::kStateVariable, nullptr);
    RemoveTree(dir_);
  }

  std::optional<std::string> Find(std::uint16_t pid) {
    return link_.FindHidDevicePath(kHidClassGuidText, kHeadsetVendorId, pid);
  }
  Headset Saved() {
    auto headset = SimStore(state_).Read();
    EXPECT_TRUE(headset.has_value());
    return headset ? *headset : Headset();
  }
  bool Opens(const std::string& path) { return link_.OpenHidDevice(path) != nullptr; }

  std::wstring dir_;
  std::wstring state_;
  bool installed_ = false;
  WinHidLink link_;
};

TEST_F(HidDoubleTest, TheApplicationInterfaceIsFoundAndTheBootOneIsNot) {
  const auto app = Find(0x0021);
  ASSERT_TRUE(app.has_value());
  EXPECT_EQ(*app, "\\\\.\\" + hiddouble::InterfaceSubkeyName(0x0021).substr(4));
  EXPECT_FALSE(Find(0x0001).has_value());
  EXPECT_TRUE(Opens(*app));
  EXPECT_TRUE(Opens(*app)) << "opens are shared";
}

TEST_F(HidDoubleTest, ReadsVersionAndMcuIdThroughTheDouble) {
  const auto path = Find(0x0021);
  ASSERT_TRUE(path.has_value());
  auto device = link_.OpenHidDevice(*path);
  ASSERT_NE(device, nullptr);
  link_.LoadHidLibrary();
  ASSERT_NE(CurrentHidBinding().module, nullptr);
  wchar_t loaded[MAX_PATH];
  ::GetModuleFileNameW(CurrentHidBinding().module, loaded, MAX_PATH);
  EXPECT_EQ(std::wstring(loaded), dir_ + L"\\hid.dll") << "the double, not the system's hid.dll";

  ReportBuffer aBuf{};
  ASSERT_TRUE(GetReport5F(*device, aBuf));
  EXPECT_EQ(ReadLe16(&aBuf[3]), 0x0031);
  ASSERT_TRUE(GetReport60(*device, aBuf));
  const Headset configured = Saved();
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(aBuf[3 + i], configured.config().mcuId[i]) << i;
  EXPECT_TRUE(GetReport58(*device, aBuf));
  EXPECT_EQ(aBuf[0], kRestartReport);
  link_.FreeHidLibrary();

  const Headset after = Saved();
  ASSERT_EQ(after.log().size(), 3u) << "every transfer reached the one headset";
  EXPECT_EQ(after.log()[0].reportId, kVersionReport);
  EXPECT_EQ(after.log()[0].length, 5u);
  EXPECT_EQ(after.log()[1].reportId, kMcuIdReport);
  EXPECT_EQ(after.log()[1].length, 15u);
}

TEST_F(HidDoubleTest, TheHeadsetOutlivesTheLibrary) {
  const auto path = Find(0x0021);
  ASSERT_TRUE(path.has_value());
  for (const std::uint8_t mode : {kRunModeDk1, kRunModeDk2, kRunModeDk1}) {
    auto device = link_.OpenHidDevice(*path);
    ASSERT_NE(device, nullptr);
    link_.LoadHidLibrary();
    EXPECT_TRUE(SetReport59(*device, mode));
    link_.FreeHidLibrary();
    EXPECT_EQ(::GetModuleHandleW(L"hid.dll"), nullptr);
    link_.LoadHidLibrary();
    ReportBuffer aBuf{};
    EXPECT_TRUE(GetReport59(*device, aBuf));
    EXPECT_EQ(aBuf[3], mode);
    link_.FreeHidLibrary();
  }
  EXPECT_EQ(Saved().runMode(), kRunModeDk1);
}

TEST_F(HidDoubleTest, RestartIntoTheBootFirmwareAndBack) {
  const auto app = Find(0x0021);
  ASSERT_TRUE(app.has_value());
  auto device = link_.OpenHidDevice(*app);
  ASSERT_NE(device, nullptr);
  link_.LoadHidLibrary();
  ReportBuffer aBuf{};
  ASSERT_TRUE(GetReport58(*device, aBuf)) << "the application firmware answers the probe";
  ASSERT_TRUE(SetReport58(*device, 1));

  // Still holding the handle: the application interface has left the bus at once.
  EXPECT_FALSE(Opens(*app));
  EXPECT_FALSE(Find(0x0021).has_value());
  EXPECT_FALSE(GetReport5F(*device, aBuf)) << "the old handle no longer reaches the headset";
  device.reset();

  // The program waits, then finds and opens the boot interface without calling hid.dll.
  ::Sleep(kRestartWaitMs);
  const auto boot = Find(0x0001);
  ASSERT_TRUE(boot.has_value());
  EXPECT_NE(*boot, *app);
  device = link_.OpenHidDevice(*boot);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(GetReport5F(*device, aBuf));
  EXPECT_EQ(ReadLe16(&aBuf[3]), 0x0107) << "the boot firmware's version";
  EXPECT_FALSE(GetReport58(*device, aBuf)) << "the boot firmware ignores the Restart report";
  EXPECT_EQ(Saved().firmware(), Firmware::kBoot);

  // Reboot: the boot interface goes, the application one comes back.
  aBuf.fill(0);
  aBuf[0] = kTransferReport;
  aBuf[3] = 0x11;
  ASSERT_TRUE(SetReport61(*device, aBuf));
  EXPECT_FALSE(Opens(*boot));
  device.reset();
  ::Sleep(kRestartWaitMs);
  EXPECT_FALSE(Find(0x0001).has_value());
  const auto back = Find(0x0021);
  ASSERT_TRUE(back.has_value());
  device = link_.OpenHidDevice(*back);
  ASSERT_NE(device, nullptr);
  ASSERT_TRUE(GetReport5F(*device, aBuf));
  EXPECT_EQ(ReadLe16(&aBuf[3]), 0x0031);
  link_.FreeHidLibrary();
  EXPECT_EQ(Saved().restarts(), 2);
}

TEST_F(HidDoubleTest, AHandleFromBeforeARestartStaysStale) {
  const auto app = Find(0x0021);
  ASSERT_TRUE(app.has_value());
  auto before = link_.OpenHidDevice(*app);
  ASSERT_NE(before, nullptr);
  link_.LoadHidLibrary();
  ASSERT_TRUE(SetReport58(*before, 0)) << "restart into the application firmware";
  ::Sleep(kRestartWaitMs);
  // The same path opens again, onto the headset's new generation.
  auto after = link_.OpenHidDevice(*app);
  ASSERT_NE(after, nullptr);
  ReportBuffer aBuf{};
  EXPECT_TRUE(GetReport5F(*after, aBuf));
  EXPECT_FALSE(GetReport5F(*before, aBuf));
  link_.FreeHidLibrary();
}

TEST_F(HidDoubleTest, AnUnpluggedHeadsetCannotBeOpened) {
  const auto app = Find(0x0021);
  ASSERT_TRUE(app.has_value());
  ASSERT_TRUE(SimStore(state_).Update([](Headset& h) { h.Unplug(); }));
  EXPECT_FALSE(Opens(*app));
  EXPECT_FALSE(Find(0x0021).has_value());
  ASSERT_TRUE(SimStore(state_).Update([](Headset& h) { h.PlugIn(); }));
  EXPECT_TRUE(Opens(*app));
}

TEST_F(HidDoubleTest, AHeadsetThatStaysAwayNeverShowsItsBootInterface) {
  ASSERT_TRUE(SimStore(state_).Update([](Headset& h) { h.faults().staysAwayAfterRestart = true; }));
  const auto app = Find(0x0021);
  ASSERT_TRUE(app.has_value());
  auto device = link_.OpenHidDevice(*app);
  ASSERT_NE(device, nullptr);
  link_.LoadHidLibrary();
  ASSERT_TRUE(SetReport58(*device, 1));
  device.reset();
  ::Sleep(kRestartWaitMs);
  EXPECT_FALSE(Find(0x0001).has_value());
  EXPECT_FALSE(Find(0x0021).has_value());
  link_.FreeHidLibrary();
}

TEST_F(HidDoubleTest, TheUnusedExportsDescribeTheHeadset) {
  const auto app = Find(0x0021);
  ASSERT_TRUE(app.has_value());
  UniqueHandle handle(OpenHidDevice(app->c_str()));
  ASSERT_TRUE(handle.valid());
  link_.LoadHidLibrary();
  const HidBinding& binding = CurrentHidBinding();
  struct Attributes {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
  } attributes{};
  using GetAttributesFn = BOOLEAN(WINAPI*)(HANDLE, Attributes*);
  const auto getAttributes = reinterpret_cast<GetAttributesFn>(
      reinterpret_cast<void*>(binding.entries[kHidD_GetAttributes]));
  ASSERT_TRUE(getAttributes(handle.get(), &attributes));
  EXPECT_EQ(attributes.VendorID, kHeadsetVendorId);
  EXPECT_EQ(attributes.ProductID, 0x0021);
  EXPECT_EQ(attributes.VersionNumber, 0x0031);

  using StringFn = BOOLEAN(WINAPI*)(HANDLE, PVOID, ULONG);
  const auto serial = reinterpret_cast<StringFn>(
      reinterpret_cast<void*>(binding.entries[kHidD_GetSerialNumberString]));
  wchar_t text[64] = {};
  ASSERT_TRUE(serial(handle.get(), text, sizeof text));
  EXPECT_EQ(std::wstring(text), L"1032547698BADCFE01234567");
  EXPECT_FALSE(serial(handle.get(), text, 8)) << "a buffer too small is refused";

  using PreparsedFn = BOOLEAN(WINAPI*)(HANDLE, PVOID*);
  using FreeFn = BOOLEAN(WINAPI*)(PVOID);
  using CapsFn = LONG(WINAPI*)(PVOID, USHORT*);
  PVOID preparsed = nullptr;
  ASSERT_TRUE(reinterpret_cast<PreparsedFn>(
      reinterpret_cast<void*>(binding.entries[kHidD_GetPreparsedData]))(handle.get(), &preparsed));
  USHORT caps[32] = {};
  EXPECT_EQ(reinterpret_cast<CapsFn>(reinterpret_cast<void*>(binding.entries[kHidP_GetCaps]))(
                preparsed, caps),
            0x00110000);
  EXPECT_EQ(caps[4], ReportLength(0x03)) << "the longest feature report";
  EXPECT_TRUE(reinterpret_cast<FreeFn>(
      reinterpret_cast<void*>(binding.entries[kHidD_FreePreparsedData]))(preparsed));
  link_.FreeHidLibrary();
}

// The user's side of a firmware upgrade: confirms the reboot, chooses nothing.
class ConfirmingUi : public UserInterface {
 public:
  void ShowStatus(std::string_view text) override { status = std::string(text); }
  int ShowWindowBox(std::string_view body, std::string_view, unsigned type) override {
    boxes.emplace_back(body);
    return type == kBoxYesNo ? kAnswerYes : kAnswerOk;
  }
  void SetCaption(std::string_view text) override { caption = std::string(text); }
  std::string ChooseImageFile() override { return {}; }
  std::string status;
  std::string caption;
  std::vector<std::string> boxes;
};

TEST_F(HidDoubleTest, AFirmwareUpgradeGoesThroughTheDouble) {
  std::vector<std::uint8_t> image(1234);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 + 7);
  const std::wstring imageFile = dir_ + L"\\image.bin";
  {
    UniqueHandle file(
        ::CreateFileW(imageFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    ASSERT_TRUE(
        ::WriteFile(file.get(), image.data(), static_cast<DWORD>(image.size()), &written, nullptr));
  }
  HeadsetLocation location;
  location.pid = 0x0021;
  std::string imagePath(imageFile.begin(), imageFile.end());
  Win32Clock clock;
  Win32FileSystem files;
  ConfirmingUi ui;
  EXPECT_EQ(UpgradeFirmware(link_, clock, files, ui, location, imagePath),
            UpgradeOutcome::kSucceeded)
      << "caption " << ui.caption;
  EXPECT_EQ(location.devicePath, "\\\\.\\" + hiddouble::InterfaceSubkeyName(0x0001).substr(4))
      << "the Device path moved to the boot interface";
  EXPECT_EQ(CurrentHidBinding().module, nullptr) << "the binding is released";
  const Headset after = Saved();
  EXPECT_EQ(after.flashed(), image);
  ::Sleep(kRestartWaitMs);
  EXPECT_TRUE(Find(0x0021).has_value()) << "the headset came back with its new firmware";
}

}  // namespace
}  // namespace obrint::win
