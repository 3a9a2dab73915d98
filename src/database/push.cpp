#include "database/push.h"

#include "records/record_id.h"

namespace obrint::database {
namespace {

constexpr std::size_t kBatch = 1000;  // records per transaction
constexpr std::size_t kNamedRefusals = 100;

// The JSON array's objects become rows of the table's own type, each field the column of its
// name: a field missing is NULL, which the column refuses. The conflict names no column: naming
// one would need the right to read it, and the ID's is the table's only unique index.
constexpr Statement kInsert = {
    "obrint_insert",
    "INSERT INTO obrint.records SELECT * FROM json_populate_recordset(NULL::obrint.records, "
    "$1::json) ON CONFLICT DO NOTHING"};

// `records` as a JSON array.
std::string JsonArray(std::span<const std::string> records) {
  std::string array = "[";
  for (const std::string& record : records)
    array.append(array.size() > 1 ? "," : "").append(record);
  return array + ']';
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

Sender::Sender(Connection& db) : db_(db) {}

void Sender::Add(std::string_view line, const records::LogRecord& record, std::string where) {
  if (status_.failed()) return;
  if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);  // a byte order mark: not JSON
  std::string& text = records_.emplace_back(line);
  if (record.id.empty()) {  // a record from before IDs: its ID from its content
    text.insert(text.find('{') + 1, "\"id\":\"" + records::DerivedRecordId(line) + "\",");
  }
  where_.push_back(std::move(where));
  if (records_.size() == kBatch) Flush();
}

void Sender::Flush() {
  if (status_.failed() || records_.empty()) return;
  const Result<PushCounts> pushed = Push(db_, records_);
  if (!pushed) {
    status_ = pushed.failure();
    return;
  }
  sent_ += pushed->sent;
  alreadyThere_ += pushed->alreadyThere;
  refusedCount_ += pushed->refused.size();
  for (const Refusal& refusal : pushed->refused) {
    if (refused_.size() == kNamedRefusals) break;
    refused_.push_back({{"where", where_[refusal.index]}, {"why", refusal.why}});
  }
  records_.clear();
  where_.clear();
}

nlohmann::ordered_json Sender::Json() const {
  return {{"sent", sent_},
          {"already_there", alreadyThere_},
          {"refused", {{"count", refusedCount_}, {"records", refused_}}}};
}

}  // namespace obrint::database
