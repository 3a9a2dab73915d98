#include "database/push.h"

namespace obrint::database {
namespace {

// The JSON array's objects become rows of the table's own type, each field the column of its
// name: a field missing is NULL, which the column refuses. The conflict names no column: naming
// one would need the right to read it, and the ID's is the table's only unique index.
constexpr Statement kInsert = {
    "obrint_insert",
    "INSERT INTO obrint.records SELECT * FROM json_populate_recordset(NULL::obrint.records, "
    "$1::json) ON CONFLICT DO NOTHING"};

std::string JsonArray(std::span<const std::string> records) {
  std::size_t size = 2;
  for (const std::string& record : records) size += record.size() + 1;
  std::string array;
  array.reserve(size);
  array.push_back('[');
  for (const std::string& record : records) {
    if (array.size() > 1) array.push_back(',');
    array.append(record);
  }
  array.push_back(']');
  return array;
}

}  // namespace

Result<PushCounts> Push(Connection& db, std::span<const std::string> records) {
  PushCounts counts;
  if (records.empty()) return counts;
  const Result<Rows> all = db.Run(kInsert, {JsonArray(records)});
  if (all) {
    counts.sent = all->changed();
    counts.alreadyThere = records.size() - counts.sent;
    return counts;
  }
  if (all.failure() != Failure::kRecordsRefused) return all.failure();
  for (std::size_t i = 0; i < records.size(); ++i) {
    const Result<Rows> one = db.Run(kInsert, {JsonArray(records.subspan(i, 1))});
    if (one) {
      counts.sent += one->changed();
      counts.alreadyThere += 1 - one->changed();
    } else if (one.failure() == Failure::kRecordsRefused) {
      counts.refused.push_back({i, db.detail()});
    } else {
      return one.failure();
    }
  }
  return counts;
}

}  // namespace obrint::database
