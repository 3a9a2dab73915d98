// The station against the virtual fleet on held virtual time: never the same headset twice (back
// after its reboot, flashed with this image before, arrived in its boot firmware), an unplug in
// the middle of the transfer, arrivals while others are flashed, and each record in the log
// before its run is told ended.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "sim/sim_host.h"
#include "engine/signals.h"
#include "cli_harness.h"
#include "engine/station.h"
#include "record_schema.h"
#include "sim/fleet_sim.h"
#include "sim/plug_script.h"

namespace obrint::cli::testing {
namespace {

using nlohmann::json;

// Every JSON line on stdout, the last being the command's own.
std::vector<json> Lines(const CliRun& run) {
  std::vector<json> lines;
  std::istringstream out(run.out);
  for (std::string line; std::getline(out, line);) lines.push_back(json::parse(line));
  return lines;
}

// "start 1-2.1", "done 1-2.1 flashed", "skip 1-2.1 not this station's", ...: what the station
// told, in order.
std::vector<std::string> Story(const std::vector<json>& lines) {
  std::vector<std::string> story;
  for (const json& line : lines) {
    const std::string event = line.value("event", "");
    if (event == "progress" || event == "stop" || event.empty()) continue;
    std::string told = event + " " + line["usb_port"].get<std::string>();
    if (line.contains("record")) (told += ' ') += line["record"]["outcome"].get<std::string>();
    if (event == "skip") (told += ' ') += line["reason"].get<std::string>();
    story.push_back(told);
  }
  return story;
}

struct Case {
  const char* name;
  std::string script;             // --sim-plug-file
  std::vector<std::string> args;  // before IMAGE
  std::vector<std::string> story;
  int code;
  std::string reason = {};  // of the last record
};

TEST(StationTest, NeverTheSameHeadsetTwice) {
  ScratchDir dir;
  const std::string image = dir.File("demo.bin"), log = dir.File("station.log");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  // clang-format off
  const Case cases[] = {
      // Headset 1 comes back from its reboot while the station runs on: done, even with --again.
      {"back after its reboot", "0 plug 1\n60000 plug 2\n", {"--again", "--max", "2"},
       {"arrival 1-2.1", "start 1-2.1", "done 1-2.1 flashed", "arrival 1-2.2", "start 1-2.2",
        "done 1-2.2 flashed"}, 0},
      {"flashed before, in the log", "0 plug 1\n", {"--max", "1"},
       {"arrival 1-2.1", "skip 1-2.1 already flashed with this image"}, 0},
      {"flashed before, --again", "0 plug 1\n", {"--max", "1", "--again"},
       {"arrival 1-2.1", "start 1-2.1", "done 1-2.1 flashed"}, 0},
      // Pulled out, then plugged in again: the station's own record tells it is done.
      {"flashed by this station, plugged again", "0 plug 2\n20000 unplug 2\n30000 plug 2\n",
       {"--max", "2"},
       {"arrival 1-2.2", "start 1-2.2", "done 1-2.2 flashed", "unplug 1-2.2", "arrival 1-2.2",
        "skip 1-2.2 already flashed with this image"}, 0},
      // Another station's headsets on the same hub: told, never flashed, never recorded.
      {"--port", "0 plug 1\n1000 plug 2\n", {"--port", "1-2.2", "--max", "1"},
       {"skip 1-2.1 not this station's", "arrival 1-2.2", "start 1-2.2", "done 1-2.2 flashed"}, 0},
      {"--port twice", "0 plug 1\n60000 plug 2\n",
       {"--port", "1-2.2", "--port", "1-2.1", "--again", "--max", "2"},
       {"arrival 1-2.1", "start 1-2.1", "done 1-2.1 flashed", "arrival 1-2.2", "start 1-2.2",
        "done 1-2.2 flashed"}, 0},
      {"--mcu-id", "0 plug 1\n1000 plug 2 boot\n",
       {"--mcu-id", "04030201080706050C0B0A09", "--max", "1", "--again"},
       {"arrival 1-2.1", "start 1-2.1", "skip 1-2.2 not this station's", "done 1-2.1 flashed"}, 0},
      {"in its boot firmware", "0 plug 2 boot\n", {"--max", "1"},
       {"arrival 1-2.2", "needs_recovery 1-2.2", "done 1-2.2 failed"}, 3,
       "needs recovery: it arrived in its boot firmware and waits there for a new flash; it was "
       "left alone (--recover flashes it)"},
      {"in its boot firmware, --recover", "0 plug 2 boot\n", {"--max", "1", "--recover"},
       {"arrival 1-2.2", "start 1-2.2", "done 1-2.2 flashed"}, 0},
      // Pulled out at 3 s, in the middle of the transfer; back in its boot firmware at 5 s.
      {"unplugged mid-transfer", "0 plug 2\n3000 unplug 2\n5000 plug 2\n", {"--max", "2"},
       {"arrival 1-2.2", "start 1-2.2", "done 1-2.2 failed", "unplug 1-2.2", "arrival 1-2.2",
        "needs_recovery 1-2.2", "done 1-2.2 failed"}, 3,
       "needs recovery: it arrived in its boot firmware and waits there for a new flash; it was "
       "left alone (--recover flashes it)"},
      // A headset in its boot firmware arrives while another is flashed, which is pulled out and
      // plugged in again in its boot firmware just as its run ends.
      {"pulled out and back while another waits", "0 plug 2\n1500 plug 1 boot\n3000 unplug 2\n"
       "5000 plug 2\n", {"--max", "3"},
       {"arrival 1-2.2", "start 1-2.2", "arrival 1-2.1", "needs_recovery 1-2.1",
        "done 1-2.1 failed", "done 1-2.2 failed", "unplug 1-2.2", "arrival 1-2.2",
        "needs_recovery 1-2.2", "done 1-2.2 failed"}, 3},
  };
  // clang-format on
  // Headset 1 is in the log, flashed with this image, after lines that are no record of ours:
  // what a power cut leaves among them too, a megabyte of NUL bytes.
  const std::string flashedLog = dir.File("flashed.log");
  const std::string noRecords =
      "{\"outcome\": 5, \"mcu_id\": []}\nnot json\n" + std::string(1 << 20, '\0') + "\n";
  WriteBytes(flashedLog, Bytes(noRecords.begin(), noRecords.end()));
  ASSERT_EQ(
      RunCliWith({"--sim", "--sim-plug", "0", "station", "--max", "1", "--log", flashedLog, image})
          .code,
      0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteBytes(log, ReadBytes(flashedLog));
    const std::string script = dir.File("plugs.txt");
    WriteBytes(script, Bytes(c.script.begin(), c.script.end()));
    std::vector<std::string> args = {"--sim", "2", "--sim-plug-file", script, "station",
                                     "--log", log};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(image);
    const CliRun run = RunCliWith(args);
    const std::vector<json> lines = Lines(run);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_NE(run.err.find(": 3 lines that are no records were passed over"), std::string::npos);
    EXPECT_EQ(Story(lines), c.story) << run.out;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["exit_code"], c.code);
    for (const json& line : lines) {
      if (line.contains("record")) ExpectRecord(line["record"]);
    }
    const auto last = std::find_if(lines.rbegin(), lines.rend(),
                                   [](const json& l) { return l.contains("record"); });
    if (!c.reason.empty() && last != lines.rend()) {
      EXPECT_EQ((*last)["record"]["reason"], c.reason);
    }
  }
  // Needs recovery is a failure: flash --all --only-failed reflashes the headset.
  const CliRun again =
      RunCliWith({"--sim", "2", "--json", "flash", "--all", "--yes", "--only-failed", log, image});
  EXPECT_EQ(again.code, 0) << again.err;
  EXPECT_EQ(again.Json()["headsets"].size(), 2u);
}

TEST(StationTest, PlugScriptsReadAsWritten) {
  std::string problem;
  const auto steps =
      sim::ParsePlugScript("# two\n1500 plug 2 boot\n0 plug 1\n4000 unplug 2", 2, problem);
  ASSERT_TRUE(steps) << problem;
  ASSERT_EQ(steps->size(), 3u);
  EXPECT_EQ((*steps)[0].atMs, 0u);
  EXPECT_EQ((*steps)[1].firmware, sim::Firmware::kBoot);
  EXPECT_FALSE((*steps)[2].plug);
  for (const char* wrong : {"10 plug 3", "10 plug 0", "plug 1", "10 unplug 1 boot", "10 pull 1",
                            "-5 plug 1", "10 plug 1 bios"}) {
    EXPECT_FALSE(sim::ParsePlugScript(wrong, 2, problem)) << wrong;
    EXPECT_NE(problem.find("line 1"), std::string::npos);
  }
}

// In-process over a fleet the test can look at: three headsets plugged 1.5 s apart are flashed
// at once, each with exactly the packets of a run alone, and no interface is opened under another
// thread's lease; each record is in the log before the station tells its run ended, while the
// others still run.
TEST(StationTest, ArrivalsWhileOthersAreFlashed) {
  ScratchDir dir;
  const std::string imagePath = dir.File("demo.bin"), logPath = dir.File("station.log");
  WriteBytes(imagePath, MakeSampleImage(kDefaultSampleSize));
  const LoadedImage image = *LoadImage(imagePath);
  const auto sets = [](const sim::Headset& headset) {
    std::vector<Bytes> sets;
    for (const sim::TransferRecord& r : headset.log()) {
      if (r.direction == sim::TransferRecord::Direction::kSet) sets.push_back(r.bytes);
    }
    return sets;
  };
  std::vector<std::vector<Bytes>> alone;
  // By port, and by turns where no port is told.
  for (const auto& setting : {std::pair{true, 1u}, {true, 3u}, {false, 3u}}) {
    const bool ports = setting.first;
    const unsigned count = setting.second;
    SCOPED_TRACE(ports);
    const auto row = [ports](unsigned unit) {
      return (ports ? "1-2." : "#") + std::to_string(unit + 1);
    };
    std::vector<sim::FleetMember> members;
    for (unsigned unit = 0; unit < count; ++unit) {
      sim::HeadsetConfig config;
      config.unit = static_cast<std::uint16_t>(unit);
      config.mcuId[0] = static_cast<std::uint8_t>(unit);
      members.push_back({sim::Headset(config), ports ? row(unit) : ""});
    }
    auto fleet = std::make_shared<sim::VirtualFleet>(std::move(members));
    const std::unique_ptr<Host> host =
        sim::MakeHost(fleet, false, sim::PlugInTurn(count, ports ? 1500 : 0));
    std::unique_ptr<ArrivalWatch> watch = host->WatchArrivals();
    SignalWatch signals;
    std::optional<LogFile> log(*LogFile::Open(logPath));
    Hooks hooks;
    FleetSetup setup{*host, image, signals, {}, 10000, &*log, &hooks};
    // By turns, the second is held in its transfer until the first's end has been told, and the
    // station has looked for the first among the headsets attached.
    std::atomic<bool> firstDone = false;
    hooks.step = [&](std::size_t run, const UpgradeEvent& event) {
      if (ports || run != 1 || event.step != UpgradeStep::kBegin) return;
      for (int i = 0; i < 200 && !firstDone; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    };
    std::vector<std::string> story;
    StationRules rules;
    rules.maxHeadsets = count;
    rules.again = true;
    Station station(std::move(setup), rules, [&](const StationEvent& event) {
      if (event.kind == StationEvent::Kind::kStart) story.push_back("start " + event.row);
      if (event.kind != StationEvent::Kind::kDone) return;
      story.push_back("done " + event.row);
      firstDone = firstDone || event.run == 0;
      const Bytes bytes = ReadBytes(logPath);
      std::istringstream text(std::string(bytes.begin(), bytes.end()));
      const std::string told = RecordJson(RunSetting{}, *event.record).dump();
      bool logged = false;
      for (std::string line; std::getline(text, line);) logged = logged || line == told;
      EXPECT_TRUE(logged) << "in the log before it is told: " << told;
    });
    for (const HeadsetRecord& record : station.Run(*watch)) {
      EXPECT_EQ(record.outcome(), RunOutcome::kFlashed) << record.reason();
    }
    if (count == 1) {
      alone.push_back(sets(fleet->headset(0)));
      continue;
    }
    // Each arrived while the one before was being flashed; once the last is plugged in their
    // virtual times run apart, and so may the order of their ends.
    ASSERT_EQ(story.size(), 6u);
    EXPECT_EQ(std::vector(story.begin(), story.begin() + 3),
              (std::vector<std::string>{"start " + row(0), "start " + row(1), "start " + row(2)}));
    for (unsigned unit = 0; unit < count; ++unit) {
      EXPECT_EQ(fleet->headset(unit).flashed(), image.bytes);
      EXPECT_TRUE(sets(fleet->headset(unit)) == alone.front()) << "the packets of a run alone";
    }
    EXPECT_EQ(fleet->leaseBreaches(), 0) << "an interface opened under another thread's lease";
  }
}

}  // namespace
}  // namespace obrint::cli::testing
