#include "records/log_reader.h"

#include <array>
#include <fstream>
#include <limits>

#include <nlohmann/json.hpp>

#include "files/files.h"
#include "records/record_id.h"

namespace obrint::records {
namespace {

using Json = nlohmann::json;

bool AllOf(std::string_view text, std::string_view allowed) {
  return text.find_first_not_of(allowed) == std::string_view::npos;
}

enum Field : std::uint8_t {
  kEnded,
  kStation,
  kImage,
  kMcuId,
  kOutcome,
  kReason,
  // The only ones a record may lack: records written before IDs have no ID, and a port that
  // only the line's figures read is taken as empty where it is absent.
  kUsbPort,
  kId,
  kDuration,
  kNone
};
constexpr std::array<std::string_view, kNone> kFieldNames = {"ended",    "station", "image_sha256",
                                                             "mcu_id",   "outcome", "reason",
                                                             "usb_port", "id",      "duration_ms"};

// Takes the fields the report needs from the record's top level as the parser meets them, with
// no tree of the whole record: a log is read at the speed of the lexer. The last of two equal
// keys counts, as in a parsed object.
class RecordFields : public Json::json_sax_t {
 public:
  enum class Seen : std::uint8_t { kNo, kYes, kWrongType };

  explicit RecordFields(LogRecord& record)
      : texts_{&record.ended, &record.station, &record.imageSha256, &record.mcuId,
               &outcome,      &record.reason,  &record.usbPort,     &record.id},
        record_(record) {}

  bool null() override { return Value(false); }
  bool boolean(bool) override { return Value(false); }
  bool number_integer(number_integer_t) override { return Value(false); }  // negative only
  bool number_unsigned(number_unsigned_t value) override {
    if (depth_ == 1 && field_ == kDuration) record_.durationMs = value;
    return Value(field_ == kDuration);
  }
  bool number_float(number_float_t, const string_t&) override { return Value(false); }
  bool string(string_t& value) override {
    const bool text = field_ < kDuration;
    if (depth_ == 1 && text) texts_[field_]->swap(value);  // the lexer's buffer, not needed again
    return Value(text);
  }
  bool binary(binary_t&) override { return Value(false); }
  bool start_object(std::size_t) override { return Open(depth_ == 0); }
  bool start_array(std::size_t) override { return Open(false); }
  bool key(string_t& name) override {
    if (depth_ == 1) {
      field_ = kNone;
      for (std::size_t f = 0; f < kFieldNames.size(); ++f) {
        if (std::string_view(name) == kFieldNames[f]) field_ = static_cast<Field>(f);
      }
    }
    return true;
  }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception&) override {
    errorByte = position;
    return false;
  }

  std::size_t errorByte = 0;  // where the text stopped being JSON, 0 if it did not
  bool notObject = false;
  std::array<Seen, kNone> seen{};
  std::string outcome;

 private:
  // A value of the top level's current key: the type the field needs, or not.
  bool Value(bool rightType) {
    if (depth_ == 0) return !(notObject = true);
    if (depth_ == 1 && field_ != kNone) seen[field_] = rightType ? Seen::kYes : Seen::kWrongType;
    return true;
  }
  bool Open(bool topObject) {
    if (depth_ == 0 && !topObject) return !(notObject = true);
    if (depth_ == 1 && field_ != kNone) seen[field_] = Seen::kWrongType;
    ++depth_;
    return true;
  }
  bool Close() {
    --depth_;
    return true;
  }

