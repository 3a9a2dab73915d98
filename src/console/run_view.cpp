#include "console/run_view.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "device/text.h"

namespace obrint::console {
namespace {

constexpr int kBarWidth = 20;

std::string Line(std::string_view port, std::string_view mcuId, std::string_view state) {
  std::string line(port);
  line.resize(std::max<std::size_t>(line.size(), 10), ' ');
  line.append(" ").append(mcuId.empty() ? "-" : mcuId);
  line.resize(std::max<std::size_t>(line.size(), 35), ' ');
  return line.append("  ").append(state);
}

// "#3 ": the run a line of -v is about.
std::string RunTag(std::size_t run) {
  return std::string("#").append(std::to_string(run + 1)) + ' ';
}

// A step of a headset's run, as -v prints it.
std::string StepText(const UpgradeEvent& event) {
  switch (event.step) {
    case UpgradeStep::kRestarting:
      return "restarting into the boot firmware";
    case UpgradeStep::kBootFound:
      return "boot firmware found at " + std::string(event.path);
    case UpgradeStep::kBootVersion:
      return "boot firmware version " + FormatHex(event.value, 4);
    case UpgradeStep::kBegin:
      return "Begin sent";
    case UpgradeStep::kFinish:
      return "every block confirmed; Finish sent";
    case UpgradeStep::kTotal:
      return "the headset answers the image total 0x" + FormatHex(event.value, 4);
    case UpgradeStep::kRebooting:
      return "Reboot sent";
  }
  return "";
}

}  // namespace

void HeadsetTable::Set(std::string_view port, std::string_view mcuId, std::string state) {
  auto row = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.port == port; });
  if (row == rows_.end()) row = rows_.insert(row, Row{std::string(port), "", ""});
  if (!mcuId.empty()) row->mcuId = mcuId;
  row->state = std::move(state);
}

bool HeadsetTable::Set(std::size_t index, std::string state) {
  if (rows_[index].state == state) return false;
  rows_[index].state = std::move(state);
  return true;
}

void HeadsetTable::Draw(std::vector<std::string> below) {
  std::vector<std::string> lines = {Line("USB PORT", "MCU ID", "STATE")};
  for (const Row& row : rows_) lines.push_back(Line(row.port, row.mcuId, row.state));
  lines.insert(lines.end(), below.begin(), below.end());
  console_.Table(std::move(lines));
}

void RunConsole::Progress(std::size_t run, records::RunStage stage, std::uint32_t sent,
                          std::uint32_t size) {
  if (!console_.verbose()) return;
  if (const std::optional<unsigned> tenth = tenths_.Next(run, stage, sent, size)) {
    console_.Detail(RunTag(run) + std::to_string(*tenth * 10) + " % sent");
  }
}

void RunConsole::Step(std::size_t run, const UpgradeEvent& event) {
  console_.Detail(RunTag(run) + StepText(event));
}

void RunConsole::StoreFailed(const std::string& why) { console_.Error(LogFailedText(log_, why)); }

void RunConsole::FirstInterrupt() {
  console_.Error(
      "Ctrl+C: no further headset starts; those under way finish. Press Ctrl+C again to stop "
      "at once: each headset is then recorded as it stands.");
}

void RunConsole::Refused(const std::string& recordId, const std::string& usbPort,
                         const std::string& why) {
  // Two lines, each short: the ID alone takes 36 columns.
  console_.Error("the database refused record " + recordId + "\n  at USB port " +
                 (usbPort.empty() ? "-" : usbPort) + "; it stays in the log: " + why);
}

Ticker::Ticker(std::function<void()> tick)
    : thread_([tick = std::move(tick)](const std::stop_token& stop) {
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock lock(mutex);
        while (!wake.wait_for(lock, stop, std::chrono::seconds(1),
                              [&stop] { return stop.stop_requested(); })) {
          tick();
        }
      }) {}

std::string FlashingText(int percent) { return "flashing " + ProgressBar(percent, kBarWidth); }

std::string UnflashedText(const records::HeadsetRecord& record) {
  const records::RunOutcome outcome = record.outcome();
  if (outcome == records::RunOutcome::kNotStarted) return record.reason();
  return std::string(records::OutcomeName(outcome)) + ": " + record.reason();
}

std::string TookText(double seconds, bool virtualTime) {
  return virtualTime ? "" : "  " + FormatFixed(seconds, 1) + " s";
}

std::string RecordLine(std::string_view row, const records::HeadsetRecord& record,
                       bool virtualTime) {
  using records::VersionText;
  std::string line = std::string(row) + "  MCU ID " +
                     (record.mcuId ? FormatMcuId(*record.mcuId) : "(not read)") + "  " +
                     (record.firmwareBefore ? VersionText(record.firmwareBefore) : "boot") +
                     " -> " + (record.firmwareAfter ? VersionText(record.firmwareAfter) : "?") +
                     "  " + std::string(records::OutcomeName(record.outcome()));
  if (const std::string reason = record.reason(); !reason.empty()) line += ": " + reason;
  return line + TookText(std::chrono::duration<double>(record.ended - record.started).count(),
                         virtualTime);
}

std::string TotalsText(const engine::StationTotals& totals,
                       engine::StationTotals::Clock::time_point now, bool virtualTime) {
  std::string text =
      "flashed " + std::to_string(totals.flashed) + "  failed " + std::to_string(totals.failed);
  if (totals.flashed + totals.failed == 0) return text;
  text += "  yield " + FormatFixed(totals.yieldPercent(), 1) + " %";
  if (virtualTime) return text + "  on virtual time: no durations";
  return text + "  " + FormatFixed(totals.meanSeconds(), 1) + " s per headset  " +
         FormatFixed(totals.headsetsPerHour(now), 1) + " per hour";
}

std::string StageText(records::RunStage stage) {
  constexpr std::string_view kStages[] = {"waiting for its turn",
                                          "restarting into the boot firmware", "flashing",
                                          "rebooting", ""};  // by RunStage's value; done: none
  return std::string(kStages[static_cast<std::size_t>(stage)]);
}

std::string LogFailedText(const std::string& log, const std::string& why) {
  return "the log " + log + " stopped taking records (" + why +
         "): no further headset is taken; those under way finish, and each record the log "
         "could not take is printed at the end";
}

std::string_view LinkState(const database::Link& link) {
  return link.connected ? "connected" : link.away.empty() ? "connecting" : "away";
}

std::string LinkText(const database::Link& link) {
  std::string text = "database " + std::string(LinkState(link));
  if (link.waiting > 0) text += ", " + std::to_string(link.waiting) + " waiting";
  if (link.refused > 0) text += ", " + std::to_string(link.refused) + " refused";
  return link.connected || link.away.empty() ? text : text + ": " + link.away;
}

}  // namespace obrint::console
