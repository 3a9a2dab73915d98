// Ownership of the operating system's handles: one owner type per kind of handle, each releasing
// its handle exactly once, on every path, when it goes.
#pragma once

#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

#include <utility>

namespace obrint::winbase {

// A movable owner of one handle. `Traits` names the handle type, its "none" value, what else
// counts as none, and the call that releases it.
template <typename Traits>
class Owned {
 public:
  using Handle = typename Traits::Handle;

  Owned() = default;
  explicit Owned(Handle handle) : handle_(handle) {}
  Owned(Owned&& other) noexcept : handle_(other.release()) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  ~Owned() { reset(); }

  Handle get() const { return handle_; }
  bool valid() const { return Traits::Valid(handle_); }
  // For calls that hand out a new handle through a pointer; releases the one held first.
  Handle* out() {
    reset();
    return &handle_;
  }
  Handle release() { return std::exchange(handle_, Traits::None()); }
  void reset(Handle handle = Traits::None()) {
    if (valid()) Traits::Release(handle_);
    handle_ = handle;
  }

 private:
  Handle handle_ = Traits::None();
};

// A kernel object: a file or an open HID interface.
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle None() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Release(Handle h) { ::CloseHandle(h); }
};
using UniqueHandle = Owned<KernelHandleTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle None() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { ::RegCloseKey(h); }
};
using UniqueKey = Owned<RegistryKeyTraits>;

struct DeviceInfoSetTraits {
  using Handle = HDEVINFO;
  static Handle None() { return INVALID_HANDLE_VALUE; }
  static bool Valid(Handle h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
  static void Release(Handle h) { ::SetupDiDestroyDeviceInfoList(h); }
};
using UniqueDeviceInfoSet = Owned<DeviceInfoSetTraits>;

// Memory the system allocated for the caller, such as FormatMessage's text.
struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle None() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { ::LocalFree(h); }
};
using UniqueLocalMemory = Owned<LocalMemoryTraits>;

struct DeviceNotificationTraits {
  using Handle = HDEVNOTIFY;
  static Handle None() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { ::UnregisterDeviceNotification(h); }
};
using UniqueDeviceNotification = Owned<DeviceNotificationTraits>;

// A menu loaded from the resources. Its submenus belong to it.
struct MenuTraits {
  using Handle = HMENU;
  static Handle None() { return nullptr; }
  static bool Valid(Handle h) { return h != nullptr; }
  static void Release(Handle h) { ::DestroyMenu(h); }
};
using UniqueMenu = Owned<MenuTraits>;

}  // namespace obrint::winbase
