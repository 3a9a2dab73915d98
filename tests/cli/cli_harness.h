// Running the command line in-process against the virtual headset, with a scratch folder for
// images and headset state files.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/cli.h"
#include "sim/headset_sim.h"

namespace obrint::cli::testing {

using Bytes = std::vector<std::uint8_t>;

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
  // The one object that --json printed on stdout.
  nlohmann::json Json() const {
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << "stdout: " << out;
    return nlohmann::json::parse(out);
  }
};

inline CliRun RunCliWith(std::vector<std::string> args, const std::string& input = "",
                         bool errIsTerminal = false) {
  args.insert(args.begin(), "obrint-cli");
  std::ostringstream out;
  std::ostringstream err;
  std::istringstream in(input);
  CliRun run;
  run.code = RunCli(args, {out, err, in, errIsTerminal});
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A folder of its own for each test, removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            (std::string("obrint-cli-") + test->test_suite_name() + "-" + test->name() + "-" +
             std::to_string(std::random_device{}()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void SaveHeadset(const std::string& path, const sim::Headset& headset) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << headset.Save();
}

inline sim::Headset LoadHeadset(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::optional<sim::Headset> headset = sim::Headset::Load(text.str());
  EXPECT_TRUE(headset.has_value()) << path << " holds no headset state";
  return headset ? std::move(*headset) : sim::Headset{};
}

}  // namespace obrint::cli::testing
