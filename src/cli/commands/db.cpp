// db init --db CONNINFO: makes the records' schema in the line's database, or migrates it to this
// version's.

#include "cli/command.h"
#include "database/schema.h"

namespace obrint::cli {
namespace {

void Run(Context& context) {
  std::string detail;
  Result<database::Connection> db = database::Connect(context.options.db, detail);
  if (!db) return context.reply.Fail(db.failure(), detail);
  const Result<int> before = database::Migrate(*db);
  if (!before) return context.reply.Fail(before.failure(), db->detail());
  context.reply.fields["schema_version"] = database::kSchemaVersion;
  context.reply.fields["previous_version"] = *before;
  const std::string now = "schema version " + std::to_string(database::kSchemaVersion);
  context.console.Say(*before == database::kSchemaVersion ? now + ", as it was"
                      : *before == 0                      ? now + ", made"
                                     : now + ", migrated from version " + std::to_string(*before));
}

}  // namespace

const Command kDbCommand = {"db", "the line's database: db init makes or migrates its schema",
                            false, Run};

}  // namespace obrint::cli
