#include "cli/log_record.h"

#include <array>

#include <nlohmann/json.hpp>

namespace obrint::cli {
namespace {

using Json = nlohmann::json;

constexpr std::array<std::string_view, 5> kOutcomeNames = {"flashed", "failed", "not back",
                                                           "not started", "interrupted"};

bool AllOf(std::string_view text, std::string_view allowed) {
  return text.find_first_not_of(allowed) == std::string_view::npos;
}

// "YYYY-MM-DDTHH:MM:SS.mmmZ", the schema's time form.
bool IsUtcTime(std::string_view text) {
  constexpr std::string_view kShape = "0000-00-00T00:00:00.000Z";
  if (text.size() != kShape.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) return false;
  }
  return true;
}

// The string field `name` into `out`; false with why when it is missing or not a string.
bool ReadText(const Json& object, const char* name, std::string& out, std::string& why) {
  const auto found = object.find(name);
  if (found == object.end()) {
    why = std::string("no \"") + name + "\"";
    return false;
  }
  if (!found->is_string()) {
    why = std::string("\"") + name + "\" is not a string";
    return false;
  }
  out = found->get_ref<const std::string&>();
  return true;
}

bool Refuse(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}

}  // namespace

std::string_view RunOutcomeName(RunOutcome outcome) {
  return kOutcomeNames[static_cast<std::size_t>(outcome)];
}

bool IsFailure(RunOutcome outcome) {
  return outcome == RunOutcome::kFailed || outcome == RunOutcome::kNotBack ||
         outcome == RunOutcome::kInterrupted;
}

bool ParseLogRecord(std::string_view line, LogRecord& record, std::string& why) {
  Json object;
  try {
    object = Json::parse(line);
  } catch (const Json::parse_error& error) {
    return Refuse(why, "not JSON (byte " + std::to_string(error.byte) + ")");
  }
  if (!object.is_object()) return Refuse(why, "not a JSON object");

  std::string outcome;
  if (!ReadText(object, "ended", record.ended, why) ||
      !ReadText(object, "station", record.station, why) ||
      !ReadText(object, "image_sha256", record.imageSha256, why) ||
      !ReadText(object, "mcu_id", record.mcuId, why) ||
      !ReadText(object, "outcome", outcome, why) ||
      !ReadText(object, "reason", record.reason, why)) {
    return false;
  }
  const auto duration = object.find("duration_ms");
  if (duration == object.end()) return Refuse(why, "no \"duration_ms\"");
  // Non-negative integers parse as unsigned; a negative one or a fraction is not a duration.
  if (!duration->is_number_unsigned()) {
    return Refuse(why, "\"duration_ms\" is not an integer of 0 or more");
  }
  record.durationMs = duration->get<std::uint64_t>();

  if (!IsUtcTime(record.ended)) {
    return Refuse(why, "\"ended\" is not a UTC time such as 2026-12-07T12:30:53.123Z");
  }
  if (record.station.empty()) return Refuse(why, "\"station\" is empty");
  if (record.imageSha256.size() != 64 || !AllOf(record.imageSha256, "0123456789abcdef")) {
    return Refuse(why, "\"image_sha256\" is not 64 lower-case hexadecimal digits");
  }
  if (!record.mcuId.empty() &&
      (record.mcuId.size() != 24 || !AllOf(record.mcuId, "0123456789ABCDEF"))) {
    return Refuse(why, "\"mcu_id\" is neither empty nor 24 upper-case hexadecimal digits");
  }
  for (std::size_t i = 0; i < kOutcomeNames.size(); ++i) {
    if (outcome == kOutcomeNames[i]) {
      record.outcome = static_cast<RunOutcome>(i);
      return true;
    }
  }
  return Refuse(why, "\"outcome\" \"" + outcome + "\" is not one of the five outcomes");
}

}  // namespace obrint::cli
