// Windows: HID interfaces coming and going, told by device-interface notifications for the HID
// class to a message-only window on a thread of its own. Plain Win32 only.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "device/arrival_watch.h"

namespace obrint::win {

// GUID_DEVINTERFACE_HID: the interface class whose comings and goings are watched.
inline constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

class InterfaceWatch : public ArrivalWatch {
 public:
  // Its window's class name: a test finds the window by it (FindWindowEx under HWND_MESSAGE).
  static constexpr wchar_t kWindowClass[] = L"ObrintInterfaceWatch";

  // Registered for notifications before it returns; null when the window or the registration
  // cannot be had.
  static std::unique_ptr<InterfaceWatch> Start();
  ~InterfaceWatch() override;
  InterfaceWatch(const InterfaceWatch&) = delete;
  InterfaceWatch& operator=(const InterfaceWatch&) = delete;

  // Paths as the HID bus names them: "\\?\" of a notification becomes "\\.\".
  std::optional<BusChange> Next(unsigned timeoutMs) override;

 private:
  InterfaceWatch() = default;
  void Pump(std::promise<bool>* ready);
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  std::thread thread_;
  HWND window_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<BusChange> changes_;
};

}  // namespace obrint::win
