#include "database/yield_query.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <tuple>

#include "database/schema.h"
#include "device/text.h"
#include "records/durations.h"

namespace obrint::database {
namespace {

using records::GroupSummary;

// The records within the filter ($1 the first moment of --since's day, or -infinity; $2 the
// image's prefix in lower case), each with its group's day, and the outcome that the log's
// reader reads: an older record of a headset that needs recovery, not started, failed.
#define OBRINT_FILTERED                                                                         \
  "WITH r AS (SELECT image_sha256 AS image, (ended AT TIME ZONE 'UTC')::date AS day, station, " \
  "mcu_id, ended, id, reason, duration_ms, CASE WHEN outcome = 'not started' AND "              \
  "starts_with(reason, 'needs recovery') THEN 'failed' ELSE outcome END AS outcome "            \
  "FROM obrint.records WHERE ended >= $1::timestamptz AND starts_with(image_sha256, $2::text)) "
#define OBRINT_DAY "to_char(day, 'YYYY-MM-DD')"
// Groups sort as the log's tally sorts them: by image, day and station, bytes compared.
#define OBRINT_GROUP_ORDER "image COLLATE \"C\", day, station COLLATE \"C\""

constexpr Statement kAll = {"obrint_yield_all", "SELECT count(*) FROM obrint.records"};

constexpr Statement kGroups = {
    "obrint_yield_groups",
    OBRINT_FILTERED "SELECT image, " OBRINT_DAY
                    ", station, count(*), count(*) FILTER (WHERE outcome = 'flashed'), "
                    "count(*) FILTER (WHERE outcome = 'not started'), "
                    "count(*) FILTER (WHERE mcu_id = '') FROM r GROUP BY image, day, station "
                    "ORDER BY " OBRINT_GROUP_ORDER};

// Each group's failures by reason (the outcome's name where it gives none): the first $3 in byte
// order named, the others under $4; the most frequent first, then by reason.
constexpr Statement kReasons = {
    "obrint_yield_reasons", OBRINT_FILTERED
    "SELECT image, " OBRINT_DAY
    ", station, reason, sum(n) FROM (SELECT image, day, station, n, "
    "CASE WHEN row_number() OVER (PARTITION BY image, day, station ORDER BY reason COLLATE \"C\") "
    "<= $3::integer THEN reason ELSE $4::text END AS reason FROM (SELECT image, day, station, "
    "CASE reason WHEN '' THEN outcome ELSE reason END, count(*) FROM r "
    "WHERE outcome NOT IN ('flashed', 'not started') GROUP BY 1, 2, 3, 4) AS counted(image, day, "
    "station, reason, n)) AS named GROUP BY image, day, station, reason "
    "ORDER BY " OBRINT_GROUP_ORDER ", sum(n) DESC, reason COLLATE \"C\""};

// The flashed runs' durations as records/durations.h counts them: exact below 1024 ms, then 512
// buckets per power of two, s = floor(log2 d) - 9 read from the duration's 64 bits.
constexpr Statement kDurations = {
    "obrint_yield_durations", OBRINT_FILTERED
    "SELECT image, " OBRINT_DAY
    ", station, bucket, sum(n), min(d), max(d) FROM (SELECT image, "
    "day, station, d, n, CASE WHEN d < 1024 THEN d ELSE 1024 + (s - 1) * 512 + ((d >> s) - 512) "
    "END AS bucket FROM (SELECT image, day, station, duration_ms, count(*) FROM r "
    "WHERE outcome = 'flashed' GROUP BY 1, 2, 3, 4) AS runs(image, day, station, d, n) "
    "CROSS JOIN LATERAL (SELECT 55 - position('1' IN d::bit(64)::text)) AS shift(s)) AS bucketed "
    "GROUP BY image, day, station, bucket ORDER BY " OBRINT_GROUP_ORDER ", bucket"};

// Each MCU ID's last record that says something of it, by (ended, ID), when it failed.
constexpr Statement kFailedHeadsets = {
    "obrint_yield_failed_headsets", OBRINT_FILTERED
    "SELECT mcu_id, to_char(ended AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), "
    "station, image, outcome, reason FROM (SELECT DISTINCT ON (mcu_id) * FROM r "
    "WHERE mcu_id <> '' AND outcome <> 'not started' ORDER BY mcu_id, ended DESC, id DESC) AS last "
    "WHERE outcome <> 'flashed' ORDER BY mcu_id COLLATE \"C\""};

#undef OBRINT_FILTERED
#undef OBRINT_DAY
#undef OBRINT_GROUP_ORDER

std::uint64_t Number(std::string_view text) {
  std::uint64_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

records::RunOutcome OutcomeOf(std::string_view name) {
  for (const auto outcome : {records::RunOutcome::kFailed, records::RunOutcome::kNotBack,
                             records::RunOutcome::kInterrupted, records::RunOutcome::kFlashed}) {
    if (records::OutcomeName(outcome) == name) return outcome;
  }
  return records::RunOutcome::kNotStarted;
}

using GroupKey = std::tuple<std::string_view, std::string_view, std::string_view>;
GroupKey KeyAt(const Rows& rows, int row) {
  return {rows.at(row, 0), rows.at(row, 1), rows.at(row, 2)};
}

// The groups with their failures and medians, from the rows of their statements.
std::vector<GroupSummary> Groups(const Rows& groups, const Rows& reasons, const Rows& durations) {
  std::vector<GroupSummary> summaries;
  std::map<GroupKey, std::size_t> index;
  for (int row = 0; row < groups.count(); ++row) {
    GroupSummary& g = summaries.emplace_back();
    g.imageSha256 = groups.at(row, 0);
    g.day = groups.at(row, 1);
    g.station = groups.at(row, 2);
    g.runs = Number(groups.at(row, 3));
    g.flashed = Number(groups.at(row, 4));
    g.notStarted = Number(groups.at(row, 5));
    g.failed = g.runs - g.flashed - g.notStarted;
    g.yieldPercent = records::YieldOf(g.flashed + g.failed, g.flashed).yieldPercent;
    index.emplace(KeyAt(groups, row), summaries.size() - 1);
  }
  for (int row = 0; row < reasons.count(); ++row) {
    summaries[index.at(KeyAt(reasons, row))].failures.push_back(
        {std::string(reasons.at(row, 3)), Number(reasons.at(row, 4))});
  }
  std::map<std::size_t, records::DurationHistogram> histograms;
  for (int row = 0; row < durations.count(); ++row) {
    histograms[index.at(KeyAt(durations, row))].AddBucket(
        Number(durations.at(row, 3)), Number(durations.at(row, 4)), Number(durations.at(row, 5)),
        Number(durations.at(row, 6)));
  }
  for (const auto& [at, histogram] : histograms) summaries[at].medianMs = histogram.Median();
  return summaries;
}

}  // namespace

Result<records::Yield> QueryYield(const std::string& conninfo, const records::YieldFilter& filter,
                                  std::string& detail) {
  Result<Connection> db = Connect(conninfo, detail);
  if (!db) return db.failure();
  const auto fail = [&](Failure failure) {
    detail = db->detail();
    return failure;
  };
  if (const Status schema = CheckSchema(*db); !schema) return fail(schema.failure());
  // One snapshot for every statement: records inserted meanwhile are in none of them.
  if (const Status begun = db->RunScript("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
      !begun) {
    return fail(begun.failure());
  }
  std::string image = filter.image;
  std::transform(image.begin(), image.end(), image.begin(), AsciiLower);
  const std::string since = filter.since.empty() ? "-infinity" : filter.since + "T00:00:00Z";
  std::vector<Rows> rows;  // all, groups, reasons, durations, failed headsets
  Status ran;              // the first failure: the statements after it are not run
  const auto run = [&](const Statement& statement, std::initializer_list<std::string> values) {
    if (ran.failed()) return;
    Result<Rows> got = db->Run(statement, values);
    if (got) rows.push_back(std::move(*got));
    ran = got.status();
  };
  run(kAll, {});
  run(kGroups, {since, image});
  run(kReasons, {since, image, std::to_string(records::kMaxReasonsPerGroup),
                 std::string(records::kOtherReasons)});
  run(kDurations, {since, image});
  run(kFailedHeadsets, {since, image});
  if (!ran) return fail(ran.failure());
  (void)db->RunScript("COMMIT");

  const Rows &all = rows[0], &groups = rows[1], &failed = rows[4];
  records::Yield yield;
  yield.groups = Groups(groups, rows[2], rows[3]);
  for (int row = 0; row < groups.count(); ++row) {
    yield.records += Number(groups.at(row, 3));
    yield.withoutMcuId += Number(groups.at(row, 6));
  }
  yield.outsideFilter = Number(all.at(0, 0)) - yield.records;
  for (int row = 0; row < failed.count(); ++row) {
    yield.failedHeadsets.push_back({std::string(failed.at(row, 0)),
                                    std::string(failed.at(row, 1)),
                                    std::string(failed.at(row, 2)),
                                    std::string(failed.at(row, 3)),
                                    OutcomeOf(failed.at(row, 4)),
                                    std::string(failed.at(row, 5)),
                                    {},
                                    {}});
  }
  yield.error = records::ImageMatchesError(image, yield.groups);
  return yield;
}

}  // namespace obrint::database
