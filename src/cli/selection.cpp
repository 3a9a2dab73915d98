#include "cli/selection.h"

#include <algorithm>

#include "device/text.h"

namespace obrint::cli {

bool Chosen(const std::vector<std::string>& usbPorts, const std::string& usbPort) {
  return usbPorts.empty() || std::find(usbPorts.begin(), usbPorts.end(), usbPort) != usbPorts.end();
}

bool Chosen(const std::vector<McuId>& mcuIds, const std::optional<McuId>& mcuId) {
  return mcuIds.empty() ||
         (mcuId && std::find(mcuIds.begin(), mcuIds.end(), *mcuId) != mcuIds.end());
}

Result<std::vector<Target>> SelectHeadsets(HidBus& bus, const Options& options, std::string* why) {
  const std::uint16_t vid = options.vid.value_or(kHeadsetVendorId);
  std::vector<HidInterface> found;
  if (!options.device.empty()) {
    // As given, and only when the bus knows it as an interface of the vendor.
    for (HidInterface& attached : bus.Enumerate(vid)) {
      if (EqualsIgnoringAsciiCase(attached.path, options.device)) {
        found.push_back(std::move(attached));
      }
    }
    if (found.empty()) {
      if (why) *why = options.device;
      return Failure::kNotHidDevice;
    }
  } else {
    found = AttachedHeadsets(bus, vid, options.pid);
  }
  std::vector<Target> targets;
  std::string passedOver;
  for (HidInterface& headset : found) {
    Target target{std::move(headset), {}};
    if (Chosen(options.usbPorts, target.interface.usbPort)) {
      if (const Result<HeadsetInfo> info = ReadHeadsetInfo(bus, target.interface.path)) {
        target.info = *info;
      }
      if (Chosen(options.mcuIds, target.info.mcuId)) {
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

std::optional<Target> SelectHeadset(Context& context, const Options& options) {
  std::string why;
  Result<std::vector<Target>> targets = SelectHeadsets(context.host->bus(), options, &why);
  if (!targets) {
    context.reply.Fail(targets.failure(), why);
    return std::nullopt;
  }
  if (targets->size() > 1) {
    std::string several;
    for (const Target& target : *targets) several += "\n  " + Describe(target);
    context.reply.Fail(Failure::kSeveralHeadsets, several);
    return std::nullopt;
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

}  // namespace obrint::cli
