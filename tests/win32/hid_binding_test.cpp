// The Hid binding: loading and releasing hid.dll, resolving its eleven entries, and feature
// transfers through them. The loader is scripted to count and order every call; a last group
// binds the real library that the process finds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hid/hid_binding.h"

namespace obrint::win {
namespace {

// The scripted loader: what the binding asked of it, and what it answers.
struct LoaderScript {
  int loads = 0;
  std::vector<std::string> loadedNames;
  std::vector<std::string> resolved;
  std::vector<HMODULE> freed;
  bool loadFails = false;
  std::string missingExport;
  int guidCalls = 0;
  std::vector<std::string> transfers;  // "get"/"set" with the length
  HANDLE lastHandle = nullptr;
  BOOLEAN transferResult = TRUE;
};
LoaderScript* gScript = nullptr;

HMODULE FakeModule(int load) {
  return reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x10000 * load));
}

constexpr GUID kGuidFromLibrary = {0x11223344, 0x5566, 0x7788, {1, 2, 3, 4, 5, 6, 7, 8}};

void WINAPI FakeGetHidGuid(GUID* guid) {
  ++gScript->guidCalls;
  *guid = kGuidFromLibrary;
}
BOOLEAN WINAPI FakeGetFeature(HANDLE device, PVOID report, ULONG length) {
  gScript->transfers.push_back("get " + std::to_string(length));
  gScript->lastHandle = device;
  static_cast<std::uint8_t*>(report)[1] = 0xEE;
  return gScript->transferResult;
}
BOOLEAN WINAPI FakeSetFeature(HANDLE device, PVOID, ULONG length) {
  gScript->transfers.push_back("set " + std::to_string(length));
  gScript->lastHandle = device;
  return gScript->transferResult;
}

template <typename Fn>
FARPROC AsFarProc(Fn fn) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fn));
}

HMODULE WINAPI ScriptedLoad(LPCSTR name) {
  gScript->loadedNames.emplace_back(name);
  if (gScript->loadFails) return nullptr;
  return FakeModule(++gScript->loads);
}

// Entries that are never called resolve to addresses that tell the bind they came from.
FARPROC WINAPI ScriptedResolve(HMODULE module, LPCSTR name) {
  gScript->resolved.emplace_back(name);
  const std::string export_(name);
  if (export_ == gScript->missingExport) return nullptr;
  if (export_ == "HidD_GetHidGuid") return AsFarProc(&FakeGetHidGuid);
  if (export_ == "HidD_GetFeature") return AsFarProc(&FakeGetFeature);
  if (export_ == "HidD_SetFeature") return AsFarProc(&FakeSetFeature);
  return reinterpret_cast<FARPROC>(reinterpret_cast<std::uintptr_t>(module) +
                                   gScript->resolved.size());
}

BOOL WINAPI ScriptedFree(HMODULE module) {
  gScript->freed.push_back(module);
  return TRUE;
}

const LibraryApi kScriptedLoader = {&ScriptedLoad, &ScriptedResolve, &ScriptedFree};

const std::vector<std::string> kExportOrder = {
    "HidD_GetHidGuid",       "HidD_SetNumInputBuffers",
    "HidD_GetFeature",       "HidD_SetFeature",
    "HidD_GetAttributes",    "HidD_GetManufacturerString",
    "HidD_GetProductString", "HidD_GetSerialNumberString",
    "HidD_GetPreparsedData", "HidD_FreePreparsedData",
    "HidP_GetCaps",
};

class HidBindingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gScript = &script_;
    previous_ = SetLibraryApiForTesting(&kScriptedLoader);
  }
  void TearDown() override {
    // Leave the process-wide binding unbound for the next test.
    FreeHidLibrary();
    SetLibraryApiForTesting(previous_);
    gScript = nullptr;
  }

  LoaderScript script_;
  const LibraryApi* previous_ = nullptr;
};

