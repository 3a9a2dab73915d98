// Every subcommand against the virtual headset, in-process: happy paths, each failure class with
// its exit status, and the --json objects.
#include <gtest/gtest.h>

#include <cstdio>

#include "cli/exit_codes.h"
#include "cli/image_check.h"
#include "reference.h"
#include "cli_harness.h"

namespace obrint::cli::testing {
namespace {

constexpr int kOk = 0;
constexpr int kUsage = static_cast<int>(ExitCode::kUsage);
constexpr int kNoDevice = static_cast<int>(ExitCode::kNoDevice);
constexpr int kRefused = static_cast<int>(ExitCode::kDeviceRefused);
constexpr int kVerification = static_cast<int>(ExitCode::kVerificationFailed);
constexpr int kFileError = static_cast<int>(ExitCode::kFileError);
constexpr int kDeclined = static_cast<int>(ExitCode::kDeclined);

class CliTest : public ::testing::Test {
 protected:
  CliTest() {
    config.mcuId = {0x9A, 0x10, 0x00, 0xF3, 0x42, 0x07, 0xC1, 0x5E, 0x00, 0x01, 0xFF, 0x80};
    config.applicationVersion = 0x0031;
    config.bootVersion = 0x0207;
  }

  // Writes the headset into the state file, then runs with --sim-state.
  CliRun Run(std::vector<std::string> args, const std::string& input = "") {
    if (!saved) {
      sim::Headset headset(config);
      if (prepare) prepare(headset);
      SaveHeadset(state, headset);
      saved = true;
    }
    args.insert(args.begin(), {"--sim-state", state});
    return RunCliWith(args, input);
  }
  sim::Headset Headset() { return LoadHeadset(state); }
  std::string SampleImage(std::uint32_t size = kDefaultSampleSize, std::uint32_t seed = 7) {
    const std::string path = dir.File("image-" + std::to_string(seed) + ".bin");
    WriteBytes(path, MakeSampleImage(size, seed));
    return path;
  }

