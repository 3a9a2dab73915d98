// Sending records to the records table, each stored once however often it is sent: a record whose
// ID the table holds is passed over, so that one whose answer was lost can be sent again.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "database/connection.h"
#include "records/log_reader.h"

namespace obrint::database {

struct Refusal {
  std::size_t index;  // in the records sent
  std::string why;    // the server's words: the type or constraint the record breaks
};

struct PushCounts {
  std::uint64_t sent = 0;          // stored now
  std::uint64_t alreadyThere = 0;  // the table held their IDs
  std::vector<Refusal> refused;
};

// Sends `records` (log lines, each with its "id") in one transaction; when the database refuses
// one, each is sent again on its own, so that the refused are named and the others stored. The
// login needs only the right to insert. Fails as the connection, login or schema does; what was
// stored before stays.
Result<PushCounts> Push(Connection& db, std::span<const std::string> records);

// Gathers the logs' readable lines into batches and pushes each; after a failure, nothing more.
class Sender {
 public:
  explicit Sender(Connection& db);
  // A log's line and its record; `where` names it ("LOG:LINE") should the database refuse it.
  void Add(std::string_view line, const records::LogRecord& record, std::string where);
  // Pushes the batch gathered so far.
  void Flush();
  // sent, already_there, refused {count, records [{where, why}]}.
  nlohmann::ordered_json Json() const;
  Status status() const { return status_; }
  std::uint64_t refused() const { return refusedCount_; }

 private:
  Connection& db_;
  std::vector<std::string> records_, where_;
  std::uint64_t sent_ = 0, alreadyThere_ = 0, refusedCount_ = 0;
  nlohmann::ordered_json refused_ = nlohmann::ordered_json::array();
  Status status_;
};

}  // namespace obrint::database
