// The records of a run with a database: each kept in the run's log first, then sent by a thread
// of its own. The log is the outbox: the database's absence, slowness or refusals never hold a
// headset, and what it lacks when the run ends waits in the log for the next push.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "device/failure.h"
#include "records/store.h"

namespace obrint::database {

// Where the database stands, as a run shows it.
struct Link {
  bool connected = false;
  std::string away;         // why not, once connecting or sending failed
  std::size_t waiting = 0;  // records in the log that the database does not hold yet
  std::size_t refused = 0;  // records the database refused, left in the log
  bool operator==(const Link&) const = default;
};

// What the sender tells, from its own thread, one call at a time.
class OutboxListener {
 public:
  virtual ~OutboxListener() = default;
  virtual void LinkChanged(const Link& link) = 0;
  // A record the database refused for good (it breaks the table's rules): it stays in the log,
  // and the sender goes on with the records behind it.
  virtual void Refused(const std::string& recordId, const std::string& usbPort,
                       const std::string& why) = 0;
};

class Outbox : public records::RecordStore {
 public:
  // Who hears the sender from now on (null: nobody); once it returns, the one before hears no more.
  virtual void Tell(OutboxListener* listener) = 0;
  // Ends the sending: gives the database up to `grace` for the records that wait (one more try
  // when it is away), then stops the sender; where it stands then, told to the listener too.
  virtual Link Close(std::chrono::milliseconds grace) = 0;
};

// An outbox over `log` sending to the database `conninfo` names, connecting in the background and
// again after each failure, a longer wait each time (up to half a minute). Fails at once, words in
// `detail`: kConnInfoInvalid (libpq cannot read `conninfo`), kNoDatabaseClient (a build without).
Result<std::unique_ptr<Outbox>> OpenOutbox(records::LogFile& log, const std::string& conninfo,
                                           std::string& detail);

}  // namespace obrint::database
