// The yield of the records in the line's database: the figures the log's tally (records/yield.h)
// gives over the same records, summed by the server in one snapshot so that stations inserting
// meanwhile cannot make them disagree. The login needs only the right to read (obrint_report).
#pragma once

#include <string>

#include "device/failure.h"
#include "records/yield.h"

namespace obrint::database {

// The yield within `filter` (records::FilterError found nothing wrong with it) of the database
// that `conninfo` names. Fails as Connect and CheckSchema do (connection.h, schema.h), with their
// words in `detail`; a yield whose image prefix matches several images carries its error.
Result<records::Yield> QueryYield(const std::string& conninfo, const records::YieldFilter& filter,
                                  std::string& detail);

}  // namespace obrint::database
