// A station on the real clock: 8 virtual headsets plugged in one after another, 20 ms apart, each
// flashed with 40 KiB as it arrives. Its headsets per hour against the limit that the mandated
// waits set with 8 ports in parallel: 8 headsets every 11,550 ms (the upgrade's 9,550 ms of fixed
// waits, then the first look for the headset back after its reboot, 2,000 ms on). /0 without a
// database; /1 with its records kept in a log and sent to the database (the server that
// bench/run.sh starts, OBRINT_BENCH_PG); /2 the same, the database stopped once 4 have ended.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sim/sim_host.h"
#include "engine/signals.h"
#include "engine/station.h"
#include "device/image.h"
#include "sim/fleet_sim.h"
#include "database/outbox.h"
#include "database/schema.h"

namespace obrint::cli {
namespace {

using namespace obrint::engine;

constexpr std::size_t kPorts = 8;
constexpr unsigned kGapMs = 20;
constexpr double kMandatedMs = 2000 + 100 + 10 + 732 * 10 + 20 + 100 + 2000;

// The server's superuser, in the database `name`; empty without a server.
std::string Conninfo(const std::string& name) {
  const char* dir = std::getenv("OBRINT_BENCH_PG");
  std::ifstream in(std::string(dir ? dir : "") + "/conninfo");
  std::string text;
  std::getline(in, text);
  return text.empty() ? text : text + " dbname=" + name;
}

// Runs `sql` in the database `name`.
bool Sql(const std::string& name, const char* sql) {
  std::string detail;
  Result<database::Connection> db = database::Connect(Conninfo(name), detail);
  return db && db->RunScript(sql);
}

void BM_Station8_RealClock(benchmark::State& state) {
  const std::vector<std::uint8_t> bytes = MakeSampleImage(40 * 1024);
  const LoadedImage image{"bench.bin", bytes, CheckImage(bytes, bytes.size()), ""};
  const records::RunSetting setting{
      "1.0.0.5", "bench", "", "bench.bin", 40 * 1024, std::string(64, 'a'), 0};
  const std::string db = "obrint_station_bench";
  const auto logPath = std::filesystem::temp_directory_path() / "obrint-station-bench.jsonl";
  if (state.range(0) > 0 && Conninfo(db).empty()) {
    return state.SkipWithError("no server: run bench/run.sh");
  }
  double perHour = 0;
  for (auto _ : state) {
    std::optional<records::LogFile> log;
    std::unique_ptr<database::Outbox> outbox;
    if (state.range(0) > 0) {
      Sql("postgres", "DROP DATABASE IF EXISTS obrint_station_bench WITH (FORCE)");
      Sql("postgres", "CREATE DATABASE obrint_station_bench");
      std::string detail;
      Result<database::Connection> owner = database::Connect(Conninfo(db), detail);
      if (!owner || !database::Migrate(*owner)) return state.SkipWithError("db init failed");
      std::filesystem::remove(logPath);
      log.emplace(*records::LogFile::Open(logPath.string()));
      outbox = std::move(*database::OpenOutbox(*log, Conninfo(db), detail));
    }
    std::thread stopper;  // stops the database without holding the station
    std::vector<sim::FleetMember> members;
    for (std::size_t i = 0; i < kPorts; ++i) {
      sim::HeadsetConfig config;
      config.unit = static_cast<std::uint16_t>(i);
      config.mcuId[0] = static_cast<std::uint8_t>(i);
      members.push_back({sim::Headset(config), "1-2." + std::to_string(i + 1)});
    }
    const std::unique_ptr<Host> host =
        sim::MakeHost(std::make_shared<sim::VirtualFleet>(std::move(members)), true,
                      sim::PlugInTurn(kPorts, kGapMs));
    const std::unique_ptr<ArrivalWatch> watch = host->WatchArrivals();
    engine::SignalWatch signals;
    StationRules rules;
    rules.maxHeadsets = kPorts;
    std::optional<std::chrono::steady_clock::time_point> first, last;
    std::size_t flashed = 0;
    Station station({*host, image, signals, setting, 10000, outbox.get(), nullptr}, rules,
                    [&](const StationEvent& event) {
                      if (event.kind == StationEvent::Kind::kStart && !first)
                        first = std::chrono::steady_clock::now();
                      if (event.kind != StationEvent::Kind::kDone) return;
                      last = std::chrono::steady_clock::now();
                      flashed += event.record->outcome() == records::RunOutcome::kFlashed;
                      if (flashed != 4 || state.range(0) != 2) return;
                      stopper = std::thread([] {
                        Sql("postgres",
                            "ALTER DATABASE obrint_station_bench ALLOW_CONNECTIONS false; "
                            "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE "
                            "datname = 'obrint_station_bench'");
                      });
                    });
    station.Run(*watch);
    if (stopper.joinable()) stopper.join();
    if (outbox)
      state.counters["waiting"] =
          static_cast<double>(outbox->Close(std::chrono::seconds(5)).waiting);
    std::filesystem::remove(logPath);
    if (flashed != kPorts) {
      state.SkipWithError("a headset was not flashed");
      break;
    }
    perHour = 3600.0 * static_cast<double>(flashed) /
              std::chrono::duration<double>(*last - *first).count();
  }
  const double limit = 3600.0 * kPorts / (kMandatedMs / 1000.0);
  state.counters["per_hour"] = perHour;
  state.counters["limit_per_hour"] = limit;
  state.counters["of_limit_pct"] = 100.0 * perHour / limit;
}
BENCHMARK(BM_Station8_RealClock)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace
}  // namespace obrint::cli
