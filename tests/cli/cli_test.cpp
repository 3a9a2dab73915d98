// Every command in-process against the virtual headsets: the exit status and --json fields of
// each ending, the flash's question, bar and steps, choosing one headset among several, stamp
// and check agreeing, and a signal ending any command.
#include <gtest/gtest.h>

#include <csignal>

#include "records/failures.h"
#include "engine/signals.h"
#include "cli/command.h"
#include "cli_harness.h"
#include "device/image.h"
#include "native/reference.h"
#include "obrint_version.h"
#include "record_schema.h"

namespace obrint::cli::testing {
namespace {

using nlohmann::json;
using reference::Hex;

constexpr std::array<std::uint8_t, 12> kMcuId = {0x9A, 0x10, 0, 0xF3, 0x42, 7,
                                                 0xC1, 0x5E, 0, 1,    0xFF, 0x80};

class CliTest : public ::testing::Test {
 protected:
  // The headset written to the state file once, then the command with --sim-state.
  CliRun Run(std::vector<std::string> args, const std::string& input = "", bool terminal = false) {
    if (!saved) {
      sim::Headset headset(config);
      if (prepare) prepare(headset);
      const std::string text = headset.Save();
      WriteBytes(state, Bytes(text.begin(), text.end()));
      saved = true;
    }
    for (std::string& arg : args) arg = arg == "IMAGE" ? SampleImage() : arg;
    args.insert(args.begin(), {"--sim-state", state});
    return RunCliWith(args, input, terminal);
  }
  std::string SampleImage(std::uint32_t size = kDefaultSampleSize, std::uint32_t seed = 7) {
    const std::string path = dir.File("image-" + std::to_string(seed) + ".bin");
    WriteBytes(path, MakeSampleImage(size, seed));
    return path;
  }

