// Where each run's record goes as soon as the run ends: a store, the --log file or one beside it
// (a database's) without the flashing engine knowing which.
#pragma once

#include <string>

#include "device/failure.h"
#include "files/files.h"
#include "records/record.h"

namespace obrint::records {

class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Keeps the record, made to last; several threads may keep records at once.
  virtual Status Keep(const RunSetting& setting, const HeadsetRecord& record) = 0;
  // Why the first record that could not be kept was not: the system's reason; empty while none.
  virtual std::string failure() const = 0;
};

// A --log file: a JSON line per record, appended and made to last. Once an append has failed,
// the file may end inside its line: it takes no record more (Failure::kFileWriteFailed).
class LogFile : public RecordStore {
 public:
  // Failure::kFileNotOpened.
  static Result<LogFile> Open(const std::string& path);
  Status Keep(const RunSetting& setting, const HeadsetRecord& record) override;
  std::string failure() const override { return log_.failure(); }

 private:
  explicit LogFile(files::AppendLog log) : log_(std::move(log)) {}
  files::AppendLog log_;
};

}  // namespace obrint::records
