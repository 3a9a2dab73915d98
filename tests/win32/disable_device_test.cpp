// The Disable command's conversation with the device installer, over a stand-in installer whose
// answers each case chooses: the request it sends, the order of its calls, the box that reports
// the outcome, and the release of the device information set.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kesticdlg.h"

namespace {

const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5E7));
constexpr DWORD kLocatedDevInst = 0x4242;
constexpr char kInstanceId[] = "USB\\VID_2833&PID_0001\\6&1A2B3C4D&0&2";

// Answers as each case says and writes every call, box and release into one log, so that the
// order of the whole conversation can be compared at once.
class FakeInstaller : public DeviceInstaller {
 public:
  // A nonzero code makes that call fail with it as the last error.
  DWORD getClassDevsError = 0;
  DWORD setParamsError = 0;
  DWORD callError = 0;
  bool deviceFound = true;

  std::vector<std::string> log;
  DWORD classDevsFlags = 0;
  bool classDevsFiltered = false;
  std::string locatedId;
  SP_PROPCHANGE_PARAMS request{};
  DWORD requestSize = 0;
  DI_FUNCTION installFunction = 0;

  HDEVINFO GetClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent,
                        DWORD flags) override {
    log.push_back("GetClassDevs");
    classDevsFlags = flags;
    classDevsFiltered = classGuid != nullptr || enumerator != nullptr || parent != nullptr;
    return Answer(getClassDevsError) ? kSet : INVALID_HANDLE_VALUE;
  }
  bool LocateDeviceInfo(HDEVINFO set, std::string_view instanceId,
                        SP_DEVINFO_DATA* record) override {
    log.push_back("Locate" + SetNote(set));
    locatedId = instanceId;
    if (!deviceFound) return false;
    record->cbSize = sizeof(*record);
    record->DevInst = kLocatedDevInst;
    return true;
  }
  BOOL SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* record, SP_CLASSINSTALL_HEADER* params,
                             DWORD size) override {
    log.push_back("SetClassInstallParams" + SetNote(set) + RecordNote(record));
    requestSize = size;
    if (params != nullptr && size >= sizeof(request))
      std::memcpy(&request, params, sizeof(request));
    return Answer(setParamsError);
  }
  BOOL CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* record) override {
    log.push_back("CallClassInstaller" + SetNote(set) + RecordNote(record));
    installFunction = function;
    return Answer(callError);
  }
  BOOL DestroyDeviceInfoList(HDEVINFO set) override {
    log.push_back("Destroy" + SetNote(set));
    return TRUE;
  }
  void ShowErrorBox(std::string_view prefix, DWORD code) override {
    log.push_back("ErrorBox " + std::string(prefix) + std::to_string(code));
  }
  void ShowPlainBox(std::string_view text) override {
    log.push_back("PlainBox " + std::string(text));
  }

 private:
  // Another call between the failure and the read of the last error would overwrite it.
  static bool Answer(DWORD error) {
    ::SetLastError(error == 0 ? ERROR_SUCCESS : error);
    return error == 0;
  }
  static std::string SetNote(HDEVINFO set) { return set == kSet ? "" : "(foreign set)"; }
  static std::string RecordNote(const SP_DEVINFO_DATA* record) {
    return record != nullptr && record->DevInst == kLocatedDevInst ? "" : "(foreign record)";
  }
};

TEST(DisableDevice, SuccessSendsAGlobalDisableRequestToTheLocatedDeviceAndSaysSo) {
  FakeInstaller installer;
  DisableDeviceInstance(installer, kInstanceId);

  EXPECT_EQ(installer.log,
            (std::vector<std::string>{"GetClassDevs", "Locate", "SetClassInstallParams",
                                      "CallClassInstaller", "PlainBox Dislabe OK", "Destroy"}));
  // All devices of all classes: the target may be of any class and not present.
  EXPECT_EQ(installer.classDevsFlags, static_cast<DWORD>(DIGCF_ALLCLASSES));
  EXPECT_FALSE(installer.classDevsFiltered);
  EXPECT_EQ(installer.locatedId, kInstanceId);

  EXPECT_EQ(installer.requestSize, sizeof(SP_PROPCHANGE_PARAMS));
  EXPECT_EQ(installer.request.ClassInstallHeader.cbSize, sizeof(SP_CLASSINSTALL_HEADER));
  EXPECT_EQ(installer.request.ClassInstallHeader.InstallFunction,
            static_cast<DI_FUNCTION>(DIF_PROPERTYCHANGE));
  EXPECT_EQ(installer.request.StateChange, static_cast<DWORD>(DICS_DISABLE));
  EXPECT_EQ(installer.request.Scope, static_cast<DWORD>(DICS_FLAG_GLOBAL));
  EXPECT_EQ(installer.request.HwProfile, 0u);
  EXPECT_EQ(installer.installFunction, static_cast<DI_FUNCTION>(DIF_PROPERTYCHANGE));
}

TEST(DisableDevice, EachFailureIsShownWithItsCallAndErrorAndEndsTheCommand) {
  struct Case {
    const char* name;
    DWORD FakeInstaller::*failingCall;
    DWORD error;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"set not built",
       &FakeInstaller::getClassDevsError,
       ERROR_NOT_ENOUGH_MEMORY,
       {"GetClassDevs",
        "ErrorBox SetupDiGetClassDevs(): " + std::to_string(ERROR_NOT_ENOUGH_MEMORY)}},
      {"request refused",
       &FakeInstaller::setParamsError,
       ERROR_ACCESS_DENIED,
       {"GetClassDevs", "Locate", "SetClassInstallParams",
        "ErrorBox SetupDiSetClassInstallParams(): " + std::to_string(ERROR_ACCESS_DENIED),
        "Destroy"}},
      {"installer failed",
       &FakeInstaller::callError,
       ERROR_DI_DO_DEFAULT,
       {"GetClassDevs", "Locate", "SetClassInstallParams", "CallClassInstaller",
        "ErrorBox SetupDiClassInstaller(): " + std::to_string(ERROR_DI_DO_DEFAULT), "Destroy"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeInstaller installer;
    installer.*c.failingCall = c.error;
    DisableDeviceInstance(installer, kInstanceId);
    EXPECT_EQ(installer.log, c.expected);
  }
}

TEST(DisableDevice, ADeviceTheInstallerDoesNotKnowIsLeftAloneWithoutABox) {
  FakeInstaller installer;
  installer.deviceFound = false;
  DisableDeviceInstance(installer, kInstanceId);
  EXPECT_EQ(installer.log, (std::vector<std::string>{"GetClassDevs", "Locate", "Destroy"}));
}

// The system's installer behind the same entry: an instance ID that no device has gives no box,
// and the set it built is released.
TEST(DisableDevice, TheSystemInstallerFindsNoDeviceForAnUnknownInstanceId) {
  class SystemInstallerWithoutBoxes : public DeviceInstaller {
   public:
    void ShowErrorBox(std::string_view prefix, DWORD code) override {
      boxes.push_back(std::string(prefix) + std::to_string(code));
    }
    void ShowPlainBox(std::string_view text) override { boxes.emplace_back(text); }
    BOOL DestroyDeviceInfoList(HDEVINFO set) override {
      ++destroyed;
      return DeviceInstaller::DestroyDeviceInfoList(set);
    }
    std::vector<std::string> boxes;
    int destroyed = 0;
  } installer;
  DisableDeviceInstance(installer, "ROOT\\OBRINT_NO_SUCH_DEVICE\\0000");
  EXPECT_TRUE(installer.boxes.empty());
  EXPECT_EQ(installer.destroyed, 1);
}

}  // namespace
