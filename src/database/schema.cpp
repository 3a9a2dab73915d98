#include "database/schema.h"

#include <optional>
#include <set>
#include <sstream>
#include <tuple>

namespace obrint::database {
namespace {

// Each column's rules are docs/record.schema.json's for its field; a time is a timestamptz.
constexpr Migration kMigrations[] = {
    {1, R"sql(
CREATE SCHEMA obrint;
CREATE TABLE obrint.schema_version (
  version integer PRIMARY KEY,
  migrated timestamptz NOT NULL DEFAULT now(),
  records_shape text NOT NULL
);
CREATE TABLE obrint.records (
  id uuid PRIMARY KEY,
  started timestamptz NOT NULL,
  ended timestamptz NOT NULL,
  tool_version text NOT NULL CHECK (tool_version ~ '^[0-9]+(\.[0-9]+){3}$'),
  station text NOT NULL CHECK (length(station) >= 1),
  operator text NOT NULL,
  image_path text NOT NULL,
  image_size integer NOT NULL CHECK (image_size BETWEEN 1 AND 65535),
  image_sha256 text NOT NULL CHECK (image_sha256 ~ '^[0-9a-f]{64}$'),
  image_checksum text NOT NULL CHECK (image_checksum ~ '^0x[0-9A-F]{8}$'),
  usb_port text NOT NULL,
  path text NOT NULL,
  mcu_id text NOT NULL CHECK (mcu_id ~ '^([0-9A-F]{24})?$'),
  firmware_before text NOT NULL CHECK (firmware_before ~ '^([0-9A-F]{4})?$'),
  boot_firmware_version text NOT NULL CHECK (boot_firmware_version ~ '^([0-9A-F]{4})?$'),
  firmware_after text NOT NULL CHECK (firmware_after ~ '^([0-9A-F]{4})?$'),
  outcome text NOT NULL
    CHECK (outcome IN ('flashed', 'failed', 'not back', 'not started', 'interrupted')),
  reason text NOT NULL,
  exit_status integer NOT NULL CHECK (exit_status BETWEEN 0 AND 255),
  duration_ms bigint NOT NULL CHECK (duration_ms >= 0),
  bytes_sent integer NOT NULL CHECK (bytes_sent BETWEEN 0 AND 65535)
);
CREATE INDEX records_ended ON obrint.records (ended);
CREATE INDEX records_headset ON obrint.records (mcu_id, image_sha256, ended);

-- The records table as its columns, constraints and indexes describe it, one line each.
CREATE FUNCTION obrint.records_shape() RETURNS text LANGUAGE sql STABLE AS $$
  SELECT coalesce(string_agg(part, E'\n' ORDER BY part), '') FROM (
    SELECT format('column %s %s%s', attname, format_type(atttypid, atttypmod),
                  CASE WHEN attnotnull THEN ' not null' ELSE '' END)
      FROM pg_attribute
      WHERE attrelid = 'obrint.records'::regclass AND attnum > 0 AND NOT attisdropped
    UNION ALL
    SELECT format('constraint %s %s', conname, pg_get_constraintdef(oid))
      FROM pg_constraint WHERE conrelid = 'obrint.records'::regclass
    UNION ALL
    SELECT format('index %s', pg_get_indexdef(indexrelid))
      FROM pg_index WHERE indrelid = 'obrint.records'::regclass
  ) AS shape(part)
$$;

-- Roles belong to the whole server: another database of the line's may have made them.
DO $$ BEGIN CREATE ROLE obrint_station NOLOGIN;
EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END $$;
DO $$ BEGIN CREATE ROLE obrint_report NOLOGIN;
EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END $$;
GRANT USAGE ON SCHEMA obrint TO obrint_station, obrint_report;
GRANT INSERT ON obrint.records TO obrint_station;
GRANT SELECT ON obrint.records TO obrint_report;
GRANT SELECT ON obrint.schema_version TO obrint_station, obrint_report;
)sql"},
    // report --db sums every record up by group (image, day, station): knowing how many groups
    // there are, the planner sums them in memory instead of sorting every record. It reads each
    // headset's records in order from an index that holds what it needs of them, which serves
    // what the index by MCU ID, image and end served.
    {2, R"sql(
CREATE STATISTICS obrint.records_groups (ndistinct)
  ON image_sha256, station, ((ended AT TIME ZONE 'UTC')::date) FROM obrint.records;
CREATE INDEX records_headset_order ON obrint.records (mcu_id, image_sha256, ended, id)
  INCLUDE (station, outcome, reason);
DROP INDEX obrint.records_headset;
)sql"},
};

constexpr Statement kHasSchema = {"obrint_has_schema",
                                  "SELECT to_regclass('obrint.schema_version') IS NOT NULL"};
constexpr Statement kState = {
    "obrint_schema_state",
    "SELECT version, records_shape, obrint.records_shape() FROM obrint.schema_version "
    "ORDER BY version DESC LIMIT 1"};
constexpr Statement kLock = {"obrint_schema_lock", "SELECT pg_advisory_xact_lock(7242046)"};
constexpr Statement kMigrated = {"obrint_migrated",
                                 "INSERT INTO obrint.schema_version (version, records_shape) "
                                 "VALUES ($1::integer, obrint.records_shape())"};

struct State {
  int version = 0;  // 0: no schema
  std::string recorded, now;
};

Result<State> ReadState(Connection& db) {
  const Result<Rows> has = db.Run(kHasSchema, {});
  if (!has) return has.failure();
  if (has->at(0, 0) != "t") return State{};
  const Result<Rows> rows = db.Run(kState, {});
  if (!rows) return rows.failure();
  if (rows->count() == 0) return State{};
  return State{std::stoi(std::string(rows->at(0, 0))), std::string(rows->at(0, 1)),
               std::string(rows->at(0, 2))};
}

// The lines of the shape that the migration recorded and are gone, then those that came since.
std::string Differences(const State& state) {
  const auto lines = [](const std::string& text) {
    std::set<std::string> set;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) set.insert(line);
    return set;
  };
  const std::set<std::string> recorded = lines(state.recorded), now = lines(state.now);
  std::string text;
  for (const auto& [from, to, word] :
       {std::tuple(&recorded, &now, "missing: "), std::tuple(&now, &recorded, "added: ")}) {
    for (const std::string& line : *from) {
      if (!to->contains(line)) text.append(text.empty() ? "" : "; ").append(word).append(line);
    }
  }
  return text;
}

// Fails with `failure` after undoing the open transaction (a rollback that fails leaves its
// own words: the server rolls back a transaction whose connection is gone).
Failure Abandon(Connection& db, Failure failure) {
  (void)db.RunScript("ROLLBACK");
  return failure;
}

std::string VersionText(int found, int version) {
  return (found == 0 ? std::string("no schema") : "version " + std::to_string(found)) +
         "; this obrint-cli's is version " + std::to_string(version);
}

}  // namespace

