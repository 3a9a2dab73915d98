// One vocabulary for everything that can go wrong, in every layer: each failure is one value of
// `Failure`, and each belongs to one category. A front end keeps one table from a failure to its
// own words (and, for the command line, to its exit status); the device layer keeps none.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>

namespace obrint {

enum class FailureCategory : std::uint8_t {
  kNoDevice,      // no headset there, it does not open, or it is not positively this one
  kChoice,        // the command line asks for what cannot be done as asked: several headsets
                  // answer the description and none was chosen, no terminal to answer a
                  // question on, a database's address that cannot be read
  kRefused,       // the headset refused a request, or has no such function
  kVerification,  // the headset holds or reads back something other than what was sent
  kImage,         // the image is no image that can be flashed
  kFile,          // a file could not be opened, read or written
  kDeclined,      // the user said no, or chose nothing
  kNotBack,       // the headset did not come back after its reboot
  kInterrupted,   // a signal stopped the run
  kDatabaseAway,  // the database cannot be reached, or what answers is not PostgreSQL
  // The database refused the login or a request, or its schema is not this version's.
  kDatabaseRefused,
};

enum class Failure : std::uint8_t {
  // kNoDevice
  kNoHeadset,       // no headset found
  kNotOpened,       // the interface does not open
  kNotHidDevice,    // the path names no HID device
  kBootNotFound,    // the boot firmware did not show up after the restart
  kBootNotOpened,   // the boot firmware showed up but does not open
  kNotIdentified,   // a boot firmware showed up that cannot be told to be this headset's
  kUnplugged,       // the headset left the bus in the middle of the transfer
  kUnidentifiable,  // no USB port and no MCU ID: its return could not be told from an arrival
  kNeedsRecovery,   // it arrived in its boot firmware, which tells nothing of whose it is
  kNoArrivalWatch,  // the platform tells no headsets' arrivals
  // kChoice
  kSeveralHeadsets,
  kBadUsage,         // the command line is not one the program takes
  kNoTerminal,       // a question to ask, and no terminal to answer it on
  kConnInfoInvalid,  // the connection string (keywords or URI) is not one libpq reads
  // kRefused
  kReportRefused,    // a Version, MCU ID or Run mode report could not be read
  kNoRunMode,        // the firmware is older than the first with a run mode
  kRestartRefused,   // the Restart report into the boot firmware
  kTransferRefused,  // a Begin, Data or Finish packet, or the Finish answer
  kRebootRefused,    // the Reboot packet
  kRunModeRefused,   // the Run mode report
  // kVerification
  kBlockMismatch,     // the headset's sum of a block differs from the host's
  kTotalMismatch,     // the headset's image total differs from the host's
  kReadBackMismatch,  // a value read back after a write differs from the one written
  // kImage
  kImageEmpty,
  kImageTooLarge,     // larger than the transfer (or the stamp's buffer) can take
  kNoVersionBlock,    // no magic at the version block
  kChecksumFieldCut,  // the file ends inside the checksum field
  kChecksumMismatch,  // the stamped checksum is not the image's
  // kFile
  kFileNotOpened,
  kFileUnreadable,   // its size cannot be had, or it cannot be read whole
  kFileWriteFailed,  // it could not be written whole, or not made to last
  kFileChanged,      // it changed between its check and the write into it
  kFileExists,       // it is there already and may not be replaced
  kLogStopped,       // a headset that came after the log stopped taking records: not started
  kRecordsUnkept,    // records that the log could not take: they are printed instead
  kNoMemory,
  // kDeclined
  kCancelled,       // nothing was chosen
  kNotConfirmed,    // the question before a run was not answered yes: nothing was done
  kRebootDeclined,  // the image is written and verified, but the reboot was not confirmed
  // kNotBack
  kNotBack,
  // kInterrupted
  kInterrupted,  // a Ctrl+C came before the headset's run began
  kStopping,     // it arrived while the station was stopping
  // kDatabaseAway
  kDatabaseUnreachable,  // nothing answers, the database does not exist, no answer in time
  kNotPostgres,          // something answered, not in PostgreSQL's protocol
  kNoDatabaseClient,     // this build has no database client (the Windows one)
  // kDatabaseRefused
  kLoginRefused,    // the user or its password was refused, or no password could be found
  kSchemaOlder,     // the database holds no records schema, or an older one than this version's
  kSchemaNewer,     // the database's records schema is newer than this version's
  kSchemaAltered,   // the records table is not as the schema made it
  kRecordsRefused,  // records that break a type or a constraint of the table
  kRequestRefused,  // any other refusal, such as a right the database user lacks
};

FailureCategory CategoryOf(Failure failure);

// The outcome of an operation that gives nothing but whether it worked.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Failure failure) : failure_(failure) {}  // NOLINT: a failure is a status
  explicit operator bool() const { return !failure_; }
  bool failed() const { return failure_.has_value(); }
  // Only for a failed status.
  Failure failure() const { return *failure_; }
  bool operator==(const Status&) const = default;

 private:
  std::optional<Failure> failure_;
};

// A value, or the failure that kept it from being had.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}   // NOLINT: a value is a result
  Result(Failure failure) : failure_(failure) {}  // NOLINT: so is a failure
  explicit operator bool() const { return value_.has_value(); }
  // Only for a result that holds a value.
  const T& operator*() const& { return *value_; }
  T& operator*() & { return *value_; }
  T&& operator*() && { return std::move(*value_); }
  const T* operator->() const { return &*value_; }
  T* operator->() { return &*value_; }
  // Only for a failed result.
  Failure failure() const { return *failure_; }
  Status status() const { return value_ ? Status() : Status(*failure_); }

 private:
  std::optional<T> value_;
  std::optional<Failure> failure_;
};

}  // namespace obrint
