#include "records/store.h"

#include <nlohmann/json.hpp>

namespace obrint::records {

Result<LogFile> LogFile::Open(const std::string& path) {
  Result<files::AppendLog> log = files::AppendLog::Open(path);
  if (!log) return log.failure();
  return LogFile(std::move(*log));
}

Status LogFile::Keep(const RunSetting& setting, const HeadsetRecord& record) {
  return log_.Append(RecordJson(setting, record).dump());
}

}  // namespace obrint::records
