// The command line's exit statuses: 0 for success, one small code per class of failure, so that a
// script can tell a missing headset from a refused one or from a bad image.
#pragma once

#include <span>
#include <string_view>

namespace obrint::cli {

enum class ExitCode : int {
  kSuccess = 0,
  kUsage = 2,               // bad command line
  kNoDevice = 3,            // no headset found, its path does not open, or it did not come back
  kDeviceRefused = 4,       // the headset refused a report, or has no run mode
  kVerificationFailed = 5,  // the headset or the image file did not check out
  kFileError = 6,           // a file could not be opened, read or written
  kDeclined = 7,            // the reboot after a flash was not confirmed
  kInterrupted = 130,       // Ctrl+C: some headsets of a fleet run were not flashed
};

struct ExitCodeInfo {
  ExitCode code;
  std::string_view name;  // in --json output
  std::string_view meaning;
};

// Every exit status with its name and meaning, in ascending order.
std::span<const ExitCodeInfo> ExitCodeTable();
std::string_view ExitCodeName(ExitCode code);

}  // namespace obrint::cli
