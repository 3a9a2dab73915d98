// The yield report over the logs of several stations: broken lines counted, named and skipped,
// the groups by image, day and station with their yield and median, the filters, the last record
// of each headset across logs, and the CSV's quoting.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/yield_output.h"
#include "records/record_id.h"
#include "records/yield.h"

namespace obrint::cli {
namespace {

using namespace obrint::records;
using Report = Yield;

// Two images that share their first 10 digits.
const std::string kImageA = "0123456789" + std::string(54, 'a');
const std::string kImageB = "0123456789" + std::string(54, 'b');
const std::string kMcu = "04030201080706050C0B0A09";

struct Rec {
  std::string started = "2026-12-07T09:59:49.000Z";  // the report goes by the end
  std::string station = "line-a";
  std::string image = kImageA;
  std::string ended = "2026-12-07T10:00:00.000Z";
  std::string mcu = kMcu;
  std::string outcome = "flashed";
  std::string reason;
  std::uint64_t ms = 11000;
  std::string port = "1-2.1";
  std::string id;  // none: a record from before IDs
};

// A whole record as the schema has it, with its line end.
nlohmann::ordered_json Json(const Rec& r) {
  const bool flashed = r.outcome == "flashed";
  nlohmann::ordered_json json =
      r.id.empty() ? nlohmann::ordered_json::object() : nlohmann::ordered_json{{"id", r.id}};
  // clang-format off
  json.update({{"started", r.started}, {"ended", r.ended}, {"tool_version", "1.4.0.0"},
          {"station", r.station}, {"operator", "ana"}, {"image_path", "fw/app.bin"},
          {"image_size", 40960}, {"image_sha256", r.image}, {"image_checksum", "0x0012ABCD"},
          {"usb_port", r.port}, {"path", "/dev/hidraw3"}, {"mcu_id", r.mcu},
          {"firmware_before", "0024"}, {"boot_firmware_version", "0102"},
          {"firmware_after", flashed ? "0025" : ""}, {"outcome", r.outcome}, {"reason", r.reason},
          {"exit_status", flashed ? 0 : 5}, {"duration_ms", r.ms}, {"bytes_sent", 40960}});
  // clang-format on
  return json;
}
std::string Line(const Rec& r) { return Json(r).dump() + "\n"; }
std::string Lines(const std::vector<Rec>& records) {
  std::string text;
  for (const Rec& r : records) text += Line(r);
  return text;
}

using Logs = std::vector<std::pair<std::string, std::string>>;  // name, text

Report ReadLogs(const Logs& logs, YieldFilter filter = {}, std::size_t named = 100) {
  YieldTally tally(std::move(filter));
  LogReader reader([&tally](const LogRecord& record, std::string_view, std::uint64_t,
                            std::string_view line) { tally.Add(record, line); },
                   named);
  for (const auto& [name, text] : logs) {
    std::istringstream in(text);
    reader.Read(in, name);
  }
  return tally.Finish(reader);
}

std::string Without(const Rec& r, const char* field) {
  auto json = Json(r);
  json.erase(field);
  return json.dump() + "\n";
}
template <typename T>
std::string With(const Rec& r, const char* field, T value) {
  auto json = Json(r);
  json[field] = value;
  return json.dump() + "\n";
}

// Each broken line sits second in station a's log; the read goes on past it and into station b's.
TEST(LogReport, BrokenLinesAreCountedNamedAndSkipped) {
  struct Case {
    std::string line;
    std::string why;
    bool last = false;  // the log ends with it, no good line after
  };
  const std::string whole = Line({});
  const Case cases[] = {
      {"{\"ended\": oops}\n", "not JSON (byte 11)"},
      {"[1, 2]\n", "not a JSON object"},
      {"\n", "empty line"},
      {"\r\n", "empty line"},
      {std::string(70000, 'x') + "\n", "longer than 65535 bytes"},
      {Without({}, "outcome"), "no \"outcome\""},
      {Without({}, "duration_ms"), "no \"duration_ms\""},
      {With({}, "duration_ms", "11000"), "\"duration_ms\" is not an integer"},
      {With({}, "duration_ms", -1), "\"duration_ms\" is not an integer"},
      {With({}, "mcu_id", 42), "\"mcu_id\" is not a string"},
      {With({}, "reason", std::vector{"r"}), "\"reason\" is not a string"},
      {With({}, "station", ""), "\"station\" is empty"},
      {With({}, "ended", "2026-12-07 10:00:00"), "\"ended\" is not a UTC time"},
      {With({}, "image_sha256", std::string(64, 'A')), "\"image_sha256\" is not 64"},
      {With({}, "outcome", "done"), "\"outcome\" \"done\" is not one"},
      {With({}, "id", "0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9"), "\"id\" is not a UUID"},
      {With({}, "id", 7), "\"id\" is not a string"},
      {whole.substr(0, 120), "cut short", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const Report report = ReadLogs({{"stations/a.jsonl", whole + c.line + (c.last ? "" : whole)},
                                    {"stations/b.jsonl", Line({.station = "line-b"})}});
    EXPECT_EQ(report.records, c.last ? 2u : 3u);
    EXPECT_EQ(report.unreadable, 1u);
    ASSERT_EQ(report.namedUnreadable.size(), 1u);
    EXPECT_EQ(report.namedUnreadable[0].where, "stations/a.jsonl:2");
    EXPECT_NE(report.namedUnreadable[0].why.find(c.why), std::string::npos)
        << report.namedUnreadable[0].why;
  }
  // A whole last line without its line end is a record; so is one with fields of a later version,
  // and one with an ID as well as one from before IDs (as all the lines above).
  EXPECT_EQ(ReadLogs({{"a", whole + whole.substr(0, whole.size() - 1)}}).records, 2u);
  EXPECT_EQ(ReadLogs({{"a", With({}, "id", records::NewRecordId())}}).records, 1u);
  const auto later = nlohmann::json::parse(R"({"extra": {"outcome": 5}, "more": [1, {"a": []}]})");
  EXPECT_EQ(ReadLogs({{"a", With({}, "later", later)}}).records, 1u);
}

// New IDs are random version-4 UUIDs. A record without one gets the same ID from its content
// however its line is laid out, and by a rule that never changes: logs pushed before an upgrade
// give the same IDs after it (the expected ID was computed apart, with Python's hashlib).
TEST(RecordId, NewOnesAreRandomAndDerivedOnesFollowTheContent) {
  std::set<std::string> ids;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = records::NewRecordId();
    EXPECT_TRUE(records::IsRecordId(id) && id[14] == '4' &&
                std::string_view("89ab").find(id[19]) != std::string_view::npos)
        << id;
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 1000u);
  const std::string id = records::DerivedRecordId("{\"b\": 1, \"a\": \"x\\u00e9\"}");
  EXPECT_EQ(id, "50249b6a-7c7b-844a-8a9c-847814ea0eff");
  EXPECT_EQ(records::DerivedRecordId("{\"a\":\"x\u00e9\",\"b\":1}"), id);
  EXPECT_NE(records::DerivedRecordId("{\"a\":\"x\u00e9\",\"b\":2}"), id);
  EXPECT_EQ(records::DerivedRecordId("[1]"), "");
}

TEST(LogReport, OnlyTheFirstUnreadableLinesAreNamed) {
  const Report report = ReadLogs({{"a", std::string(10, '\n')}}, {}, 3);
  EXPECT_EQ(report.unreadable, 10u);
  EXPECT_EQ(report.namedUnreadable.size(), 3u);
}

// Two stations' logs; station a's spread over two files (a rotated log).
Logs FactoryLogs() {
  return {
      {"a-1.jsonl", Lines({{.ms = 500},
                           {.outcome = "failed", .reason = "block 5: wrong sum"},
                           {.outcome = "not back"},
                           {.ended = "2026-12-07T23:59:59.999Z", .ms = 700},
                           {.ended = "2026-12-08T00:00:00.000Z", .ms = 100}})},
      {"a-2.jsonl", Lines({{.ms = 600},
                           {.outcome = "failed", .reason = "block 5: wrong sum"},
                           {.outcome = "not started"},
                           {.ended = "2026-12-08T09:00:00.000Z", .ms = 201},
                           {.image = kImageB, .outcome = "not started"}})},
      {"b.jsonl", Lines({{.station = "line-b",
                          .mcu = "",
                          .outcome = "interrupted",
                          .reason = "stopped by Ctrl+C before the restart"}})},
  };
}

TEST(LogReport, GroupsByImageDayAndStationWithYieldAndMedian) {
  struct Expected {
    std::string group;                    // image (A or B), day, station
    std::array<std::uint64_t, 4> counts;  // runs, flashed, failed, not started
    std::string failures;
    std::optional<double> yield;
    std::optional<std::uint64_t> median;
  };
  // clang-format off
  const Expected expected[] = {
      {"A 2026-12-07 line-a", {7, 3, 3, 1}, "block 5: wrong sum=2 not back=1", 50.0, 600},
      {"A 2026-12-07 line-b", {1, 0, 1, 0}, "stopped by Ctrl+C before the restart=1", 0.0, {}},
      {"A 2026-12-08 line-a", {2, 2, 0, 0}, "", 100.0, 151},  // (100 + 201) / 2, rounded
      {"B 2026-12-07 line-a", {1, 0, 0, 1}, "", {}, {}},
  };
  // clang-format on
  const Report report = ReadLogs(FactoryLogs());
  EXPECT_EQ(report.records, 11u);
  EXPECT_EQ(report.withoutMcuId, 1u);
  ASSERT_EQ(report.groups.size(), std::size(expected));
  for (std::size_t i = 0; i < report.groups.size(); ++i) {
    const GroupSummary& g = report.groups[i];
    const Expected& e = expected[i];
    SCOPED_TRACE(e.group);
    EXPECT_EQ((g.imageSha256 == kImageA ? "A " : "B ") + g.day + " " + g.station, e.group);
    EXPECT_EQ((std::array{g.runs, g.flashed, g.failed, g.notStarted}), e.counts);
    std::string failures;
    for (const ReasonCount& f : g.failures) {
      failures += (failures.empty() ? "" : " ") + f.reason + "=" + std::to_string(f.count);
    }
    EXPECT_EQ(failures, e.failures);
    EXPECT_EQ(g.yieldPercent, e.yield);
    EXPECT_EQ(g.medianMs, e.median);
  }
  const auto json = YieldJson(report);
  EXPECT_TRUE(json["groups"][3]["yield_percent"].is_null());
  EXPECT_EQ(json["groups"][0]["median_ms"], 600);
}

// Durations from 1024 ms on share buckets: the median stays within 0.1 % of the exact one.
TEST(LogReport, MedianOfLongRunsIsWithinItsPrecision) {
  for (std::uint64_t exact : {1025u, 9999u, 12345u, 600001u, 86400000u}) {
    SCOPED_TRACE(exact);
    const Report report =
        ReadLogs({{"a", Lines({{.ms = exact / 2}, {.ms = exact}, {.ms = exact * 3}})}});
    ASSERT_EQ(report.groups.size(), 1u);
    ASSERT_TRUE(report.groups[0].medianMs);
    EXPECT_NEAR(static_cast<double>(*report.groups[0].medianMs), static_cast<double>(exact),
                static_cast<double>(exact) * 0.001);
  }
}

TEST(LogReport, FiltersBySinceAndImage) {
  enum class Error { kNone, kFilter, kAmbiguous };
  struct Case {
    YieldFilter filter;
    std::vector<std::string> groups;  // day and station
    Error error = Error::kNone;
  };
  const Case cases[] = {
      {{}, {"2026-12-07 line-a", "2026-12-07 line-b", "2026-12-08 line-a", "2026-12-07 line-a"}},
      {{.since = "2026-12-08"}, {"2026-12-08 line-a"}},
      {{.image = kImageB}, {"2026-12-07 line-a"}},
      {{.since = "2026-12-08", .image = "0123456789AA"}, {"2026-12-08 line-a"}},
      {{.image = "01234567"}, {}, Error::kAmbiguous},
      {{.since = "2026-02-30"}, {}, Error::kFilter},
      {{.since = "2026-2-01"}, {}, Error::kFilter},
      {{.image = "0123456"}, {}, Error::kFilter},
      {{.image = "0123456g"}, {}, Error::kFilter},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter.since + " " + c.filter.image);
    const std::string filterError = FilterError(c.filter);
    EXPECT_EQ(!filterError.empty(), c.error == Error::kFilter) << filterError;
    if (c.error == Error::kFilter) continue;
    const Report report = ReadLogs(FactoryLogs(), c.filter);
    EXPECT_EQ(!report.error.empty(), c.error == Error::kAmbiguous) << report.error;
    if (c.error == Error::kAmbiguous) continue;
    std::vector<std::string> groups;
    for (const GroupSummary& g : report.groups) groups.push_back(g.day + " " + g.station);
    EXPECT_EQ(groups, c.groups);
    EXPECT_EQ(report.records + report.outsideFilter, 11u);
  }
}

// A record ID of one digit repeated: IDs that sort as their digits do.
std::string Id(char digit) {
  return std::string(8, digit) + "-" + std::string(4, digit) + "-4" + std::string(3, digit) + "-8" +
         std::string(3, digit) + "-" + std::string(12, digit);
}

// A headset's last record by its end time across the logs of two stations; a tie goes to the
// greater ID, whichever log is read first. Not started leaves it as it was; without an MCU ID no
// headset is named.
TEST(LogReport, HeadsetsWhoseLastRecordFailedAcrossStations) {
  struct Case {
    const char* name;
    std::vector<Rec> a, b;  // station a's log is read first
    bool listed;
  };
  const std::string at10 = "2026-12-07T10:00:00.000Z", at11 = "2026-12-07T11:00:00.000Z";
  const Rec failed10{.ended = at10, .outcome = "failed", .reason = "r"};
  const Rec flashed10{.ended = at10};
  const Rec failed11{.ended = at11, .outcome = "failed", .reason = "r"};
  const Rec flashed11{.ended = at11};
  const Rec notStarted11{.ended = at11, .outcome = "not started"};
  const Rec notBack11{.ended = at11, .outcome = "not back"};
  const Rec interrupted11{.ended = at11, .outcome = "interrupted"};
  // As older stations recorded a headset that arrived in its boot firmware.
  const Rec recovery11{.ended = at11, .outcome = "not started", .reason = "needs recovery: it"};
  Rec failed10Id1 = failed10, failed10Id2 = failed10, flashed10Id1 = flashed10,
      flashed10Id2 = flashed10;
  failed10Id1.id = flashed10Id1.id = Id('1');
  failed10Id2.id = flashed10Id2.id = Id('2');
  const Case cases[] = {
      {"failed at a, flashed later at b", {failed10}, {flashed11}, false},
      {"flashed at a, failed later at b", {flashed10}, {failed11}, true},
      {"flashed at a after it failed at b", {flashed11}, {failed10}, false},
      {"failed at a after it was flashed at b", {failed11}, {flashed10}, true},
      {"failed, then flashed, in one log", {failed10, flashed11}, {}, false},
      {"a tie: the flashed one's ID is greater, read first", {flashed10Id2}, {failed10Id1}, false},
      {"a tie: the failed one's ID is greater, read first", {failed10Id2}, {flashed10Id1}, true},
      {"failed, then not started", {failed10}, {notStarted11}, true},
      {"not back last", {flashed10}, {notBack11}, true},
      {"interrupted last", {flashed10}, {interrupted11}, true},
      {"needs recovery last", {flashed10}, {recovery11}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Rec> b = c.b;
    for (Rec& r : b) r.station = "line-b";
    const Report report = ReadLogs({{"a", Lines(c.a)}, {"b", Lines(b)}});
    EXPECT_EQ(FailedMcuIds(report),
              c.listed ? std::set<std::string>{kMcu} : std::set<std::string>{});
  }
  // Records from before IDs tie by the IDs derived from their content, in either order.
  const bool failedIsGreater = DerivedRecordId(Line(failed10)) > DerivedRecordId(Line(flashed10));
  for (const auto& [first, second] : {std::pair(failed10, flashed10), {flashed10, failed10}}) {
    EXPECT_EQ(FailedMcuIds(ReadLogs({{"a", Lines({first})}, {"b", Lines({second})}})).size(),
              failedIsGreater ? 1u : 0u);
  }
  const Report anonymous = ReadLogs({{"a", Lines({{.mcu = "", .outcome = "failed"}})}});
  EXPECT_TRUE(anonymous.failedHeadsets.empty());
  EXPECT_EQ(anonymous.withoutMcuId, 1u);
}

// The line's figures, each case from a log of its own; only the members named are compared.
TEST(LogReport, LineFiguresFromHandMadeLogs) {
  struct Case {
    const char* name;
    std::vector<Rec> records;
    const char* expected;  // members of report --json's "line"
  };
  const std::string mcu2 = "0000000000000000000000B2";
  const auto at = [](const char* time) { return std::string("2026-12-07T") + time + ".000Z"; };
  const Case cases[] = {
      {"failed, then flashed: first pass and final differ",
       {{.ended = at("10:00:00"), .outcome = "failed"},
        {.ended = at("11:00:00")},
        {.ended = at("10:30:00"), .mcu = mcu2}},
       R"({"runs": 3, "flashed": 2, "failed": 1,
           "first_pass": {"headsets": 2, "flashed": 1, "yield_percent": 50.0},
           "final": {"headsets": 2, "flashed": 2, "yield_percent": 100.0}})"},
      {"another image is another headset",
       {{.outcome = "failed"}, {.image = kImageB}},
       R"({"first_pass": {"headsets": 2, "flashed": 1, "yield_percent": 50.0}})"},
      {"a tie on ended: the lesser ID is first, read last",
       {{.outcome = "failed", .id = Id('2')}, {.id = Id('1')}},
       R"({"first_pass": {"headsets": 1, "flashed": 1, "yield_percent": 100.0},
           "final": {"headsets": 1, "flashed": 0, "yield_percent": 0.0}})"},
      {"without an MCU ID a run counts, but makes no headset",
       {{.mcu = "", .outcome = "failed", .port = "1-1"}, {}},
       R"({"runs": 2, "failed": 1, "first_pass": {"headsets": 1, "flashed": 1,
           "yield_percent": 100.0}, "by_hour": [{"hour": "2026-12-07T10", "flashed": 1,
           "failed": 1}]})"},
      {"not started does not count, nor make a headset",
       {{.outcome = "not started"}, {.mcu = mcu2}},
       R"({"runs": 1, "first_pass": {"headsets": 1, "flashed": 1, "yield_percent": 100.0},
           "by_hour": [{"hour": "2026-12-07T10", "flashed": 1, "failed": 0}],
           "failures_by_port": [{"station": "line-a", "usb_port": "1-2.1", "runs": 1,
           "failed": 0}]})"},
      {"the 95th percentile is at rank ceil(0.95 n), the median between the middle two",
       {{.ms = 101},
        {.ms = 102},
        {.ms = 103},
        {.ms = 104},
        {.ms = 105},
        {.ms = 106},
        {.ms = 107},
        {.ms = 108},
        {.ms = 109},
        {.ms = 110},
        {.ms = 111},
        {.ms = 112}},
       R"({"durations": {"runs": 12, "median_ms": 107, "p95_ms": 112,
           "histogram": [{"from_ms": 0, "to_ms": 1000, "runs": 12}]}})"},
      {"bins of whole seconds; a long run read at its bucket's middle; failures left out",
       {{.ms = 999}, {.ms = 1000}, {.ms = 2999}, {.outcome = "failed", .ms = 5000}},
       R"({"durations": {"runs": 3, "median_ms": 1000, "p95_ms": 2998, "histogram": [
           {"from_ms": 0, "to_ms": 1000, "runs": 1}, {"from_ms": 1000, "to_ms": 2000, "runs": 1},
           {"from_ms": 2000, "to_ms": 3000, "runs": 1}]}})"},
      {"by hour, and headsets per hour over the hours with a run",
       {{.ended = at("09:59:59")},
        {.ended = at("09:00:00"), .outcome = "failed"},
        {.ended = at("12:00:00")},
        {.ended = at("12:59:59")},
        {.ended = at("12:30:00")}},
       R"({"headsets_per_hour": 2.0, "by_hour": [
           {"hour": "2026-12-07T09", "flashed": 1, "failed": 1},
           {"hour": "2026-12-07T12", "flashed": 3, "failed": 0}]})"},
      {"by day and station: where the first and the last record ended",
       {{.station = "line-b", .outcome = "failed"},
        {.ended = "2026-12-08T08:00:00.000Z"},
        {.ended = "2026-12-08T09:00:00.000Z", .mcu = mcu2, .outcome = "failed"}},
       R"({"by_day_station": [
           {"day": "2026-12-07", "station": "line-b",
            "first_pass": {"headsets": 1, "flashed": 0, "yield_percent": 0.0},
            "final": {"headsets": 0, "flashed": 0, "yield_percent": null}},
           {"day": "2026-12-08", "station": "line-a",
            "first_pass": {"headsets": 1, "flashed": 0, "yield_percent": 0.0},
            "final": {"headsets": 2, "flashed": 1, "yield_percent": 50.0}}]})"},
      {"failures by reason: most first, then by reason; an empty one as its outcome; a headset "
       "that needs recovery failed",
       {{.outcome = "failed", .reason = "b"},
        {.outcome = "failed", .reason = "a"},
        {.station = "line-b", .outcome = "failed", .reason = "b"},
        {.outcome = "not back"},
        {.outcome = "not started", .reason = "needs recovery: it"}},
       R"({"failures_by_reason": [{"reason": "b", "count": 2}, {"reason": "a", "count": 1},
           {"reason": "needs recovery: it", "count": 1}, {"reason": "not back", "count": 1}]})"},
      {"failures by port: by station, then port; no port, no row",
       {{.station = "line-b", .port = "1-1"},
        {.station = "line-b", .outcome = "failed"},
        {.outcome = "failed", .port = "1-2.10"},
        {.port = "1-2.10"},
        {.port = ""}},
       R"({"failures_by_port": [
           {"station": "line-a", "usb_port": "1-2.10", "runs": 2, "failed": 1},
           {"station": "line-b", "usb_port": "1-1", "runs": 1, "failed": 0},
           {"station": "line-b", "usb_port": "1-2.1", "runs": 1, "failed": 1}]})"},
      {"an empty selection: counts of 0 and no figure",
       {},
       R"({"runs": 0, "first_pass": {"headsets": 0, "flashed": 0, "yield_percent": null},
           "final": {"headsets": 0, "flashed": 0, "yield_percent": null},
           "headsets_per_hour": null, "durations": {"runs": 0, "median_ms": null,
           "p95_ms": null, "histogram": []}, "by_day_station": [], "by_hour": [],
           "failures_by_reason": [], "failures_by_port": []})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto line = YieldJson(ReadLogs({{"a", Lines(c.records)}}))["line"];
    const auto expected = nlohmann::ordered_json::parse(c.expected);
    for (const auto& [member, value] : expected.items()) {
      EXPECT_EQ(line[member], value) << member;
    }
  }
}

