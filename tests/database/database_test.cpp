// The line's database on a PostgreSQL server of the tier's own (pg-server.sh, which ctest starts
// before and stops after): each test in a new database of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "cli/cli_harness.h"
#include "cli/record_schema.h"
#include "database/push.h"
#include "database/schema.h"
#include "records/record_id.h"

namespace obrint::database {
namespace {

using cli::testing::RunCliWith;
using Json = nlohmann::json;

std::string ServerFile(const std::string& name) {
  const char* dir = std::getenv("OBRINT_TEST_PG");
  std::ifstream in(std::string(dir ? dir : "") + "/" + name);
  std::string text;
  std::getline(in, text);
  return text;
}

// The first value of `sql`'s last result, or its SQLSTATE when it fails ("42501").
std::string Query(const std::string& conninfo, const std::string& sql) {
  const ConnOwner conn(PQconnectdb(conninfo.c_str()));
  EXPECT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
  PQsetNoticeProcessor(
      conn.get(), [](void*, const char*) {}, nullptr);
  const ResultOwner result(PQexec(conn.get(), sql.c_str()));
  if (const char* state = PQresultErrorField(result.get(), PG_DIAG_SQLSTATE)) return state;
  return PQntuples(result.get()) > 0 ? PQgetvalue(result.get(), 0, 0) : "";
}

Json Record(const std::string& ended = "2026-12-07T10:00:00.000Z") {
  return {{"id", records::NewRecordId()},
          {"started", "2026-12-07T09:59:49.000Z"},
          {"ended", ended},
          {"tool_version", "1.0.0.5"},
          {"station", "line-a"},
          {"operator", "ana"},
          {"image_path", "fw/app.bin"},
          {"image_size", 40960},
          {"image_sha256", std::string(64, 'a')},
          {"image_checksum", "0x0012ABCD"},
          {"usb_port", "1-2.1"},
          {"path", "/dev/hidraw3"},
          {"mcu_id", "04030201080706050C0B0A09"},
          {"firmware_before", "0024"},
          {"boot_firmware_version", "0102"},
          {"firmware_after", "0025"},
          {"outcome", "flashed"},
          {"reason", ""},
          {"exit_status", 0},
          {"duration_ms", 11000},
          {"bytes_sent", 40960}};
}

// Something that listens on a loopback port and answers as a web server does.
class NotPostgres {
 public:
  NotPostgres() {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(socket_, 4);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    thread_ = std::thread([this] {
      for (int client; (client = ::accept(socket_, nullptr, nullptr)) >= 0; ::close(client)) {
        (void)!::write(client, "HTTP/1.1 400 Bad Request\r\n\r\n", 28);
      }
    });
  }
  ~NotPostgres() {
    ::shutdown(socket_, SHUT_RDWR);
    thread_.join();
    ::close(socket_);
  }
  int port = 0;

