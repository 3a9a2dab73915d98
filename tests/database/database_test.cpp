// The line's database on a PostgreSQL server of the tier's own (pg-server.sh, which ctest starts
// before and stops after): each test in a new database of its own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "cli/cli_harness.h"
#include "cli/record_schema.h"
#include "database/outbox.h"
#include "database/push.h"
#include "database/schema.h"
#include "engine/signals.h"
#include "engine/station.h"
#include "records/record_id.h"
#include "sim/sim_host.h"

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

// Something that listens on a free loopback port and serves each connection on a thread of its
// own, which closes the connection.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<void(int client)> serve) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(socket_, reinterpret_cast<sockaddr*>(&address), size);
    ::listen(socket_, 16);
    ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    accepter_ = std::thread([this, serve] {
      for (int client; (client = ::accept(socket_, nullptr, nullptr)) >= 0;)
        serving_.emplace_back(serve, client);
    });
  }
  ~LoopbackServer() {
    ::shutdown(socket_, SHUT_RDWR);
    accepter_.join();
    for (std::thread& thread : serving_) thread.join();
    ::close(socket_);
  }
  int port = 0;

 private:
  int socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
  std::vector<std::thread> serving_;  // only the accepter's thread adds to them
  std::thread accepter_;
};

// Between a station and the server over loopback: forwards both ways, and once asked, loses the
// answer to the next insert the server has committed: the connection is closed in its place.
class Proxy {
 public:
  explicit Proxy(int serverPort) : server_(serverPort) {}
  void CutAfterInsert() { cut_ = true; }
  int cuts() const { return cuts_; }
  int port() const { return listener_.port; }

