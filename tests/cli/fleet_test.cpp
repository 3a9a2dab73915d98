// Flashing several virtual headsets at once: each headset's traffic is a single run's, a fault
// stays with its headset, a write goes only to a boot firmware that is positively its headset's,
// records reach the log as each run ends, and the exit status ranks the headsets' outcomes.
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <thread>

#include "sim/sim_host.h"
#include "engine/signals.h"
#include "cli_harness.h"
#include "device/sha256.h"
#include "native/reference.h"
#include "record_schema.h"
#include "sim/fleet_sim.h"

namespace obrint::cli::testing {
namespace {

sim::Headset Member(unsigned unit, sim::Firmware startIn = sim::Firmware::kApplication) {
  sim::HeadsetConfig config;
  config.unit = static_cast<std::uint16_t>(unit);
  config.mcuId[0] = static_cast<std::uint8_t>(unit);
  config.startIn = startIn;
  return sim::Headset(config);
}

// What the headset was sent, in order.
std::vector<Bytes> Sets(const sim::Headset& headset) {
  std::vector<Bytes> sets;
  for (const sim::TransferRecord& r : headset.log()) {
    if (r.direction == sim::TransferRecord::Direction::kSet) sets.push_back(r.bytes);
  }
  return sets;
}

bool Untouched(const sim::Headset& headset) {
  return std::none_of(headset.log().begin(), headset.log().end(), [](const auto& r) {
    return r.direction == sim::TransferRecord::Direction::kSet;
  });
}

int Begins(const sim::Headset& headset) {
  return static_cast<int>(std::count_if(headset.log().begin(), headset.log().end(), [](auto& r) {
    return r.direction == sim::TransferRecord::Direction::kSet && r.reportId == 0x61 &&
           r.bytes[3] == 0x5A;
  }));
}

// Unit 0: a boot firmware that is no target of the run, on a port of its own. Units 1..n: the
// targets.
class FleetTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp(unsigned targets, bool ports, sim::PathScheme paths = sim::PathScheme::kPerHeadset,
             bool stray = true) {
    std::vector<sim::FleetMember> members;
    if (stray) members.push_back({Member(0, sim::Firmware::kBoot), ports ? "1-1" : ""});
    for (unsigned unit = 1; unit <= targets; ++unit) {
      members.push_back({Member(unit), ports ? "1-2." + std::to_string(unit) : ""});
    }
    fleet = std::make_shared<sim::VirtualFleet>(std::move(members), paths);
    host = sim::MakeHost(fleet, false);
    first = stray ? 1 : 0;
  }
  std::vector<HeadsetRecord> Flash() {
    std::vector<Target> targets;
    Result<std::vector<Target>> found = SelectHeadsets(host->bus(), Selection{});
    for (Target& target : *found) {
      if (target.interface.firmware() == FirmwareKind::kApplication) targets.push_back(target);
    }
    image = LoadImage(imagePath).operator*();
    FleetSetup setup{*host, image, signals};
    setup.store = log ? &*log : nullptr;
    setup.observer = &hooks;
    Fleet run(std::move(setup));
    std::vector<HeadsetRecord> records = run.Flash(targets);
    strays = run.strays();
    EXPECT_EQ(fleet->leaseBreaches(), 0) << "an interface opened under another thread's lease";
    return records;
  }
  sim::Headset& Headset(unsigned unit) { return fleet->headset(unit - 1 + first); }

  ScratchDir dir;
  std::string imagePath = dir.File("demo.bin");
  LoadedImage image;
  SignalWatch signals;
  std::shared_ptr<sim::VirtualFleet> fleet;
  std::unique_ptr<Host> host;
  std::optional<LogFile> log;
  Hooks hooks;
  std::vector<HidInterface> strays;
  unsigned first = 1;

