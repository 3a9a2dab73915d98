// mode, mode dk1|dk2: the run mode shown, or set and read back after the headset's restart.
#include <CLI/CLI.hpp>

#include "cli/command.h"
#include "cli/selection.h"
#include "cli/signals.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

std::string ModeName(RunMode mode) { return mode == RunMode::kDk1 ? "dk1" : "dk2"; }
std::string ModeTitle(RunMode mode) {
  return mode == RunMode::kDk1 ? "DK1-compatible" : "DK2-compatible";
}

void Define(CLI::App& command, Options& options) {
  command.add_option("MODE", options.mode, "dk1 or dk2; none shows the current mode")
      ->check(CLI::IsMember({"dk1", "dk2"}));
}

// The run mode of the headset at `path`, or the reply failed for why there is none.
std::optional<RunMode> ModeOf(Context& context, const std::string& path) {
  const Result<RunModeState> state = ReadHeadsetRunMode(context.host->bus(), path);
  if (!state) {
    context.reply.Fail(state.failure(),
                       state.failure() == Failure::kNotOpened ? path : "its run mode");
    return std::nullopt;
  }
  if (!state->mode) {
    context.reply.fields["firmware_version"] = FormatHex(state->firmwareVersion, 4);
    context.reply.Fail(Failure::kNoRunMode, "firmware " + FormatHex(state->firmwareVersion, 4));
    return std::nullopt;
  }
  return state->mode;
}

void Run(Context& context) {
  const std::optional<Target> target = SelectHeadset(context, context.options);
  if (!target) return;
  const std::string& path = target->interface.path;
  context.reply.fields["path"] = path;
  const std::optional<RunMode> mode = ModeOf(context, path);
  if (context.options.mode.empty()) {
    context.reply.fields["run_mode"] = mode ? ModeName(*mode) : "";
    if (mode) context.console.Say(ModeName(*mode) + " (" + ModeTitle(*mode) + ")");
    return;
  }
  const RunMode wanted = context.options.mode == "dk1" ? RunMode::kDk1 : RunMode::kDk2;
  context.reply.fields["requested"] = ModeName(wanted);
  if (!mode) return;  // as in the window, only a headset that shows a mode takes one
  context.reply.fields["previous"] = ModeName(*mode);
  if (context.signals.first()) return;  // stopped before anything was written
  SignalClock clock(context.host->clock(), context.signals);
  if (const Status switched = SwitchRunMode(context.host->bus(), clock, path, wanted); !switched) {
    return context.reply.Fail(switched.failure(), path);
  }
  if (context.signals.first()) {
    context.reply.fields["run_mode"] = "";
    context.reply.fields["confirmed"] = false;
    return context.reply.Fail(ExitCode::kInterrupted,
                              "the run mode " + ModeName(wanted) +
                                  " was written and the headset restarted into it; it was not "
                                  "read back");
  }
  // Back after the restart: the same headset, found again by its port and MCU ID.
  Options again = context.options;
  again.device.clear();
  again.usbPorts = {target->interface.usbPort};
  again.mcuIds.clear();
  if (target->info.mcuId) again.mcuIds = {*target->info.mcuId};
  Reply ignored;
  Context look{context.command, context.console, again, context.host, ignored, context.signals};
  const std::optional<Target> back = SelectHeadset(look, again);
  std::optional<RunMode> now;
  if (back) now = ModeOf(look, back->interface.path);
  context.reply.fields["run_mode"] = now ? ModeName(*now) : "";
  context.reply.fields["confirmed"] = now == std::optional(wanted);
  if (!now) {
    context.console.Warn("the mode was written, but the headset could not be read back");
    context.console.Say("run mode set to " + ModeName(wanted) + " (not confirmed)");
    return;
  }
  if (*now != wanted) {
    return context.reply.Fail(Failure::kReadBackMismatch, ModeName(*now));
  }
  context.console.Say("run mode set to " + ModeName(wanted) + " (" + ModeTitle(wanted) + ")");
}

}  // namespace

const Command kModeCommand = {"mode", "show the run mode, or set it to dk1 or dk2", true, Define,
                              Run};

}  // namespace obrint::cli
