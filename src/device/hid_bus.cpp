#include "device/hid_bus.h"

#include <algorithm>

#include "device/text.h"

namespace obrint {
namespace {

std::string KeyOf(std::string path) {
  std::transform(path.begin(), path.end(), path.begin(), AsciiLower);
  return path;
}

}  // namespace

bool InterfaceLeases::Take(const std::string& path, bool keep, bool& already) {
  const std::string key = KeyOf(path);
  const std::thread::id self = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  for (;;) {
    const auto at = held_.find(key);
    if (at == held_.end()) break;
    if (at->second.thread == self) {
      already = true;
      if (keep && !at->second.kept) {
        at->second.kept = true;
        released_.notify_all();  // whoever waits for the look to end: it is kept now
      }
      return true;
    }
    if (at->second.kept) return false;
    released_.wait(lock);  // a look lasts a few reports
  }
  already = false;
  held_[key] = {self, keep};
  return true;
}

bool InterfaceLeases::Keep(const std::string& path) {
  bool already = false;
  return Take(path, true, already);
}

void InterfaceLeases::Release(const std::string& path) {
  {
    const std::lock_guard lock(mutex_);
    const auto at = held_.find(KeyOf(path));
    if (at == held_.end() || at->second.thread != std::this_thread::get_id()) return;
    held_.erase(at);
  }
  released_.notify_all();
}

void InterfaceLeases::ReleaseAll() {
  {
    const std::lock_guard lock(mutex_);
    std::erase_if(held_, [self = std::this_thread::get_id()](const auto& entry) {
      return entry.second.thread == self;
    });
  }
  released_.notify_all();
}

bool InterfaceLeases::HeldByOther(const std::string& path) const {
  const std::lock_guard lock(mutex_);
  const auto at = held_.find(KeyOf(path));
  return at != held_.end() && at->second.thread != std::this_thread::get_id();
}

InterfaceLeases::Look::Look(InterfaceLeases& leases, std::string path)
    : leases_(leases), path_(std::move(path)) {
  held_ = leases_.Take(path_, false, already_);
}

InterfaceLeases::Look::~Look() {
  if (held_ && !already_ && !kept_) leases_.Release(path_);
}

void InterfaceLeases::Look::Keep() { kept_ = held_ && leases_.Keep(path_); }

std::optional<std::string> HidBus::Find(std::uint16_t vid, std::uint16_t pid) {
  for (const HidInterface& found : Enumerate(vid)) {
    if (found.pid == pid && found.isFirst()) return found.path;
  }
  return std::nullopt;
}

std::vector<HidInterface> AttachedHeadsets(HidBus& bus, std::uint16_t vid,
                                           std::optional<std::uint16_t> pid) {
  std::vector<HidInterface> headsets;
  for (HidInterface& found : bus.Enumerate(vid)) {
    if (found.isFirst() && (!pid || found.pid == *pid)) headsets.push_back(std::move(found));
  }
  return headsets;
}

}  // namespace obrint
