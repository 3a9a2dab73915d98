// list: every attached interface of the vendor, with its firmware, port and identity.
#include "cli/command.h"
#include "device/headset.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

std::string Hex16(std::uint16_t v) { return FormatHex(v, 4); }

void Run(Context& context) {
  const Options& options = context.options;
  HidBus& bus = context.host->bus();
  nlohmann::ordered_json headsets = nlohmann::ordered_json::array();
  for (const HidInterface& found : bus.Enumerate(options.headsets.vid.value_or(kHeadsetVendorId))) {
    if (options.headsets.pid && found.pid != *options.headsets.pid) continue;
    if (!engine::Chosen(options.headsets.usbPorts, found.usbPort)) continue;
    const Result<HeadsetInfo> read = ReadHeadsetInfo(bus, found.path);
    const HeadsetInfo info = read ? *read : HeadsetInfo{};
    const std::string version = info.firmwareVersion ? Hex16(*info.firmwareVersion) : "";
    const std::string mcuId = info.mcuId ? FormatMcuId(*info.mcuId) : "";
    if (!engine::Chosen(options.headsets.mcuIds, info.mcuId)) continue;
    headsets.push_back({{"path", found.path},
                        {"vid", Hex16(found.vid)},
                        {"pid", Hex16(found.pid)},
                        {"interface", found.interfaceNumber},
                        {"firmware", FirmwareName(found.firmware())},
                        {"usb_port", found.usbPort},
                        {"firmware_version", version},
                        {"mcu_id", mcuId}});
    context.console.Say(found.path + "  " + FormatHex(found.vid, 4, HexCase::kLower) + ":" +
                        FormatHex(found.pid, 4, HexCase::kLower) + "  " +
                        std::string(FirmwareName(found.firmware())) + " firmware" +
                        (found.usbPort.empty() ? "" : "  port " + found.usbPort) +
                        (version.empty() ? "" : "  version " + version) +
                        (mcuId.empty() ? "" : "  MCU ID " + mcuId) +
                        (read ? "" : "  (does not open)"));
  }
  const bool none = headsets.empty();
  context.reply.fields["headsets"] = std::move(headsets);
  if (none) context.reply.Fail(Failure::kNoHeadset);
}

}  // namespace

const Command kListCommand = {"list", "list the attached headsets and their firmware", true, Run};

}  // namespace obrint::cli
