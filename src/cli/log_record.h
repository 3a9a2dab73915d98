// One line of a --log file as the yield report reads it: the fields the report needs, each
// checked against its form in docs/record.schema.json. The record's other fields are not read, so
// a record that carries more (a later tool version's) still counts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/record.h"

namespace obrint::cli {

// Failed, not back and interrupted: the headset may hold no working image. A headset that was
// not started was left alone and is neither flashed nor failed.
bool IsFailure(RunOutcome outcome);

struct LogRecord {
  std::string ended;        // "2026-12-07T12:30:53.123Z": UTC, so the text sorts in time order
  std::string station;      // never empty
  std::string imageSha256;  // 64 lower-case hexadecimal digits
  std::string mcuId;        // 24 upper-case hexadecimal digits, or empty when it was not read
  RunOutcome outcome = RunOutcome::kFailed;
  std::string reason;  // empty when flashed
  std::uint64_t durationMs = 0;
  std::string id;  // a UUID, or empty for a record written before IDs

  std::string_view day() const { return std::string_view(ended).substr(0, 10); }  // UTC
};

// Reads `line` (without its line end) into `record`, reusing its strings' room. False, with why
// in `why` ("not JSON (byte 12)", "no \"outcome\"", "\"duration_ms\" is not an integer"), when the
// line is not a JSON object or a field the report needs is missing, of the wrong type or not of
// its form. An older record of a headset that needs recovery ("not started", its reason
// "needs recovery…") is read as failed, as a station records it now.
bool ParseLogRecord(std::string_view line, LogRecord& record, std::string& why);

}  // namespace obrint::cli
