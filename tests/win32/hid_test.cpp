// The Hid binding and OpenHidDevice: a scripted loader shows which calls binds, releases and
// transfers make; the real library shows that binding takes one reference and releasing gives it
// back.
#include <gtest/gtest.h>

#include <string>

#include "hid/hid_binding.h"

namespace obrint::hid {
namespace {

struct Script {
  int loads = 0;
  int frees = 0;
  int transfers = 0;
  std::string missingExport;
};
Script* gScript = nullptr;

BOOLEAN WINAPI FakeFeature(HANDLE, PVOID, ULONG) {
  ++gScript->transfers;
  return TRUE;
}
HMODULE WINAPI ScriptedLoad(LPCSTR) {
  ++gScript->loads;
  return reinterpret_cast<HMODULE>(0x10000);
}
// Every entry but HidD_GetHidGuid (whose prototype differs) and the missing one is FakeFeature.
FARPROC WINAPI ScriptedResolve(HMODULE, LPCSTR name) {
  const std::string entry(name);
  if (entry == gScript->missingExport || entry == "HidD_GetHidGuid") return nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeFeature));
}
BOOL WINAPI ScriptedFree(HMODULE) {
  ++gScript->frees;
  return TRUE;
}
const LibraryApi kScriptedLoader = {&ScriptedLoad, &ScriptedResolve, &ScriptedFree};

TEST(HidBinding, TransfersGoOnlyThroughABoundLibrarysOwnEntries) {
  Script script;
  gScript = &script;
  const LibraryApi* system = SetLibraryApiForTesting(&kScriptedLoader);
  WinHidDevice device{winbase::UniqueHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr))};
  std::uint8_t report[64] = {0x5F};

  EXPECT_FALSE(device.GetFeature(report, 5)) << "never bound";
  LoadHidLibrary();
  LoadHidLibrary();
  EXPECT_EQ(script.loads, 1) << "a second bind loads nothing";
  EXPECT_TRUE(device.GetFeature(report, 5));
  EXPECT_TRUE(device.SetFeature(report, 5));
  FreeHidLibrary();
  FreeHidLibrary();
  EXPECT_EQ(script.frees, 1) << "a release while unbound calls nothing";
  EXPECT_FALSE(device.GetFeature(report, 5)) << "the slots point into a released library";
  EXPECT_FALSE(device.SetFeature(report, 5));

  script.missingExport = "HidD_SetFeature";
  LoadHidLibrary();
  EXPECT_EQ(script.loads, 2);
  EXPECT_FALSE(device.SetFeature(report, 5)) << "a missing export is never called";
  EXPECT_TRUE(device.GetFeature(report, 5));
  EXPECT_EQ(script.transfers, 3);
  FreeHidLibrary();
  SetLibraryApiForTesting(system);
}

TEST(HidBinding, BindsTheRealLibraryOnceAndReleasesIt) {
  ASSERT_EQ(::GetModuleHandleA("hid.dll"), nullptr) << "nothing else holds hid.dll";
  LoadHidLibrary();
  const HidBinding& binding = CurrentHidBinding();
  ASSERT_NE(binding.module, nullptr);
  for (std::size_t i = 0; i < kHidEntryCount; ++i) {
    EXPECT_EQ(binding.entries[i], ::GetProcAddress(binding.module, kHidEntryNames[i]))
        << kHidEntryNames[i];
  }
  const GUID hidClass = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  EXPECT_TRUE(IsEqualGUID(binding.hidGuid, hidClass));
  LoadHidLibrary();
  FreeHidLibrary();
  EXPECT_EQ(::GetModuleHandleA("hid.dll"), nullptr) << "one release unloads the library";
}

TEST(OpenHidDevice, OpensExistingInterfacesSharedAndCreatesNothing) {
  char dir[MAX_PATH];
  char path[MAX_PATH];
  ASSERT_TRUE(::GetTempPathA(MAX_PATH, dir));
  ASSERT_TRUE(::GetTempFileNameA(dir, "hid", 0, path));
  {
    const winbase::UniqueHandle first(OpenHidDevice(path));
    const winbase::UniqueHandle second(OpenHidDevice(path));
    EXPECT_TRUE(first.valid() && second.valid()) << "another program may hold the interface";
  }
  ASSERT_TRUE(::DeleteFileA(path));
  EXPECT_FALSE(winbase::UniqueHandle(OpenHidDevice(path)).valid());
  EXPECT_EQ(::GetFileAttributesA(path), INVALID_FILE_ATTRIBUTES) << "no file was created";
  EXPECT_FALSE(winbase::UniqueHandle(OpenHidDevice(nullptr)).valid());
}

}  // namespace
}  // namespace obrint::hid
