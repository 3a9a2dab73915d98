#include "cli/exit_codes.h"

#include <array>

namespace obrint::cli {
namespace {

constexpr std::array kTable = {
    ExitCodeInfo{ExitCode::kSuccess, "ok", "success"},
    ExitCodeInfo{ExitCode::kUsage, "usage", "bad command line"},
    ExitCodeInfo{ExitCode::kNoDevice, "no-device",
                 "no headset found, it does not open, or it did not come back"},
    ExitCodeInfo{ExitCode::kDeviceRefused, "device-refused",
                 "the headset refused a request, or has no run mode"},
    ExitCodeInfo{ExitCode::kVerificationFailed, "verification-failed",
                 "a checksum or read-back did not match, or the image is not valid"},
    ExitCodeInfo{ExitCode::kFileError, "file-error", "a file could not be opened, read or written"},
    ExitCodeInfo{ExitCode::kDeclined, "declined", "the reboot after flashing was not confirmed"},
    ExitCodeInfo{ExitCode::kInterrupted, "interrupted",
                 "Ctrl+C: headsets of a fleet run that had not begun were left alone"},
};

}  // namespace

std::span<const ExitCodeInfo> ExitCodeTable() { return kTable; }

std::string_view ExitCodeName(ExitCode code) {
  for (const ExitCodeInfo& info : kTable) {
    if (info.code == code) return info.name;
  }
  return "error";
}

}  // namespace obrint::cli