// A failed headset's port is its last record's; its history, its MCU ID's records before it
// (any image), the latest first and at most ten, whatever order the logs are read in.
TEST(LogReport, FailedHeadsetsHistoryLatestFirstAtMostTen) {
  std::vector<Rec> early, late;
  for (int minute = 10; minute < 22; ++minute) {  // 10:10 .. 10:21, every other one failed
    const Rec r{.image = minute == 20 ? kImageB : kImageA,
                .ended = "2026-12-07T10:" + std::to_string(minute) + ":00.000Z",
                .outcome = minute % 2 ? "failed" : "flashed",
                .port = "1-" + std::to_string(minute)};
    (minute < 16 ? late : early).push_back(r);
  }
  const Report report = ReadLogs({{"early", Lines(early)}, {"late", Lines(late)}});
  ASSERT_EQ(report.failedHeadsets.size(), 1u);
  const FailedHeadset& headset = report.failedHeadsets[0];
  EXPECT_EQ(headset.ended, "2026-12-07T10:21:00.000Z");
  EXPECT_EQ(headset.usbPort, "1-21");
  std::string history;
  for (const EarlierRecord& e : headset.history) {
    history += e.ended.substr(14, 2) + (e.imageSha256 == kImageB ? "B" : "") + e.usbPort.substr(1) +
               (e.outcome == RunOutcome::kFailed ? "x " : " ");
  }
  EXPECT_EQ(history, "20B-20 19-19x 18-18 17-17x 16-16 15-15x 14-14 13-13x 12-12 11-11x ");
  const auto json = YieldJson(report)["failed_headsets"][0];
  EXPECT_EQ(json["usb_port"], "1-21");
  EXPECT_EQ(json["history"][0]["image_sha256"], kImageB);
}

