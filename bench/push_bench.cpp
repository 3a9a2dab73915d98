// obrint-cli push of a log of 100,000 records (with IDs; 4 stations, 2 images) into the line's
// database: into an empty table (/0), and again into one that holds them all (/1). The whole
// command in-process: the log read and checked, batches of 1,000 records, one transaction each.
// Needs the server that bench/run.sh starts (tests/database/pg-server.sh); OBRINT_BENCH_PG names
// its folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "database/connection.h"
#include "records/record_id.h"

namespace {

constexpr int kRecords = 100000;

std::string ServerConninfo() {
  const char* dir = std::getenv("OBRINT_BENCH_PG");
  std::ifstream in(std::string(dir ? dir : "") + "/conninfo");
  std::string text;
  std::getline(in, text);
  return text;
}

std::string WriteLog() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "obrint-push-bench.jsonl").string();
  std::ofstream log(path, std::ios::trunc);
  for (int i = 0; i < kRecords; ++i) {
    const bool flashed = i % 20 != 0;
    char mcu[25];
    std::snprintf(mcu, sizeof mcu, "%024X", i % 30000);
    log << nlohmann::ordered_json{{"id", obrint::records::NewRecordId()},
                                  {"started", "2026-12-07T09:59:49.000Z"},
                                  {"ended",
                                   "2026-12-0" + std::to_string(1 + i % 7) + "T10:00:00.000Z"},
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
                                  {"reason", flashed ? "" : "the headset received a block wrong"},
                                  {"exit_status", flashed ? 0 : 5},
                                  {"duration_ms", 9500 + i % 700},
                                  {"bytes_sent", 40960}}
               .dump()
        << '\n';
  }
  return path;
}

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
  // Written once for both arguments, removed as the program ends.
  static const struct Log {
    std::string path = WriteLog();
    ~Log() { std::filesystem::remove(path); }
  } written;
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
