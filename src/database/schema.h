// The records' schema in the line's database (PostgreSQL schema "obrint") and its migrations: the
// table records, a column per field of docs/record.schema.json, the ID its primary key; the table
// schema_version, a row per migration with the records table's shape it left; the roles
// obrint_station (may insert records, nothing else) and obrint_report (may read them). Migrations
// go forward only, each in a transaction under a lock: one that fails leaves the database as it
// was.
#pragma once

#include <span>

#include "database/connection.h"

namespace obrint::database {

inline constexpr int kSchemaVersion = 3;

struct Migration {
  int version;
  const char* sql;  // fixed text: no value from outside ever goes into it
};

// This version's migrations, versions 1, 2, ... in order; the last makes kSchemaVersion.
std::span<const Migration> Migrations();

// Brings the schema to the last of `migrations`; the version the database had, 0 for none. Needs
// the database's owner with CREATEROLE, or a superuser. Fails with kSchemaNewer or kSchemaAltered
// (the table changed since its last migration), nothing done; or a migration's, those before kept.
Result<int> Migrate(Connection& db, std::span<const Migration> migrations = Migrations());

// Whether the database holds the schema of `version` as its migrations left it: kSchemaOlder
// (older, or none), kSchemaNewer, kSchemaAltered (the differences in the detail), or a failure
// of the connection or of the login's rights.
Status CheckSchema(Connection& db, int version = kSchemaVersion);

}  // namespace obrint::database