// A group's totals, its failures by reason and each of the line's figures are rows of their own
// kinds: no column counts twice within a kind.
TEST(LogReport, CsvRowsOfTheirOwnKindsQuotingAReasonWithACommaAndAQuote) {
  const Report report =
      ReadLogs({{"a", Lines({{.outcome = "failed", .reason = "block 5: sum 0x12, not \"0x34\""},
                             {.image = kImageB, .ms = 900}})}});
  std::stringstream csv;
  WriteYieldCsv(report, csv);
  const std::string reason = "\"block 5: sum 0x12, not \"\"0x34\"\"\"";
  std::vector<std::string> rows;
  for (std::string row; std::getline(csv, row);) rows.push_back(row);
  EXPECT_EQ(rows, (std::vector<std::string>{
                      "kind,image_sha256,day,station,runs,flashed,failed,not_started,yield_percent,"
                      "median_ms,reason,count,headsets,p95_ms,headsets_per_hour,hour,usb_port,"
                      "from_ms,to_ms",
                      "group," + kImageA + ",2026-12-07,line-a,1,0,1,0,0.00,,,,,,,,,,",
                      "failure," + kImageA + ",2026-12-07,line-a,,,,,,," + reason + ",1,,,,,,,",
                      "group," + kImageB + ",2026-12-07,line-a,1,1,0,0,100.00,900,,,,,,,,,",
                      "line,,,,2,1,1,,,900,,,,900,1.00,,,,",
                      "line_first_pass,,,,,1,,,50.00,,,,2,,,,,,",
                      "line_final,,,,,1,,,50.00,,,,2,,,,,,",
                      "first_pass,,2026-12-07,line-a,,1,,,50.00,,,,2,,,,,,",
                      "final,,2026-12-07,line-a,,1,,,50.00,,,,2,,,,,,",
                      "hour,,,,,1,1,,,,,,,,,2026-12-07T10,,,",
                      "reason,,,,,,,,,," + reason + ",1,,,,,,,",
                      "port,,,line-a,2,,1,,,,,,,,,,1-2.1,,",
                      "duration,,,,1,,,,,,,,,,,,,0,1000",
                  }));
}

TEST(LogReport, TextNamesFailedHeadsetsAndUnreadableLines) {
  const Report report =
      ReadLogs({{"a.jsonl", Line({.outcome = "not back"}) + "{\n" + Line({.mcu = ""})}});
  std::ostringstream text;
  WriteYieldText(report, text);
  for (const char* expected :
       {"Headsets whose last record failed: 1\n", kMcu.c_str(), "not back",
        "Line: 2 runs, 1 flashed, 1 failed; 1.0 headsets per hour (hours with a run: 1)",
        "First-pass yield 0.0 % of 1 headsets, final yield 0.0 % of 1",
        "USB ports with the most failed runs:\n  1 of 2 runs failed at line-a port 1-2.1",
        "Unreadable lines: 1\n  a.jsonl:2: not JSON"}) {
    EXPECT_NE(text.str().find(expected), std::string::npos) << expected << "\n" << text.str();
  }
}

}  // namespace
}  // namespace obrint::cli