  std::array<std::string*, kDuration> texts_;
  LogRecord& record_;
  std::size_t depth_ = 0;
  Field field_ = kNone;
};

bool Refuse(std::string& why, std::string text) {
  why = std::move(text);
  return false;
}

// Reads `line` into `record`, reusing its strings' room; false, with why in `why`.
bool ParseLogRecord(std::string_view line, LogRecord& record, std::string& why) {
  record.id.clear();
  record.usbPort.clear();
  RecordFields fields(record);
  Json::sax_parse(line, &fields);
  if (fields.errorByte != 0) {
    return Refuse(why, "not JSON (byte " + std::to_string(fields.errorByte) + ")");
  }
  if (fields.notObject) return Refuse(why, "not a JSON object");
  for (std::size_t f = 0; f < kNone; ++f) {
    if (fields.seen[f] == RecordFields::Seen::kYes) continue;
    if ((f == kId || f == kUsbPort) && fields.seen[f] == RecordFields::Seen::kNo) continue;
    std::string name(1, '"');
    name.append(kFieldNames[f]).push_back('"');
    if (fields.seen[f] == RecordFields::Seen::kNo) return Refuse(why, "no " + name);
    // Non-negative integers come as unsigned; a negative one or a fraction is not a duration.
    return Refuse(why,
                  name + (f == kDuration ? " is not an integer of 0 or more" : " is not a string"));
  }
  if (!HasShape(record.ended, "0000-00-00T00:00:00.000Z", "0123456789")) {
    return Refuse(why, "\"ended\" is not a UTC time such as 2026-12-07T12:30:53.123Z");
  }
  if (record.station.empty()) return Refuse(why, "\"station\" is empty");
  if (fields.seen[kId] == RecordFields::Seen::kYes && !records::IsRecordId(record.id)) {
    return Refuse(why, "\"id\" is not a UUID in lower case");
  }
  if (record.imageSha256.size() != 64 || !AllOf(record.imageSha256, "0123456789abcdef")) {
    return Refuse(why, "\"image_sha256\" is not 64 lower-case hexadecimal digits");
  }
  if (!record.mcuId.empty() &&
      (record.mcuId.size() != 24 || !AllOf(record.mcuId, "0123456789ABCDEF"))) {
    return Refuse(why, "\"mcu_id\" is neither empty nor 24 upper-case hexadecimal digits");
  }
  const std::optional<RunOutcome> outcome = ParseOutcome(fields.outcome);
  if (!outcome) {
    return Refuse(why, "\"outcome\" \"" + fields.outcome + "\" is not one of the five outcomes");
  }
  record.outcome = *outcome;
  // Older stations recorded a headset that needs recovery as not started; it failed.
  if (outcome == RunOutcome::kNotStarted && record.reason.starts_with("needs recovery")) {
    record.outcome = RunOutcome::kFailed;
  }
  return true;
}

}  // namespace

LogReader::LogReader(RecordSink onRecord, std::size_t namedLimit)
    : onRecord_(std::move(onRecord)), namedLimit_(namedLimit) {}

void LogReader::Unreadable(std::string_view name, std::uint64_t line, std::string why) {
  ++unreadable_;
  if (named_.size() < namedLimit_) {
    named_.push_back({std::string(name) + ":" + std::to_string(line), std::move(why)});
  }
}

void LogReader::Read(std::istream& log, std::string_view name, const std::function<bool()>& stop) {
  std::uint64_t number = 0;
  while (!stop || !stop()) {
    log.getline(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    const auto got = static_cast<std::size_t>(log.gcount());
    if (got == 0 && (log.eof() || log.bad())) break;
    ++number;
    if (log.fail() && !log.eof() && !log.bad()) {
      // Longer than the buffer: the rest of the line is skipped, never held.
      log.clear();
      log.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      Unreadable(name, number, "longer than " + std::to_string(kMaxLogLine) + " bytes");
      continue;
    }
    const bool lastWithoutEnd = log.eof();  // getline stopped at the end, not at a line end
    std::string_view line(buffer_.data(), lastWithoutEnd ? got : got - 1);
    if (line.ends_with('\r')) line.remove_suffix(1);  // a log copied through a text-mode tool
    if (line.empty()) {
      Unreadable(name, number, "empty line");
    } else if (ParseLogRecord(line, record_, why_)) {
      onRecord_(record_, name, number, line);
    } else {
      if (lastWithoutEnd) why_ += "; the log ends inside this line, which may be cut short";
      Unreadable(name, number, why_);
    }
  }
  if (log.bad()) Unreadable(name, number + 1, "the log could not be read further");
}

std::size_t LogReader::ReadFiles(const std::vector<std::string>& paths, std::string& unopened,
                                 const std::function<bool()>& stop) {
  std::size_t read = 0;
  for (const std::string& path : paths) {
    if (stop && stop()) break;
    std::ifstream log;
    if (!files::OpenLog(path, log)) {
      unopened += (unopened.empty() ? "" : ", ") + files::WithSystemReason(path);
      continue;
    }
    Read(log, path, stop);
    ++read;
  }
  return read;
}

std::map<McuId, std::chrono::system_clock::time_point> FlashedBefore(const std::string& logPath,
                                                                     const std::string& sha256,
                                                                     std::uint64_t& passedOver) {
  std::map<McuId, std::chrono::system_clock::time_point> flashed;
  LogReader reader(
      [&](const LogRecord& record, std::string_view, std::uint64_t, std::string_view) {
        if (record.outcome != RunOutcome::kFlashed || record.imageSha256 != sha256) return;
        const std::optional<McuId> id = ParseMcuId(record.mcuId);
        const auto when = ParseUtcTime(record.ended);
        if (id && when) flashed[*id] = std::max(flashed[*id], *when);
      },
      0);
  std::ifstream log;
  if (files::OpenLog(logPath, log)) reader.Read(log, logPath);
  passedOver = reader.unreadable();
  return flashed;
}

}  // namespace obrint::records
