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

// A handle type `H` released by `Free`; none is null, or INVALID_HANDLE_VALUE where the system
// hands that out for none (and then null counts as none too).
template <typename H, auto Free, bool kNoneIsInvalid = false>
struct HandleTraits {
  using Handle = H;
  static Handle None() {
    if constexpr (kNoneIsInvalid) return INVALID_HANDLE_VALUE;
    return nullptr;
  }
  static bool Valid(Handle h) { return h != None() && h != nullptr; }
  static void Release(Handle h) { Free(h); }
};

// A kernel object: a file or an open HID interface.
using UniqueHandle = Owned<HandleTraits<HANDLE, &::CloseHandle, true>>;
using UniqueKey = Owned<HandleTraits<HKEY, &::RegCloseKey>>;
using UniqueDeviceInfoSet = Owned<HandleTraits<HDEVINFO, &::SetupDiDestroyDeviceInfoList, true>>;
// Memory the system allocated for the caller, such as FormatMessage's text.
using UniqueLocalMemory = Owned<HandleTraits<HLOCAL, &::LocalFree>>;
using UniqueDeviceNotification = Owned<HandleTraits<HDEVNOTIFY, &::UnregisterDeviceNotification>>;
// A menu loaded from the resources. Its submenus belong to it.
using UniqueMenu = Owned<HandleTraits<HMENU, &::DestroyMenu>>;

}  // namespace obrint::winbase
