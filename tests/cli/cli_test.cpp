// Every subcommand in-process against the virtual headset: the exit status and --json fields of
// each ending, the flash's questions, bar and waits, and stamp and check agreeing.
#include <gtest/gtest.h>

#include "cli/exit_codes.h"
#include "cli/image_check.h"
#include "cli_harness.h"
#include "native/reference.h"

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
  // clang-format off
  const std::vector<Ending> endings = {
      {"list", {"list"}, 0, {{"/devices/0/id", "2833:0021"}, {"/devices/0/path", app},
                             {"/devices/0/firmware", "application"}}},
      {"list boot", {"list"}, 0, {{"/devices/0/firmware", "boot"}, {"/devices/0/pid", 1}}, boot},
      {"list none", {"list"}, 3, {{"/status", "no-device"}, {"/ok", false}}, nullptr, unplug},
      {"info", {"info"}, 0, {{"/firmware_version", "0031"}, {"/run_mode", "dk2"},
                             {"/mcu_id", reference::McuIdText(kMcuId)}, {"/device", app}}},
      {"info by pid", {"--pid", "0021", "info"}, 0, {{"/backend", "sim"}}},
      {"info no MCU ID", {"info"}, 4, {{"/firmware_version", "0031"}, {"/mcu_id", nullptr}},
       nullptr, faults([](auto& f) { f.refusedReports = {0x60}; })},
      {"info nowhere", {"--device", "\\\\.\\hid#x", "info"}, 3, {{"/status", "no-device"}}},
      {"info other product", {"--pid", "0x0099", "info"}, 3, {}},
      {"info other vendor", {"--vid", "1234", "info"}, 3, {}},
      {"info old firmware", {"info"}, 0, {{"/run_mode", nullptr}}, old},
      {"mode old firmware", {"mode"}, 4, {{"/firmware_version", "0024"}, {"/run_mode", nullptr}},
       old},
      {"mode set old firmware", {"mode", "dk1"}, 4, {}, old},
      {"mode set", {"mode", "dk1"}, 0, {{"/previous", "dk2"}, {"/run_mode", "dk1"},
                                        {"/confirmed", true}}},
      {"mode refused", {"mode", "dk1"}, 4, {}, nullptr,
       faults([](auto& f) { f.failTransfer = 3; })},
      {"mode none", {"mode", "dk2"}, 3, {}, nullptr, unplug},
      {"flash", flash, 0, {{"/boot_firmware_version", "0207"}, {"/rebooted", true},
                           {"/bytes_sent", kDefaultSampleSize}, {"/size", kDefaultSampleSize}}},
      {"flash none", flash, 3, {}, nullptr, unplug},
      {"flash short timeout", {"flash", "--yes", "--timeout", "1", "IMAGE"}, 3, {},
       [](auto& c) { c.restartMs = 1500; }},
      {"flash never back", {"flash", "--yes", "--timeout", "3.5", "IMAGE"}, 3,
       {{"/waited_ms", 3500}, {"/bytes_sent", 0}}, nullptr,
       faults([](auto& f) { f.staysAwayAfterRestart = true; })},
      {"flash wrong block", flash, 5, {{"/bytes_sent", 5 * 56}}, nullptr,
       faults([](auto& f) { f.wrongSumForBlock = 5; })},
      {"flash wrong total", flash, 5, {}, nullptr, faults([](auto& f) { f.wrongTotal = true; })},
      {"flash refused", flash, 4, {}, boot, faults([](auto& f) { f.refusedReports = {0x61}; })},
      {"flash missing", {"flash", "--yes", "missing.bin"}, 6, {{"/status", "file-error"}}},
      {"usage", {"mode", "dk3"}, 2, {{"/status", "usage"}, {"/command", nullptr}}},
      {"usage vid", {"--vid", "xyz", "info"}, 2, {}},
      {"usage pid", {"--pid", "12345", "info"}, 2, {}},
      {"usage timeout", {"flash", "--timeout", "-1", "x.bin"}, 2, {}},
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
    for (const auto& [pointer, value] : e.fields.items())
      EXPECT_EQ(out[json::json_pointer(pointer)], value) << pointer;
  }
}

