// Sending records to the records table, each exactly once however often it is sent: a record
// whose ID the table holds already is passed over, so that records whose insert was committed
// but whose answer was lost can be sent again harmlessly.
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

// Sends `records`, each a JSON object of docs/record.schema.json with its "id" (a line of a log),
// in one transaction. When the database refuses one of them, each is sent again on its own, so
// that the refused ones are named and those around them stored. The database's login needs
// nothing but the right to insert. Fails when the connection, the login or the schema does
// (CheckSchema's failures); what was stored before stays, and sending it again is harmless.
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