TEST_F(HidBindingTest, ABindLoadsHidDllAndResolvesAllElevenEntriesInOrder) {
  LoadHidLibrary();
  EXPECT_EQ(script_.loadedNames, std::vector<std::string>{"hid.dll"});
  EXPECT_EQ(script_.resolved, kExportOrder);
  const HidBinding& binding = CurrentHidBinding();
  EXPECT_EQ(binding.module, FakeModule(1));
  for (std::size_t i = 0; i < kHidEntryCount; ++i) {
    EXPECT_NE(binding.entries[i], nullptr) << kExportOrder[i] << ", never called, is resolved too";
  }
  EXPECT_EQ(script_.guidCalls, 1);
  EXPECT_TRUE(IsEqualGUID(binding.hidGuid, kGuidFromLibrary));
}

TEST_F(HidBindingTest, TwoBindsLoadOnceAndOneFreeReleases) {
  LoadHidLibrary();
  LoadHidLibrary();
  EXPECT_EQ(script_.loads, 1);
  EXPECT_EQ(script_.resolved.size(), kHidEntryCount) << "the second bind resolves nothing";
  EXPECT_EQ(script_.guidCalls, 1);
  FreeHidLibrary();
  EXPECT_EQ(script_.freed, std::vector<HMODULE>{FakeModule(1)});
  EXPECT_EQ(CurrentHidBinding().module, nullptr);
}

TEST_F(HidBindingTest, BindFreeBindLoadsAgainAndResolvesEverythingAgain) {
  LoadHidLibrary();
  const auto first = CurrentHidBinding().entries;
  FreeHidLibrary();
  LoadHidLibrary();
  EXPECT_EQ(script_.loads, 2);
  std::vector<std::string> twice = kExportOrder;
  twice.insert(twice.end(), kExportOrder.begin(), kExportOrder.end());
  EXPECT_EQ(script_.resolved, twice);
  EXPECT_EQ(script_.guidCalls, 2);
  const HidBinding& binding = CurrentHidBinding();
  EXPECT_EQ(binding.module, FakeModule(2));
  EXPECT_NE(binding.entries[kHidD_GetAttributes], first[kHidD_GetAttributes])
      << "the slots hold what the second bind resolved";
}

TEST_F(HidBindingTest, FreeWhileUnboundCallsNothing) {
  FreeHidLibrary();
  EXPECT_TRUE(script_.freed.empty());
  LoadHidLibrary();
  FreeHidLibrary();
  FreeHidLibrary();
  EXPECT_EQ(script_.freed.size(), 1u);
}

TEST_F(HidBindingTest, FreeKeepsTheSlots) {
  LoadHidLibrary();
  const HidBinding before = CurrentHidBinding();
  FreeHidLibrary();
  const HidBinding& after = CurrentHidBinding();
  EXPECT_EQ(after.module, nullptr);
  EXPECT_EQ(after.entries, before.entries);
  EXPECT_TRUE(IsEqualGUID(after.hidGuid, before.hidGuid));
}

TEST_F(HidBindingTest, AMissingExportLeavesANullSlotAndTheRestResolve) {
  script_.missingExport = "HidD_GetAttributes";
  LoadHidLibrary();
  EXPECT_EQ(script_.resolved, kExportOrder);
  EXPECT_EQ(CurrentHidBinding().entries[kHidD_GetAttributes], nullptr);
  EXPECT_NE(CurrentHidBinding().entries[kHidP_GetCaps], nullptr);
}

TEST_F(HidBindingTest, WithoutHidD_GetHidGuidTheGuidIsNotAskedFor) {
  script_.missingExport = "HidD_GetHidGuid";
  LoadHidLibrary();
  EXPECT_EQ(script_.guidCalls, 0);
  EXPECT_NE(CurrentHidBinding().module, nullptr);
}

