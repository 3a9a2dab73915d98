// info: one headset's firmware version, MCU ID and run mode; with --all every headset's.

#include "cli/command.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

using Json = nlohmann::ordered_json;

std::string VersionOf(const HeadsetInfo& info) {
  return info.firmwareVersion ? FormatHex(*info.firmwareVersion, 4) : "";
}
std::string McuIdOf(const HeadsetInfo& info) { return info.mcuId ? FormatMcuId(*info.mcuId) : ""; }
std::string OrNotRead(const std::string& text) { return text.empty() ? "(not read)" : text; }

void ShowAll(Context& context) {
  std::string why;
  Result<std::vector<engine::Target>> targets =
      engine::SelectHeadsets(context.host->bus(), context.options.headsets, &why);
  if (!targets) return context.reply.Fail(targets.failure(), why);
  Json headsets = Json::array();
  bool refused = false;
  for (const engine::Target& target : *targets) {
    const HidInterface& found = target.interface;
    refused = refused || !target.info.firmwareVersion || !target.info.mcuId;
    headsets.push_back({{"usb_port", found.usbPort},
                        {"path", found.path},
                        {"firmware", FirmwareName(found.firmware())},
                        {"firmware_version", VersionOf(target.info)},
                        {"mcu_id", McuIdOf(target.info)}});
    context.console.Say((found.usbPort.empty() ? found.path : found.usbPort) + "  " +
                        std::string(FirmwareName(found.firmware())) + " firmware " +
                        OrNotRead(VersionOf(target.info)) + "  MCU ID " +
                        OrNotRead(McuIdOf(target.info)) + "  " + found.path);
  }
  context.reply.fields["headsets"] = std::move(headsets);
  if (refused) {
    context.reply.Fail(Failure::kReportRefused, "not every headset gave its version and MCU ID");
  }
}

void Run(Context& context) {
  if (context.options.all) return ShowAll(context);
  HidBus& bus = context.host->bus();
  std::string why;
  const Result<engine::Target> target = engine::SelectHeadset(bus, context.options.headsets, &why);
  if (!target) return context.reply.Fail(target.failure(), why);
  const HidInterface& found = target->interface;
  Json& fields = context.reply.fields;
  fields["path"] = found.path;
  fields["usb_port"] = found.usbPort;
  fields["firmware"] = FirmwareName(found.firmware());
  fields["firmware_version"] = VersionOf(target->info);
  fields["mcu_id"] = McuIdOf(target->info);
  const Result<RunModeState> mode = ReadHeadsetRunMode(bus, found.path);
  const bool hasMode = mode && mode->mode;
  fields["run_mode"] = hasMode ? RunModeName(*mode->mode) : "";
  Console& console = context.console;
  console.Say("device:           " + found.path);
  if (!found.usbPort.empty()) console.Say("USB port:         " + found.usbPort);
  console.Say("firmware version: " + OrNotRead(VersionOf(target->info)));
  console.Say("MCU ID:           " + OrNotRead(McuIdOf(target->info)));
  console.Say(
      "run mode:         " +
      (hasMode ? RunModeTitle(*mode->mode) + " (" + RunModeName(*mode->mode) + ")" : "none"));
  if (!target->info.firmwareVersion || !target->info.mcuId) {
    context.reply.Fail(Failure::kReportRefused, !target->info.firmwareVersion && !target->info.mcuId
                                                    ? "its version and MCU ID"
                                                : target->info.mcuId ? "its version"
                                                                     : "its MCU ID");
  }
}

}  // namespace

const Command kInfoCommand = {"info", "show the firmware version, MCU ID and run mode", true, Run};

}  // namespace obrint::cli
