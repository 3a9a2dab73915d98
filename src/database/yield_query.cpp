#include "database/yield_query.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <thread>
#include <tuple>

#include "database/schema.h"
#include "device/text.h"
#include "records/durations.h"

namespace obrint::database {
namespace {

using records::GroupSummary;

// Each statement reads the sums that the schema keeps (database/schema.cpp) within the filter: $1
// the first moment of --since's day, or -infinity; $2 the image's prefix in lower case.
#define OBRINT_DAY "to_char(day, 'YYYY-MM-DD')"
// Groups sort as the log's tally sorts them: by image, day and station, bytes compared.
#define OBRINT_GROUP_ORDER "image COLLATE \"C\", day, station COLLATE \"C\""

constexpr Statement kAll = {"obrint_yield_all",
                            "SELECT coalesce(sum(records), 0) FROM obrint.record_counts"};

// The records counted by image, day, station, hour, port, outcome and failure (its reason, or its
// outcome's name where it gives none), summed over the sets that the figures need. What
// GROUPING(failure, hour, usb_port) gives each set, in the order of its rows:
constexpr int kGroupRow = 7, kReasonRow = 3, kHourRow = 5, kPortRow = 6;
constexpr Statement kCounts = {
    "obrint_yield_counts",
    "WITH cells AS (SELECT image_sha256 AS image, hour::date AS day, station, hour, usb_port, "
    "outcome, NULLIF(failure, '') AS failure, anonymous, records AS n FROM obrint.record_counts "
    "WHERE hour >= $1::timestamptz AT TIME ZONE 'UTC' AND starts_with(image_sha256, $2::text)) "
    "SELECT GROUPING(failure, hour, usb_port), image, " OBRINT_DAY
    ", station, failure, to_char(hour, 'YYYY-MM-DD\"T\"HH24'), usb_port, sum(n), "
    "sum(n) FILTER (WHERE outcome = 'flashed'), sum(n) FILTER (WHERE outcome = 'not started'), "
    "sum(n) FILTER (WHERE anonymous) FROM cells GROUP BY GROUPING SETS ((image, day, station), "
    "(image, day, station, failure), (hour), (station, usb_port)) "
    "ORDER BY 1 DESC, " OBRINT_GROUP_ORDER ", failure COLLATE \"C\", hour, usb_port COLLATE \"C\""};

// The flashed runs' durations by group, bucket and whole second.
constexpr Statement kDurations = {
    "obrint_yield_durations",
    "SELECT image, " OBRINT_DAY
    ", station, bucket, second, runs, shortest_ms, longest_ms FROM obrint.flashed_durations AS "
    "d(image) WHERE day >= ($1::timestamptz AT TIME ZONE 'UTC')::date AND starts_with(image, "
    "$2::text) ORDER BY " OBRINT_GROUP_ORDER ", bucket"};

// Each headset's (MCU ID and image) first and last counting record by (ended, ID) within the
// filter, summed by the day and station of the first ("d" rows of kFirsts) and of the last ("d"
// rows of kLasts); then the MCU IDs whose last record across images failed ("f" rows of
// kLasts). A headset with records before --since has its first within it read from the records.
#define OBRINT_HEADSETS                                                                        \
  "WITH h AS NOT MATERIALIZED (SELECT * FROM obrint.headsets WHERE starts_with(image_sha256, " \
  "$2::text) AND (last_record).ended >= $1::timestamptz), ends(ended, station, flashed) AS "
#define OBRINT_BY_DAY                                                                        \
  " SELECT 'd', " OBRINT_DAY                                                                 \
  ", station, n, flashed FROM (SELECT (ended AT TIME ZONE 'UTC')::date, station, count(*), " \
  "count(*) FILTER (WHERE flashed) FROM ends GROUP BY 1, 2) AS days(day, station, n, flashed)"
constexpr Statement kFirsts = {
    "obrint_yield_firsts", OBRINT_HEADSETS
    "(SELECT (first_record).ended, (first_record).station, (first_record).flashed "
    "FROM h WHERE (first_record).ended >= $1::timestamptz UNION ALL SELECT r.* "
    "FROM h CROSS JOIN LATERAL (SELECT ended, station, outcome = 'flashed' FROM "
    "obrint.records WHERE mcu_id = h.mcu_id AND image_sha256 = h.image_sha256 AND "
    "ended >= $1::timestamptz AND (outcome <> 'not started' OR starts_with(reason, "
    "'needs recovery')) ORDER BY ended, id LIMIT 1) AS r WHERE "
    "(h.first_record).ended < $1::timestamptz)" OBRINT_BY_DAY};
constexpr Statement kLasts = {
    "obrint_yield_lasts", OBRINT_HEADSETS
    "(SELECT (last_record).ended, (last_record).station, (last_record).flashed "
    "FROM h)" OBRINT_BY_DAY
    " UNION ALL SELECT 'f', mcu_id, NULL, 0, 0 FROM h WHERE NOT "
    "(last_record).flashed AND NOT EXISTS (SELECT FROM obrint.headsets AS o WHERE "
    "o.mcu_id = h.mcu_id AND starts_with(o.image_sha256, $2::text) AND "
    "o.last_record > h.last_record)"};
#undef OBRINT_HEADSETS
#undef OBRINT_BY_DAY

// The counting records of the MCU IDs in $3, each ID's latest $4 of them by (ended, ID), with
// the outcome that the log's reader reads: not started, but needing recovery, is failed.
constexpr Statement kHistory = {
    "obrint_yield_history",
    "SELECT mcu_id, to_char(ended AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
    "station, usb_port, image_sha256, outcome, CASE outcome WHEN 'flashed' THEN '' ELSE reason "
    "END FROM (SELECT mcu_id, ended, station, usb_port, image_sha256, reason, CASE outcome WHEN "
    "'not started' THEN 'failed' ELSE outcome END AS outcome, row_number() OVER (PARTITION BY "
    "mcu_id ORDER BY ended DESC, id DESC) AS nth FROM obrint.records WHERE mcu_id = "
    "ANY($3::text[]) AND ended >= $1::timestamptz AND starts_with(image_sha256, $2::text) AND "
    "(outcome <> 'not started' OR starts_with(reason, 'needs recovery'))) AS latest "
    "WHERE nth <= $4::integer ORDER BY mcu_id COLLATE \"C\", nth"};

#undef OBRINT_DAY
#undef OBRINT_GROUP_ORDER

std::uint64_t Number(std::string_view text) {
  std::uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

using GroupKey = std::tuple<std::string_view, std::string_view, std::string_view>;

// The groups, their failures and the line's counts by hour and port, from kCounts' rows.
void AddCounts(const Rows& rows, records::Yield& yield, std::map<GroupKey, std::size_t>& index) {
  std::map<std::size_t, std::map<std::string, std::uint64_t, std::less<>>> failures;
  records::LineFigures& line = yield.line;
  for (int row = 0; row < rows.count(); ++row) {
    const auto text = [&](int column) { return rows.at(row, column); };
    const std::uint64_t all = Number(text(7)), flashed = Number(text(8));
    const std::uint64_t counting = all - Number(text(9)), failed = counting - flashed;
    const GroupKey key = {text(1), text(2), text(3)};
    switch (Number(text(0))) {
      case kGroupRow: {
        index.emplace(key, yield.groups.size());
        GroupSummary& g = yield.groups.emplace_back();
        std::tie(g.imageSha256, g.day, g.station) = key;
        g.runs = all;
        g.flashed = flashed;
        g.failed = failed;
        g.notStarted = all - counting;
        g.yieldPercent = records::YieldOf(counting, flashed).yieldPercent;
        yield.records += all;
        yield.withoutMcuId += Number(text(10));
        line.runs += counting;
        line.flashed += flashed;
        line.failed += failed;
        break;
      }
      case kReasonRow:
        if (!text(4).empty()) failures[index.at(key)].emplace(text(4), all);
        break;
      case kHourRow:
        if (counting > 0) line.byHour.push_back({std::string(text(5)), flashed, failed});
        break;
      case kPortRow:
        if (counting > 0 && !text(6).empty()) {
          line.failuresByPort.push_back(
              {std::string(text(3)), std::string(text(6)), counting, failed});
        }
        break;
    }
  }
  for (auto& [at, counts] : failures) yield.groups[at].failures = records::NamedFailures(counts);
  line.failuresByReason = records::FailuresByReason(yield.groups);
  line.headsetsPerHour = records::HeadsetsPerHour(line.flashed, line.byHour.size());
}

// The groups' medians and the line's durations, from kDurations' rows.
void AddDurations(const Rows& rows, records::Yield& yield,
                  const std::map<GroupKey, std::size_t>& index) {
  std::map<std::size_t, records::DurationHistogram> groups;
  records::DurationHistogram all;
  std::map<std::uint64_t, std::uint64_t> seconds;
  for (int row = 0; row < rows.count(); ++row) {
    const auto number = [&](int column) { return Number(rows.at(row, column)); };
    const GroupKey key = {rows.at(row, 0), rows.at(row, 1), rows.at(row, 2)};
    groups[index.at(key)].AddBucket(number(3), number(5), number(6), number(7));
    all.AddBucket(number(3), number(5), number(6), number(7));
    seconds[number(4)] += number(5);
  }
  for (const auto& [at, histogram] : groups) yield.groups[at].medianMs = histogram.Median();
  yield.line.durations = records::DurationsOf(all, seconds);
}

// The MCU IDs of kLasts' "f" rows, as a PostgreSQL array.
std::string FailedMcuIds(const Rows& lasts) {
  std::string failed = "{";
  for (int row = 0; row < lasts.count(); ++row) {
    if (lasts.at(row, 0) == "f")
      failed.append(failed.size() > 1 ? "," : "").append(lasts.at(row, 1));
  }
  return failed + "}";
}

// The line's first-pass and final yields, from the "d" rows of kFirsts and kLasts, by day and
// station in byte order.
void AddHeadsets(const Rows& firsts, const Rows& lasts, records::LineFigures& line) {
  records::HeadsetEnds ends;
  for (const auto& [rows, at] : {std::pair(&firsts, 0), std::pair(&lasts, 2)}) {
    for (int row = 0; row < rows->count(); ++row) {
      if (rows->at(row, 0) != "d") continue;
      auto& counts = ends[{rows->at(row, 1), rows->at(row, 2)}];
      counts[at] = Number(rows->at(row, 3));
      counts[at + 1] = Number(rows->at(row, 4));
    }
  }
  records::AddHeadsetEnds(ends, line);
}

constexpr Statement kSnapshot = {"obrint_yield_snapshot", "SELECT pg_export_snapshot()"};

// A snapshot's name as the server gives it ("00000003-0000001B-1"): it is written into the
// statement that takes the snapshot over, which takes no parameter.
bool IsSnapshotId(std::string_view id) {
  return !id.empty() && id.size() < 64 &&
         id.find_first_not_of("0123456789ABCDEFabcdef-") == std::string_view::npos;
}

// A read-only transaction in one snapshot: the snapshot `id` of another transaction, or its own.
// Each statement sums up to every headset in hash tables: compiling it (JIT) would take longer
// than it saves, and the tables need more than the default working memory.
Status Begin(Connection& db, const std::string& id = {}) {
  std::string sql = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY; ";
  if (!id.empty()) sql += "SET TRANSACTION SNAPSHOT '" + id + "'; ";
  return db.RunScript((sql + "SET LOCAL jit = off; SET LOCAL work_mem = '256MB'").c_str());
}

// Statements run one after another on one connection, their rows kept in order; after a failure,
// the rest are not run.
struct Statements {
  explicit Statements(Connection& connection) : db(connection) {}
  void operator()(const Statement& statement, std::initializer_list<std::string> values) {
    if (ran.failed()) return;
    Result<Rows> got = db.Run(statement, values);
    if (got) rows.push_back(std::move(*got));
    ran = got.status();
  }
  Connection& db;
  Status ran;
  std::vector<Rows> rows;
};

// The failed headsets, each from its latest record and those before it (kHistory's rows).
void AddFailedHeadsets(const Rows& rows, records::Yield& yield) {
  for (int row = 0; row < rows.count(); ++row) {
    const auto text = [&](int column) { return std::string(rows.at(row, column)); };
    const auto outcome = records::ParseOutcome(text(5)).value_or(records::RunOutcome::kNotStarted);
    const records::EarlierRecord record{text(1), text(2), text(3), text(4), outcome, text(6)};
    if (!yield.failedHeadsets.empty() && yield.failedHeadsets.back().mcuId == text(0)) {
      yield.failedHeadsets.back().history.push_back(record);
      continue;
    }
    yield.failedHeadsets.push_back({record, text(0), {}});
  }
}

}  // namespace

Result<records::Yield> QueryYield(const std::string& conninfo, const records::YieldFilter& filter,
                                  std::string& detail) {
  // Two connections in one snapshot, one per core the server may have, each with about half the
  // work. Records inserted meanwhile are in none of them.
  Result<Connection> db = Connect(conninfo, detail);
  if (!db) return db.failure();
  const auto fail = [&](Connection& connection, Failure failure) {
    detail = connection.detail();
    return failure;
  };
  if (const Status schema = CheckSchema(*db); !schema) return fail(*db, schema.failure());
  if (const Status begun = Begin(*db); !begun) return fail(*db, begun.failure());
  const Result<Rows> snapshot = db->Run(kSnapshot, {});
  if (!snapshot) return fail(*db, snapshot.failure());
  const std::string id(snapshot->at(0, 0));
  if (!IsSnapshotId(id)) return Failure::kRequestRefused;
  Result<Connection> other = Connect(conninfo, detail);
  if (!other) return other.failure();

  std::string image = filter.image;
  std::transform(image.begin(), image.end(), image.begin(), AsciiLower);
  const std::string since = filter.since.empty() ? "-infinity" : filter.since + "T00:00:00Z";
  Statements counts(*db), headsets(*other);  // all, counts, firsts; lasts, history, durations
  std::thread second([&] {
    headsets.ran = Begin(*other, id);
    headsets(kLasts, {since, image});
    if (headsets.ran.failed()) return;
    headsets(kHistory, {since, image, FailedMcuIds(headsets.rows[0]),
                        std::to_string(records::kHistoryLimit + 1)});
    headsets(kDurations, {since, image});
  });
  counts(kAll, {});
  counts(kCounts, {since, image});
  counts(kFirsts, {since, image});
  second.join();
  for (Statements* done : {&counts, &headsets}) {
    if (done->ran.failed()) return fail(done->db, done->ran.failure());
  }
  (void)db->RunScript("COMMIT");
  (void)other->RunScript("COMMIT");
  records::Yield yield;
  std::map<GroupKey, std::size_t> index;
  AddCounts(counts.rows[1], yield, index);
  AddDurations(headsets.rows[2], yield, index);
  AddHeadsets(counts.rows[2], headsets.rows[0], yield.line);
  yield.outsideFilter = Number(counts.rows[0].at(0, 0)) - yield.records;
  AddFailedHeadsets(headsets.rows[1], yield);
  yield.error = records::ImageMatchesError(image, yield.groups);
  return yield;
}

}  // namespace obrint::database
