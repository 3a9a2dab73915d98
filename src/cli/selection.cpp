#include "cli/selection.h"

#include <algorithm>

#include "device/text.h"

namespace obrint::cli {

Result<std::vector<Target>> SelectHeadsets(HidBus& bus, const Options& options) {
  const std::uint16_t vid = options.vid.value_or(kHeadsetVendorId);
  std::vector<HidInterface> found;
  if (!options.device.empty()) {
    // As given, and only when the bus knows it as an interface of the vendor.
    for (HidInterface& attached : bus.Enumerate(vid)) {
      if (EqualsIgnoringAsciiCase(attached.path, options.device)) {
        found.push_back(std::move(attached));
      }
    }
    if (found.empty()) return Failure::kNotHidDevice;
  } else {
    found = AttachedHeadsets(bus, vid, options.pid);
  }
  std::vector<Target> targets;
  for (HidInterface& headset : found) {
    if (!options.usbPort.empty() && headset.usbPort != options.usbPort) continue;
    Target target{std::move(headset), {}};
    if (const Result<HeadsetInfo> info = ReadHeadsetInfo(bus, target.interface.path)) {
      target.info = *info;
    }
    if (options.mcuId && target.info.mcuId != options.mcuId) continue;
    targets.push_back(std::move(target));
  }
  if (targets.empty()) return Failure::kNoHeadset;
  return targets;
}

std::optional<Target> SelectHeadset(Context& context, const Options& options) {
  Result<std::vector<Target>> targets = SelectHeadsets(context.host->bus(), options);
  if (!targets) {
    context.reply.Fail(targets.failure(),
                       targets.failure() == Failure::kNotHidDevice ? options.device : "");
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
