// The one table from a failure to its words and its exit status: 0 for success, a small code per
// class of failure, so that a script tells a missing headset from a refused one or a bad image.
// A record's outcome, reason and exit status follow from it, and so does every command's ending.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/failure.h"

namespace obrint::records {

struct HeadsetRecord;

enum class ExitCode : int {
  kSuccess = 0,
  kUsage = 2,               // bad command line, several headsets and none chosen, no terminal
  kNoDevice = 3,            // no headset, it does not open, or it did not come back
  kDeviceRefused = 4,       // the headset refused a request, or has no run mode
  kVerificationFailed = 5,  // the headset or the image did not check out
  kFileError = 6,           // a file could not be opened, read or written
  kDeclined = 7,            // the reboot after a flash was not confirmed
  kDatabaseAway = 8,        // the database cannot be reached, or is not PostgreSQL
  kDatabaseRefused = 9,     // it refused the login or records, or its schema is not ours
  kInterrupted = 130,       // Ctrl+C, once or twice; another signal ends with 128 + its number
};

struct ExitCodeInfo {
  ExitCode code;
  std::string_view name;  // in --json output
  std::string_view meaning;
};

// Every exit status with its name and meaning, in ascending order.
std::span<const ExitCodeInfo> ExitCodeTable();
// "error" for a status not in the table (128 + a signal's number: "signal").
std::string_view ExitCodeName(ExitCode code);

ExitCode ExitCodeOf(Failure failure);
// What the failure means, in a few words for people.
std::string_view WordsOf(Failure failure);
// The words, then ": " and `detail` when there is one.
std::string Message(Failure failure, std::string_view detail = {});

// The worst exit status among the records, kSuccess when all were flashed. Worst first:
// verification-failed (a headset may hold part of an image), device-refused, no-device, usage,
// file-error, declined, the database's, interrupted (a signal's 128 + n, the first found, with it).
ExitCode WorstExitCode(const std::vector<HeadsetRecord>& records);

}  // namespace obrint::records
