// The one reader of --log files: one line at a time, each checked against its form in
// docs/record.schema.json for the fields that the records' readers need (the yield, a station's
// headsets flashed before, the failed headsets to reflash, a push). The record's other fields are
// not read, so that a record that carries more (a later tool version's) still counts.
//
// A line that cannot be read (not JSON, a field needed missing, of the wrong type or not of its
// form, an empty line, a line longer than kMaxLogLine) is counted, named as "LOG:LINE: why" and
// passed over; the read goes on. A log is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "records/record.h"

namespace obrint::records {

inline constexpr std::size_t kMaxLogLine = 65535;  // bytes, without the line end

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
  std::string id;       // a UUID, or empty for a record written before IDs
  std::string usbPort;  // empty when the platform told none, or the record has none

  std::string_view day() const { return std::string_view(ended).substr(0, 10); }  // UTC
};

// Reads `line` (without its line end) into `record`, reusing its strings' room. False, with why
// in `why` ("not JSON (byte 12)", "no \"outcome\"", "\"duration_ms\" is not an integer"), when the
// line is not a JSON object or a field needed is missing, of the wrong type or not of its form.
// An older record of a headset that needs recovery ("not started", its reason "needs recovery…")
// is read as failed, as a station records it now.
bool ParseLogRecord(std::string_view line, LogRecord& record, std::string& why);

struct UnreadableLine {
  std::string where;  // "stations/a.jsonl:17"
  std::string why;
};

class LogReader {
 public:
  // Each readable line: its record, the log's name, the line's number in it and its text.
  using RecordSink = std::function<void(const LogRecord& record, std::string_view log,
                                        std::uint64_t number, std::string_view line)>;
  // Names at most `namedLimit` unreadable lines; counts them all.
  explicit LogReader(RecordSink onRecord, std::size_t namedLimit = 100);

  // Reads `log` to its end, or until `stop` says so; `name` names its lines ("stations/a.jsonl").
  void Read(std::istream& log, std::string_view name, const std::function<bool()>& stop = {});
  // Reads the logs at `paths` (UTF-8) one after another, until `stop` says so: a file, or a pipe;
  // those that cannot be opened (a folder among them) are named with their reasons in `unopened`,
  // ", " between them, and the others read all the same. How many were read.
  std::size_t ReadFiles(const std::vector<std::string>& paths, std::string& unopened,
                        const std::function<bool()>& stop = {});

  std::uint64_t unreadable() const { return unreadable_; }
  const std::vector<UnreadableLine>& namedUnreadable() const { return named_; }

 private:
  void Unreadable(std::string_view name, std::uint64_t line, std::string why);

  RecordSink onRecord_;
  std::size_t namedLimit_;
  std::uint64_t unreadable_ = 0;
  std::vector<UnreadableLine> named_;
  std::vector<char> buffer_ = std::vector<char>(kMaxLogLine + 1);  // reused from line to line
  LogRecord record_;
  std::string why_;
};

}  // namespace obrint::records
