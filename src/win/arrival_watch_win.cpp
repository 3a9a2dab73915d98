#include "win/arrival_watch_win.h"

#include <dbt.h>

#include <future>
#include <string>

#include "winbase/text.h"

namespace obrint::win {

std::unique_ptr<InterfaceWatch> InterfaceWatch::Start() {
  std::unique_ptr<InterfaceWatch> watch(new InterfaceWatch());
  std::promise<bool> ready;
  std::future<bool> started = ready.get_future();
  watch->thread_ = std::thread([w = watch.get(), &ready] { w->Pump(&ready); });
  if (!started.get()) {
    watch->thread_.join();
    return nullptr;
  }
  return watch;
}

InterfaceWatch::~InterfaceWatch() {
  if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
  if (thread_.joinable()) thread_.join();
}

void InterfaceWatch::Pump(std::promise<bool>* ready) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassExW(&windowClass);  // already there for a second watch
  window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            windowClass.hInstance, this);
  DEV_BROADCAST_DEVICEINTERFACE_W filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kHidInterfaceClass;
  const HDEVNOTIFY notify =
      window_ ? RegisterDeviceNotificationW(window_, &filter, DEVICE_NOTIFY_WINDOW_HANDLE)
              : nullptr;
  if (!notify) {
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    ready->set_value(false);
    return;
  }
  ready->set_value(true);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  UnregisterDeviceNotification(notify);
}

LRESULT CALLBACK InterfaceWatch::WindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* watch = reinterpret_cast<InterfaceWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (message != WM_DEVICECHANGE || !watch || !header ||
      (wParam != DBT_DEVICEARRIVAL && wParam != DBT_DEVICEREMOVECOMPLETE) ||
      header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
    return DefWindowProcW(window, message, wParam, lParam);
  }
  const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
  std::string path = winbase::Narrow(record->dbcc_name);
  // The bus names interfaces "\\.\…" as the registry's list gives them.
  if (path.starts_with("\\\\?\\")) path[2] = '.';
  {
    const std::lock_guard lock(watch->mutex_);
    watch->changes_.push_back(
        {wParam == DBT_DEVICEARRIVAL ? BusChange::Kind::kAttached : BusChange::Kind::kDetached,
         std::move(path)});
  }
  watch->changed_.notify_all();
  return TRUE;
}

std::optional<BusChange> InterfaceWatch::Next(unsigned timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [this] { return !changes_.empty(); })) {
    return std::nullopt;
  }
  BusChange change = std::move(changes_.front());
  changes_.pop_front();
  return change;
}

}  // namespace obrint::win
