#include "console/headset_table.h"

#include <algorithm>

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

}  // namespace

bool HeadsetTable::Set(std::string_view port, std::string_view mcuId, std::string state) {
  auto row = std::find_if(rows_.begin(), rows_.end(), [&](const Row& r) { return r.port == port; });
  const bool added = row == rows_.end();
  if (added) row = rows_.insert(row, Row{std::string(port), "", ""});
  const bool sameId = mcuId.empty() || row->mcuId == mcuId;
  if (!added && sameId && row->state == state) return false;
  if (!sameId) row->mcuId = mcuId;
  row->state = std::move(state);
  return true;
}

void HeadsetTable::Draw(std::vector<std::string> below) {
  std::vector<std::string> lines = {Line("USB PORT", "MCU ID", "STATE")};
  for (const Row& row : rows_) lines.push_back(Line(row.port, row.mcuId, row.state));
  lines.insert(lines.end(), below.begin(), below.end());
  console_.Table(std::move(lines));
}

std::string FlashingText(int percent) { return "flashing " + ProgressBar(percent, kBarWidth); }

std::string UnflashedText(const records::HeadsetRecord& record) {
  const records::RunOutcome outcome = record.outcome();
  if (outcome == records::RunOutcome::kNotStarted) return record.reason();
  return std::string(records::OutcomeName(outcome)) + ": " + record.reason();
}

}  // namespace obrint::console
