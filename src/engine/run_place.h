// Where a run's records go: the setting each is written with, the log that keeps them, and over
// the log the database's outbox, which sends each on from there.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "database/outbox.h"
#include "records/store.h"

namespace obrint::engine {

struct RunPlace {
  records::RunSetting setting;
  std::unique_ptr<records::LogFile> log;
  std::unique_ptr<database::Outbox> outbox;

  // Where each record is kept: the outbox, else the log; null for neither.
  records::RecordStore* store() const;
  // Once the run's records are kept: the database's last chance to take those that wait, and
  // where it stands then, its listener let go; nullopt without a database.
  std::optional<database::Link> CloseOutbox() const;
};

// The log at `log` (none when empty) opened for appending, with the outbox to the database
// `conninfo` over it (none when empty; it needs the log). Fails with the words in `detail`.
Result<RunPlace> OpenRunPlace(records::RunSetting setting, const std::string& log,
                              const std::string& conninfo, std::string& detail);

}  // namespace obrint::engine
