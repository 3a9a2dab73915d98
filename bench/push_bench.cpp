// The line's database, with the whole commands in-process. obrint-cli push of a log of 100,000
// records (with IDs; 4 stations, 2 images) into the database: into an empty table (/0), and again
// into one that holds them all (/1); the log read and checked, batches of 1,000 records, one
// transaction each. obrint-cli report --db over 1,000,000 records that push stored.
// Needs the server that bench/run.sh starts (tests/database/pg-server.sh); OBRINT_BENCH_PG names
// its folder.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "database/connection.h"
#include "records/record.h"
#include "records/record_id.h"

namespace {

constexpr int kRecords = 100000;
constexpr int kReportRecords = 1000000;

std::string ServerConninfo() {
  const char* dir = std::getenv("OBRINT_BENCH_PG");
  std::ifstream in(std::string(dir ? dir : "") + "/conninfo");
  std::string text;
  std::getline(in, text);
  return text;
}

// `records` records of 4 stations, of 0.3 × `records` headsets, one record every 2 s from
// 2026-12-01 on; one in 20 failed.
std::string WriteLog(int records, const std::string& name) {
  const std::string path = (std::filesystem::temp_directory_path() / name).string();
  std::ofstream log(path, std::ios::trunc);
  for (int i = 0; i < records; ++i) {
    const bool flashed = i % 20 != 0;
    char mcu[25];
    std::snprintf(mcu, sizeof mcu, "%024X", i % (records / 10 * 3));
    const auto ended = std::chrono::sys_days(std::chrono::year(2026) / 12 / 1) +
                       std::chrono::seconds(2 * static_cast<std::int64_t>(i));
    log << nlohmann::ordered_json{{"id", obrint::records::NewRecordId()},
                                  {"started", "2026-12-07T09:59:49.000Z"},
                                  {"ended", obrint::records::UtcTime(ended)},
                                  {"tool_version", "1.0.0.5"},
                                  {"station", "line-" + std::to_string(i % 4)},
                                  {"operator", "ana"},
                                  {"image_path", "fw/app.bin"},
                                  {"image_size", 40960},
                                  {"image_sha256", std::string(64, i % 2 ? 'a' : 'b')},
                                  {"image_checksum", "0x0012ABCD"},
                                  {"usb_port", "1-2." + std::to_string(1 + i % 8)},
                                  {"path", "/dev/hidraw3"},
                                  {"mcu_id", mcu},
                                  {"firmware_before", "0024"},
                                  {"boot_firmware_version", "0102"},
                                  {"firmware_after", flashed ? "0025" : ""},
                                  {"outcome", flashed ? "flashed" : "failed"},
                                  {"reason",
                                   flashed ? "" : "block " + std::to_string(i % 37) + " wrong"},
                                  {"exit_status", flashed ? 0 : 5},
                                  {"duration_ms", 9500 + i % 700},
                                  {"bytes_sent", 40960}}
               .dump()
        << '\n';
  }
  return path;
}

// A log written once for all the benchmark's runs, removed as the program ends.
struct Log {
  Log(int records, const std::string& name) : path(WriteLog(records, name)) {}
  ~Log() { std::filesystem::remove(path); }
  std::string path;
};

// Runs `sql` as the server's superuser in `db`.
bool Admin(const std::string& db, const char* sql) {
  std::string detail;
  auto conn = obrint::database::Connect(ServerConninfo() + " dbname=" + db, detail);
  return conn && conn->RunScript(sql);
}

int Cli(std::vector<std::string> args) {
  args.insert(args.begin(), "obrint-cli");
  std::ostringstream out, err;
  std::istringstream in;
  return obrint::cli::RunCli(args, {out, err, in, false});
}

void BM_Push100K(benchmark::State& state) {
  if (ServerConninfo().empty()) return state.SkipWithError("no server: run bench/run.sh");
  static const Log written(kRecords, "obrint-push-bench.jsonl");
  const std::string& log = written.path;
  const std::string db = ServerConninfo() + " dbname=obrint_push_bench";
  for (auto _ : state) {
    state.PauseTiming();
    Admin("postgres", "DROP DATABASE IF EXISTS obrint_push_bench WITH (FORCE)");
    Admin("postgres", "CREATE DATABASE obrint_push_bench");
    if (Cli({"db", "init", "--db", db}) != 0) return state.SkipWithError("db init failed");
    if (state.range(0) == 1 && Cli({"push", "--db", db, log}) != 0) {
      return state.SkipWithError("the first push failed");
    }
    state.ResumeTiming();
    if (Cli({"push", "--db", db, log}) != 0) return state.SkipWithError("push failed");
  }
  state.counters["records_per_s"] =
      benchmark::Counter(static_cast<double>(kRecords) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Push100K)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

namespace {

// report --db --json over 1,000,000 records, stored once by push and vacuumed as autovacuum would
// after the load; the output made in memory.
void BM_ReportDb1M(benchmark::State& state) {
  if (ServerConninfo().empty()) return state.SkipWithError("no server: run bench/run.sh");
  const std::string db = ServerConninfo() + " dbname=obrint_report_bench";
  static const bool loaded = [&] {
    const Log written(kReportRecords, "obrint-report-bench.jsonl");
    Admin("postgres", "DROP DATABASE IF EXISTS obrint_report_bench WITH (FORCE)");
    Admin("postgres", "CREATE DATABASE obrint_report_bench");
    return Cli({"db", "init", "--db", db}) == 0 && Cli({"push", "--db", db, written.path}) == 0 &&
           Admin("obrint_report_bench", "VACUUM ANALYZE obrint.records");
  }();
  if (!loaded) return state.SkipWithError("the records could not be stored");
  for (auto _ : state) {
    if (Cli({"--json", "report", "--db", db}) != 0) return state.SkipWithError("report failed");
  }
  state.counters["records_per_s"] = benchmark::Counter(
      static_cast<double>(kReportRecords) * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReportDb1M)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
