// The Windows arrival watch under Wine: its message-only window is sent WM_DEVICECHANGE with the
// HID class's DEV_BROADCAST_DEVICEINTERFACE_W records, as the system sends them.
#include <gtest/gtest.h>

#include "win/arrival_watch_win.h"

#include <dbt.h>

#include <cstring>
#include <vector>

namespace obrint::win {
namespace {

LRESULT Send(HWND window, WPARAM event, const std::wstring& path, DWORD type) {
  const std::size_t bytes =
      offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(wchar_t);
  std::vector<std::byte> record(bytes + sizeof(DEV_BROADCAST_DEVICEINTERFACE_W));
  auto* header = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
  header->dbcc_size = static_cast<DWORD>(bytes);
  header->dbcc_devicetype = type;
  header->dbcc_classguid = {
      0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
  std::memcpy(header->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
  return SendMessageW(window, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(header));
}

TEST(InterfaceWatchTest, ArrivalsAndRemovalsAsTheSystemTellsThem) {
  const std::unique_ptr<InterfaceWatch> watch = InterfaceWatch::Start();
  ASSERT_TRUE(watch);
  const HWND window = FindWindowExW(HWND_MESSAGE, nullptr, InterfaceWatch::kWindowClass, nullptr);
  ASSERT_TRUE(window);
  const std::wstring path =
      L"\\\\?\\HID#VID_2833&PID_0021#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  Send(window, DBT_DEVICEARRIVAL, path, DBT_DEVTYP_DEVICEINTERFACE);
  Send(window, DBT_DEVICEQUERYREMOVE, path, DBT_DEVTYP_DEVICEINTERFACE);  // not a change
  Send(window, DBT_DEVICEARRIVAL, path, DBT_DEVTYP_HANDLE);               // not an interface
  Send(window, DBT_DEVICEREMOVECOMPLETE, path, DBT_DEVTYP_DEVICEINTERFACE);
  const std::string bus =
      "\\\\.\\HID#VID_2833&PID_0021#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
  std::optional<BusChange> change = watch->Next(1000);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->kind, BusChange::Kind::kAttached);
  EXPECT_EQ(change->path, bus);
  change = watch->Next(1000);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->kind, BusChange::Kind::kDetached);
  EXPECT_EQ(change->path, bus);
  EXPECT_FALSE(watch->Next(50));
}

}  // namespace
}  // namespace obrint::win
