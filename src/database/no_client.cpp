// A build without a database client (obrint-cli.exe: Debian has no libpq for it): its records
// stay in the log, and a collector pushes the logs and reports over the database.
#include "database/outbox.h"
#include "database/yield_query.h"

namespace obrint::database {

Result<std::unique_ptr<Outbox>> OpenOutbox(records::LogFile&, const std::string&, std::string&) {
  return Failure::kNoDatabaseClient;
}

Result<records::Yield> QueryYield(const std::string&, const records::YieldFilter&,
                                  std::string& detail) {
  detail = "report over the logs, or report --db there";
  return Failure::kNoDatabaseClient;
}

}  // namespace obrint::database
