// One headset's run of a flashing command, as it is recorded: the same object in the --json
// output and in each line of a --log file (docs/record.schema.json describes it).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "device/failure.h"
#include "device/reports.h"

namespace obrint::cli {

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

struct HeadsetRecord {
  std::string id;  // made with the record (records/record_id.h)
  std::chrono::system_clock::time_point started;
  std::chrono::system_clock::time_point ended;
  std::string usbPort;
  std::string path;
  std::optional<McuId> mcuId;
  std::optional<std::uint16_t> firmwareBefore;
  std::optional<std::uint16_t> bootVersion;
  std::optional<std::uint16_t> firmwareAfter;
  RunOutcome outcome = RunOutcome::kNotStarted;
  std::string reason;              // empty when flashed
  std::optional<Failure> failure;  // what the reason says, where a failure ended the run
  int exitStatus = 0;
  std::uint32_t bytesSent = 0;
};

std::string_view OutcomeName(RunOutcome outcome);
// The computer's name, for the station a record names by default.
std::string HostName();
// "2026-12-07T12:00:00.123Z".
std::string UtcTime(std::chrono::system_clock::time_point when);
// "0x0012ABCD": a 32-bit checksum as every output writes it.
std::string ChecksumText(std::uint32_t checksum);
// "0025", or empty when not read.
std::string VersionText(const std::optional<std::uint16_t>& version);
nlohmann::ordered_json RecordJson(const RunSetting& setting, const HeadsetRecord& record);

}  // namespace obrint::cli
