#include "engine/run_place.h"

#include <chrono>

#include "files/files.h"

namespace obrint::engine {
namespace {

// At the end of a run, how long the database may take for the records that wait.
constexpr std::chrono::seconds kDatabaseGrace{5};

}  // namespace

records::RecordStore* RunPlace::store() const {
  return outbox ? outbox.get() : static_cast<records::RecordStore*>(log.get());
}

std::optional<database::Link> RunPlace::CloseOutbox() const {
  if (!outbox) return std::nullopt;
  const database::Link link = outbox->Close(kDatabaseGrace);
  outbox->Tell(nullptr);
  return link;
}

Result<RunPlace> OpenRunPlace(records::RunSetting setting, const std::string& log,
                              const std::string& conninfo, std::string& detail) {
  RunPlace place{std::move(setting), nullptr, nullptr};
  if (!log.empty()) {
    Result<records::LogFile> file = records::LogFile::Open(log);
    if (!file) {
      detail = files::WithSystemReason(log);
      return file.failure();
    }
    place.log = std::make_unique<records::LogFile>(std::move(*file));
  }
  if (conninfo.empty()) return place;
  if (!place.log) return Failure::kBadUsage;
  Result<std::unique_ptr<database::Outbox>> outbox =
      database::OpenOutbox(*place.log, conninfo, detail);
  if (!outbox) return outbox.failure();
  place.outbox = std::move(*outbox);
  return place;
}

}  // namespace obrint::engine
