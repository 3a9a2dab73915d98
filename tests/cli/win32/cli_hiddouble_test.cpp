// obrint-cli.exe end to end under Wine over the real hid.dll binding: the program's registry
// search, its binding of hid.dll and its feature reports reach the simulated headset behind the
// test-double hid.dll, which install-sim.sh has put into the prefix.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hiddouble/sim_store.h"

namespace obrint::cli {
namespace {

class CliOverHidDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::HeadsetConfig config;
    config.applicationVersion = 0x0033;
    config.bootVersion = 0x0104;
    config.mcuId = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
    ASSERT_TRUE(store_.Reset(sim::Headset(config)));
    ASSERT_TRUE(CopyFileW(L"Z:" OBRINT_CLI_EXE, exe_.c_str(), FALSE));
  }

  // Runs obrint-cli.exe beside the double; its exit status and its standard output as JSON.
  std::pair<DWORD, nlohmann::json> Run(const std::wstring& arguments) const {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    EXPECT_TRUE(CreatePipe(&read, &write, &inherit, 0));
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    PROCESS_INFORMATION process{};
    std::wstring line = L"\"" + exe_ + L"\" --json " + arguments;
    const bool started = CreateProcessW(exe_.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                        nullptr, runDirectory_.c_str(), &startup, &process);
    CloseHandle(write);  // the child's copy alone keeps the pipe open
    std::string out;
    char chunk[4096];
    DWORD got = 0;
    while (started && ReadFile(read, chunk, sizeof chunk, &got, nullptr) && got > 0) {
      out.append(chunk, got);
    }
    CloseHandle(read);
    DWORD code = 0xFFFFFFFF;
    if (started) {
      WaitForSingleObject(process.hProcess, 60000);
      GetExitCodeProcess(process.hProcess, &code);
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    return {code, nlohmann::json::parse(out, nullptr, false)};
  }

  // The device path in lower case: the registry keeps its capitals.
  static std::string Device(const nlohmann::json& json) {
    std::string path = json.value("device", "");
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return path;
  }

  const std::wstring runDirectory_ = L"Z:" OBRINT_HIDDOUBLE_RUN_DIR;
  const std::wstring exe_ = runDirectory_ + L"\\obrint-cli.exe";
  const hiddouble::SimStore store_{runDirectory_};
};

TEST_F(CliOverHidDllTest, InfoFindsTheHeadsetInTheRegistryAndReadsItThroughHidDll) {
  const auto [code, json] = Run(L"info");
  ASSERT_EQ(code, 0u) << json;
  EXPECT_EQ(json["backend"], "hid.dll");
  EXPECT_EQ(json["firmware_version"], "0033");
  EXPECT_EQ(json["mcu_id"], "4433221188776655CCBBAA99");
  EXPECT_EQ(json["run_mode"], "dk2");
  EXPECT_NE(Device(json).find("vid_2833&pid_0021"), std::string::npos) << json;
}

TEST_F(CliOverHidDllTest, FlashRestartsFollowsTheBootFirmwareAndWritesTheImage) {
  std::vector<char> image(301);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 37 + 11);
  const std::wstring path = runDirectory_ + L"\\cli-image.bin";
  std::ofstream(std::filesystem::path(path), std::ios::binary).write(image.data(), 301);
  const auto [code, json] = Run(L"flash --yes \"" + path + L"\"");
  ASSERT_EQ(code, 0u) << json;
  EXPECT_EQ(json["boot_firmware_version"], "0104");
  EXPECT_EQ(json["bytes_sent"], 301);
  EXPECT_NE(Device(json).find("vid_2833&pid_0001"), std::string::npos) << json;
  const std::vector<std::uint8_t> flashed = store_.Read().value().flashed();
  EXPECT_EQ(std::vector<char>(flashed.begin(), flashed.end()), image);
}

}  // namespace
}  // namespace obrint::cli