  ScratchDir dir;
  std::string state = dir.File("headset.txt");
  sim::HeadsetConfig config;
  std::function<void(sim::Headset&)> prepare;
  bool saved = false;
};

// --- list ---------------------------------------------------------------------------------------

TEST_F(CliTest, ListShowsTheHeadsetWithItsIdsAndRunningFirmware) {
  const CliRun run = Run({"--json", "list"});
  ASSERT_EQ(run.code, kOk) << run.err;
  const auto json = run.Json();
  EXPECT_EQ(json["command"], "list");
  EXPECT_EQ(json["backend"], "sim");
  ASSERT_EQ(json["devices"].size(), 1u);
  const auto& device = json["devices"][0];
  EXPECT_EQ(device["path"], sim::Headset(config).interfacePath());
  EXPECT_EQ(device["vid"], 0x2833);
  EXPECT_EQ(device["pid"], config.applicationProductId);
  EXPECT_EQ(device["id"], IdText(0x2833, config.applicationProductId));
  EXPECT_EQ(device["firmware"], "application");
}

TEST_F(CliTest, ListTellsTheBootFirmwareByItsSilenceToTheRestartProbe) {
  config.startIn = sim::Firmware::kBoot;
  const CliRun run = Run({"--json", "list"});
  ASSERT_EQ(run.code, kOk) << run.err;
  const auto json = run.Json();
  EXPECT_EQ(json["devices"][0]["firmware"], "boot");
  EXPECT_EQ(json["devices"][0]["pid"], 0x0001);
}

TEST_F(CliTest, ListWithoutAHeadsetEndsWithNoDevice) {
  prepare = [](sim::Headset& h) { h.Unplug(); };
  const CliRun run = Run({"--json", "list"});
  EXPECT_EQ(run.code, kNoDevice);
  const auto json = run.Json();
  EXPECT_TRUE(json["devices"].empty());
  EXPECT_EQ(json["status"], "no-device");
  EXPECT_FALSE(json["ok"]);
}

TEST_F(CliTest, ListHumanOutputHasOneLinePerInterface) {
  const CliRun run = Run({"list"});
  ASSERT_EQ(run.code, kOk);
  EXPECT_EQ(run.out, sim::Headset(config).interfacePath() + "  " +
                         IdText(0x2833, config.applicationProductId) +
                         "  application firmware  port 1-2.1  version " +
                         Hex4(config.applicationVersion) + "  MCU ID " + McuIdText(config.mcuId) +
                         "\n");
}

// --- info ---------------------------------------------------------------------------------------

TEST_F(CliTest, InfoReadsVersionMcuIdAndRunMode) {
  const CliRun run = Run({"--json", "info"});
  ASSERT_EQ(run.code, kOk) << run.err;
  const auto json = run.Json();
  EXPECT_EQ(json["firmware_version"], Hex4(config.applicationVersion));
  EXPECT_EQ(json["mcu_id"], McuIdText(config.mcuId));
  EXPECT_EQ(json["run_mode"], config.runMode == 0xFE ? "dk1" : "dk2");
  EXPECT_EQ(json["device"], sim::Headset(config).interfacePath());
}

TEST_F(CliTest, InfoOnRefusedReportsShowsWhatItGotAndEndsRefused) {
  prepare = [](sim::Headset& h) { h.faults().refusedReports = {0x60}; };
  const CliRun run = Run({"--json", "info"});
  EXPECT_EQ(run.code, kRefused);
  const auto json = run.Json();
  EXPECT_EQ(json["firmware_version"], Hex4(config.applicationVersion));
  EXPECT_TRUE(json["mcu_id"].is_null());
  EXPECT_NE(json["error"].get<std::string>().find("MCU ID"), std::string::npos);
}

TEST_F(CliTest, InfoFindsTheHeadsetUnderAGivenProductIdOrPath) {
  const std::string path = sim::Headset(config).interfacePath();
  EXPECT_EQ(Run({"--pid", Hex4(config.applicationProductId), "info"}).code, kOk);
  EXPECT_EQ(Run({"--device", path, "info"}).code, kOk);
}

// --- mode ---------------------------------------------------------------------------------------

TEST_F(CliTest, ModeSetThenShownAndKeptAcrossCommands) {
  config.runMode = 0xFD;
  const CliRun set = Run({"--json", "mode", "dk1"});
  ASSERT_EQ(set.code, kOk) << set.err;
  EXPECT_EQ(set.Json()["previous"], "dk2");
  EXPECT_EQ(set.Json()["run_mode"], "dk1");
  EXPECT_TRUE(set.Json()["confirmed"]);
  EXPECT_EQ(Headset().activeRunMode(), 0xFE);

  const CliRun shown = Run({"--json", "mode"});
  ASSERT_EQ(shown.code, kOk);
  EXPECT_EQ(shown.Json()["run_mode"], "dk1");
  EXPECT_EQ(Run({"--json", "info"}).Json()["run_mode"], "dk1");

  ASSERT_EQ(Run({"mode", "dk2"}).code, kOk);
  EXPECT_EQ(Run({"--json", "mode"}).Json()["run_mode"], "dk2");
}

TEST_F(CliTest, FirmwareBelow0025HasNoModeToShowOrSet) {
  config.applicationVersion = 0x0024;
  const CliRun shown = Run({"--json", "mode"});
  EXPECT_EQ(shown.code, kRefused);
  EXPECT_TRUE(shown.Json()["run_mode"].is_null());
  EXPECT_EQ(shown.Json()["firmware_version"], "0024");
  EXPECT_TRUE(Run({"--json", "info"}).Json()["run_mode"].is_null());
  EXPECT_EQ(Run({"--json", "info"}).code, kOk);

  EXPECT_EQ(Run({"mode", "dk1"}).code, kRefused);
}

// --- flash --------------------------------------------------------------------------------------

TEST_F(CliTest, FlashWritesTheImageAndRebootsTheHeadset) {
  const std::string image = SampleImage();
  const CliRun run = Run({"--json", "flash", "--yes", image});
  ASSERT_EQ(run.code, kOk) << run.err;
  const auto json = run.Json();
  EXPECT_EQ(json["boot_firmware_version"], Hex4(config.bootVersion));
  EXPECT_EQ(json["bytes_sent"], kDefaultSampleSize);
  EXPECT_EQ(json["size"], kDefaultSampleSize);
  EXPECT_TRUE(json["rebooted"]);
  const sim::Headset headset = Headset();
  EXPECT_EQ(headset.flashed(), ReadBytes(image));
  EXPECT_EQ(headset.restarts(), 2);  // into the boot firmware, then into the new one
}

TEST_F(CliTest, FlashAsksBeforeTheRebootAndHonoursTheAnswer) {
  const std::string image = SampleImage(kMinSampleSize + 1);
  const CliRun yes = Run({"flash", image}, "y\n");
  EXPECT_EQ(yes.code, kOk) << yes.err;
  EXPECT_NE(yes.err.find("Reboot the headset"), std::string::npos);
  EXPECT_EQ(Headset().flashed(), ReadBytes(image));

  const std::string other = SampleImage(kMinSampleSize + 3, 8);
  const CliRun no = Run({"--json", "flash", other}, "n\n");
  EXPECT_EQ(no.code, kDeclined);
  EXPECT_FALSE(no.Json()["rebooted"]);
  EXPECT_EQ(Headset().flashed(), ReadBytes(image)) << "the old image stays";
  // No answer at all counts as no.
  EXPECT_EQ(Run({"flash", other}, "").code, kDeclined);
}

TEST_F(CliTest, FlashWaitsLongerThanTheWindowForASlowRestart) {
  config.restartMs = 4500;  // past the window's single search at 2000 ms
  const CliRun run = Run({"--json", "flash", "--yes", SampleImage()});
  ASSERT_EQ(run.code, kOk) << run.err;
  EXPECT_GE(run.Json()["waited_ms"].get<int>(), 4500);
}

TEST_F(CliTest, FlashWhoseHeadsetNeverComesBackEndsWithNoDeviceAfterTheTimeout) {
  prepare = [](sim::Headset& h) { h.faults().staysAwayAfterRestart = true; };
  const CliRun run = Run({"--json", "flash", "--yes", "--timeout", "3.5", SampleImage()});
  EXPECT_EQ(run.code, kNoDevice);
  const auto json = run.Json();
  EXPECT_EQ(json["waited_ms"], 3500);
  EXPECT_NE(json["error"].get<std::string>().find("3500 ms"), std::string::npos);
  EXPECT_EQ(json["bytes_sent"], 0);
}

TEST_F(CliTest, FlashWithABlockReceivedWrongEndsWithVerificationFailed) {
  prepare = [](sim::Headset& h) { h.faults().wrongSumForBlock = 5; };
  const CliRun run = Run({"--json", "flash", "--yes", SampleImage()});
  EXPECT_EQ(run.code, kVerification);
  EXPECT_EQ(run.Json()["bytes_sent"], 5 * 56);
  EXPECT_TRUE(Headset().flashed().empty());
}

TEST_F(CliTest, FlashOfAMissingOrOversizedImage) {
  EXPECT_EQ(Run({"flash", "--yes", dir.File("missing.bin")}).code, kFileError);
  const std::string big = dir.File("big.bin");
  WriteBytes(big, Bytes(65536, 0));
  EXPECT_EQ(Run({"flash", "--yes", big}).code, kVerification);
  EXPECT_EQ(Headset().restarts(), 0) << "refused before the headset was touched";
}

TEST_F(CliTest, FlashDrawsAProgressBarOnATerminalOnly) {
  const std::string image = SampleImage();
  sim::Headset headset(config);
  SaveHeadset(state, headset);
  saved = true;
  const CliRun terminal =
      RunCliWith({"--sim-state", state, "flash", "--yes", image}, "", /*errIsTerminal=*/true);
  ASSERT_EQ(terminal.code, kOk);
  EXPECT_NE(terminal.err.find("] 100% " + std::to_string(kDefaultSampleSize) + "/"),
            std::string::npos);
  EXPECT_NE(terminal.err.find("] 50% "), std::string::npos);
  const CliRun json =
      RunCliWith({"--sim-state", state, "--json", "flash", "--yes", image}, "", true);
  EXPECT_EQ(json.err.find('%'), std::string::npos) << "no progress bar with --json";
  const CliRun pipe = RunCliWith({"--sim-state", state, "flash", "--yes", image}, "", false);
  EXPECT_EQ(pipe.err.find('%'), std::string::npos) << "no progress bar into a pipe";
}

// --- stamp and check ----------------------------------------------------------------------------

TEST_F(CliTest, StampThenCheckAgree) {
  Bytes image = MakeSampleImage(kDefaultSampleSize, 3);
  std::fill_n(image.begin() + 0x9C08, 4, 0);  // not stamped yet
  const std::string path = dir.File("fresh.bin");
  WriteBytes(path, image);

  const CliRun before = RunCliWith({"--json", "check", path});
  EXPECT_EQ(before.code, kVerification);
  EXPECT_FALSE(before.Json()["ready"]);

  const CliRun stamp = RunCliWith({"--json", "stamp", path});
  ASSERT_EQ(stamp.code, kOk) << stamp.err;
  const Bytes stamped = ReadBytes(path);
  EXPECT_EQ(stamped.size(), image.size());
  EXPECT_EQ(stamp.Json()["checksum"], Hex8(ReferenceStamp(image)));

  const CliRun after = RunCliWith({"--json", "check", path});
  EXPECT_EQ(after.code, kOk) << after.err;
  EXPECT_TRUE(after.Json()["ready"]);
  EXPECT_EQ(after.Json()["stored_checksum"], stamp.Json()["checksum"]);
}

TEST_F(CliTest, StampingTwiceIsNotAcceptedByCheck) {
  const std::string path = SampleImage();
  const CliRun again = RunCliWith({"--json", "stamp", path});
  ASSERT_EQ(again.code, kOk);
  EXPECT_NE(again.err.find("warning"), std::string::npos);
  EXPECT_EQ(RunCliWith({"check", path}).code, kVerification);
}

TEST_F(CliTest, StampRefusesAnImageWithoutVersionBlockAndLeavesItAlone) {
  const std::string path = dir.File("plain.bin");
  const Bytes bytes = RandomBytes(0x9C10, 1);
  WriteBytes(path, bytes);
  const CliRun run = RunCliWith({"--json", "stamp", path});
  EXPECT_EQ(run.code, kVerification);
  EXPECT_NE(run.Json()["error"].get<std::string>().find("version block"), std::string::npos);
  EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(CliTest, StampAndCheckOfAMissingFileAreFileErrors) {
  EXPECT_EQ(RunCliWith({"stamp", dir.File("none.bin")}).code, kFileError);
  EXPECT_EQ(RunCliWith({"check", dir.File("none.bin")}).code, kFileError);
  EXPECT_EQ(RunCliWith({"--json", "check", dir.File("none.bin")}).Json()["status"], "file-error");
}

TEST_F(CliTest, CheckReportsEachReasonAnImageIsNotReady) {
  const std::string big = dir.File("big.bin");
  WriteBytes(big, Bytes(70000, 0));
  const auto tooBig = RunCliWith({"--json", "check", big});
  EXPECT_EQ(tooBig.code, kVerification);
  EXPECT_FALSE(tooBig.Json()["fits_transfer"]);

  const std::string short_ = dir.File("short.bin");
  Bytes head = MakeSampleImage(kMinSampleSize);
  head.resize(0x9C0A);
  WriteBytes(short_, head);
  const auto cut = RunCliWith({"--json", "check", short_});
  EXPECT_EQ(cut.code, kVerification);
  EXPECT_TRUE(cut.Json()["version_block"]);
  EXPECT_EQ(cut.Json()["problems"].size(), 1u);
}

TEST_F(CliTest, CheckNeverWritesTheImage) {
  const std::string path = dir.File("fresh.bin");
  Bytes image = MakeSampleImage(kDefaultSampleSize, 5);
  image[0x9C08] ^= 0x01;
  WriteBytes(path, image);
  EXPECT_EQ(RunCliWith({"check", path}).code, kVerification);
  EXPECT_EQ(ReadBytes(path), image);
}

// --- sample-image -------------------------------------------------------------------------------

TEST_F(CliTest, SampleImageIsReadyToFlashAndNotOverwrittenWithoutForce) {
  const std::string path = dir.File("sample.bin");
  const CliRun run = RunCliWith({"--json", "sample-image", "--size", "50000", path});
  ASSERT_EQ(run.code, kOk) << run.err;
  EXPECT_EQ(ReadBytes(path).size(), 50000u);
  EXPECT_EQ(RunCliWith({"check", path}).code, kOk);
  EXPECT_EQ(RunCliWith({"sample-image", path}).code, kFileError);
  EXPECT_EQ(RunCliWith({"sample-image", "--force", path}).code, kOk);
  EXPECT_EQ(ReadBytes(path).size(), kDefaultSampleSize);
}

// --- exit statuses ------------------------------------------------------------------------------

// Failures told apart by their exit status alone.
struct ExitCase {
  const char* name;
  std::vector<std::string> args;  // "IMAGE" stands for a sample image
  int code;
  void (*configure)(sim::HeadsetConfig&) = nullptr;
  void (*prepare)(sim::Headset&) = nullptr;
};

class CliExitTest : public CliTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(CliExitTest, EndsWithItsStatus) {
  const ExitCase& c = GetParam();
  if (c.configure) c.configure(config);
  if (c.prepare) prepare = c.prepare;
  std::vector<std::string> args = c.args;
  for (std::string& arg : args) {
    if (arg == "IMAGE") arg = SampleImage();
  }
  const CliRun run = Run(args);
  EXPECT_EQ(run.code, c.code) << run.err;
}

void Unplug(sim::Headset& h) { h.Unplug(); }

INSTANTIATE_TEST_SUITE_P(
    Failures, CliExitTest,
    ::testing::Values(
        ExitCase{
            "InfoPathThatDoesNotOpen", {"--device", "\\\\.\\hid#nothing-here", "info"}, kNoDevice},
        ExitCase{"InfoOtherProduct", {"--pid", "0x0099", "info"}, kNoDevice},
        ExitCase{"InfoOtherVendor", {"--vid", "1234", "info"}, kNoDevice},
        ExitCase{"ModeShownWithoutHeadset", {"mode"}, kNoDevice, nullptr, Unplug},
        ExitCase{"ModeSetWithoutHeadset", {"mode", "dk2"}, kNoDevice, nullptr, Unplug},
        ExitCase{"ModeWriteRefused",
                 {"mode", "dk1"},
                 kRefused,
                 nullptr,
                 [](sim::Headset& h) { h.faults().failTransfer = 3; }},
        ExitCase{"FlashWithoutHeadset", {"flash", "--yes", "IMAGE"}, kNoDevice, nullptr, Unplug},
        ExitCase{"FlashTimeoutShorterThanTheRestart",
                 {"flash", "--yes", "--timeout", "1", "IMAGE"},
                 kNoDevice,
                 [](sim::HeadsetConfig& c) { c.restartMs = 1500; }},
        ExitCase{"FlashWrongImageTotal",
                 {"flash", "--yes", "IMAGE"},
                 kVerification,
                 nullptr,
                 [](sim::Headset& h) { h.faults().wrongTotal = true; }},
        ExitCase{"FlashTransferRefused",
                 {"flash", "--yes", "IMAGE"},
                 kRefused,
                 [](sim::HeadsetConfig& c) { c.startIn = sim::Firmware::kBoot; },
                 [](sim::Headset& h) { h.faults().refusedReports = {0x61}; }}),
    [](const ::testing::TestParamInfo<ExitCase>& info) { return info.param.name; });

// --- usage and state ----------------------------------------------------------------------------

TEST_F(CliTest, UsageErrorsEndWithTheUsageCode) {
  EXPECT_EQ(RunCliWith({}).code, kUsage);
  EXPECT_EQ(RunCliWith({"frobnicate"}).code, kUsage);
  EXPECT_EQ(RunCliWith({"--sim", "flash"}).code, kUsage);
  EXPECT_EQ(RunCliWith({"--sim", "mode", "dk3"}).code, kUsage);
  EXPECT_EQ(RunCliWith({"--sim", "--vid", "xyz", "info"}).code, kUsage);
  EXPECT_EQ(RunCliWith({"--sim", "--pid", "12345", "info"}).code, kUsage);
  EXPECT_EQ(RunCliWith({"--sim", "flash", "--timeout", "-1", "x.bin"}).code, kUsage);
  EXPECT_EQ(RunCliWith({"-q", "-v", "--sim", "info"}).code, kUsage);
  const CliRun json = RunCliWith({"--json", "frobnicate"});
  EXPECT_EQ(json.code, kUsage);
  EXPECT_EQ(json.Json()["status"], "usage");
  EXPECT_TRUE(json.Json()["command"].is_null());
}

TEST_F(CliTest, HelpListsEveryExitCode) {
  const CliRun run = RunCliWith({"--help"});
  EXPECT_EQ(run.code, kOk);
  for (const ExitCodeInfo& info : ExitCodeTable()) {
    EXPECT_NE(
        run.out.find(std::to_string(static_cast<int>(info.code)) + "  " + std::string(info.name)),
        std::string::npos)
        << info.name;
  }
}

TEST_F(CliTest, OptionsMayFollowTheSubcommand) {
  const CliRun run = Run({"info", "--json"});
  EXPECT_EQ(run.code, kOk);
  EXPECT_EQ(run.Json()["command"], "info");
}

TEST_F(CliTest, QuietPrintsNothingButErrors) {
  EXPECT_TRUE(Run({"-q", "info"}).out.empty());
  prepare = nullptr;
  const CliRun failing = Run({"-q", "--device", "nowhere", "info"});
  EXPECT_EQ(failing.code, kNoDevice);
  EXPECT_TRUE(failing.out.empty());
}

TEST_F(CliTest, ABrokenStateFileIsAFileErrorAndStaysAsItWas) {
  WriteBytes(state, Bytes{'n', 'o', 'p', 'e', '\n'});
  saved = true;
  const CliRun run = Run({"--json", "info"});
  EXPECT_EQ(run.code, kFileError);
  EXPECT_EQ(ReadBytes(state), (Bytes{'n', 'o', 'p', 'e', '\n'}));
}

TEST_F(CliTest, SimWithoutStateFileStartsFreshEachTime) {
  EXPECT_EQ(RunCliWith({"--sim", "mode", "dk1"}).code, kOk);
  const auto json = RunCliWith({"--sim", "--json", "mode"}).Json();
  EXPECT_EQ(json["run_mode"], sim::HeadsetConfig{}.runMode == 0xFE ? "dk1" : "dk2");
}

}  // namespace
}  // namespace obrint::cli::testing
