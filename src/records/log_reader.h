// The one reader of --log files, a line at a time and never a log whole: each line checked against
// docs/record.schema.json for the fields that the yield, the station, flash --all and push read;
// the others are not read, so that a later version's record still counts. A line that cannot be
// read (not JSON, a field missing or not of its form, empty, longer than kMaxLogLine) is counted,
// named as "LOG:LINE: why" and passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "records/record.h"

namespace obrint::records {

inline constexpr std::size_t kMaxLogLine = 65535;  // bytes, without the line end

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
  // Reads the logs (files or pipes) at `paths` (UTF-8) in turn until `stop` says so; those that do
  // not open (a folder) are named with why in `unopened`, ", " between them. How many were read.
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

// The MCU IDs that a log's records say were flashed with the image `sha256`, and when; the lines
// that are no record counted in `passedOver`. Empty when the log does not open.
std::map<McuId, std::chrono::system_clock::time_point> FlashedBefore(const std::string& logPath,
                                                                     const std::string& sha256,
                                                                     std::uint64_t& passedOver);

}  // namespace obrint::records