TEST_F(HidBindingTest, ALibraryThatDoesNotLoadLeavesTheBindingUnbound) {
  LoadHidLibrary();
  const auto slots = CurrentHidBinding().entries;
  FreeHidLibrary();
  script_.loadFails = true;
  LoadHidLibrary();
  EXPECT_EQ(CurrentHidBinding().module, nullptr);
  EXPECT_EQ(script_.resolved.size(), kHidEntryCount) << "nothing is resolved from no library";
  EXPECT_EQ(CurrentHidBinding().entries, slots) << "the slots keep what they held";
  FreeHidLibrary();
  EXPECT_EQ(script_.freed.size(), 1u);
  LoadHidLibrary();
  EXPECT_EQ(script_.loadedNames.size(), 3u) << "every bind tries again";
}

// Any real handle will do: the scripted entries only pass it on.
UniqueHandle SomeHandle() { return UniqueHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr)); }

TEST_F(HidBindingTest, TransfersGoThroughTheBoundEntries) {
  WinHidDevice device{SomeHandle()};
  LoadHidLibrary();
  std::uint8_t report[64] = {0x5F};
  EXPECT_TRUE(device.GetFeature(report, 5));
  EXPECT_EQ(report[1], 0xEE);
  EXPECT_TRUE(device.SetFeature(report, 64));
  EXPECT_EQ(script_.transfers, (std::vector<std::string>{"get 5", "set 64"}));
  EXPECT_EQ(script_.lastHandle, device.handle());

  script_.transferResult = FALSE;
  EXPECT_FALSE(device.GetFeature(report, 5));
  EXPECT_FALSE(device.SetFeature(report, 4));
  EXPECT_EQ(script_.transfers.size(), 4u);
}

TEST_F(HidBindingTest, TransfersWhileUnboundFailWithoutACall) {
  WinHidDevice device{SomeHandle()};
  std::uint8_t report[64] = {0x5F};
  EXPECT_FALSE(device.GetFeature(report, 5)) << "never bound";
  LoadHidLibrary();
  FreeHidLibrary();
  EXPECT_FALSE(device.GetFeature(report, 5)) << "the slots point into a released library";
  EXPECT_FALSE(device.SetFeature(report, 4));
  EXPECT_TRUE(script_.transfers.empty());
}

TEST_F(HidBindingTest, TransfersThroughAMissingExportFailWithoutACall) {
  script_.missingExport = "HidD_SetFeature";
  WinHidDevice device{SomeHandle()};
  LoadHidLibrary();
  std::uint8_t report[64] = {0x61};
  EXPECT_FALSE(device.SetFeature(report, 64));
  EXPECT_TRUE(device.GetFeature(report, 64));
  EXPECT_EQ(script_.transfers, std::vector<std::string>{"get 64"});
}

// The library the process really finds.
TEST(HidBindingSystem, BindsTheRealLibraryOnceAndReleasesIt) {
  ASSERT_EQ(::GetModuleHandleA("hid.dll"), nullptr) << "nothing else holds hid.dll";
  LoadHidLibrary();
  const HidBinding& binding = CurrentHidBinding();
  ASSERT_NE(binding.module, nullptr);
  EXPECT_EQ(::GetModuleHandleA("hid.dll"), binding.module);
  for (std::size_t i = 0; i < kHidEntryCount; ++i) {
    EXPECT_EQ(binding.entries[i], ::GetProcAddress(binding.module, kHidEntryNames[i]))
        << kHidEntryNames[i];
    EXPECT_NE(binding.entries[i], nullptr) << kHidEntryNames[i];
  }
  const GUID hidClass = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  EXPECT_TRUE(IsEqualGUID(binding.hidGuid, hidClass));

  LoadHidLibrary();
  FreeHidLibrary();
  EXPECT_EQ(::GetModuleHandleA("hid.dll"), nullptr)
      << "two binds took one reference: one release unloads the library";
}

}  // namespace
}  // namespace obrint::win
