// report LOG... | report --db CONNINFO: the yield of one or many stations from their --log
// files, or from the line's database.
#include <sstream>

#include "cli/command.h"
#include "cli/yield_output.h"
#include "database/yield_query.h"
#include "files/files.h"

namespace obrint::cli {
namespace {

void WarnUnreadable(Context& context, const records::Yield& report) {
  std::ostringstream unreadable;
  WriteUnreadableLines(report, unreadable);
  if (report.unreadable > 0) context.console.Warn(unreadable.str());
}

// A page stands on its own, away from these messages: it is written from every log or not at all.
void WritePage(Context& context, const records::Yield& report, const std::string& unopened) {
  const Options& options = context.options;
  if (!unopened.empty()) return context.reply.Fail(Failure::kFileNotOpened, unopened);
  const std::string page =
      YieldPage(context.reply.fields,
                {{"logs", options.logs}, {"since", options.since}, {"image", options.imageFilter}});
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(page.data());
  if (const Status written = files::ReplaceContents(options.html, {bytes, page.size()}, true);
      !written) {
    return context.reply.Fail(written.failure(), options.html);
  }
  WarnUnreadable(context, report);
  context.console.Say("wrote the yield page of " + std::to_string(report.records) + " records to " +
                      options.html);
}

// The yield in the form asked for; `unopened` names the logs that could not be read.
void Present(Context& context, const records::Yield& report, const std::string& unopened) {
  const Options& options = context.options;
  if (!report.error.empty()) return context.reply.Fail(Failure::kBadUsage, report.error);
  context.reply.fields.update(YieldJson(report));
  if (!options.html.empty()) return WritePage(context, report, unopened);
  std::ostringstream text;
  if (options.csv) {
    WriteYieldCsv(report, text);
    WarnUnreadable(context, report);
  } else {
    WriteYieldText(report, text);
  }
  context.console.Print(text.str());
  // The logs that could be read are reported all the same.
  if (!unopened.empty()) context.reply.Fail(Failure::kFileNotOpened, unopened);
}

void Run(Context& context) {
  const Options& options = context.options;
  const records::YieldFilter filter{options.since, options.imageFilter};
  if (const std::string error = records::FilterError(filter); !error.empty()) {
    return context.reply.Fail(Failure::kBadUsage, error);
  }
  if (!options.db.empty()) {
    std::string detail;
    const Result<records::Yield> report = database::QueryYield(options.db, filter, detail);
    if (!report) return context.reply.Fail(report.failure(), detail);
    return Present(context, *report, {});
  }
  if (options.logs.empty())
    return context.reply.Fail(Failure::kBadUsage, "report needs LOG files, or --db CONNINFO");
  records::YieldTally tally(filter);
  records::LogReader reader([&tally](const records::LogRecord& record, std::string_view,
                                     std::uint64_t,
                                     std::string_view line) { tally.Add(record, line); });
  std::string unopened;
  const auto stopped = [&context] { return context.signals.first() != 0; };
  const std::size_t read = reader.ReadFiles(options.logs, unopened, stopped);
  if (stopped()) return;  // a report of part of the logs would pass for the whole
  if (read == 0) return context.reply.Fail(Failure::kFileNotOpened, unopened);
  Present(context, tally.Finish(reader), unopened);
}

}  // namespace

const Command kReportCommand = {
    "report", "yield per image, station and day from --log files or --db", false, Run};

}  // namespace obrint::cli
