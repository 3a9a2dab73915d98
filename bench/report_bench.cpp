// The yield report over logs of 10,000, 50,000 and 100,000 records (4 stations, 2 images, 7
// days): its time, and the most heap it holds at once, counted by this program's operator new.
// The report's memory should follow the groups and the headsets, not the records. Then the whole
// of obrint-cli report --html over 100,000 records: read, computed, the page made and written.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "records/yield.h"

namespace {

// Every allocation of the program carries its size in front, so that the live bytes and their
// high-water mark can be counted. Not inlined: the optimiser would otherwise see free() given what
// new returned and take the offset block for a mistake.
std::atomic<std::size_t> liveBytes{0};
std::atomic<std::size_t> peakBytes{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);

[[gnu::noinline]] void* Allocate(std::size_t size) {
  auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (block == nullptr) return nullptr;
  *reinterpret_cast<std::size_t*>(block) = size;
  const std::size_t live = liveBytes += size;
  std::size_t peak = peakBytes.load();
  while (live > peak && !peakBytes.compare_exchange_weak(peak, live)) {
  }
  return block + kHeader;
}

[[gnu::noinline]] void Release(void* pointer) {
  if (pointer == nullptr) return;
  auto* block = static_cast<unsigned char*>(pointer) - kHeader;
  liveBytes -= *reinterpret_cast<std::size_t*>(block);
  std::free(block);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { Release(p); }

namespace obrint::cli {
namespace {

// A log of `records` records from `headsets` headsets in the temporary folder, written once per
// size and removed at the end: 4 stations, 2 images, ended over 7 days in time order; 95 %
// flashed, the rest failed for one of three reasons, not back, or not started.
class LogOnDisk {
 public:
  LogOnDisk(std::size_t records, std::size_t headsets)
      : path_(std::filesystem::temp_directory_path() /
              ("obrint-report-bench-" + std::to_string(records) + "-" + std::to_string(headsets) +
               ".jsonl")) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(records);
    const char* images[] = {"3f2a9c1e", "b71d04a6"};
    const char* reasons[] = {"block 17: the headset's sum 0x1A2B differs from 0x1A2C",
                             "the headset refused the Restart report",
                             "no boot firmware within 10 s of the restart"};
    const std::int64_t spanMs = 7 * 86400 * 1000LL;
    for (std::size_t i = 0; i < records; ++i) {
      const std::int64_t endedMs = 1796601600000LL + static_cast<std::int64_t>(i) * spanMs /
                                                         static_cast<std::int64_t>(records);
      const unsigned roll = random() % 100;
      const char* outcome = roll < 95   ? "flashed"
                            : roll < 98 ? "failed"
                            : roll < 99 ? "not back"
                                        : "not started";
      const std::string image = std::string(images[i / 4 % 2]) + std::string(56, 'c');
      char mcu[40];
      std::snprintf(mcu, sizeof mcu, "0403%08zX0C0B0A09DEAD", (i * 7919) % headsets);
      char id[64];  // the form of a record ID, unique in the log
      std::snprintf(id, sizeof id, "%08zx-0000-4000-8000-%012zx", i, headsets);
      nlohmann::ordered_json record = {
          {"id", id},
          {"started", Time(endedMs - 11000)},
          {"ended", Time(endedMs)},
          {"tool_version", "1.4.0.0"},
          {"station", "line-3/station-" + std::to_string(i % 4 + 1)},
          {"operator", "operator-" + std::to_string(i % 9)},
          {"image_path", "C:\\firmware\\releases\\headset-app-0025.bin"},
          {"image_size", 40960},
          {"image_sha256", image},
          {"image_checksum", "0x0012ABCD"},
          {"usb_port", "1-2." + std::to_string(i % 8 + 1)},
          {"path",
           "\\\\?\\hid#vid_2833&pid_0021#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"},
          {"mcu_id", mcu},
          {"firmware_before", "0024"},
          {"boot_firmware_version", "0102"},
          {"firmware_after", roll < 95 ? "0025" : ""},
          {"outcome", outcome},
          {"reason", roll < 95 || roll >= 99 ? "" : reasons[random() % 3]},
          {"exit_status", roll < 95 ? 0 : 5},
          {"duration_ms", 9500 + random() % 3000},
          {"bytes_sent", roll < 95 ? 40960 : 17 * 56}};
      out << record.dump() << '\n';
    }
  }
  ~LogOnDisk() { std::filesystem::remove(path_); }
  LogOnDisk(const LogOnDisk&) = delete;
  LogOnDisk& operator=(const LogOnDisk&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  static std::string Time(std::int64_t ms) {
    const std::time_t seconds = ms / 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
  }

  std::filesystem::path path_;
};

const LogOnDisk& Log(std::size_t records, std::size_t headsets) {
  static std::map<std::pair<std::size_t, std::size_t>, std::unique_ptr<LogOnDisk>> logs;
  auto& log = logs[{records, headsets}];
  if (!log) log = std::make_unique<LogOnDisk>(records, headsets);
  return *log;
}

long MaxRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // KiB on Linux
}

// Arguments: records, distinct headsets.
void BM_ReportLog(benchmark::State& state) {
  const auto records = static_cast<std::size_t>(state.range(0));
  const LogOnDisk& log = Log(records, static_cast<std::size_t>(state.range(1)));
  std::size_t heldAtPeak = 0;
  std::size_t groups = 0;
  for (auto _ : state) {
    const std::size_t before = liveBytes.load();
    peakBytes = before;
    std::ifstream in(log.path(), std::ios::binary);
    records::YieldTally tally;
    records::LogReader reader([&tally](const records::LogRecord& record, std::string_view,
                                       std::uint64_t,
                                       std::string_view line) { tally.Add(record, line); });
    reader.Read(in, log.path().string());
    const records::Yield report = tally.Finish(reader);
    heldAtPeak = peakBytes.load() - before;
    groups = report.groups.size();
    if (report.records != records) {
      state.SkipWithError("records were lost");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * records));
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * std::filesystem::file_size(log.path())));
  state.counters["groups"] = static_cast<double>(groups);
  state.counters["peak_heap_KiB"] = static_cast<double>(heldAtPeak) / 1024;
  state.counters["maxrss_KiB"] = static_cast<double>(MaxRssKib());
}
BENCHMARK(BM_ReportLog)
    ->Args({10000, 5000})
    ->Args({50000, 5000})
    ->Args({100000, 5000})
    ->Args({100000, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Arguments: records, distinct headsets. The command as a user runs it, in this process.
void BM_ReportPage(benchmark::State& state) {
  const LogOnDisk& log =
      Log(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
  const std::string page = log.path().string() + ".html";
  std::size_t heldAtPeak = 0;
  for (auto _ : state) {
    const std::size_t before = liveBytes.load();
    peakBytes = before;
    std::ostringstream out, err;
    std::istringstream in;
    if (RunCli({"obrint-cli", "report", "--html", page, log.path().string()}, {out, err, in}) !=
        0) {
      state.SkipWithError(err.str().c_str());
      break;
    }
    heldAtPeak = peakBytes.load() - before;
  }
  state.counters["page_KiB"] = static_cast<double>(std::filesystem::file_size(page)) / 1024;
  state.counters["peak_heap_KiB"] = static_cast<double>(heldAtPeak) / 1024;
  std::filesystem::remove(page);
}
BENCHMARK(BM_ReportPage)
    ->Args({100000, 5000})
    ->Args({100000, 100000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace obrint::cli
