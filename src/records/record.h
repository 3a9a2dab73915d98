// One headset's run of a flashing command, as it is recorded: the same object in the --json
// output and in each line of a --log file (docs/record.schema.json describes it). Its outcome,
// reason and exit status follow from how the run ended, by the one table of failures.cpp.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "device/failure.h"
#include "device/reports.h"

namespace obrint::records {

// What every record of one run shares: the tool, the station and the image.
struct RunSetting {
  std::string toolVersion;
  std::string station;  // --station, else the host name
  std::string operatorName;
  std::string imagePath;  // as given
  std::uint32_t imageSize = 0;
  std::string imageSha256;  // of the bytes written
  std::uint32_t imageChecksum = 0;
};

enum class RunOutcome : std::uint8_t { kFlashed, kFailed, kNotBack, kNotStarted, kInterrupted };

// Where one headset's run stands.
enum class RunStage : std::uint8_t {
  kWaiting,     // to begin, or for its turn to restart
  kRestarting,  // into its boot firmware
  kFlashing,
  kRebooting,  // into the new firmware, and waited for
  kDone,
};

// How a run ended: flashed (no failure, kDone), with a failure, or found at `stage` by the signal
// that ended the process. A run under way has no failure and is not done.
struct Ending {
  std::optional<Failure> failure;
  RunStage stage = RunStage::kWaiting;
  int signal = 0;
};

struct HeadsetRecord {
  std::string id;  // made with the record (record_id.h)
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point ended;
  std::string usbPort;
  std::string path;
  std::optional<McuId> mcuId;
  std::optional<std::uint16_t> firmwareBefore;
  std::optional<std::uint16_t> bootVersion;
  std::optional<std::uint16_t> firmwareAfter;
  std::uint32_t bytesSent = 0;
  Ending ending;

  RunOutcome outcome() const;
  std::string reason() const;  // empty when flashed
  int exitStatus() const;      // the status this headset alone gives the command line
};

std::string_view OutcomeName(RunOutcome outcome);
std::optional<RunOutcome> ParseOutcome(std::string_view name);  // nullopt for no outcome's name
// "2026-12-07T12:00:00.123Z", and back; nullopt for a text of another form.
std::string UtcTime(std::chrono::system_clock::time_point when);
std::optional<std::chrono::system_clock::time_point> ParseUtcTime(std::string_view text);
// Whether `text` is of `shape`: a '0' stands for one of `digits`, anything else for itself.
bool HasShape(std::string_view text, std::string_view shape, std::string_view digits);
// "0x0012ABCD": a 32-bit checksum as every output writes it.
std::string ChecksumText(std::uint32_t checksum);
// "0025", or empty when not read.
std::string VersionText(const std::optional<std::uint16_t>& version);
nlohmann::ordered_json RecordJson(const RunSetting& setting, const HeadsetRecord& record);
// The records of a run, in an array.
nlohmann::ordered_json RecordsJson(const RunSetting& setting,
                                   const std::vector<HeadsetRecord>& records);

}  // namespace obrint::records