std::span<const Migration> Migrations() { return kMigrations; }

Result<int> Migrate(Connection& db, std::span<const Migration> migrations) {
  const int last = migrations.back().version;
  std::optional<int> before;
  for (;;) {
    if (const Status begun = db.RunScript("BEGIN"); !begun) return begun.failure();
    const Result<Rows> locked = db.Run(kLock, {});
    if (!locked) return Abandon(db, locked.failure());
    const Result<State> state = ReadState(db);
    if (!state) return Abandon(db, state.failure());
    if (!before) before = state->version;
    if (state->version > last) {
      return Abandon(db, db.Fail(Failure::kSchemaNewer, VersionText(state->version, last)));
    }
    if (state->version > 0 && state->recorded != state->now) {
      return Abandon(db, db.Fail(Failure::kSchemaAltered, Differences(*state)));
    }
    if (state->version == last) {
      if (const Status ended = db.RunScript("COMMIT"); !ended) return ended.failure();
      return *before;
    }
    const Migration& next = migrations[static_cast<std::size_t>(state->version)];
    if (const Status made = db.RunScript(next.sql); !made) return Abandon(db, made.failure());
    const Result<Rows> noted = db.Run(kMigrated, {std::to_string(next.version)});
    if (!noted) return Abandon(db, noted.failure());
    if (const Status ended = db.RunScript("COMMIT"); !ended) return ended.failure();
  }
}

Status CheckSchema(Connection& db, int version) {
  const Result<State> state = ReadState(db);
  if (!state) return state.failure();
  if (state->version != version) {
    return db.Fail(state->version < version ? Failure::kSchemaOlder : Failure::kSchemaNewer,
                   VersionText(state->version, version));
  }
  if (state->recorded != state->now) return db.Fail(Failure::kSchemaAltered, Differences(*state));
  return {};
}

}  // namespace obrint::database
