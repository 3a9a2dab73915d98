#include "engine/selection.h"

#include <algorithm>

#include "device/text.h"

namespace obrint::engine {

bool Chosen(const std::vector<std::string>& usbPorts, const std::string& usbPort) {
  return usbPorts.empty() || std::find(usbPorts.begin(), usbPorts.end(), usbPort) != usbPorts.end();
}

bool Chosen(const std::vector<McuId>& mcuIds, const std::optional<McuId>& mcuId) {
  return mcuIds.empty() ||
         (mcuId && std::find(mcuIds.begin(), mcuIds.end(), *mcuId) != mcuIds.end());
}

Result<std::vector<Target>> SelectHeadsets(HidBus& bus, const Selection& selection,
                                           std::string* why) {
  const std::uint16_t vid = selection.vid.value_or(kHeadsetVendorId);
  std::vector<HidInterface> found;
  if (!selection.device.empty()) {
    // As given, and only when the bus knows it as an interface of the vendor.
    for (HidInterface& attached : bus.Enumerate(vid)) {
      if (EqualsIgnoringAsciiCase(attached.path, selection.device)) {
        found.push_back(std::move(attached));
      }
    }
    if (found.empty()) {
      if (why) *why = selection.device;
      return Failure::kNotHidDevice;
    }
  } else {
    found = AttachedHeadsets(bus, vid, selection.pid);
  }
  std::vector<Target> targets;
  std::string passedOver;
  for (HidInterface& headset : found) {
    Target target{std::move(headset), {}};
    if (Chosen(selection.usbPorts, target.interface.usbPort)) {
      if (const Result<HeadsetInfo> info = ReadHeadsetInfo(bus, target.interface.path)) {
        target.info = *info;
      }
      if (Chosen(selection.mcuIds, target.info.mcuId)) {
        targets.push_back(std::move(target));
        continue;
      }
    }
    passedOver += "\n  " + Describe(target);
  }
  if (targets.empty()) {
    if (why && !passedOver.empty())
      *why = "none answers --port and --mcu-id; attached:" + passedOver;
    return Failure::kNoHeadset;
  }
  return targets;
}

Result<Target> SelectHeadset(HidBus& bus, const Selection& selection, std::string* why) {
  Result<std::vector<Target>> targets = SelectHeadsets(bus, selection, why);
  if (!targets) return targets.failure();
  if (targets->size() > 1) {
    if (why) {
      why->clear();
      for (const Target& target : *targets) *why += "\n  " + Describe(target);
    }
    return Failure::kSeveralHeadsets;
  }
  return std::move(targets->front());
}

std::string Describe(const Target& target) {
  std::string text =
      target.interface.usbPort.empty() ? "" : "port " + target.interface.usbPort + "  ";
  text += target.interface.path;
  if (target.info.mcuId) text += "  MCU ID " + FormatMcuId(*target.info.mcuId);
  return text;
}

std::string RowName(const std::string& usbPort, std::size_t n) {
  // Appended piece by piece: g++ 12 at -O2 warns (-Wrestrict, wrongly) on "#" + std::string.
  return usbPort.empty() ? std::string("#").append(std::to_string(n)) : usbPort;
}

Selection SameHeadset(const Selection& selection, const Target& target) {
  Selection again = selection;
  again.device.clear();
  again.usbPorts = {target.interface.usbPort};
  again.mcuIds.clear();
  if (target.info.mcuId) again.mcuIds = {*target.info.mcuId};
  return again;
}

std::optional<std::uint16_t> ParseUsbId(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  const std::optional<std::uint32_t> value = ParseHex(text);
  if (!value || *value > 0xFFFF) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

}  // namespace obrint::engine