  ScratchDir dir;
  std::string state = dir.File("headset.txt");
  sim::HeadsetConfig config{.applicationVersion = 0x0031, .bootVersion = 0x0207, .mcuId = kMcuId};
  std::function<void(sim::Headset&)> prepare;
  bool saved = false;
};

struct Ending {
  const char* name;
  std::vector<std::string> args;  // "IMAGE": a sample image
  int code;
  json fields;  // JSON pointers and the values found there
  std::function<void(sim::HeadsetConfig&)> configure;
  std::function<void(sim::Headset&)> prepare;
};

TEST_F(CliTest, EveryEndingHasItsStatusAndFields) {
  const std::string app = sim::Headset(config).interfacePath();
  const auto unplug = [](sim::Headset& h) { h.Unplug(); };
  const auto old = [](sim::HeadsetConfig& c) { c.applicationVersion = 0x0024; };
  const auto boot = [](sim::HeadsetConfig& c) { c.startIn = sim::Firmware::kBoot; };
  const auto faults = [](auto change) { return [change](sim::Headset& h) { change(h.faults()); }; };
  const std::vector<std::string> flash = {"flash", "--yes", "IMAGE"};
  Bytes unstamped = MakeSampleImage(kDefaultSampleSize, 3);
  unstamped[0x9C08] ^= 1;
  WriteBytes(dir.File("unstamped.bin"), unstamped);
  WriteBytes(dir.File("empty.bin"), {});
  WriteBytes(dir.File("plain.bin"), reference::RandomBytes(kDefaultSampleSize, 2));
  WriteBytes(dir.File("large.bin"), Bytes(kMaxImageSize + 1, 0));
  // Without a database client (Windows), --db is refused before any headset is touched.
  const bool clientless = PlatformCommands().empty();
  // clang-format off
  const std::vector<Ending> endings = {
      {"list", {"list"}, 0, {{"/headsets/0/vid", "2833"}, {"/headsets/0/pid", "0021"},
                             {"/headsets/0/path", app}, {"/headsets/0/firmware", "application"},
                             {"/headsets/0/usb_port", "1-2.1"}}},
      {"list boot", {"list"}, 0, {{"/headsets/0/firmware", "boot"}, {"/headsets/0/pid", "0001"}},
       boot},
      {"list none", {"list"}, 3, {{"/status", "no-device"}, {"/ok", false}}, nullptr, unplug},
      {"info", {"info"}, 0, {{"/firmware_version", "0031"}, {"/run_mode", "dk2"},
                             {"/mcu_id", reference::McuIdText(kMcuId)}, {"/path", app}}},
      {"info by pid", {"--pid", "0021", "info"}, 0, {{"/backend", "sim"}}},
      {"info no MCU ID", {"info"}, 4, {{"/firmware_version", "0031"}, {"/mcu_id", ""}},
       nullptr, faults([](auto& f) { f.refusedReports = {0x60}; })},
      {"info not a HID device", {"--device", "/etc/passwd", "info"}, 3, {{"/status", "no-device"}}},
      {"info other product", {"--pid", "0x0099", "info"}, 3, {}},
      {"info other vendor", {"--vid", "1234", "info"}, 3, {}},
      {"info old firmware", {"info"}, 0, {{"/run_mode", ""}}, old},
      {"mode old firmware", {"mode"}, 4, {{"/firmware_version", "0024"}, {"/run_mode", ""}}, old},
      {"mode set old firmware", {"mode", "dk1"}, 4, {}, old},
      {"mode set", {"mode", "dk1"}, 0, {{"/previous", "dk2"}, {"/run_mode", "dk1"},
                                        {"/confirmed", true}}},
      {"mode refused", {"mode", "dk1"}, 4, {}, nullptr,
       faults([](auto& f) { f.failTransfer = 5; })},
      {"mode none", {"mode", "dk2"}, 3, {}, nullptr, unplug},
      {"flash", flash, 0, {{"/boot_firmware_version", "0207"}, {"/firmware_after", "0031"},
                           {"/mcu_id", reference::McuIdText(kMcuId)}, {"/outcome", "flashed"},
                           {"/bytes_sent", kDefaultSampleSize}, {"/image_size", kDefaultSampleSize}}},
      {"flash none", flash, 3, {}, nullptr, unplug},
      {"flash never in boot", flash, 3, {{"/bytes_sent", 0}, {"/outcome", "failed"}}, nullptr,
       faults([](auto& f) { f.staysAwayAfterRestart = true; })},
      {"flash not back", flash, 3, {{"/outcome", "not back"}, {"/firmware_after", ""},
                                    {"/bytes_sent", kDefaultSampleSize}}, nullptr,
       faults([](auto& f) { f.staysAwayAfterReboot = true; })},
      {"flash unplugged", flash, 3, {{"/outcome", "failed"}},
       nullptr, faults([](auto& f) { f.vanishAfterTransfer = 30; })},
      {"flash wrong block", flash, 5, {{"/bytes_sent", 5 * 56}}, nullptr,
       faults([](auto& f) { f.wrongSumForBlock = 5; })},
      {"flash wrong total", flash, 5, {}, nullptr, faults([](auto& f) { f.wrongTotal = true; })},
      {"flash refused", flash, 4, {}, boot, faults([](auto& f) { f.refusedReports = {0x61}; })},
      {"flash missing", {"flash", "--yes", "missing.bin"}, 6,
       {{"/error", "cannot be opened: missing.bin: "}}},
      {"flash a folder", {"flash", "--yes", "."}, 6, {{"/error", "cannot be opened: .: "}}},
      {"flash, log in a missing folder", {"flash", "--yes", "--log", "none/x.log", "IMAGE"}, 6,
       {{"/error", "cannot be opened: none/x.log: "}}},
      {"flash empty", {"flash", "--yes", dir.File("empty.bin")}, 5, {}},
      {"flash too large", {"flash", "--yes", dir.File("large.bin")}, 5, {}},
      {"flash no version block", {"flash", "--yes", dir.File("plain.bin")}, 5, {}},
      {"flash unstamped", {"flash", "--yes", dir.File("unstamped.bin")}, 5, {}},
      {"flash unstamped forced", {"flash", "--yes", "--force", dir.File("unstamped.bin")}, 0, {}},
      {"flash --db without --log", {"flash", "--yes", "--db", "port=1", "IMAGE"}, 2,
       {{"/error", "--db needs --log, which keeps each record until the database has it"}}},
      {"flash --db, a port that is no number", {"flash", "--yes", "--log", dir.File("db.log"),
       "--db", "port=x", "IMAGE"}, clientless ? 8 : 2, {}},
      {"flash --db, the database away", {"flash", "--yes", "--log", dir.File("db.log"), "--db",
       "host=127.0.0.1 port=1", "IMAGE"}, clientless ? 8 : 0, clientless
       ? json{{"/error", "--db: no database client in this obrint-cli; run push on a collector"}}
       : json{{"/database/state", "away"}, {"/database/waiting", 1}, {"/outcome", "flashed"}}},
      {"usage", {"mode", "dk3"}, 2, {{"/status", "usage"}, {"/command", ""}}},
      {"usage vid", {"--vid", "xyz", "info"}, 2, {}},
      {"usage mcu id", {"--mcu-id", "12", "info"}, 2, {}},
      {"usage timeout", {"flash", "--timeout", "1.9", "x.bin"}, 2, {}},
      {"usage max", {"station", "--max", "0", "x.bin"}, 2, {{"/error", "--max: N is 1 or more"}}},
      {"unknown command", {"flsh", "x.bin"}, 2,
       {{"/error", "flsh is no command; the nearest is flash"}}},
  };
  // clang-format on
  const sim::HeadsetConfig defaults = config;
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.name);
    config = defaults;
    if (e.configure) e.configure(config);
    prepare = e.prepare;
    saved = false;
    std::vector<std::string> args = e.args;
    args.insert(args.begin(), "--json");
    const CliRun run = Run(args);
    EXPECT_EQ(run.code, e.code) << run.err;
    const json out = run.Json();
    EXPECT_EQ(out["exit_code"], e.code);
    for (const auto& [pointer, value] : e.fields.items()) {
      const json& got = out[json::json_pointer(pointer)];
      // The system's reason follows, in the system's language.
      if (value.is_string() && value.get<std::string>().ends_with(": ")) {
        const std::string text = got.get<std::string>(), prefix = value.get<std::string>();
        EXPECT_TRUE(text.starts_with(prefix) && text.size() > prefix.size() + 2) << text;
      } else {
        EXPECT_EQ(got, value) << pointer;
      }
    }
    if (e.args.front() == "flash" && out.contains("outcome")) {
      json record = out;
      for (const char* key :
           {"command", "ok", "exit_code", "status", "backend", "error", "database"}) {
        record.erase(key);
      }
      ExpectRecord(record);
    }
    if (e.code == 5 && !e.prepare && e.args.front() == "flash") {
      EXPECT_TRUE(LoadHeadset(state).log().empty()) << "refused before the headset is touched";
    }
  }
}