  void SetUp() override { WriteBytes(imagePath, MakeSampleImage(kMinWholeBlockSize + 61)); }
};

// By port and, where none is told, by turns: each headset's traffic is what it sees when it is
// flashed alone, whatever the others do meanwhile, and the stray boot firmware gets nothing.
TEST_P(FleetTest, EachHeadsetSeesASingleRun) {
  SetUp(1, GetParam());
  const HeadsetRecord alone = Flash().front();
  ASSERT_EQ(alone.outcome(), RunOutcome::kFlashed) << alone.reason();
  const std::vector<Bytes> single = Sets(Headset(1));
  SetUp(4, GetParam());
  const std::vector<HeadsetRecord> records = Flash();
  ASSERT_EQ(records.size(), 4u);
  for (unsigned unit = 1; unit <= 4; ++unit) {
    SCOPED_TRACE(unit);
    EXPECT_EQ(records[unit - 1].outcome(), RunOutcome::kFlashed) << records[unit - 1].reason();
    EXPECT_EQ(Headset(unit).flashed(), image.bytes);
    EXPECT_TRUE(Sets(Headset(unit)) == single) << "the packets of a run alone";
  }
  EXPECT_TRUE(Untouched(fleet->headset(0)));
  ASSERT_EQ(strays.size(), 1u);
  EXPECT_EQ(strays[0].path, fleet->headset(0).interfacePath());
  EXPECT_EQ(WorstExitCode(records), ExitCode::kSuccess);
}

// One headset's fault ends its own run with its own reason and status; the others are flashed.
// The reason tells where the headset was left, and what to do with it.
TEST_P(FleetTest, AFaultStaysWithItsHeadset) {
  struct Case {
    std::function<void(sim::Headset&)> inject;
    RunOutcome outcome;
    ExitCode code;
    const char* state;  // in the reason
  };
  const auto fault = [](auto change) { return [change](sim::Headset& h) { change(h.faults()); }; };
  const char* const kNewFlash = "waits in its boot firmware and needs a new flash";
  const Case cases[] = {
      {fault([](auto& f) { f.wrongSumForBlock = 5; }), RunOutcome::kFailed,
       ExitCode::kVerificationFailed, kNewFlash},
      {fault([](auto& f) { f.wrongTotal = true; }), RunOutcome::kFailed,
       ExitCode::kVerificationFailed, kNewFlash},
      {fault([](auto& f) { f.staysAwayAfterRestart = true; }), RunOutcome::kFailed,
       ExitCode::kNoDevice, "nothing was written: plug it in again and flash it again"},
      {fault([](auto& f) { f.staysAwayAfterReboot = true; }), RunOutcome::kNotBack,
       ExitCode::kNoDevice, "the image is written and verified: plug it in again"},
      {fault([](auto& f) { f.vanishAfterTransfer = 30; }), RunOutcome::kFailed, ExitCode::kNoDevice,
       "waits in its boot firmware for a new flash"},
      {fault([](auto& f) { f.refusedReports = {0x61}; }), RunOutcome::kFailed,
       ExitCode::kDeviceRefused, kNewFlash},
  };
  for (const Case& c : cases) {
    SetUp(3, GetParam());
    c.inject(Headset(2));
    const std::vector<HeadsetRecord> records = Flash();
    SCOPED_TRACE(static_cast<int>(c.code));
    EXPECT_EQ(records[1].outcome(), c.outcome);
    EXPECT_EQ(records[1].exitStatus(), static_cast<int>(c.code));
    EXPECT_NE(records[1].reason().find(c.state), std::string::npos) << records[1].reason();
    for (unsigned unit : {1u, 3u}) {
      EXPECT_EQ(records[unit - 1].outcome(), RunOutcome::kFlashed) << records[unit - 1].reason();
      EXPECT_EQ(Headset(unit).flashed(), image.bytes);
    }
    EXPECT_EQ(WorstExitCode(records), c.code);
  }
}

// A write goes only to a boot firmware that is the headset's own: never to the path it had
// before its restart (which Linux soon gives to another interface), and by turns never to a late
// boot firmware of another headset. The faults go to the headsets in the order their workers
// restart them: "first" restarts first.
TEST(FleetIdentityTest, NoHeadsetIsWrittenThatIsNotPositivelyItsWorkers) {
  struct Case {
    const char* name;
    bool ports;
    bool neverBack, late, noMcuId;  // of the first; no MCU ID: both boot firmwares
    unsigned secondRestartMs;
    RunOutcome first, second;
    std::vector<int> begins;  // the Begin packets the first and the second got
  };
  // clang-format off
  const Case cases[] = {
      {"never back, its path reused", true, true, false, false, 500,
       RunOutcome::kFailed, RunOutcome::kFlashed, {0, 1}},
      {"never back, by turns", false, true, false, false, 500,
       RunOutcome::kFailed, RunOutcome::kFlashed, {0, 1}},
      {"late, told by its MCU ID", false, false, true, false, 500,
       RunOutcome::kFailed, RunOutcome::kFlashed, {0, 1}},
      {"late and alone, no MCU ID", false, false, true, true, 4000,
       RunOutcome::kFailed, RunOutcome::kFailed, {0, 0}},
      {"no MCU ID, one at a time", false, false, false, true, 500,
       RunOutcome::kFlashed, RunOutcome::kFlashed, {1, 1}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir.File("demo.bin");
    WriteBytes(path, MakeSampleImage(kMinWholeBlockSize));
    std::vector<sim::FleetMember> members;
    for (unsigned unit = 1; unit <= 2; ++unit) {
      members.push_back({Member(unit), c.ports ? "1-2." + std::to_string(unit) : ""});
      members.back().headset.config().bootGivesMcuId = !c.noMcuId;
    }
    auto fleet =
        std::make_shared<sim::VirtualFleet>(std::move(members), sim::PathScheme::kReusedNodes);
    const std::unique_ptr<Host> host = sim::MakeHost(fleet, false);
    const LoadedImage image = *LoadImage(path);
    SignalWatch signals;
    FleetSetup setup{*host, image, signals};
    setup.timeoutMs = 3000;
    std::vector<std::size_t> order;  // the targets, as their workers restart them
    Hooks hooks;
    setup.observer = &hooks;
    hooks.progress = [&](std::size_t target, RunStage stage, std::uint32_t, std::uint32_t) {
      if (stage != RunStage::kRestarting) return;
      sim::Headset& headset = fleet->headset(target);
      if (order.empty()) {
        headset.faults().staysAwayAfterRestart = c.neverBack;
        headset.faults().bootWaitsForAnother = c.late;
      } else {
        headset.config().restartMs = c.secondRestartMs;
      }
      order.push_back(target);
    };
    Fleet run(std::move(setup));
    const std::vector<HeadsetRecord> records = run.Flash(*SelectHeadsets(host->bus(), {}));
    ASSERT_EQ(order.size(), 2u);
    const HeadsetRecord& first = records[order[0]];
    const HeadsetRecord& second = records[order[1]];
    EXPECT_EQ(first.outcome(), c.first) << first.reason();
    EXPECT_EQ(second.outcome(), c.second) << second.reason();
    EXPECT_EQ(
        (std::vector<int>{Begins(fleet->headset(order[0])), Begins(fleet->headset(order[1]))}),
        c.begins);
    for (std::size_t i : order) {
      EXPECT_EQ(fleet->headset(i).flashed() == image.bytes,
                records[i].outcome() == RunOutcome::kFlashed);
    }
    EXPECT_EQ(fleet->leaseBreaches(), 0);
  }
}

// By turns, the check for a headset's return passes over the interface of one that waits for its
// turn: the first comes back late from its reboot (so it is looked for before it is back), and
// reboots once the third waits with its interface kept; the second holds its turn meanwhile.
TEST_F(FleetTest, TheReturnCheckPassesOverAHeadsetWaitingForItsTurn) {
  SetUp(3, false, sim::PathScheme::kPerHeadset, false);
  Headset(1).config().restartMs = 3000;
  std::mutex mutex;
  std::condition_variable ended;
  bool firstEnded = false;
  hooks.ended = [&](std::size_t target, const HeadsetRecord&) {
    const std::lock_guard lock(mutex);
    firstEnded = firstEnded || target == 0;
    ended.notify_all();
  };
  const std::string third = Headset(3).interfacePath();
  hooks.step = [&, third](std::size_t target, const UpgradeEvent& event) {
    for (int i = 0; i < 500 && target == 0 && event.step == UpgradeStep::kRebooting &&
                    !host->bus().leases().HeldByOther(third);
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::unique_lock lock(mutex);
    if (target != 1 || event.step != UpgradeStep::kBootFound) return;
    ended.wait_for(lock, std::chrono::seconds(5), [&] { return firstEnded; });
  };
  const std::vector<HeadsetRecord> records = Flash();
  for (const HeadsetRecord& record : records) {
    EXPECT_EQ(record.outcome(), RunOutcome::kFlashed) << record.reason();
  }
}

TEST_P(FleetTest, AfterCtrlCNoHeadsetStarts) {
  SetUp(2, GetParam());
  SignalWatch::Raise(SIGINT);
  for (const HeadsetRecord& record : Flash()) {
    EXPECT_EQ(record.outcome(), RunOutcome::kNotStarted);
    EXPECT_EQ(record.exitStatus(), static_cast<int>(ExitCode::kInterrupted));
  }
  EXPECT_TRUE(Untouched(Headset(1)) && Untouched(Headset(2)));
}

// A headset's record is in the log, made to last, while another headset is still being flashed;
// and what is written is the image as it was read, whatever becomes of its file meanwhile.
TEST_P(FleetTest, EachRecordReachesTheLogAsItsRunEnds) {
  SetUp(2, GetParam(), sim::PathScheme::kPerHeadset, false);
  const std::string logPath = dir.File("fleet.log");
  log.emplace(*LogFile::Open(logPath));
  std::size_t linesSeen = 0;
  hooks.confirm = [&](std::size_t target) {
    WriteBytes(imagePath, MakeSampleImage(kDefaultSampleSize, 99));
    // The second waits at its question until the first one's record is in the file.
    for (int i = 0; target == 1 && i < 500 && linesSeen == 0; ++i) {
      const Bytes bytes = ReadBytes(logPath);
      linesSeen = static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), '\n'));
      if (linesSeen == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  };
  Flash();
  EXPECT_EQ(linesSeen, 1u);
  EXPECT_EQ(Headset(1).flashed(), image.bytes);
  EXPECT_EQ(Headset(2).flashed(), image.bytes);
}

INSTANTIATE_TEST_SUITE_P(ByPortAndByTurns, FleetTest, ::testing::Bool());

TEST(FleetExitCode, TheHeadsetsOutcomesRankFirst) {
  using E = ExitCode;
  const std::vector<std::pair<std::vector<E>, E>> cases = {
      {{E::kSuccess, E::kSuccess}, E::kSuccess},
      {{E::kInterrupted, E::kFileError}, E::kFileError},
      {{E::kFileError, E::kNoDevice, E::kInterrupted}, E::kNoDevice},
      {{E::kNoDevice, E::kDeviceRefused}, E::kDeviceRefused},
      {{E::kDeviceRefused, E::kVerificationFailed, E::kSuccess}, E::kVerificationFailed},
      // Left alone, as no headset could be told apart; and stopped by SIGTERM.
      {{E::kSuccess, E::kUsage, E::kFileError}, E::kUsage},
      {{E::kSuccess, E::kDeclined, static_cast<E>(128 + 15)}, E::kDeclined},
      {{E::kSuccess, static_cast<E>(128 + 15), E::kInterrupted}, static_cast<E>(128 + 15)},
  };
  // A run that ends with each status.
  const std::map<int, Ending> endings = {
      {0, {std::nullopt, RunStage::kDone}},
      {2, {Failure::kSeveralHeadsets, RunStage::kDone}},
      {3, {Failure::kBootNotFound, RunStage::kDone}},
      {4, {Failure::kTransferRefused, RunStage::kDone}},
      {5, {Failure::kBlockMismatch, RunStage::kDone}},
      {6, {Failure::kLogStopped, RunStage::kDone}},
      {7, {Failure::kRebootDeclined, RunStage::kDone}},
      {130, {Failure::kInterrupted, RunStage::kDone}},
      {143, {std::nullopt, RunStage::kFlashing, 15}},
  };
  for (const auto& [codes, worst] : cases) {
    std::vector<HeadsetRecord> records(codes.size());
    for (std::size_t i = 0; i < codes.size(); ++i) {
      records[i].ending = endings.at(static_cast<int>(codes[i]));
      ASSERT_EQ(records[i].exitStatus(), static_cast<int>(codes[i]));
    }
    EXPECT_EQ(WorstExitCode(records), worst);
  }
}

// A turn taken again for a headset whose turn has ended, once no turn is open, waits for none:
// the test ends (it waited for ever on the first of no open ticket).
TEST(FleetTurnTest, ATurnAfterEveryTurnHasEndedWaitsForNone) {
  auto fleet = std::make_shared<sim::VirtualFleet>(std::vector<sim::FleetMember>{{Member(1), ""}});
  RestartTracker tracker(fleet->bus());
  const RestartTracker::Ticket first = tracker.Learn({"a", "", std::nullopt});
  const RestartTracker::Ticket second = tracker.Learn({"b", "", std::nullopt});
  tracker.TakeTurn(first).End();
  tracker.TakeTurn(second).End();
  tracker.TakeTurn(second).End();
}

TEST(FleetCliTest, JsonAndLogCarryOneRecordPerHeadset) {
  ScratchDir dir;
  const std::string image = dir.File("demo.bin");
  const std::string log = dir.File("fleet.log");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  const std::vector<std::string> args = {
      "--sim", "3", "--sim-fault", "3:block-sum", "--json",     "flash", "--all", "--yes",
      "--log", log, "--station",   "bench-7",     "--operator", "Ada",   image};
  RunCliWith(args);
  const CliRun run = RunCliWith(args);
  EXPECT_EQ(run.code, static_cast<int>(ExitCode::kVerificationFailed));
  const auto json = run.Json();
  EXPECT_EQ(json["totals"]["flashed"], 2);
  EXPECT_EQ(json["totals"]["failed"], 1);
  ASSERT_EQ(json["headsets"].size(), 3u);
  EXPECT_EQ(json["headsets"][0]["usb_port"], "1-2.1");
  EXPECT_EQ(json["headsets"][0]["firmware_after"], "0025");
  EXPECT_EQ(json["headsets"][2]["exit_status"], 5);
  EXPECT_EQ(json["headsets"][1]["mcu_id"], "04030202080706050C0B0A09");
  EXPECT_EQ(json["headsets"][1]["station"], "bench-7");
  EXPECT_EQ(json["headsets"][1]["operator"], "Ada");
  EXPECT_EQ(json["headsets"][1]["image_sha256"], Sha256Hex(ReadBytes(image)));

  // Appended: three lines per run, each the record --json gave.
  const Bytes bytes = ReadBytes(log);
  std::istringstream lines(std::string(bytes.begin(), bytes.end()));
  std::vector<nlohmann::json> records;
  for (std::string line; std::getline(lines, line);) records.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(records.size(), 6u);
  for (const auto& record : records) ExpectRecord(record);
  for (const auto& record : json["headsets"]) ExpectRecord(record);
  std::sort(records.begin() + 3, records.end(),
            [](const auto& a, const auto& b) { return a["usb_port"] < b["usb_port"]; });
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(records[3 + i], json["headsets"][i]);

  // The log read back: the yield, and a second run over exactly the headset that failed.
  const CliRun report = RunCliWith({"--json", "report", log});
  EXPECT_EQ(report.Json()["groups"][0]["failed"], 2);
  EXPECT_EQ(RunCliWith({"report", log, dir.File("missing.jsonl")}).code, 6);
  const CliRun folder = RunCliWith({"report", dir.File("")});
  EXPECT_EQ(folder.code, 6) << "a folder is no log";
  EXPECT_EQ(folder.out, "") << "no report of nothing";
  const CliRun again =
      RunCliWith({"--sim", "3", "--json", "flash", "--all", "--yes", "--only-failed", log, image});
  EXPECT_EQ(again.code, 0) << again.err;
  ASSERT_EQ(again.Json()["headsets"].size(), 1u);
  EXPECT_EQ(again.Json()["headsets"][0]["usb_port"], "1-2.3");
  EXPECT_EQ(again.Json()["left_alone"].size(), 2u);
}

}  // namespace
}  // namespace obrint::cli::testing
