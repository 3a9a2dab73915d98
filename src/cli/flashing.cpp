#include "cli/flashing.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "obrint_version.h"

namespace obrint::cli {

std::optional<engine::LoadedImage> LoadFlashableImage(Context& context) {
  std::string detail;
  Result<engine::LoadedImage> image =
      engine::LoadFlashable(context.options.image, context.options.force, detail);
  context.reply.fields["image_path"] = context.options.image;
  if (!image) {
    context.reply.Fail(image.failure(), detail);
    return std::nullopt;
  }
  return std::move(*image);
}

std::optional<RunPlace> OpenRunPlace(Context& context, const engine::LoadedImage& image) {
  const Options& options = context.options;
  if (!options.db.empty() && options.log.empty()) {
    context.reply.Fail(Failure::kBadUsage,
                       "--db needs --log, which keeps each record until the database has it");
    return std::nullopt;
  }
  std::string detail;
  Result<RunPlace> place = engine::OpenRunPlace(
      {OBRINT_VERSION_TEXT, options.station.empty() ? engine::HostName() : options.station,
       options.operatorName, image.path, static_cast<std::uint32_t>(image.bytes.size()),
       image.sha256, image.check.storedChecksum},
      options.log, options.db, detail);
  if (!place) {
    context.reply.Fail(place.failure(), detail);
    return std::nullopt;
  }
  return std::move(*place);
}

RunObserver::~RunObserver() {
  if (place_.outbox) place_.outbox->Tell(nullptr);
}

void RunObserver::Ending(const std::vector<HeadsetRecord>& records, int signal) {
  Console& console = context_.console;
  console.EndProgress();
  console.Error("stopped by signal " + std::to_string(signal) + "; every headset has its record");
  if (console.json()) {
    context_.reply.fields["headsets"] = records::RecordsJson(place_.setting, records);
    context_.reply.Stop(signal, "stopped by signal " + std::to_string(signal));
    PrintJson(context_);
  }
  EndProcess(128 + signal);
}

void RunObserver::EndProcess(int status) {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(status);
}

engine::FleetSetup FleetSetupFor(Context& context, const engine::LoadedImage& image,
                                 RunPlace& place, RunObserver& observer) {
  context.signals.TakeOver();
  if (place.outbox) place.outbox->Tell(&observer);
  return {*context.host, image,    context.signals, place.setting, context.options.timeoutMs,
          place.store(), &observer};
}

bool OnVirtualTime(const Options& options) {
  return options.sim.used && !options.sim.setup.realTime;
}

nlohmann::ordered_json LinkJson(const database::Link& link) {
  nlohmann::ordered_json json = {{"state", console::LinkState(link)}};
  if (!link.away.empty()) json["reason"] = link.away;
  json["waiting"] = link.waiting;
  json["refused"] = link.refused;
  return json;
}

void CloseOutbox(Context& context, const RunPlace& place) {
  const std::optional<database::Link> link = place.CloseOutbox();
  if (!link) return;
  context.reply.fields["database"] = LinkJson(*link);
  if (link->waiting == 0) return;
  context.console.Warn(std::to_string(link->waiting) + " records wait in " + context.options.log +
                       " for the next push");
}

void PutImage(nlohmann::ordered_json& fields, const records::RunSetting& setting) {
  fields["image_size"] = setting.imageSize;
  fields["image_sha256"] = setting.imageSha256;
  fields["image_checksum"] = records::ChecksumText(setting.imageChecksum);
}

void EndRunPlace(Context& context, const RunPlace& place,
                 const std::vector<HeadsetRecord>& unkept) {
  if (unkept.empty()) return;
  Console& console = context.console;
  const nlohmann::ordered_json records = records::RecordsJson(place.setting, unkept);
  context.reply.fields["unlogged"] = records;
  const std::string count = std::to_string(unkept.size());
  if (!console.json()) {
    console.Error("records the log could not take: " + count + ", a line each:");
    for (const auto& record : records) console.Record(record.dump());
  }
  // The headsets' outcomes rank first, an interruption after.
  if (context.reply.failed() && context.reply.code != ExitCode::kInterrupted) return;
  context.reply.Fail(
      Failure::kRecordsUnkept,
      "the log " + context.options.log + " stopped taking records (" + place.log->failure() +
          "): " + count + " of this run's are not in it; " +
          (console.json() ? "they are under \"unlogged\"" : "they are printed above"));
}

}  // namespace obrint::cli
