// The HID bus: the interfaces that the platform's HID stack shows, and opening one of them. Each
// platform implements it once (hid.dll on Windows, hidraw on Linux, the simulator); everything
// above it talks to headsets only through it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/hid_device.h"

namespace obrint {

inline constexpr std::uint16_t kHeadsetVendorId = 0x2833;
// The product ID under which the headset shows its boot firmware.
inline constexpr std::uint16_t kBootProductId = 0x0001;

enum class FirmwareKind : std::uint8_t { kApplication, kBoot };

// One attached HID interface.
struct HidInterface {
  std::string path;
  std::uint16_t vid = 0;
  std::uint16_t pid = 0;
  int interfaceNumber = -1;  // -1: the device's only interface, or the platform does not tell
  // Where the device is plugged in ("1-2.3" on Linux): the same before and after a restart into
  // the boot firmware. Empty when the platform does not tell.
  std::string usbPort;

  // Which firmware it runs, told by its product ID alone.
  FirmwareKind firmware() const {
    return pid == kBootProductId ? FirmwareKind::kBoot : FirmwareKind::kApplication;
  }
  // A device's only interface or its interface 0: the one the headset is driven through.
  bool isFirst() const { return interfaceNumber <= 0; }
};

// Which thread holds which interface, so that one device is used by one thread at a time. A
// worker keeps each interface of its headset from its first open of it until the interface goes
// or the worker's record is written; any other open is a look, which holds the interface while it
// lasts and passes over one that another thread keeps. Paths compare without ASCII case.
class InterfaceLeases {
 public:
  class Look;
  // Keeps `path` for the calling thread until it releases it (or all it keeps), once no other
  // thread looks at it; false when another thread keeps it.
  bool Keep(const std::string& path);
  void Release(const std::string& path);
  void ReleaseAll();
  // Whether a thread other than the caller keeps `path` or looks at it.
  bool HeldByOther(const std::string& path) const;

 private:
  struct Holder {
    std::thread::id thread;
    bool kept = false;
  };
  // Holds `path` for the caller (`keep`: until released), once no other thread looks at it;
  // false when another keeps it. Whether the caller held it already, in `already`.
  bool Take(const std::string& path, bool keep, bool& already);

  mutable std::mutex mutex_;
  std::condition_variable released_;
  std::map<std::string, Holder> held_;  // by the path in lower case
};

// A look at an interface, held while the object lives (unless the caller held it already).
class InterfaceLeases::Look {
 public:
  Look(InterfaceLeases& leases, std::string path);
  ~Look();
  Look(const Look&) = delete;
  Look& operator=(const Look&) = delete;
  // False when another thread keeps the interface: it is not to be opened.
  explicit operator bool() const { return held_; }
  // The interface is the caller's to keep from now on.
  void Keep();

 private:
  InterfaceLeases& leases_;
  std::string path_;
  bool held_ = false, already_ = false, kept_ = false;
};

// Every member may be called from several threads at once; one device is used by one thread at a
// time, as its leases say.
class HidBus {
 public:
  virtual ~HidBus() = default;

  // The attached interfaces of vendor `vid` that open, in the platform's order.
  virtual std::vector<HidInterface> Enumerate(std::uint16_t vid) = 0;
  // The interface at `path`, open for feature reports; null when it does not open (an empty path
  // never does).
  virtual std::unique_ptr<HidDevice> Open(const std::string& path) = 0;
  // The first interface of `vid` and `pid` that is a device's first and opens; nullopt when none
  // does. By default the first such interface of Enumerate.
  virtual std::optional<std::string> Find(std::uint16_t vid, std::uint16_t pid);

  // What a headset operation holds while it exchanges reports with an open device: where the
  // platform binds its HID library at run time, it stays bound meanwhile. By default null.
  class Session {
   public:
    virtual ~Session() = default;
  };
  virtual std::unique_ptr<Session> OpenSession() { return nullptr; }

  InterfaceLeases& leases() { return leases_; }

 private:
  InterfaceLeases leases_;
};

// The first interface of each attached device of `vid` (of `pid` too, when given), in the
// platform's order: the headsets, whichever firmware they run.
std::vector<HidInterface> AttachedHeadsets(HidBus& bus, std::uint16_t vid,
                                           std::optional<std::uint16_t> pid = std::nullopt);

}  // namespace obrint
