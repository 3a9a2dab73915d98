// How a run of headsets shows on a console: the live table of flash --all and of the station, and
// the texts of a run's stages and steps, of its log and of its database.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "database/outbox.h"
#include "device/upgrade.h"
#include "engine/fleet.h"
#include "engine/station.h"
#include "records/record.h"

namespace obrint::console {

// Under the columns' names, a row per headset with its USB port, its MCU ID and where it stands,
// in the order the rows came; then the lines below it (the totals).
class HeadsetTable {
 public:
  struct Row {
    std::string port, mcuId, state;
  };

  explicit HeadsetTable(Console& console) : console_(console) {}
  // Sets the row of `port`, added the first time; an empty `mcuId` keeps the one it has.
  void Set(std::string_view port, std::string_view mcuId, std::string state);
  // Adds a row below the others, whatever its port; then sets the state of the row `index`,
  // false when it stood so already.
  void Add(Row row) { rows_.push_back(std::move(row)); }
  bool Set(std::size_t index, std::string state);
  const std::vector<Row>& rows() const { return rows_; }
  // Draws the rows, then `below`.
  void Draw(std::vector<std::string> below = {});

 private:
  Console& console_;
  std::vector<Row> rows_;
};

// What a run tells on the console as it goes: with -v the steps and every 10 % of each image; at
// once, the first Ctrl+C, the log `log` that stops taking records, a record the database refuses.
class RunConsole : public engine::FleetObserver, public database::OutboxListener {
 public:
  RunConsole(Console& console, std::string log) : console_(console), log_(std::move(log)) {}
  void Progress(std::size_t run, records::RunStage stage, std::uint32_t sent,
                std::uint32_t size) override;
  void Step(std::size_t run, const UpgradeEvent& event) override;
  void StoreFailed(const std::string& why) override;
  void FirstInterrupt() override;
  void LinkChanged(const database::Link&) override {}
  void Refused(const std::string& recordId, const std::string& usbPort,
               const std::string& why) override;

 private:
  Console& console_;
  std::string log_;
  engine::Tenths tenths_;
};

// Calls `tick` every second on a thread of its own, until it is destroyed.
class Ticker {
 public:
  explicit Ticker(std::function<void()> tick);

 private:
  std::jthread thread_;
};

// "flashing [####......] 40%": a run's transfer, as a row shows it.
std::string FlashingText(int percent);
// A run that ended without the headset flashed: why it was not started, or its outcome and why.
std::string UnflashedText(const records::HeadsetRecord& record);

// A run's duration after a row's text, "  12.5 s"; none on virtual time (no real headset's).
std::string TookText(double seconds, bool virtualTime);
// "1-2.3  MCU ID …  0x0102 -> 0x0103  flashed  12.5 s": an ended run in a line, on its `row`.
std::string RecordLine(std::string_view row, const records::HeadsetRecord& record,
                       bool virtualTime);
// "flashed 9  failed 1  yield 90.0 %  41.5 s per headset  80.2 per hour": the station's totals.
std::string TotalsText(const engine::StationTotals& totals,
                       engine::StationTotals::Clock::time_point now, bool virtualTime);
// Where a run stands while it is under way, as flash --all's row shows it.
std::string StageText(records::RunStage stage);
// That the log `log` stopped taking records, told at once.
std::string LogFailedText(const std::string& log, const std::string& why);
// "connected", "connecting" or "away".
std::string_view LinkState(const database::Link& link);
// "database connected", "database away, 3 waiting: ...": below the station's totals.
std::string LinkText(const database::Link& link);

}  // namespace obrint::console
