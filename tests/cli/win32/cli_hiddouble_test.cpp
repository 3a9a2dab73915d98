// obrint-cli.exe end to end over hid.dll under Wine: the test-double hid.dll beside a copy of the
// program, the simulated headset listed in the registry and reachable through CreateFile, so that
// the program's own registry search, hid.dll binding and feature reports are what is tested.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/reference.h"
#include "hiddouble/sim_install.h"
#include "hiddouble/sim_store.h"
#include "sim/headset_sim.h"

namespace obrint::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct ProcessRun {
  DWORD code = 0xFFFFFFFF;
  std::string out;
  std::string err;
};

// Closes a handle when it goes.
struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  explicit Handle(HANDLE handle) : h(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

std::string ReadAll(HANDLE pipe) {
  std::string text;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(pipe, chunk, sizeof chunk, &got, nullptr) && got > 0) text.append(chunk, got);
  return text;
}

class CliOverHidDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("obrint-cli-hid-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir_);
    std::filesystem::copy_file(hiddouble::ToWindowsPath(hiddouble::Widen(OBRINT_CLI_EXE)),
                               dir_ / "obrint-cli.exe");
    state_ = (dir_ / "headset.state").wstring();
    SetEnvironmentVariableW(hiddouble::kStateVariable, state_.c_str());
  }
  void TearDown() override {
    hiddouble::UninstallSimulatedHeadset({dir_.wstring(), state_, applicationPid_});
    SetEnvironmentVariableW(hiddouble::kStateVariable, nullptr);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  void Install(const sim::Headset& headset) {
    applicationPid_ = headset.config().applicationProductId;
    ASSERT_EQ(hiddouble::InstallSimulatedHeadset(dir_.wstring(), state_, headset), "");
  }

  // Runs the copy of obrint-cli.exe with `args`, stdout and stderr through pipes.
  ProcessRun Run(const std::wstring& args) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    EXPECT_TRUE(CreatePipe(&outRead, &outWrite, &inherit, 0));
    EXPECT_TRUE(CreatePipe(&errRead, &errWrite, &inherit, 0));
    Handle out(outRead), outW(outWrite), err(errRead), errW(errWrite);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    Handle nul(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul.h;
    si.hStdOutput = outWrite;
    si.hStdError = errWrite;
    PROCESS_INFORMATION pi{};
    const std::wstring exe = (dir_ / "obrint-cli.exe").wstring();
    std::wstring line = L"\"" + exe + L"\" " + args;
    ProcessRun run;
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        dir_.wstring().c_str(), &si, &pi)) {
      ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
      return run;
    }
    Handle process(pi.hProcess), thread(pi.hThread);
    // Only the child holds the write ends now, so the reads end when it does.
    CloseHandle(outW.h);
    outW.h = nullptr;
    CloseHandle(errW.h);
    errW.h = nullptr;
    run.out = ReadAll(out.h);
    run.err = ReadAll(err.h);
    WaitForSingleObject(process.h, 60000);
    GetExitCodeProcess(process.h, &run.code);
    return run;
  }

  std::optional<sim::Headset> Headset() const { return hiddouble::SimStore(state_).Read(); }
  std::wstring ImageFile(const Bytes& bytes) {
    const std::filesystem::path path = dir_ / "image.bin";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path.wstring();
  }

  std::filesystem::path dir_;
  std::wstring state_;
  std::uint16_t applicationPid_ = 0;
};

// Interface paths keep the registry's capitals; compare without them.
std::string Lower(const nlohmann::json& text) {
  std::string lower = text.get<std::string>();
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The part of an interface name that carries the headset's IDs, in lower case.
std::string InterfaceName(std::uint16_t pid) {
  std::string ids = testing::IdText(0x2833, pid);  // "2833:xxxx"
  return "vid_" + ids.substr(0, 4) + "&pid_" + ids.substr(5);
}

sim::HeadsetConfig TestConfig() {
  sim::HeadsetConfig config;
  config.applicationVersion = 0x0033;
  config.bootVersion = 0x0104;
  config.mcuId = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
  return config;
}

TEST_F(CliOverHidDllTest, InfoFindsTheHeadsetInTheRegistryAndReadsItThroughHidDll) {
  const sim::HeadsetConfig config = TestConfig();
  Install(sim::Headset(config));
  const ProcessRun run = Run(L"--json info");
  ASSERT_EQ(run.code, 0u) << run.out << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["backend"], "hid.dll");
  EXPECT_EQ(json["firmware_version"], testing::Hex4(config.applicationVersion));
  EXPECT_EQ(json["mcu_id"], testing::McuIdText(config.mcuId));
  EXPECT_EQ(json["run_mode"], "dk2");
  EXPECT_NE(Lower(json["device"]).find(InterfaceName(config.applicationProductId)),
            std::string::npos)
      << json["device"];
}

TEST_F(CliOverHidDllTest, ListShowsTheAttachedInterfaceOnly) {
  Install(sim::Headset(TestConfig()));
  const ProcessRun run = Run(L"--json list");
  ASSERT_EQ(run.code, 0u) << run.out << run.err;
  const auto json = nlohmann::json::parse(run.out);
  ASSERT_EQ(json["devices"].size(), 1u) << run.out;  // the boot interface is listed, not attached
  EXPECT_EQ(json["devices"][0]["id"], testing::IdText(0x2833, TestConfig().applicationProductId));
  EXPECT_EQ(json["devices"][0]["firmware"], "application");
}

TEST_F(CliOverHidDllTest, FlashRestartsFollowsTheBootFirmwareAndWritesTheImage) {
  Install(sim::Headset(TestConfig()));
  std::mt19937 rng(17);
  Bytes image(301);
  for (auto& b : image) b = static_cast<std::uint8_t>(rng());
  const ProcessRun run = Run(L"--json flash --yes \"" + ImageFile(image) + L"\"");
  ASSERT_EQ(run.code, 0u) << run.out << run.err;
  const auto json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["boot_firmware_version"], testing::Hex4(TestConfig().bootVersion));
  EXPECT_EQ(json["bytes_sent"], image.size());
  EXPECT_NE(Lower(json["device"]).find(InterfaceName(0x0001)), std::string::npos) << json["device"];
  const std::optional<sim::Headset> headset = Headset();
  ASSERT_TRUE(headset.has_value());
  EXPECT_EQ(headset->flashed(), image);
}

TEST_F(CliOverHidDllTest, WithoutHeadsetTheExitStatusIsNoDevice) {
  sim::Headset headset(TestConfig());
  headset.Unplug();
  Install(headset);
  const ProcessRun run = Run(L"--json info");
  EXPECT_EQ(run.code, 3u) << run.out << run.err;
}

}  // namespace
}  // namespace obrint::cli
