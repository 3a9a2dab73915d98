// obrint-cli.exe end to end under Wine over the real hid.dll binding: the program's registry
// search, its binding of hid.dll and its feature reports reach the simulated headset behind the
// test-double hid.dll, which install-sim.sh has put into the prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/image.h"
#include "hiddouble/sim_store.h"

namespace obrint::cli {
namespace {

// The path of the simulated headset's interface `pid`, as the registry lists it.
std::string DevicePath(const std::string& pid) {
  return "\\\\.\\HID#VID_2833&PID_" + pid +
         "#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
}

class CliOverHidDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::HeadsetConfig config;
    config.applicationVersion = 0x0033;
    config.bootVersion = 0x0104;
    config.mcuId = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
    ASSERT_TRUE(store_.Reset(sim::Headset(config)));
    const std::wstring folder = hiddouble::RunDirectory();
    ASSERT_TRUE(CopyFileW(L"Z:" OBRINT_CLI_EXE, (folder + L"\\obrint-cli.exe").c_str(), FALSE));
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));  // no paths, so no quoting, on the line
  }

  // Runs obrint-cli.exe beside the double through the shell; its exit status and its output.
  static std::pair<int, nlohmann::json> Run(const std::string& arguments) {
    FILE* pipe = _popen(("obrint-cli.exe --json " + arguments).c_str(), "rb");
    std::string out;
    char chunk[4096];
    for (size_t n; pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
      out.append(chunk, n);
    const int code = pipe ? _pclose(pipe) : -1;
    return {code, nlohmann::json::parse(out, nullptr, false)};
  }

  const hiddouble::SimStore store_;
};

TEST_F(CliOverHidDllTest, InfoFindsTheHeadsetInTheRegistryAndReadsItThroughHidDll) {
  const auto [code, json] = Run("info");
  ASSERT_EQ(code, 0) << json;
  EXPECT_EQ(json["backend"], "hid.dll");
  EXPECT_EQ(json["path"], DevicePath("0021"));
  EXPECT_EQ(json["firmware_version"], "0033");
  EXPECT_EQ(json["mcu_id"], "4433221188776655CCBBAA99");
  EXPECT_EQ(json["run_mode"], "dk2");
}

// The smallest image that holds its version block.
std::vector<std::uint8_t> WriteImage() {
  const std::vector<std::uint8_t> image = MakeSampleImage(kMinWholeBlockSize);
  std::ofstream("cli-image.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  return image;
}

TEST_F(CliOverHidDllTest, FlashRestartsFollowsTheBootFirmwareAndWritesTheImage) {
  const std::vector<std::uint8_t> image = WriteImage();
  const auto [code, json] = Run("flash --yes cli-image.bin");
  ASSERT_EQ(code, 0) << json;
  EXPECT_EQ(json["path"], DevicePath("0021"));
  EXPECT_EQ(json["boot_firmware_version"], "0104");
  EXPECT_EQ(json["firmware_after"], "0033");
  EXPECT_EQ(json["bytes_sent"], image.size());
  EXPECT_EQ(store_.Read().value().flashed(), image);
}

// Wine's device installer tells no port for the double's interfaces: the fleet takes turns.
TEST_F(CliOverHidDllTest, FlashAllFlashesTheOneHeadsetByTurns) {
  const std::vector<std::uint8_t> image = WriteImage();
  const auto [code, json] = Run("flash --all --yes cli-image.bin");
  ASSERT_EQ(code, 0) << json;
  EXPECT_EQ(json["follow"], "turns");
  EXPECT_EQ(json["totals"]["flashed"], 1);
  EXPECT_EQ(json["headsets"][0]["firmware_after"], "0033") << json;
  EXPECT_EQ(store_.Read().value().flashed(), image);
}

}  // namespace
}  // namespace obrint::cli
