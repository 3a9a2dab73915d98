// The command line's subcommands over the headset operations that the window runs too: each fills
// a report (the fields of its --json object) and says how it ended.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/backend.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/image_check.h"
#include "device/headset.h"
#include "device/ports.h"

namespace obrint::cli {

struct GlobalOptions {
  std::string device;  // --device: used as given, no search
  std::optional<std::uint16_t> vid;
  std::optional<std::uint16_t> pid;
};

// What one command found out, and how it ended.
struct Report {
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  ExitCode code = ExitCode::kSuccess;
  std::string error;

  ExitCode Fail(ExitCode failure, std::string message) {
    code = failure;
    error = std::move(message);
    return code;
  }
};

// What a command works with. `backend` is null for the commands that touch files only.
struct Session {
  Console& console;
  FileSystem& files;
  Backend* backend;
  GlobalOptions options;
};

// The read-only check of an image file; nullopt, with the report failed, when it cannot be read.
std::optional<ImageCheck> ReadImageCheck(FileSystem& files, const std::string& image,
                                         Report& report);
// The exit status and message of an upgrade that did not succeed.
ExitCode FlashFailure(UpgradeFailure why, unsigned timeoutMs, const std::string& image,
                      Report& report);

enum class RunModeChoice : std::uint8_t { kDk1, kDk2 };

ExitCode ListHeadsets(Session& session, Report& report);
ExitCode ShowInfo(Session& session, Report& report);
ExitCode FlashImage(Session& session, const std::string& image, bool assumeYes, unsigned timeoutMs,
                    Report& report);
// Every headset of the vendor at once (fleet.h); `logFile`, when not empty, gets one JSON line
// per headset appended.
ExitCode FlashAll(Session& session, const std::string& image, bool assumeYes, unsigned timeoutMs,
                  const std::string& logFile, Report& report);
ExitCode ShowInfoAll(Session& session, Report& report);
ExitCode StampImage(Session& session, const std::string& image, Report& report);
ExitCode CheckImageFile(Session& session, const std::string& image, Report& report);
ExitCode ShowRunMode(Session& session, Report& report);
ExitCode SelectRunMode(Session& session, RunModeChoice choice, Report& report);
ExitCode WriteSampleImage(Session& session, const std::string& file, std::uint32_t size,
                          bool replace, Report& report);

}  // namespace obrint::cli
