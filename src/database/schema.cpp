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
    // report --db sums the records by group (image, day, station): knowing how many groups there
    // are, the planner sums in memory instead of sorting; it reads a headset's records in order
    // from an index that holds what it needs, which serves what the one it replaces served.
    {2, R"sql(
CREATE STATISTICS obrint.records_groups (ndistinct)
  ON image_sha256, station, ((ended AT TIME ZONE 'UTC')::date) FROM obrint.records;
CREATE INDEX records_headset_order ON obrint.records (mcu_id, image_sha256, ended, id)
  INCLUDE (station, outcome, reason);
DROP INDEX obrint.records_headset;
)sql"},
    // report --db reads sums that each insert keeps, instead of every record: the records by
    // group, hour, port, outcome and failure; the flashed runs' durations by records/durations.h's
    // bucket and by whole second; each headset's first and last counting record for an image. An
    // owner's trigger keeps them, so that a station that may only insert keeps them too; a change
    // by hand sums all anew. The records' shape names the triggers: sums without them would lie.
    {3, R"sql(
CREATE TABLE obrint.record_counts (
  image_sha256 text NOT NULL,
  station text NOT NULL,
  hour timestamp NOT NULL,
  usb_port text NOT NULL,
  outcome text NOT NULL,
  failure text NOT NULL,
  anonymous boolean NOT NULL,
  records bigint NOT NULL,
  PRIMARY KEY (image_sha256, station, hour, usb_port, outcome, failure, anonymous)
);
CREATE TABLE obrint.flashed_durations (
  image_sha256 text NOT NULL,
  station text NOT NULL,
  day date NOT NULL,
  bucket bigint NOT NULL,
  second bigint NOT NULL,
  runs bigint NOT NULL,
  shortest_ms bigint NOT NULL,
  longest_ms bigint NOT NULL,
  PRIMARY KEY (image_sha256, station, day, bucket, second)
);
-- A record as a headset's first or last: ordered by its end, then its ID.
CREATE TYPE obrint.counted_record AS (ended timestamptz, id uuid, station text, flashed boolean);
CREATE TABLE obrint.headsets (
  mcu_id text NOT NULL,
  image_sha256 text NOT NULL,
  first_record obrint.counted_record NOT NULL,
  last_record obrint.counted_record NOT NULL,
  PRIMARY KEY (mcu_id, image_sha256)
);
GRANT SELECT ON obrint.record_counts, obrint.flashed_durations, obrint.headsets TO obrint_report;

-- The statements that add the records of the relation `source` to the sums. A record's outcome
-- is the one the log's reader reads: not started, but needing recovery, is failed. Rows are
-- locked in key order, so that two inserting stations never wait on each other in a circle.
CREATE FUNCTION obrint.sum_statements(source text) RETURNS SETOF text LANGUAGE sql IMMUTABLE
AS $$ SELECT format(statement, source) FROM (VALUES ($q$
WITH r AS (SELECT *, CASE WHEN outcome = 'not started' AND starts_with(reason, 'needs recovery')
                     THEN 'failed' ELSE outcome END AS read FROM %s)
INSERT INTO obrint.record_counts AS c
SELECT image_sha256, station, date_trunc('hour', ended AT TIME ZONE 'UTC'), usb_port, read,
       CASE WHEN read IN ('flashed', 'not started') THEN '' WHEN reason = '' THEN read
            ELSE reason END,
       mcu_id = '', count(*)
  FROM r GROUP BY 1, 2, 3, 4, 5, 6, 7 ORDER BY 1, 2, 3, 4, 5, 6, 7
ON CONFLICT (image_sha256, station, hour, usb_port, outcome, failure, anonymous)
  DO UPDATE SET records = c.records + excluded.records
$q$), ($q$
INSERT INTO obrint.flashed_durations AS d
SELECT image_sha256, station, (ended AT TIME ZONE 'UTC')::date,
       CASE WHEN duration_ms < 1024 THEN duration_ms
            ELSE 1024 + (s - 1) * 512 + ((duration_ms >> s) - 512) END,
       duration_ms / 1000, count(*), min(duration_ms), max(duration_ms)
  FROM %s CROSS JOIN LATERAL (SELECT 55 - position('1' IN duration_ms::bit(64)::text)) AS shift(s)
  WHERE outcome = 'flashed' GROUP BY 1, 2, 3, 4, 5 ORDER BY 1, 2, 3, 4, 5
ON CONFLICT (image_sha256, station, day, bucket, second) DO UPDATE
  SET runs = d.runs + excluded.runs, shortest_ms = least(d.shortest_ms, excluded.shortest_ms),
      longest_ms = greatest(d.longest_ms, excluded.longest_ms)
$q$), ($q$
WITH c AS (SELECT mcu_id, image_sha256, ended, id,
                  (ended, id, station, outcome = 'flashed')::obrint.counted_record AS counted
             FROM %s WHERE mcu_id <> ''
             AND (outcome <> 'not started' OR starts_with(reason, 'needs recovery')))
INSERT INTO obrint.headsets AS h
SELECT f.mcu_id, f.image_sha256, f.counted, l.counted
  FROM (SELECT DISTINCT ON (mcu_id, image_sha256) * FROM c
          ORDER BY mcu_id, image_sha256, ended, id) AS f
  JOIN (SELECT DISTINCT ON (mcu_id, image_sha256) * FROM c
          ORDER BY mcu_id, image_sha256, ended DESC, id DESC) AS l USING (mcu_id, image_sha256)
  ORDER BY 1, 2
ON CONFLICT (mcu_id, image_sha256) DO UPDATE
  SET first_record = least(h.first_record, excluded.first_record),
      last_record = greatest(h.last_record, excluded.last_record)
$q$)) AS statements(statement) $$;

CREATE FUNCTION obrint.keep_sums() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
SET search_path = pg_catalog, pg_temp AS $$
DECLARE
  statement text;
BEGIN
  IF TG_OP <> 'INSERT' THEN
    TRUNCATE obrint.record_counts, obrint.flashed_durations, obrint.headsets;
  END IF;
  FOR statement IN SELECT obrint.sum_statements(
      CASE TG_OP WHEN 'INSERT' THEN 'added' ELSE 'obrint.records' END) LOOP
    EXECUTE statement;
  END LOOP;
  RETURN NULL;
END $$;
CREATE TRIGGER records_added AFTER INSERT ON obrint.records REFERENCING NEW TABLE AS added
  FOR EACH STATEMENT EXECUTE FUNCTION obrint.keep_sums();
CREATE TRIGGER records_changed AFTER UPDATE OR DELETE OR TRUNCATE ON obrint.records
  FOR EACH STATEMENT EXECUTE FUNCTION obrint.keep_sums();
DO $$ DECLARE statement text; BEGIN
  FOR statement IN SELECT obrint.sum_statements('obrint.records') LOOP EXECUTE statement; END LOOP;
END $$;

ALTER FUNCTION obrint.records_shape() RENAME TO records_table_shape;
CREATE FUNCTION obrint.records_shape() RETURNS text LANGUAGE sql STABLE AS $$
  SELECT concat_ws(E'\n', obrint.records_table_shape(),
                   string_agg(format('trigger %s', pg_get_triggerdef(oid)), E'\n' ORDER BY tgname))
    FROM pg_trigger
    WHERE tgrelid = 'obrint.records'::regclass AND tgname IN ('records_added', 'records_changed')
$$;
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