TEST_F(CliTest, FlashAsksBeforeTheRebootShowsProgressAndItsSteps) {
  const std::string image = SampleImage(kMinWholeBlockSize + 1);
  const CliRun yes = Run({"flash", image}, "y\n", true);
  EXPECT_EQ(yes.code, 0) << yes.err;
  EXPECT_NE(yes.err.find("Reboot the headset"), std::string::npos);
  EXPECT_NE(yes.err.find("] 50% "), std::string::npos);
  EXPECT_EQ(LoadHeadset(state).flashed(), ReadBytes(image));

  const std::string other = SampleImage(kMinWholeBlockSize + 3, 8);
  const CliRun no = Run({"--json", "flash", other}, "n\n", true);
  EXPECT_EQ(no.code, 7);
  EXPECT_EQ(no.err.find('%'), std::string::npos) << "no bar with --json";
  EXPECT_EQ(Run({"flash", other}, "", true).code, 7) << "no answer is no";
  saved = false;
  const CliRun refused = Run({"flash", "--all", other}, "y\n");
  EXPECT_EQ(refused.code, 2) << "no terminal to answer on, no --yes";
  EXPECT_TRUE(LoadHeadset(state).log().empty()) << "refused before the headset is touched";

  // -v: each step of the run; -q: nothing but the errors.
  saved = false;
  const CliRun verbose = Run({"-v", "flash", "--yes", other});
  EXPECT_EQ(verbose.code, 0) << verbose.err;
  std::size_t at = 0;
  for (const char* step : {"restarting", "boot firmware found at \\\\.\\hid#vid_2833&pid_0001",
                           "Begin", "10 % sent", "50 % sent", "100 % sent", "Finish",
                           "image total 0x", "Reboot", "back in its application firmware 0031"}) {
    at = verbose.err.find(step, at);
    EXPECT_NE(at, std::string::npos) << step << " in order, in\n" << verbose.err;
  }
  const CliRun quiet = Run({"-q", "flash", "--yes", dir.File("missing.bin")});
  EXPECT_TRUE(quiet.out.empty());
  EXPECT_NE(quiet.err.find("cannot be opened"), std::string::npos);
  EXPECT_TRUE(Run({"-q", "flash", "--yes", other}).err.empty());

  config.restartMs = 4500;  // past the window's one search at 2000 ms
  saved = false;
  EXPECT_EQ(Run({"flash", "--yes", other}).code, 0)
      << "looked for every 100 ms after the first 2000";
}

