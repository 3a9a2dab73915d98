#include "device/hid_bus.h"

namespace obrint {

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