 private:
  int socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
  std::thread thread_;
};

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(ServerFile("conninfo").empty()) << "no server: run through ctest";
    for (const char c :
         std::string(::testing::UnitTest::GetInstance()->current_test_info()->name())) {
      name_ += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)");
    Admin("CREATE DATABASE " + name_);
  }
  void TearDown() override { Admin("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }

  // The superuser, over the socket.
  std::string Conninfo(const std::string& db = {}) const {
    return ServerFile("conninfo") + " dbname=" + (db.empty() ? name_ : db);
  }
  std::string Tcp(const std::string& user) const {
    return "host=127.0.0.1 port=" + ServerFile("port") + " dbname=" + name_ + " user=" + user;
  }
  std::string Admin(const std::string& sql) { return Query(Conninfo("postgres"), sql); }
  std::string Sql(const std::string& sql) { return Query(Conninfo(), sql); }

  static Connection Open(const std::string& conninfo) {
    std::string detail;
    Result<Connection> db = Connect(conninfo, detail);
    if (!db) throw std::runtime_error("no connection: " + detail);
    return std::move(*db);
  }
  Connection Migrated() {
    Connection db = Open(Conninfo());
    EXPECT_EQ(Migrate(db).status(), Status()) << db.detail();
    return db;
  }
  // A login of `role` whose password the password file gives.
  void Login(const std::string& user, const std::string& role) {
    Admin("DROP ROLE IF EXISTS " + user);
    Admin("CREATE ROLE " + user + " LOGIN PASSWORD 'pw-" + user + "' IN ROLE " + role);
    std::ofstream(passwords_.File("pgpass"), std::ios::app)
        << "127.0.0.1:*:*:" << user << ":pw-" << user << "\n";
    std::filesystem::permissions(
        passwords_.File("pgpass"),
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ::setenv("PGPASSFILE", passwords_.File("pgpass").c_str(), 1);
  }

  std::string name_;
  cli::testing::ScratchDir passwords_;
};

// Each field of docs/record.schema.json is the column of its name, of its kind, NOT NULL where
// the field is required, and no column is not a field; at each rule's edge the table keeps what
// the schema allows and refuses what it does not.
TEST_F(DatabaseTest, TableAndRecordSchemaDescribeTheSameRecord) {
  Connection db = Migrated();
  const Json& schema = cli::testing::RecordSchema();
  const std::set<std::string> required(schema["required"].begin(), schema["required"].end());
  std::map<std::string, std::string> columns;
  for (int i = 1;; ++i) {
    const std::string column =
        Sql("SELECT column_name || ' ' || data_type || ' ' || is_nullable FROM "
            "information_schema.columns WHERE table_schema = 'obrint' AND table_name = 'records' "
            "AND ordinal_position = " +
            std::to_string(i));
    if (column.empty()) break;
    columns[column.substr(0, column.find(' '))] = column.substr(column.find(' ') + 1);
  }
  EXPECT_EQ(columns.size(), schema["properties"].size());
  EXPECT_EQ(Sql("SELECT pg_get_constraintdef(oid) FROM pg_constraint WHERE contype = 'p' AND "
                "conrelid = 'obrint.records'::regclass"),
            "PRIMARY KEY (id)");

  const auto stored = [&](Json record) {
    record["id"] = records::NewRecordId();
    const Result<PushCounts> counts = Push(db, std::vector{record.dump()});
    EXPECT_TRUE(counts) << db.detail();
    return counts && counts->sent == 1;
  };
  EXPECT_TRUE(stored(Record()));
  for (const auto& [name, field] : schema["properties"].items()) {
    SCOPED_TRACE(name);
    const Json& rule = field.contains("$ref")
                           ? schema["$defs"][field["$ref"].get<std::string>().substr(8)]
                           : field;
    std::string kind = "text";
    if (rule.value("type", "") == "integer") {
      kind = rule.value("maximum", std::int64_t{1} << 40) < (std::int64_t{1} << 31) ? "integer"
                                                                                    : "bigint";
    }
    if (field.value("$ref", "") == "#/$defs/time") kind = "timestamp with time zone";
    if (name == "id") kind = "uuid";
    const bool notNull = required.contains(name) || name == "id";
    EXPECT_EQ(columns[name], kind + (notNull ? " NO" : " YES"));
    if (name == "id") continue;

    const auto with = [&](const Json& value) {
      Json record = Record();
      record[name] = value;
      return stored(record);
    };
    if (required.contains(name)) {
      Json record = Record();
      record.erase(name);
      EXPECT_FALSE(stored(record));
    }
    if (rule.contains("minimum")) {
      EXPECT_TRUE(with(rule["minimum"]));
      EXPECT_FALSE(with(rule["minimum"].get<std::int64_t>() - 1));
    }
    if (rule.contains("maximum")) {
      EXPECT_TRUE(with(rule["maximum"]));
      EXPECT_FALSE(with(rule["maximum"].get<std::int64_t>() + 1));
    }
    if (rule.value("type", "string") != "string") continue;  // an enum has no type
    const auto allows = [&](const std::string& text) {
      const Json options = rule.value("enum", Json::array({text}));
      return text.size() >= rule.value("minLength", 0u) &&
             std::regex_search(text, std::regex(rule.value("pattern", ""))) &&
             std::find(options.begin(), options.end(), text) != options.end();
    };
    for (const std::string text : {"", "!", "nonesuch"})
      EXPECT_EQ(with(text), allows(text)) << text;
    for (const Json& value : rule.value("enum", Json::array())) EXPECT_TRUE(with(value));
  }
}

TEST_F(DatabaseTest, MigrationsGoForwardEachWholeOrNotAtAll) {
  Connection db = Open(Conninfo());
  EXPECT_EQ(CheckSchema(db), Status(Failure::kSchemaOlder));
  EXPECT_EQ(*Migrate(db), 0);
  EXPECT_EQ(*Migrate(db), kSchemaVersion);
  EXPECT_EQ(CheckSchema(db), Status());
  EXPECT_EQ(CheckSchema(db, kSchemaVersion + 1), Status(Failure::kSchemaOlder));
  std::vector<Migration> next(Migrations().begin(), Migrations().end());

  // A migration that fails half-way leaves nothing of itself, and neither does one whose version
  // cannot be noted (its table's shape gone with the function that reads it).
  for (const char* failing :
       {"DO $$ BEGIN RAISE EXCEPTION 'half-way'; END $$", "DROP FUNCTION obrint.records_shape()"}) {
    const std::string sql = std::string("CREATE TABLE obrint.half (x int);") + failing;
    next.push_back({kSchemaVersion + 1, sql.c_str()});
    EXPECT_FALSE(Migrate(db, next)) << failing;
    next.pop_back();
    EXPECT_EQ(Sql("SELECT to_regclass('obrint.half') IS NULL"), "t");
    EXPECT_EQ(CheckSchema(db), Status()) << db.detail();
  }

  // One that works records the table it leaves; a program of the older version is refused then.
  next.push_back({kSchemaVersion + 1, "ALTER TABLE obrint.records ADD line text"});
  EXPECT_EQ(*Migrate(db, next), kSchemaVersion);
  EXPECT_EQ(CheckSchema(db, kSchemaVersion + 1), Status());
  EXPECT_EQ(CheckSchema(db), Status(Failure::kSchemaNewer));
  EXPECT_EQ(Migrate(db).status(), Status(Failure::kSchemaNewer));
}

TEST_F(DatabaseTest, ATableAlteredByHandIsTold) {
  Migrated();
  const std::string copy = name_ + "_altered";
  for (const char* alteration : {
           "ALTER TABLE obrint.records ADD note text",
           "ALTER TABLE obrint.records DROP operator",
           "ALTER TABLE obrint.records ALTER reason DROP NOT NULL",
           "ALTER TABLE obrint.records ALTER exit_status TYPE bigint",
           "ALTER TABLE obrint.records DROP CONSTRAINT records_image_size_check",
           "ALTER TABLE obrint.records DROP CONSTRAINT records_pkey",
           "DROP INDEX obrint.records_ended",
           "DROP TABLE obrint.records",
       }) {
    SCOPED_TRACE(alteration);
    Admin("CREATE DATABASE " + copy + " TEMPLATE " + name_);
    EXPECT_EQ(Query(Conninfo(copy), alteration), "");
    {
      Connection db = Open(Conninfo(copy));
      EXPECT_EQ(CheckSchema(db), Status(Failure::kSchemaAltered)) << db.detail();
      EXPECT_EQ(Migrate(db).status(), Status(Failure::kSchemaAltered));
    }
    Admin("DROP DATABASE " + copy + " WITH (FORCE)");
  }
}

TEST_F(DatabaseTest, StationsMayOnlyInsertAndReportsOnlyRead) {
  Migrated();
  Login(name_ + "_st", "obrint_station");
  Login(name_ + "_rep", "obrint_report");
  Connection station = Open(Tcp(name_ + "_st"));
  EXPECT_EQ(CheckSchema(station), Status());
  const Result<PushCounts> pushed = Push(station, std::vector{Record().dump()});
  EXPECT_EQ(pushed.status(), Status()) << station.detail();
  for (const char* sql : {"SELECT count(*) FROM obrint.records", "DELETE FROM obrint.records",
                          "UPDATE obrint.records SET reason = 'x'"}) {
    EXPECT_EQ(Query(Tcp(name_ + "_st"), sql), "42501") << sql;
  }
  EXPECT_EQ(Query(Tcp(name_ + "_rep"), "SELECT count(*) FROM obrint.records"), "1");
  Connection report = Open(Tcp(name_ + "_rep"));
  EXPECT_EQ(Push(report, std::vector{Record().dump()}).status(), Status(Failure::kRequestRefused));
  EXPECT_EQ(Migrate(report).status(), Status()) << "a current schema needs no rights";
}

TEST_F(DatabaseTest, ConnectionFailuresAreToldApart) {
  Login(name_ + "_st", "obrint_station");
  const NotPostgres web;
  int closed = 0;
  {
    const NotPostgres gone;
    closed = gone.port;
  }
  const std::string user = Tcp(name_ + "_st");
  const struct {
    std::string conninfo;
    std::optional<Failure> failure;
  } cases[] = {
      {"host=127.0.0.1 port=x", Failure::kConnInfoInvalid},
      {"dbname", Failure::kConnInfoInvalid},
      {"postgresql://[::1", Failure::kConnInfoInvalid},
      {"host=127.0.0.1 port=" + std::to_string(closed), Failure::kDatabaseUnreachable},
      {Conninfo("nonesuch"), Failure::kDatabaseUnreachable},
      {"host=127.0.0.1 user=x port=" + std::to_string(web.port), Failure::kNotPostgres},
      {user + " password=wrong", Failure::kLoginRefused},
      {user + " passfile=/nonesuch", Failure::kLoginRefused},
      {user, std::nullopt},
  };
  for (const auto& c : cases) {
    std::string detail;
    const Result<Connection> db = Connect(c.conninfo, detail);
    EXPECT_EQ(db.status(), c.failure ? Status(*c.failure) : Status())
        << c.conninfo << ": " << detail;
  }
}

// A refused record is named; the records around it are stored; sent again, nothing is stored
// twice.
TEST_F(DatabaseTest, PushStoresEachRecordOnceAndNamesTheRefused) {
  Connection db = Migrated();
  std::vector<std::string> records;
  for (int i = 0; i < 5; ++i) records.push_back(Record().dump());
  records.push_back(records[0]);  // the same record twice in one batch
  Json refused = Record();
  refused["image_size"] = 0;
  records[2] = refused.dump();
  for (const auto& [sent, already] : {std::pair(4u, 1u), std::pair(0u, 5u)}) {
    const Result<PushCounts> counts = Push(db, records);
    ASSERT_TRUE(counts) << db.detail();
    EXPECT_EQ(counts->sent, sent);
    EXPECT_EQ(counts->alreadyThere, already);
    ASSERT_EQ(counts->refused.size(), 1u);
    EXPECT_EQ(counts->refused[0].index, 2u);
    EXPECT_NE(counts->refused[0].why.find("records_image_size_check"), std::string::npos);
  }
  EXPECT_EQ(Sql("SELECT count(*) FROM obrint.records"), "4");
}

// Logs of a station with IDs and of one from before them, and broken lines: sent once however
// often they are pushed, and a second log that the database partly holds sends only the rest.
TEST_F(DatabaseTest, PushOfLogsSendsWhatTheDatabaseLacks) {
  const cli::testing::ScratchDir dir;
  const std::string image = dir.File("app.bin"), log = dir.File("a.jsonl");
  ASSERT_EQ(RunCliWith({"db", "init", "--db", Conninfo()}).out, "schema version 2, made\n");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  ASSERT_EQ(RunCliWith({"--sim", "3", "flash", "--all", "--yes", "--log", log, image}).code, 0);
  Json old = Record("2025-01-01T00:00:00.000Z");
  old.erase("id");
  Json broken = old;
  broken["exit_status"] = 256;
  // The same old record laid out otherwise has the same ID.
  std::ofstream(log, std::ios::app)
      << old.dump() << "\n"
      << std::regex_replace(old.dump(), std::regex(","), ", ") << "\n{\"cut\n"
      << broken.dump() << "\n";
  const std::string two = dir.File("b.jsonl");
  std::ofstream(two) << Record().dump() << "\n" << old.dump() << "\n";
  const struct {
    std::vector<std::string> logs;
    int sent, already, refused, unreadable;
  } pushes[] = {{{log}, 4, 1, 1, 1}, {{log}, 0, 5, 1, 1}, {{two}, 1, 1, 0, 0}};
  for (const auto& push : pushes) {
    std::vector<std::string> args = {"--json", "push", "--db", Conninfo()};
    args.insert(args.end(), push.logs.begin(), push.logs.end());
    const auto run = RunCliWith(args);
    const Json json = run.Json();
    EXPECT_EQ(run.code, push.refused > 0 ? 9 : 0) << run.err;
    EXPECT_EQ(json["sent"], push.sent);
    EXPECT_EQ(json["already_there"], push.already);
    EXPECT_EQ(json["refused"]["count"], push.refused);
    EXPECT_EQ(json["unreadable"]["count"], push.unreadable);
    EXPECT_EQ(json["refused"].dump().find(log + ":7") != std::string::npos, push.refused > 0);
  }
  EXPECT_EQ(Sql("SELECT count(*) FROM obrint.records"), "5");
  EXPECT_EQ(RunCliWith({"push", "--db", Conninfo("postgres"), log}).code, 9) << "no schema";
  EXPECT_EQ(RunCliWith({"push", "--db", "port=x", log}).code, 2);
}

// report --db gives report's figures over the same logs pushed, in each form and filter, and
// either gives the same whatever order the logs come in. The database holds no unreadable line:
// the forms are compared without the count of them. A login of obrint_report suffices.
TEST_F(DatabaseTest, ReportFromTheDatabaseGivesTheLogsFigures) {
  Migrated();
  Login(name_ + "_rep", "obrint_report");
  const std::string x = "0123abcd" + std::string(56, 'a'), y = "0123abcd" + std::string(56, 'b');
  const auto record = [&x](const std::string& ended, const std::string& outcome,
                           const std::string& reason = "", std::uint64_t ms = 11000) {
    Json r = Record("2026-12-0" + ended + "Z");
    r["outcome"] = outcome;
    r["reason"] = reason;
    r["duration_ms"] = ms;
    r["image_sha256"] = x;
    return r;
  };
  std::vector<Json> a, b;
  // Beyond the reasons a group names, written last in byte order first; some of them tie.
  for (int i = 104; i >= 0; --i) {
    for (int n = 0; n <= i % 3; ++n)
      a.push_back(record("6T08:00:00.000", "failed", std::to_string(i)));
  }
  for (const std::uint64_t ms : {900u, 1500u, 2047u, 2048u, 12345u, 12346u})
    a.push_back(record("6T09:00:00.000", "flashed", "", ms));
  for (Json& r : a) r["mcu_id"] = "";
  a.push_back(record("6T10:00:00.000", "not started"));
  a.push_back(record("6T10:00:00.000", "not started", "needs recovery: it"));
  a.push_back(record("6T10:00:00.000", "interrupted"));
  a.back().erase("id");  // from before IDs
  // A tie between the logs: the later ID is the flashed record, in the log read first.
  a.push_back(record("7T10:00:00.000", "flashed"));
  a.back()["id"] = "00000000-0000-4000-8000-000000000002";
  b.push_back(record("6T08:00:00.000", "failed", "zz"));  // in a's group, from another log
  b.back()["mcu_id"] = "";
  b.push_back(record("7T10:00:00.000", "failed", "block 5"));
  b.back()["id"] = "00000000-0000-4000-8000-000000000001";
  b.back()["station"] = "line-b";
  b.push_back(record("7T11:00:00.000", "not back"));
  b.back()["mcu_id"] = "0403020108070605FFFFFFFF";
  b.back()["image_sha256"] = y;
  const cli::testing::ScratchDir dir;
  const std::vector<std::string> logs = {dir.File("a.jsonl"), dir.File("b.jsonl")};
  for (const auto& [log, records] : {std::pair(logs[0], a), std::pair(logs[1], b)}) {
    std::ofstream out(log);
    for (const Json& r : records) out << r.dump() << "\n";
  }
  std::ofstream(logs[1], std::ios::app) << "{\"cut\n";
  ASSERT_EQ(RunCliWith({"push", "--db", Conninfo(), logs[0], logs[1]}).code, 0);

  const auto cut = [](std::string out) { return out.substr(0, out.find("Unreadable lines")); };
  for (const std::vector<std::string>& filter : std::vector<std::vector<std::string>>{
           {}, {"--since", "2026-12-07"}, {"--image", "0123ABCDA"}, {"--image", "0123abcd"}}) {
    for (const char* form : {"--json", "--csv", "--quiet"}) {
      SCOPED_TRACE(::testing::PrintToString(filter) + form);
      std::vector<std::string> args = {form, "report"};
      args.insert(args.end(), filter.begin(), filter.end());
      std::vector<std::string> fromDb = args, reversed = args;
      fromDb.insert(fromDb.end(), {"--db", Tcp(name_ + "_rep")});
      args.insert(args.end(), logs.begin(), logs.end());
      reversed.insert(reversed.end(), logs.rbegin(), logs.rend());
      const auto logRun = RunCliWith(args), dbRun = RunCliWith(fromDb);
      EXPECT_EQ(dbRun.code, logRun.code) << dbRun.err;
      if (logRun.code != 0) {
        EXPECT_EQ(dbRun.err, logRun.err);
      }
      EXPECT_EQ(RunCliWith(reversed).out, logRun.out);
      if (std::string(form) != "--json") {
        EXPECT_EQ(cut(dbRun.out), cut(logRun.out));
        continue;
      }
      Json fromLogs = logRun.Json(), db = dbRun.Json();
      fromLogs.erase("unreadable");
      db.erase("unreadable");
      EXPECT_EQ(db, fromLogs);
    }
  }
  EXPECT_EQ(RunCliWith({"report", "--db", Conninfo(), logs[0]}).code, 2);
}

}  // namespace
}  // namespace obrint::database
