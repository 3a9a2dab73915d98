// The Hid binding and OpenHidDevice: a scripted loader shows which calls binds, releases and
// transfers make; the real library shows that binding takes one reference and the last user's
// release gives it back.
#include <gtest/gtest.h>

#include <string>

#include "hid/hid_binding.h"

namespace obrint::hid {
namespace {

struct Script {
  int loads = 0;
  std::size_t resolves = 0;
  int frees = 0;
  int transfers = 0;
  bool loadFails = false;
  std::string missingExport;
};
Script* gScript = nullptr;

BOOLEAN WINAPI FakeFeature(HANDLE, PVOID, ULONG) {
  ++gScript->transfers;
  return TRUE;
}
HMODULE WINAPI ScriptedLoad(LPCSTR) {
  if (gScript->loadFails) return nullptr;
  ++gScript->loads;
  return reinterpret_cast<HMODULE>(0x10000);
}
// Every entry but HidD_GetHidGuid (whose prototype differs) and the missing one is FakeFeature.
FARPROC WINAPI ScriptedResolve(HMODULE, LPCSTR name) {
  ++gScript->resolves;
  const std::string entry(name);
  if (entry == gScript->missingExport || entry == "HidD_GetHidGuid") return nullptr;
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FakeFeature));
}
BOOL WINAPI ScriptedFree(HMODULE) {
  ++gScript->frees;
  return TRUE;
}
const LibraryApi kScriptedLoader = {&ScriptedLoad, &ScriptedResolve, &ScriptedFree};

// An operation binds, and a device event handled while it waits binds and releases inside it.
TEST(HidBinding, CountsItsUsersAndTransfersOnlyWhileBound) {
  Script script;
  gScript = &script;
  const LibraryApi* system = SetLibraryApiForTesting(&kScriptedLoader);
  WinHidDevice device{winbase::UniqueHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr))};
  std::uint8_t report[64] = {0x5F};

  EXPECT_FALSE(device.GetFeature(report, 5)) << "never bound";
  FreeHidLibrary();
  EXPECT_EQ(script.frees, 0) << "a release while unbound calls nothing";
  LoadHidLibrary();
  LoadHidLibrary();
  EXPECT_EQ(script.loads, 1) << "a second bind loads nothing";
  EXPECT_EQ(script.resolves, kHidEntryCount) << "a second bind resolves nothing";
  FreeHidLibrary();
  EXPECT_EQ(script.frees, 0) << "the inner release freed the outer user's library";
  EXPECT_TRUE(device.GetFeature(report, 5));
  EXPECT_TRUE(device.SetFeature(report, 5));
  FreeHidLibrary();
  FreeHidLibrary();
  EXPECT_EQ(script.frees, 1) << "the last user's release frees, one while unbound nothing";
  EXPECT_FALSE(device.GetFeature(report, 5)) << "the slots point into a released library";
  EXPECT_FALSE(device.SetFeature(report, 5));

  // A bind whose load fails counts no user: a bind inside it is the only one to release.
  script.loadFails = true;
  LoadHidLibrary();
  script.loadFails = false;
  LoadHidLibrary();
  FreeHidLibrary();
  EXPECT_EQ(script.frees, 2) << "a bind whose load failed counted a user";
  FreeHidLibrary();

  script.missingExport = "HidD_SetFeature";
  LoadHidLibrary();
  EXPECT_EQ(script.loads, 3);
  EXPECT_EQ(script.resolves, 3 * kHidEntryCount) << "every new bind resolves all entries";
  EXPECT_FALSE(device.SetFeature(report, 5)) << "a missing export is never called";
  EXPECT_TRUE(device.GetFeature(report, 5));
  EXPECT_EQ(script.transfers, 3);
  FreeHidLibrary();
  EXPECT_EQ(script.frees, 3) << "releases while unbound left the count at zero";
  SetLibraryApiForTesting(system);
}

TEST(HidBinding, BindsTheRealLibraryOnceAndReleasesIt) {
  ASSERT_EQ(::GetModuleHandleA("hid.dll"), nullptr) << "nothing else holds hid.dll";
  LoadHidLibrary();
  const HidBinding& binding = CurrentHidBinding();
  const HMODULE hid = binding.module;
  ASSERT_NE(hid, nullptr);
  for (std::size_t i = 0; i < kHidEntryCount; ++i) {
    EXPECT_EQ(binding.entries[i], ::GetProcAddress(binding.module, kHidEntryNames[i]))
        << kHidEntryNames[i];
  }
  const GUID hidClass = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  EXPECT_TRUE(IsEqualGUID(binding.hidGuid, hidClass));
  LoadHidLibrary();
  FreeHidLibrary();
  EXPECT_EQ(::GetModuleHandleA("hid.dll"), hid) << "the first user holds it still";
  FreeHidLibrary();
  EXPECT_EQ(::GetModuleHandleA("hid.dll"), nullptr) << "the last release unloads the library";
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
