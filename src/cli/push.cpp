// push --db CONNINFO LOG...: sends the records that the database lacks from any --log files,
// each exactly once, however often the same logs are pushed.
#include <CLI/CLI.hpp>
#include <sstream>

#include "cli/command.h"
#include "cli/signals.h"
#include "cli/log_report.h"
#include "cli/report_output.h"
#include "database/push.h"
#include "database/schema.h"
#include "records/record_id.h"

namespace obrint::cli {
namespace {

constexpr std::size_t kBatch = 1000;  // records per transaction
constexpr std::size_t kNamedRefusals = 100;

// Gathers the logs' readable lines into batches and sends each; after a failure, nothing more.
class Sender {
 public:
  explicit Sender(database::Connection& db) : db_(db) {}

  void Add(std::string_view line, const LogRecord& record, std::string where) {
    if (status_.failed()) return;
    if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);  // a byte order mark: not JSON
    std::string& text = records_.emplace_back(line);
    if (record.id.empty()) {  // a record from before IDs: its ID from its content
      text.insert(text.find('{') + 1, "\"id\":\"" + records::DerivedRecordId(line) + "\",");
    }
    where_.push_back(std::move(where));
    if (records_.size() == kBatch) Flush();
  }

  void Flush() {
    if (status_.failed() || records_.empty()) return;
    const Result<database::PushCounts> pushed = database::Push(db_, records_);
    if (!pushed) {
      status_ = pushed.failure();
      return;
    }
    sent_ += pushed->sent;
    alreadyThere_ += pushed->alreadyThere;
    for (const database::Refusal& refusal : pushed->refused) {
      if (refused_.size() < kNamedRefusals) {
        refused_.push_back({{"where", where_[refusal.index]}, {"why", refusal.why}});
      }
      ++refusedCount_;
    }
    records_.clear();
    where_.clear();
  }

  nlohmann::ordered_json Json() const {
    return {{"sent", sent_},
            {"already_there", alreadyThere_},
            {"refused", {{"count", refusedCount_}, {"records", refused_}}}};
  }
  Status status() const { return status_; }
  std::uint64_t refused() const { return refusedCount_; }

 private:
  database::Connection& db_;
  std::vector<std::string> records_, where_;
  std::uint64_t sent_ = 0, alreadyThere_ = 0, refusedCount_ = 0;
  nlohmann::ordered_json refused_ = nlohmann::ordered_json::array();
  Status status_;
};

void Define(CLI::App& command, Options& options) {
  command.add_option("LOG", options.logs, "the stations' --log files")->required();
  AddDatabaseOption(command, options);
}

void Run(Context& context) {
  const Options& options = context.options;
  std::string detail;
  Result<database::Connection> db = database::Connect(options.db, detail);
  if (!db) return context.reply.Fail(db.failure(), detail);
  if (const Status schema = database::CheckSchema(*db); !schema) {
    return context.reply.Fail(schema.failure(), db->detail());
  }
  Sender sender(*db);
  LogReader reader;
  reader.ForwardLines([&sender](std::string_view name, std::uint64_t number, std::string_view line,
                                const LogRecord& record) {
    sender.Add(line, record, std::string(name) + ":" + std::to_string(number));
  });
  std::string unopened;
  reader.ReadFiles(options.logs, unopened, [&context] { return context.signals.first() != 0; });
  sender.Flush();
  const Report report = reader.Finish();
  const nlohmann::ordered_json counts = sender.Json();
  context.reply.fields.update(counts);
  context.reply.fields["unreadable"] = ReportJson(report)["unreadable"];
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
    Define, Run};

}  // namespace obrint::cli
