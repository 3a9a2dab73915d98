#include "records/failures.h"

#include <algorithm>
#include <array>

#include "records/record.h"

namespace obrint::records {
namespace {

constexpr std::array kExitCodes = {
    ExitCodeInfo{ExitCode::kSuccess, "ok", "success"},
    ExitCodeInfo{ExitCode::kUsage, "usage",
                 "bad command line, several headsets attached and none chosen, or a question "
                 "with no terminal to answer on and no --yes"},
    ExitCodeInfo{ExitCode::kNoDevice, "no-device",
                 "no headset found, it does not open, or it did not come back"},
    ExitCodeInfo{ExitCode::kDeviceRefused, "device-refused",
                 "the headset refused a request, or has no run mode"},
    ExitCodeInfo{ExitCode::kVerificationFailed, "verification-failed",
                 "a checksum or read-back did not match, or the image is not valid"},
    ExitCodeInfo{ExitCode::kFileError, "file-error", "a file could not be opened, read or written"},
    ExitCodeInfo{ExitCode::kDeclined, "declined", "the reboot after flashing was not confirmed"},
    ExitCodeInfo{ExitCode::kDatabaseAway, "database-away",
                 "the database cannot be reached, or what answers is not PostgreSQL"},
    ExitCodeInfo{ExitCode::kDatabaseRefused, "database-refused",
                 "the database refused the login or records, or its schema is not this "
                 "version's"},
    ExitCodeInfo{ExitCode::kInterrupted, "interrupted",
                 "Ctrl+C: the first lets the runs under way finish, a second stops at once "
                 "(another signal: 128 + its number); every headset has its record"},
};

struct FailureInfo {
  Failure failure;
  std::string_view words;
};

constexpr FailureInfo kFailures[] = {
    {Failure::kNoHeadset, "no headset found"},
    {Failure::kNotOpened, "the headset does not open"},
    {Failure::kNotHidDevice, "not a HID interface of the headset's vendor"},
    {Failure::kBootNotFound,
     "the headset did not come back in its boot firmware; nothing was written: plug it in again "
     "and flash it again"},
    {Failure::kBootNotOpened,
     "the headset's boot firmware does not open; nothing was written, and it waits in its boot "
     "firmware: plug it in again and flash it again"},
    {Failure::kNotIdentified,
     "a boot firmware showed up that cannot be told to be this headset's; it was left alone, "
     "nothing was written: flash the headset again on its own"},
    {Failure::kUnplugged,
     "unplugged mid-transfer, needs recovery: it holds part of the image and waits in its boot "
     "firmware for a new flash"},
    {Failure::kUnidentifiable,
     "cannot be told apart (no USB port, no MCU ID); it was left alone, nothing was written: "
     "flash it on its own"},
    {Failure::kNeedsRecovery,
     "needs recovery: it arrived in its boot firmware and waits there for a new flash; it was "
     "left alone (--recover flashes it)"},
    {Failure::kNoArrivalWatch, "this platform tells no headsets' arrivals"},
    {Failure::kBadUsage, ""},  // the parser's words say it all
    {Failure::kNoTerminal,
     "flash asks before it reboots a headset, and there is no terminal to answer on: give --yes "
     "to flash without asking"},
    {Failure::kSeveralHeadsets,
     "several headsets are attached; choose one with --port, --mcu-id or --device"},
    {Failure::kReportRefused, "the headset did not answer"},
    {Failure::kNoRunMode, "the firmware has no run mode (it needs 0025 or later)"},
    {Failure::kRestartRefused,
     "the headset refused to restart into its boot firmware; nothing was written, it runs its "
     "old firmware"},
    {Failure::kTransferRefused,
     "the headset refused the image transfer; it waits in its boot firmware and needs a new flash"},
    {Failure::kRebootRefused,
     "the headset refused to reboot; it waits in its boot firmware and needs a new flash"},
    {Failure::kRunModeRefused, "the headset refused the run mode"},
    {Failure::kBlockMismatch,
     "the headset received a block wrong; the transfer was stopped, and it waits in its boot "
     "firmware and needs a new flash"},
    {Failure::kTotalMismatch,
     "the headset's image total differs from the image's; it waits in its boot firmware and needs "
     "a new flash"},
    {Failure::kReadBackMismatch, "the headset reads back another value"},
    {Failure::kImageEmpty, "the image is empty"},
    {Failure::kImageTooLarge, "the image is too large: at most 65535 bytes can be flashed"},
    {Failure::kNoVersionBlock, "no version block (magic 0xFFAA5500 at 0x9C00)"},
    {Failure::kChecksumFieldCut, "the image ends inside its checksum field at 0x9C08"},
    {Failure::kChecksumMismatch,
     "the stored checksum is not the image's (stamp the unstamped image, or --force)"},
    {Failure::kFileNotOpened, "cannot be opened"},
    {Failure::kFileUnreadable, "cannot be read whole"},
    {Failure::kFileWriteFailed, "cannot be written; it was left as it was"},
    {Failure::kFileChanged, "changed while it was being stamped; it was left as it was"},
    {Failure::kFileExists, "exists already (use --force to replace it)"},
    {Failure::kLogStopped, "the station's log cannot be written: not started"},
    {Failure::kRecordsUnkept, ""},  // the message names the log, why, and where they are
    {Failure::kNoMemory, "out of memory"},
    {Failure::kCancelled, "nothing was chosen"},
    {Failure::kNotConfirmed, "nothing was flashed: not confirmed"},
    {Failure::kRebootDeclined,
     "the image is written and verified, but the headset was not rebooted: it waits in its boot "
     "firmware, and a new flash reboots it"},
    {Failure::kNotBack,
     "the headset did not come back after its reboot; the image is written and verified: plug "
     "it in again and check it with info"},
    {Failure::kInterrupted, "not started: interrupted"},
    {Failure::kStopping, "the station is stopping: not started"},
    {Failure::kConnInfoInvalid,
     "--db: not a connection string (host=... dbname=... or postgresql://...)"},
    {Failure::kDatabaseUnreachable, "the database cannot be reached"},
    {Failure::kNotPostgres, "what answers there is not a PostgreSQL server"},
    {Failure::kNoDatabaseClient,
     "--db: no database client in this obrint-cli; run push on a collector"},
    {Failure::kLoginRefused,
     "the database refused the login (the user, or its password: see the password file)"},
    {Failure::kSchemaOlder,
     "the database's schema is older than this obrint-cli's, or missing: run obrint-cli db init"},
    {Failure::kSchemaNewer,
     "the database's schema is newer than this obrint-cli's: use the line's newer obrint-cli"},
    {Failure::kSchemaAltered, "the records table is not as the schema made it (altered by hand?)"},
    {Failure::kRecordsRefused, "the database refused records; they stay in their logs"},
    {Failure::kRequestRefused, "the database refused the request"},
};

}  // namespace

std::span<const ExitCodeInfo> ExitCodeTable() { return kExitCodes; }

std::string_view ExitCodeName(ExitCode code) {
  const auto at = std::ranges::find(kExitCodes, code, &ExitCodeInfo::code);
  if (at != kExitCodes.end()) return at->name;
  return static_cast<int>(code) > 128 ? "signal" : "error";
}

ExitCode ExitCodeOf(Failure failure) {
  switch (CategoryOf(failure)) {
    case FailureCategory::kNoDevice:
    case FailureCategory::kNotBack:
      return ExitCode::kNoDevice;
    case FailureCategory::kChoice:
      return ExitCode::kUsage;
    case FailureCategory::kRefused:
      return ExitCode::kDeviceRefused;
    case FailureCategory::kVerification:
    case FailureCategory::kImage:
      return ExitCode::kVerificationFailed;
    case FailureCategory::kFile:
      return ExitCode::kFileError;
    case FailureCategory::kDeclined:
      return ExitCode::kDeclined;
    case FailureCategory::kInterrupted:
      return ExitCode::kInterrupted;
    case FailureCategory::kDatabaseAway:
      return ExitCode::kDatabaseAway;
    case FailureCategory::kDatabaseRefused:
      return ExitCode::kDatabaseRefused;
  }
  return ExitCode::kDeviceRefused;
}

std::string_view WordsOf(Failure failure) {
  const auto at = std::ranges::find(kFailures, failure, &FailureInfo::failure);
  return at == std::end(kFailures) ? "failed" : at->words;
}

std::string Message(Failure failure, std::string_view detail) {
  std::string text(WordsOf(failure));
  if (!detail.empty()) text.append(text.empty() ? "" : ": ").append(detail);
  return text;
}

RunOutcome HeadsetRecord::outcome() const {
  const auto& [failure, stage, signal] = ending;
  if (signal)
    return stage == RunStage::kWaiting ? RunOutcome::kNotStarted : RunOutcome::kInterrupted;
  if (!failure) return stage == RunStage::kDone ? RunOutcome::kFlashed : RunOutcome::kNotStarted;
  switch (*failure) {
    case Failure::kNotBack:
      return RunOutcome::kNotBack;
    // Left alone.
    case Failure::kUnidentifiable:
    case Failure::kInterrupted:
    case Failure::kStopping:
    case Failure::kLogStopped:
      return RunOutcome::kNotStarted;
    default:
      return RunOutcome::kFailed;
  }
}

std::string HeadsetRecord::reason() const {
  // Where a signal that ends the process finds a run, by its stage.
  static constexpr std::array<std::string_view, 4> kWhere = {
      "not started",
      "interrupted while restarting into its boot firmware: needs a new flash",
      "interrupted in its boot firmware: needs a new flash",
      "interrupted after its reboot: written and verified, not seen back",
  };
  if (ending.signal) {
    return std::string(kWhere[std::min<std::size_t>(static_cast<std::size_t>(ending.stage), 3)]);
  }
  return ending.failure ? std::string(WordsOf(*ending.failure)) : std::string();
}

int HeadsetRecord::exitStatus() const {
  if (ending.signal) return 128 + ending.signal;
  return static_cast<int>(ending.failure ? ExitCodeOf(*ending.failure) : ExitCode::kSuccess);
}

ExitCode WorstExitCode(const std::vector<HeadsetRecord>& records) {
  // Every status the help lists; a signal's 128 + n ranks with interrupted.
  static constexpr std::array kWorstFirst = {
      ExitCode::kVerificationFailed, ExitCode::kDeviceRefused,
      ExitCode::kNoDevice,           ExitCode::kUsage,
      ExitCode::kFileError,          ExitCode::kDeclined,
      ExitCode::kDatabaseAway,       ExitCode::kDatabaseRefused,
      ExitCode::kInterrupted,        ExitCode::kSuccess};
  const auto rank = [](int status) {
    if (status > 128) status = static_cast<int>(ExitCode::kInterrupted);
    return std::find(kWorstFirst.begin(), kWorstFirst.end(), static_cast<ExitCode>(status)) -
           kWorstFirst.begin();
  };
  int worst = 0;
  for (const HeadsetRecord& record : records) {
    if (rank(record.exitStatus()) < rank(worst)) worst = record.exitStatus();
  }
  return static_cast<ExitCode>(worst);
}

}  // namespace obrint::records
