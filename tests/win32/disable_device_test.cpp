// The Disable command's conversation with the device installer, over a stand-in installer whose
// answers each case chooses: the request it sends, the order of its calls, the box that reports
// the outcome, and the release of the device information set.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "kesticdlg.h"

namespace {

const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(static_cast<std::uintptr_t>(0x5E7));
constexpr DWORD kLocatedDevInst = 0x4242;
constexpr char kInstanceId[] = "USB\\VID_2833&PID_0001\\6&1A2B3C4D&0&2";

// Answers as each case says and writes every call, with what it was given, every box and the
// release into one log, so that the whole conversation is compared at once.
class FakeInstaller : public DeviceInstaller {
 public:
  // A nonzero code makes that call fail with it as the last error.
  DWORD getClassDevsError = 0;
  DWORD locateError = 0;
  DWORD setParamsError = 0;
  DWORD callError = 0;
  std::vector<std::string> log;

  HDEVINFO GetClassDevs(const GUID* classGuid, PCSTR enumerator, HWND parent,
                        DWORD flags) override {
    // All devices of all classes: the target may be of any class and not present.
    const bool all = !classGuid && !enumerator && !parent && flags == DIGCF_ALLCLASSES;
    log.push_back(all ? "GetClassDevs" : "GetClassDevs(filtered)");
    return Answer(getClassDevsError) ? kSet : INVALID_HANDLE_VALUE;
  }
  bool LocateDeviceInfo(HDEVINFO set, std::string_view id, SP_DEVINFO_DATA* record) override {
    log.push_back("Locate" + Note(set, nullptr) + (id == kInstanceId ? "" : "(other ID)"));
    record->DevInst = kLocatedDevInst;
    return locateError == 0;
  }
  BOOL SetClassInstallParams(HDEVINFO set, SP_DEVINFO_DATA* record, SP_CLASSINSTALL_HEADER* params,
                             DWORD size) override {
    const auto* request = reinterpret_cast<const SP_PROPCHANGE_PARAMS*>(params);
    const bool disableEverywhere =
        size == sizeof(SP_PROPCHANGE_PARAMS) &&
        request->ClassInstallHeader.cbSize == sizeof(SP_CLASSINSTALL_HEADER) &&
        request->ClassInstallHeader.InstallFunction == DIF_PROPERTYCHANGE &&
        request->StateChange == DICS_DISABLE && request->Scope == DICS_FLAG_GLOBAL &&
        request->HwProfile == 0;
    log.push_back("SetParams" + Note(set, record) + (disableEverywhere ? "" : "(other request)"));
    return Answer(setParamsError);
  }
  BOOL CallClassInstaller(DI_FUNCTION function, HDEVINFO set, SP_DEVINFO_DATA* record) override {
    log.push_back("Call" + Note(set, record) +
                  (function == DIF_PROPERTYCHANGE ? "" : "(other function)"));
    return Answer(callError);
  }
  BOOL DestroyDeviceInfoList(HDEVINFO set) override {
    log.push_back("Destroy" + Note(set, nullptr));
    return TRUE;
  }
  void ShowErrorBox(std::string_view prefix, DWORD code) override {
    log.push_back("ErrorBox " + std::string(prefix) + std::to_string(code));
  }
  void ShowPlainBox(std::string_view text) override { log.push_back("Box " + std::string(text)); }

 private:
  // Another call between the failure and the read of the last error would overwrite it.
  static bool Answer(DWORD error) {
    ::SetLastError(error);
    return error == 0;
  }
  static std::string Note(HDEVINFO set, const SP_DEVINFO_DATA* record) {
    return std::string(set == kSet ? "" : "(other set)") +
           (record == nullptr || record->DevInst == kLocatedDevInst ? "" : "(other device)");
  }
};

TEST(DisableDevice, EachOutcomeIsShownOnceAndTheSetIsReleasedAfterIt) {
  struct Case {
    const char* name;
    DWORD FakeInstaller::*failingCall;
    DWORD error;
    std::vector<std::string> expected;
  };
  const std::string denied = std::to_string(ERROR_ACCESS_DENIED);
  const Case cases[] = {
      {"success",
       nullptr,
       0,
       {"GetClassDevs", "Locate", "SetParams", "Call", "Box Dislabe OK", "Destroy"}},
      {"set not built",
       &FakeInstaller::getClassDevsError,
       ERROR_ACCESS_DENIED,
       {"GetClassDevs", "ErrorBox SetupDiGetClassDevs(): " + denied}},
      {"device not in the set",
       &FakeInstaller::locateError,
       1,
       {"GetClassDevs", "Locate", "Destroy"}},
      {"request refused",
       &FakeInstaller::setParamsError,
       ERROR_ACCESS_DENIED,
       {"GetClassDevs", "Locate", "SetParams", "ErrorBox SetupDiSetClassInstallParams(): " + denied,
        "Destroy"}},
      {"installer failed",
       &FakeInstaller::callError,
       ERROR_ACCESS_DENIED,
       {"GetClassDevs", "Locate", "SetParams", "Call",
        "ErrorBox SetupDiClassInstaller(): " + denied, "Destroy"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeInstaller installer;
    if (c.failingCall != nullptr) installer.*c.failingCall = c.error;
    DisableDeviceInstance(installer, kInstanceId);
    EXPECT_EQ(installer.log, c.expected);
  }
}

}  // namespace
