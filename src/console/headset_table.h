// The live table of a run of headsets (flash --all, the station): under the columns' names, a row
// per headset with its USB port, its MCU ID and where it stands, in the order the rows came; then
// the lines below it (the totals). With the texts both tables give a run.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "records/record.h"

namespace obrint::console {

class HeadsetTable {
 public:
  struct Row {
    std::string port, mcuId, state;
  };

  explicit HeadsetTable(Console& console) : console_(console) {}
  // Sets the row of `port`, added below the others the first time; an empty `mcuId` keeps the
  // one it has. False when the row stood so already.
  bool Set(std::string_view port, std::string_view mcuId, std::string state);
  const std::vector<Row>& rows() const { return rows_; }
  // Draws the rows, then `below`.
  void Draw(std::vector<std::string> below = {});

 private:
  Console& console_;
  std::vector<Row> rows_;
};

// "flashing [####......] 40%": a run's transfer, as a row shows it.
std::string FlashingText(int percent);
// A run that ended without the headset flashed: why it was not started, or its outcome and why.
std::string UnflashedText(const records::HeadsetRecord& record);

}  // namespace obrint::console