TEST_F(CliTest, FlashAsksBeforeTheRebootShowsProgressAndWaitsForASlowRestart) {
  const std::string image = SampleImage(kMinSampleSize + 1);
  const CliRun yes = Run({"flash", image}, "y\n", true);
  EXPECT_EQ(yes.code, 0) << yes.err;
  EXPECT_NE(yes.err.find("Reboot the headset"), std::string::npos);
  EXPECT_NE(yes.err.find("] 50% "), std::string::npos);
  EXPECT_NE(yes.err.find("] 100% " + std::to_string(kMinSampleSize + 1) + "/"), std::string::npos);
  EXPECT_EQ(LoadHeadset(state).flashed(), ReadBytes(image));
  EXPECT_EQ(LoadHeadset(state).restarts(), 2);

  const std::string other = SampleImage(kMinSampleSize + 3, 8);
  const CliRun no = Run({"--json", "flash", other}, "n\n", true);
  EXPECT_EQ(no.code, 7);
  EXPECT_EQ(no.err.find('%'), std::string::npos) << "no bar with --json";
  EXPECT_FALSE(no.Json()["rebooted"]);
  EXPECT_EQ(Run({"flash", other}, "").code, 7) << "no answer is no";
  EXPECT_EQ(Run({"flash", "--yes", other}).err.find('%'), std::string::npos) << "no bar in a pipe";
  EXPECT_EQ(LoadHeadset(state).flashed(), ReadBytes(other));

  config.restartMs = 4500;  // past the window's one search at 2000 ms
  saved = false;
  const CliRun slow = Run({"--json", "flash", "--yes", other});
  EXPECT_EQ(slow.code, 0) << slow.err;
  EXPECT_EQ(slow.Json()["waited_ms"], no.Json()["waited_ms"].get<int>() + 2500)
      << "searched every 100 ms after the first 2000";
}

TEST_F(CliTest, StampAndCheckAgree) {
  Bytes image = reference::StampableImage(kDefaultSampleSize, 3);
  const std::string path = dir.File("fresh.bin");
  WriteBytes(path, image);
  EXPECT_EQ(RunCliWith({"check", path}).code, 5);
  const CliRun stamp = RunCliWith({"--json", "stamp", path});
  ASSERT_EQ(stamp.code, 0) << stamp.err;
  EXPECT_EQ(stamp.Json()["checksum"], "0x" + Hex(reference::ImageChecksum(image), 8));
  EXPECT_EQ(ReadBytes(path).size(), image.size());
  const CliRun check = RunCliWith({"--json", "check", path});
  EXPECT_EQ(check.code, 0) << check.err;
  EXPECT_EQ(check.Json()["stored_checksum"], stamp.Json()["checksum"]);

  // Stamped twice: the old checksum is summed in, and check refuses it.
  const CliRun again = RunCliWith({"--json", "stamp", path});
  EXPECT_EQ(again.Json()["previous_checksum"], stamp.Json()["checksum"]);
  EXPECT_NE(again.err.find("warning"), std::string::npos);
  EXPECT_EQ(RunCliWith({"check", path}).code, 5);

  // A file that ends inside the checksum field keeps its length.
  image.resize(0x9C0A);
  WriteBytes(path, image);
  const CliRun cut = RunCliWith({"--json", "stamp", path});
  EXPECT_EQ(cut.code, 0);
  EXPECT_EQ(cut.Json()["checksum"], "0x0000" + Hex(reference::ImageChecksum(image) & 0xFFFF, 4));
  EXPECT_EQ(ReadBytes(path).size(), 0x9C0Au);
  EXPECT_EQ(RunCliWith({"--json", "check", path}).Json()["problems"].size(), 1u);

  WriteBytes(path, Bytes(65537, 0));
  EXPECT_EQ(RunCliWith({"stamp", path}).code, 5);
  EXPECT_FALSE(RunCliWith({"--json", "check", path}).Json()["fits_transfer"]);
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

}  // namespace
}  // namespace obrint::cli::testing
