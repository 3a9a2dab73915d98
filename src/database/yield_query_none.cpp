// The yield query where obrint-cli is built without a database client (Windows: Debian packages
// no libpq for the cross build).
#include "database/yield_query.h"

namespace obrint::database {

Result<records::Yield> QueryYield(const std::string&, const records::YieldFilter&,
                                  std::string& detail) {
  detail = "report over the logs, or report --db there";
  return Failure::kNoDatabaseClient;
}

}  // namespace obrint::database