 private:
  // Until either side closes.
  void Pump(int client) {
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{
        AF_INET, htons(static_cast<std::uint16_t>(server_)), {htonl(INADDR_LOOPBACK)}, {}};
    (void)!::connect(server, reinterpret_cast<sockaddr*>(&to), sizeof to);
    for (pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}}; ::poll(fds, 2, -1) > 0;) {
      char bytes[65536];
      const bool answer = fds[1].revents != 0;
      const ssize_t got = ::read(answer ? server : client, bytes, sizeof bytes);
      if (got <= 0) break;
      // The server answers once the insert's transaction is committed (ReadyForQuery).
      if (answer &&
          std::string_view(bytes, static_cast<std::size_t>(got)).find("INSERT 0 ") !=
              std::string_view::npos &&
          cut_.exchange(false)) {
        ++cuts_;
        break;
      }
      (void)!::write(answer ? client : server, bytes, static_cast<std::size_t>(got));
    }
    ::close(client);
    ::close(server);
  }

  int server_;
  std::atomic<bool> cut_ = false;
  std::atomic<int> cuts_ = 0;
  LoopbackServer listener_{[this](int client) { Pump(client); }};
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

  // The records of the USB port `port` break a rule of the database's from now on.
  void Refuse(const std::string& port) {
    Sql("CREATE OR REPLACE FUNCTION obrint.refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF NEW.usb_port = '" +
        port +
        "' THEN RAISE check_violation; END IF; RETURN NEW; END $$;"
        "CREATE TRIGGER refuse BEFORE INSERT ON obrint.records FOR EACH ROW EXECUTE FUNCTION "
        "obrint.refuse()");
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
  for (const auto& property : schema["properties"].items()) {
    const std::string& name = property.key();
    const Json& field = property.value();
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
           "DROP TRIGGER records_added ON obrint.records",
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
  // Answers as a web server does.
  const LoopbackServer web([](int client) {
    (void)!::write(client, "HTTP/1.1 400 Bad Request\r\n\r\n", 28);
    ::close(client);
  });
  int closed = 0;
  {
    const LoopbackServer gone([](int) {});
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
  ASSERT_EQ(RunCliWith({"db", "init", "--db", Conninfo()}).out,
            "schema version " + std::to_string(kSchemaVersion) + ", made\n");
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
  Connection before = Open(Conninfo());
  ASSERT_TRUE(Migrate(before, Migrations().first(2)));
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
  // b's records were stored before the database kept the report's sums.
  std::vector<std::string> bs, bIds;
  for (const Json& r : b) bs.push_back(r.dump()), bIds.push_back(r["id"]);
  ASSERT_EQ(Push(before, bs)->sent, b.size());
  ASSERT_TRUE(Migrate(before));
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

  // Records taken out by hand are taken out of the sums too.
  Sql("DELETE FROM obrint.records WHERE id IN ('" + bIds[0] + "', '" + bIds[1] + "', '" + bIds[2] +
      "')");
  Json fromLogs = RunCliWith({"--json", "report", logs[0]}).Json(),
       fromDb = RunCliWith({"--json", "report", "--db", Conninfo()}).Json();
  fromLogs.erase("unreadable");
  fromDb.erase("unreadable");
  EXPECT_EQ(fromDb, fromLogs);
}

// 8 virtual headsets plugged in 1.5 s apart on virtual time, their records kept in `log`, and
// sent through an outbox with a conninfo: each one's time at the end, where the database stood.
struct StationRun {
  std::vector<std::uint64_t> times;
  Link link;
};
StationRun RunStation(const std::string& image, const std::string& log, std::uint8_t station,
                      const std::string& conninfo, const std::function<void(int)>& kept,
                      const engine::StopRequests& signals) {
  using namespace cli::testing;
  const LoadedImage loaded = *LoadImage(image);
  std::vector<sim::FleetMember> members;
  for (std::uint8_t unit = 0; unit < 8; ++unit) {
    members.push_back({sim::Headset({.mcuId = {unit, station}, .unit = unit}),
                       "1-2." + std::to_string(unit + 1)});
  }
  const auto fleet = std::make_shared<sim::VirtualFleet>(std::move(members));
  const std::unique_ptr<Host> host = sim::MakeHost(fleet, false, sim::PlugInTurn(8, 1500));
  const std::unique_ptr<ArrivalWatch> watch = host->WatchArrivals();
  LogFile file = *LogFile::Open(log);
  std::string detail;
  std::unique_ptr<Outbox> outbox =
      conninfo.empty() ? nullptr : std::move(*OpenOutbox(file, conninfo, detail));
  // Each record counted as it is kept, before the next one.
  struct Counted : RecordStore {
    RecordStore& store;
    const std::function<void(int)>& kept;
    int count = 0;
    Counted(RecordStore& store, const std::function<void(int)>& kept) : store(store), kept(kept) {}
    Status Keep(const RunSetting& setting, const HeadsetRecord& record) override {
      const Status status = store.Keep(setting, record);
      kept(++count);
      return status;
    }
    std::string failure() const override { return store.failure(); }
  } counted(outbox ? static_cast<RecordStore&>(*outbox) : file, kept);
  const RunSetting setting{"1.0.0.5", "line", "ana", image, kDefaultSampleSize, loaded.sha256, 0};
  Station(FleetSetup{*host, loaded, signals, setting, 10000, &counted},
          StationRules{.maxHeadsets = 8}, [](const StationEvent&) {})
      .Run(*watch);
  StationRun run;
  if (outbox) run.link = outbox->Close(std::chrono::seconds(5));
  for (std::size_t unit = 0; unit < 8; ++unit) run.times.push_back(fleet->headset(unit).nowMs());
  return run;
}

// Whatever the database does, the stations flash at the pace of a station without one, and once
// the logs are pushed, the database holds each of their records exactly once, but the refused.
TEST_F(DatabaseTest, TheDatabaseNeverHoldsAStation) {
  enum Act { kStop, kStart, kCut };
  const std::string count = "SELECT count(*) FROM obrint.records";
  const cli::testing::ScratchDir dir;
  const std::string image = dir.File("app.bin");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  const engine::SignalWatch signals;  // the process's, for all its stations
  const auto pace = RunStation(
                        image, dir.File("alone.log"), 0, "", [](int) {}, signals)
                        .times;
  Migrated();
  Login(name_ + "_st", "obrint_station");
  const struct {
    const char* name;
    std::map<int, Act> acts;  // after the Nth record kept (0: before the first)
    std::size_t waiting = 0;  // at the end, for the push
    std::uint8_t stations = 1;
    bool refuse = false;  // the records of USB port 1-2.3 break a rule of the database's
    int cuts = 0;
  } rehearsals[] = {
      {"away at the start", {{0, kStop}}, 8},
      {"stopped in the middle, started again", {{2, kStop}, {5, kStart}}},
      {"an answer lost after its commit", {{0, kCut}}, 0, 1, false, 1},
      {"a refused record", {}, 0, 1, true},
      {"two stations at once", {}, 0, 2},
      {"a push of logs it partly holds", {{3, kStop}}, 5},
  };
  for (const auto& rehearsal : rehearsals) {
    SCOPED_TRACE(rehearsal.name);
    Sql("TRUNCATE obrint.records; DROP TRIGGER IF EXISTS refuse ON obrint.records");
    if (rehearsal.refuse) Refuse("1-2.3");
    Proxy proxy(std::stoi(ServerFile("port")));
    // In the clear, so that the proxy sees the answers.
    const std::string conninfo =
        "host=127.0.0.1 sslmode=disable gssencmode=disable port=" + std::to_string(proxy.port()) +
        " dbname=" + name_ + " user=" + name_ + "_st";
    const auto act = [&](int kept) {
      if (!rehearsal.acts.contains(kept)) return;
      const Act what = rehearsal.acts.at(kept);
      if (what == kCut) return proxy.CutAfterInsert();
      // Stopped in the middle: once what was kept before is in the database. Then as a server
      // that stops: each connection ended, and none taken until it starts again.
      for (int i = 0; what == kStop && i < 500 && std::stoi(Sql(count)) < kept; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Admin("ALTER DATABASE " + name_ + " ALLOW_CONNECTIONS " +
            (what == kStart ? "true" : "false"));
      if (what == kStop)
        Admin("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" + name_ +
              "'");
    };
    act(0);
    std::vector<std::string> logs;
    std::vector<StationRun> runs(rehearsal.stations);
    std::vector<std::thread> stations;
    for (std::uint8_t station = 0; station < rehearsal.stations; ++station) {
      logs.push_back(dir.File(std::string(rehearsal.name) + std::to_string(station) + ".log"));
      stations.emplace_back([&, station, log = logs.back()] {
        runs[station] = RunStation(image, log, station, conninfo, act, signals);
      });
    }
    for (std::thread& station : stations) station.join();
    Admin("ALTER DATABASE " + name_ + " ALLOW_CONNECTIONS true");
    std::size_t waiting = 0, refused = 0;
    for (const StationRun& run : runs) {
      EXPECT_EQ(run.times, pace) << "a headset waited for the database";
      waiting += run.link.waiting;
      refused += run.link.refused;
    }
    EXPECT_EQ(refused, rehearsal.refuse ? 1u : 0u);
    EXPECT_EQ(proxy.cuts(), rehearsal.cuts);
    EXPECT_EQ(waiting, rehearsal.waiting);

    std::vector<std::string> push = {"--json", "push", "--db", Conninfo()};
    push.insert(push.end(), logs.begin(), logs.end());
    const Json pushed = RunCliWith(push).Json();
    EXPECT_EQ(pushed["sent"], waiting) << "the station said how many wait";
    EXPECT_EQ(pushed["refused"]["count"], refused);
    // Each record of the logs was sent now or there already, and the database holds no other.
    const std::size_t records = 8u * rehearsal.stations - refused;
    EXPECT_EQ(pushed["already_there"], records - waiting);
    EXPECT_EQ(Sql(count), std::to_string(records));
  }
}

// A station tells where the database stands as it goes, and names a record it refuses.
TEST_F(DatabaseTest, AStationTellsTheDatabase) {
  const cli::testing::ScratchDir dir;
  const std::string image = dir.File("app.bin"), log = dir.File("a.log");
  ASSERT_EQ(RunCliWith({"sample-image", image}).code, 0);
  Migrated();
  Refuse("1-2.2");
  const auto run = RunCliWith({"--sim", "2", "--sim-plug", "0", "station", "--max", "2", "--log",
                               log, "--db", Conninfo(), image});
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.err.find("the database refused record "), std::string::npos) << run.err;
  for (const char* told : {R"("event":"database","time")", R"("state":"connected")",
                           R"("event":"database_refused")", R"("usb_port":"1-2.2","id")"})
    EXPECT_NE(run.out.find(told), std::string::npos) << told;
  const Json end = Json::parse(run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1));
  EXPECT_EQ(end["database"], (Json{{"state", "connected"}, {"waiting", 0}, {"refused", 1}}));
  EXPECT_EQ(Sql("SELECT count(*) FROM obrint.records"), "1");
}

}  // namespace
}  // namespace obrint::database
