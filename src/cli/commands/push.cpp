// push --db CONNINFO LOG...: sends the records that the database lacks from any --log files,
// each exactly once, however often the same logs are pushed.
#include <sstream>

#include "cli/command.h"
#include "cli/yield_output.h"
#include "database/push.h"
#include "database/schema.h"

namespace obrint::cli {
namespace {

void Run(Context& context) {
  const Options& options = context.options;
  std::string detail;
  Result<database::Connection> db = database::Connect(options.db, detail);
  if (!db) return context.reply.Fail(db.failure(), detail);
  if (const Status schema = database::CheckSchema(*db); !schema) {
    return context.reply.Fail(schema.failure(), db->detail());
  }
  database::Sender sender(*db);
  records::LogReader reader([&](const records::LogRecord& record, std::string_view log,
                                std::uint64_t number, std::string_view line) {
    sender.Add(line, record, std::string(log) + ":" + std::to_string(number));
  });
  std::string unopened;
  reader.ReadFiles(options.logs, unopened, [&context] { return context.signals.first() != 0; });
  sender.Flush();
  // Only the reader's count and names of the lines it could not read, told as report tells them.
  records::Yield report;
  report.unreadable = reader.unreadable();
  report.namedUnreadable = reader.namedUnreadable();
  const nlohmann::ordered_json counts = sender.Json();
  context.reply.fields.update(counts);
  context.reply.fields["unreadable"] = YieldJson(report)["unreadable"];
  for (const auto& refused : counts["refused"]["records"]) {
    context.console.Warn(refused["where"].get<std::string>() +
                         ": refused: " + refused["why"].get<std::string>());
  }
  if (report.unreadable > 0) {
    std::ostringstream unreadable;
    WriteUnreadableLines(report, unreadable);
    context.console.Warn(unreadable.str());
  }
  context.console.Say(std::to_string(counts["sent"].get<std::uint64_t>()) + " sent, " +
                      std::to_string(counts["already_there"].get<std::uint64_t>()) +
                      " already there, " + std::to_string(sender.refused()) + " refused, " +
                      std::to_string(report.unreadable) + " unreadable lines");
  // The worst last: a database that failed, then records refused, then logs not opened.
  if (!unopened.empty()) context.reply.Fail(Failure::kFileNotOpened, unopened);
  if (sender.refused() > 0) {
    context.reply.Fail(Failure::kRecordsRefused, std::to_string(sender.refused()) + " of them");
  }
  if (const Status sent = sender.status(); !sent) context.reply.Fail(sent.failure(), db->detail());
}

}  // namespace

const Command kPushCommand = {
    "push", "send the records that the database lacks from --log files, each exactly once", false,
    Run};

}  // namespace obrint::cli