// Several headsets attached: a command for one refuses and lists them; --port and --mcu-id pick.
TEST_F(CliTest, OneHeadsetAmongSeveralIsChosenNeverGuessed) {
  const std::string image = SampleImage();
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string mcuId;  // the one chosen
  };
  // clang-format off
  const Case cases[] = {
      {{"info"}, 2, ""},
      {{"--port", "1-2.2", "info"}, 0, "04030202080706050C0B0A09"},
      {{"--mcu-id", "04030203080706050C0B0A09", "info"}, 0, "04030203080706050C0B0A09"},
      {{"--port", "1-2.9", "info"}, 3, ""},
      {{"--port", "1-2.1", "--port", "1-2.3", "info"}, 2, ""},
      {{"mode"}, 2, ""},
      {{"flash", "--yes", image}, 2, ""},
      {{"--port", "1-2.3", "flash", "--yes", image}, 0, "04030203080706050C0B0A09"},
      {{"--port", "1-2.2", "flash", "--all", "--yes", image}, 0, "04030202080706050C0B0A09"},
      {{"--port", "1-2.9", "--port", "1-2.2", "flash", "--all", "--yes", image}, 0,
       "04030202080706050C0B0A09"},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::vector<std::string> args = {"--sim", "3", "--json"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const CliRun run = RunCliWith(args);
    EXPECT_EQ(run.code, c.code) << run.err;
    const json out = run.Json();
    if (c.code != 0) {
      EXPECT_NE(run.err.find("1-2.3"), std::string::npos) << "they are listed";
    }
    if (c.mcuId.empty()) continue;
    if (out.contains("headsets")) {
      ASSERT_EQ(out["headsets"].size(), 1u) << "a subset";
      EXPECT_EQ(out["headsets"][0]["mcu_id"], c.mcuId);
    } else {
      EXPECT_EQ(out["mcu_id"], c.mcuId);
    }
  }
}

