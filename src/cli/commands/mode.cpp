// mode, mode dk1|dk2: the run mode shown, or set and read back after the headset's restart.

#include "cli/command.h"
#include "device/text.h"

namespace obrint::cli {
namespace {

// The run mode of the headset at `path`; where it has none, why, with the words of `detail`, and
// the version of a firmware without one in `version`.
Result<RunMode> ModeOf(HidBus& bus, const std::string& path, std::string& detail,
                       std::string* version = nullptr) {
  const Result<RunModeState> state = ReadHeadsetRunMode(bus, path);
  if (!state) {
    detail = state.failure() == Failure::kNotOpened ? path : "its run mode";
    return state.failure();
  }
  if (!state->mode) {
    if (version) *version = FormatHex(state->firmwareVersion, 4);
    detail = "firmware " + FormatHex(state->firmwareVersion, 4);
    return Failure::kNoRunMode;
  }
  return *state->mode;
}

void Run(Context& context) {
  HidBus& bus = context.host->bus();
  std::string why;
  const Result<engine::Target> target = engine::SelectHeadset(bus, context.options.headsets, &why);
  if (!target) return context.reply.Fail(target.failure(), why);
  const std::string& path = target->interface.path;
  context.reply.fields["path"] = path;
  std::string version;
  const Result<RunMode> mode = ModeOf(bus, path, why, &version);
  if (!version.empty()) context.reply.fields["firmware_version"] = version;
  if (!mode) context.reply.Fail(mode.failure(), why);
  if (context.options.mode.empty()) {
    context.reply.fields["run_mode"] = mode ? RunModeName(*mode) : "";
    if (mode) context.console.Say(RunModeName(*mode) + " (" + RunModeTitle(*mode) + ")");
    return;
  }
  const RunMode wanted = context.options.mode == "dk1" ? RunMode::kDk1 : RunMode::kDk2;
  context.reply.fields["requested"] = RunModeName(wanted);
  if (!mode) return;  // as in the window, only a headset that shows a mode takes one
  context.reply.fields["previous"] = RunModeName(*mode);
  if (context.signals.first()) return;  // stopped before anything was written
  engine::SignalClock clock(context.host->clock(), context.signals);
  if (const Status switched = SwitchRunMode(bus, clock, path, wanted); !switched) {
    return context.reply.Fail(switched.failure(), path);
  }
  if (context.signals.first()) {
    context.reply.fields["run_mode"] = "";
    context.reply.fields["confirmed"] = false;
    return context.reply.Stop(context.signals.first(),
                              "the run mode " + RunModeName(wanted) +
                                  " was written and the headset restarted into it; it was not "
                                  "read back");
  }
  // Back after the restart: the same headset, found again by its port and MCU ID.
  std::optional<RunMode> now;
  if (const Result<engine::Target> back =
          engine::SelectHeadset(bus, engine::SameHeadset(context.options.headsets, *target))) {
    if (const Result<RunMode> read = ModeOf(bus, back->interface.path, why)) now = *read;
  }
  context.reply.fields["run_mode"] = now ? RunModeName(*now) : "";
  context.reply.fields["confirmed"] = now == std::optional(wanted);
  if (!now) {
    context.console.Warn("the mode was written, but the headset could not be read back");
    context.console.Say("run mode set to " + RunModeName(wanted) + " (not confirmed)");
    return;
  }
  if (*now != wanted) {
    return context.reply.Fail(Failure::kReadBackMismatch, RunModeName(*now));
  }
  context.console.Say("run mode set to " + RunModeName(wanted) + " (" + RunModeTitle(wanted) + ")");
}

}  // namespace

const Command kModeCommand = {"mode", "show the run mode, or set it to dk1 or dk2", true, Run};

}  // namespace obrint::cli
