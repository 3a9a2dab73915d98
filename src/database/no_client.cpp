// A build without a database client (obrint-cli.exe: Debian has no libpq for it): its records
// stay in the log, and a collector pushes the logs.
#include "database/outbox.h"

namespace obrint::database {

Result<std::unique_ptr<Outbox>> OpenOutbox(records::LogFile&, const std::string&, std::string&) {
  return Failure::kNoDatabaseClient;
}

}  // namespace obrint::database