TEST_F(CliTest, StampAndCheckAgree) {
  Bytes image = reference::StampableImage(kDefaultSampleSize, 3);
  const std::string path = dir.File("fresh.bin");
  WriteBytes(path, image);
  EXPECT_EQ(RunCliWith({"check", path}).code, 5);
  const CliRun stamp = RunCliWith({"--json", "stamp", path});
  ASSERT_EQ(stamp.code, 0) << stamp.err;
  EXPECT_EQ(stamp.Json()["image_checksum"], "0x" + Hex(reference::ImageChecksum(image), 8));
  EXPECT_EQ(ReadBytes(path).size(), image.size());
  const CliRun check = RunCliWith({"--json", "check", path});
  EXPECT_EQ(check.code, 0) << check.err;
  EXPECT_EQ(check.Json()["stored_checksum"], stamp.Json()["image_checksum"]);

  // Stamped twice: the old checksum is summed in, and check refuses it.
  const CliRun again = RunCliWith({"--json", "stamp", path});
  EXPECT_EQ(again.Json()["previous_checksum"], stamp.Json()["image_checksum"]);
  EXPECT_NE(again.err.find("warning"), std::string::npos);
  EXPECT_EQ(RunCliWith({"check", path}).code, 5);

  // A file that ends inside the checksum field keeps its length.
  image.resize(0x9C0A);
  WriteBytes(path, image);
  const CliRun cut = RunCliWith({"--json", "stamp", path});
  EXPECT_EQ(cut.code, 0);
  EXPECT_EQ(cut.Json()["image_checksum"],
            "0x0000" + Hex(reference::ImageChecksum(image) & 0xFFFF, 4));
  EXPECT_EQ(ReadBytes(path).size(), 0x9C0Au);
  EXPECT_EQ(RunCliWith({"check", path}).code, 5);

  // The transfer's limit, at its edge.
  for (const std::uint32_t size : {65535, 65536}) {
    WriteBytes(path, reference::StampableImage(size, 5));
    ASSERT_EQ(RunCliWith({"stamp", path}).code, 0);
    EXPECT_EQ(RunCliWith({"check", path}).code, size == 65535 ? 0 : 5) << size;
  }
  WriteBytes(path, Bytes(kStampBufferSize + 1, 0));
  EXPECT_EQ(RunCliWith({"stamp", path}).code, 5);
  const Bytes plain = reference::RandomBytes(0x9C10, 1);
  WriteBytes(path, plain);
  EXPECT_EQ(RunCliWith({"stamp", path}).code, 5);
  EXPECT_EQ(ReadBytes(path), plain) << "refused, untouched";
  EXPECT_EQ(RunCliWith({"stamp", dir.File("none.bin")}).code, 6);
}

TEST_F(CliTest, ABrokenStateFileIsAFileErrorAndStaysAsItWas) {
  WriteBytes(state, Bytes{'n', 'o', '\n'});
  saved = true;
  EXPECT_EQ(Run({"info"}).code, 6);
  EXPECT_EQ(ReadBytes(state), (Bytes{'n', 'o', '\n'}));
}

// The signal comes while the command runs, as its first output goes out (and is dropped).
struct SignalOnOutput : std::streambuf {
  explicit SignalOnOutput(int signal) : signal(signal) {}
  int_type overflow(int_type c) override {
    if (signal) engine::SignalWatch::Raise(std::exchange(signal, 0));
    return c;
  }
  int signal;
};

TEST(CliSignalTest, ASignalEndsEveryCommand) {
  ScratchDir dir;
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"obrint-cli", "--sim", "list"}, SIGTERM},
      {{"obrint-cli", "--sim", "info"}, 1},  // a hang-up: SIGHUP, or the console closed
      {{"obrint-cli", "--sim", "mode"}, SIGINT},
      {{"obrint-cli", "sample-image", dir.File("demo.bin")}, SIGINT},
  };
  for (const auto& [args, signal] : cases) {
    SignalOnOutput buffer(signal);
    std::ostream out(&buffer);
    std::ostringstream err;
    std::istringstream in;
    EXPECT_EQ(RunCli(args, {out, err, in}), 128 + signal) << args[2];
    EXPECT_NE(err.str().find("stopped by signal " + std::to_string(signal)), std::string::npos);
  }
}

TEST(CliVersion, TheOneVersion) {
  const CliRun run = RunCliWith({"--version"});
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(run.out, "obrint-cli " OBRINT_VERSION_TEXT "\n");
}

}  // namespace
}  // namespace obrint::cli::testing
