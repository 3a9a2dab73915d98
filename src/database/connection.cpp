#include "database/connection.h"

#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace obrint::database {
namespace {

constexpr int kDefaultTimeoutSeconds = 10;

Failure FailureOf(std::string_view sqlState) {
  const std::string_view group = sqlState.substr(0, 2);
  if (group == "08" || group == "53" || group == "57" || sqlState == "3D000") {
    return Failure::kDatabaseUnreachable;  // no connection, no room, going away, no database
  }
  if (group == "28") return Failure::kLoginRefused;
  if (sqlState == "42P01" || sqlState == "42703" || sqlState == "42883" || sqlState == "42P10") {
    // No such table, column or function, or no unique index for ON CONFLICT.
    return Failure::kSchemaAltered;
  }
  if (group == "22" || group == "23") return Failure::kRecordsRefused;
  return Failure::kRequestRefused;
}

// libpq's words without their verbose parts: "SEVERITY:  SQLSTATE: " before the server's
// message (kept in `sqlState`, when given), the LOCATION lines, and the line breaks.
std::string Words(std::string_view message, std::string* sqlState = nullptr) {
  std::string words;
  while (!message.empty()) {
    const std::size_t end = message.find('\n');
    std::string_view line = message.substr(0, end);
    message.remove_prefix(end == std::string_view::npos ? message.size() : end + 1);
    while (line.starts_with('\t') || line.starts_with(' ')) line.remove_prefix(1);
    if (line.starts_with("LOCATION:") || line.empty()) continue;
    if (!words.empty()) words.append("; ");
    const std::size_t code = line.find(":  ");
    if (code != std::string_view::npos && code + 10 <= line.size() &&
        line.substr(code + 8, 2) == ": ") {
      if (sqlState) *sqlState = line.substr(code + 3, 5);
      const std::size_t severity = line.rfind(' ', code);
      const std::size_t from = severity == std::string_view::npos ? 0 : severity + 1;
      words.append(line.substr(0, from)).append(line.substr(code + 10));
    } else {
      words.append(line);
    }
  }
  return words;
}

// The connect_timeout that libpq took from the conninfo or PGCONNECT_TIMEOUT, else ours.
int TimeoutSeconds(PGconn* conn) {
  int seconds = kDefaultTimeoutSeconds;
  PQconninfoOption* options = PQconninfo(conn);
  for (const PQconninfoOption* option = options; option && option->keyword; ++option) {
    if (std::string_view(option->keyword) == "connect_timeout" && option->val &&
        std::atoi(option->val) > 0) {
      seconds = std::atoi(option->val);
    }
  }
  PQconninfoFree(options);
  return seconds;
}

// Whether libpq had a connection to the server in hand at this stage.
bool Reached(ConnStatusType status) {
  return status != CONNECTION_OK && status != CONNECTION_BAD && status != CONNECTION_STARTED &&
         status != CONNECTION_NEEDED;
}

Status Parse(const std::string& conninfo, std::string& detail) {
  char* parseError = nullptr;
  if (PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &parseError)) {
    PQconninfoFree(options);
    return {};
  }
  detail = parseError ? Words(parseError) : "out of memory";
  PQfreemem(parseError);
  return Failure::kConnInfoInvalid;
}

// Whether a connection that failed as it started failed on an option of a value libpq refuses (a
// port that is no number, an unknown sslmode, a service not in the service file), before any host
// was tried. obrint-cli never sets a locale, so libpq's own words are its English ones.
bool OptionRefused(std::string_view words) {
  return !words.starts_with("connection to server") &&
         !words.starts_with("could not translate host name");
}

}  // namespace

Result<Rows> Connection::Check(ResultOwner result) {
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return Rows(std::move(result));
  const char* sqlState = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
  if (!sqlState || PQstatus(conn_.get()) != CONNECTION_OK) {
    detail_ = "the connection was lost: " + Words(PQerrorMessage(conn_.get()));
    return Failure::kDatabaseUnreachable;
  }
  const char* primary = PQresultErrorField(result.get(), PG_DIAG_MESSAGE_PRIMARY);
  detail_ = primary ? primary : "";
  return FailureOf(sqlState);
}

Result<Rows> Connection::Run(const Statement& statement,
                             std::initializer_list<std::string> values) {
  if (!prepared_.contains(statement.name)) {
    const Result<Rows> made =
        Check(ResultOwner(PQprepare(conn_.get(), statement.name, statement.sql, 0, nullptr)));
    if (!made) return made.failure();
    prepared_.emplace(statement.name);
  }
  std::vector<const char*> texts;
  for (const std::string& value : values) texts.push_back(value.c_str());
  return Check(
      ResultOwner(PQexecPrepared(conn_.get(), statement.name, static_cast<int>(texts.size()),
                                 texts.data(), nullptr, nullptr, 0)));
}

Status Connection::RunScript(const char* sql) {
  return Check(ResultOwner(PQexec(conn_.get(), sql))).status();
}

Status ReadConnInfo(const std::string& conninfo, std::string& detail) {
  if (const Status parsed = Parse(conninfo, detail); !parsed) return parsed;
  const ConnOwner conn(PQconnectStart(conninfo.c_str()));
  if (!conn || PQstatus(conn.get()) != CONNECTION_BAD) return {};
  const std::string words = Words(PQerrorMessage(conn.get()));
  if (!OptionRefused(words)) return {};
  detail = words;
  return Failure::kConnInfoInvalid;
}

Result<Connection> Connect(const std::string& conninfo, std::string& detail) {
  if (const Status parsed = Parse(conninfo, detail); !parsed) return parsed.failure();
  ConnOwner conn(PQconnectStart(conninfo.c_str()));
  if (!conn) {
    detail = "out of memory";
    return Failure::kDatabaseUnreachable;
  }
  // Verbose errors carry the server's SQLSTATE, which tells a refused login from the rest.
  PQsetErrorVerbosity(conn.get(), PQERRORS_VERBOSE);
  const int timeout = TimeoutSeconds(conn.get());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout);
  bool reached = false;
  PostgresPollingStatusType polled =
      PQstatus(conn.get()) == CONNECTION_BAD ? PGRES_POLLING_FAILED : PGRES_POLLING_WRITING;
  const bool failedAtOnce = polled == PGRES_POLLING_FAILED;
  while (polled != PGRES_POLLING_OK && polled != PGRES_POLLING_FAILED) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const short events = polled == PGRES_POLLING_READING ? POLLIN : POLLOUT;
    pollfd wait{PQsocket(conn.get()), events, 0};
    if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) == 0) {
      detail = "no answer within " + std::to_string(timeout) + " s";
      return Failure::kDatabaseUnreachable;
    }
    polled = PQconnectPoll(conn.get());
    reached = reached || Reached(PQstatus(conn.get()));
  }
  std::string sqlState;
  detail = Words(PQerrorMessage(conn.get()), &sqlState);
  if (polled == PGRES_POLLING_OK) {
    PQsetErrorVerbosity(conn.get(), PQERRORS_DEFAULT);
    PQsetNoticeProcessor(
        conn.get(), [](void*, const char*) {}, nullptr);
    if (PQsetClientEncoding(conn.get(), "UTF8") != 0) {
      detail = Words(PQerrorMessage(conn.get()), &sqlState);
      return Failure::kRequestRefused;
    }
    detail.clear();
    return Connection(std::move(conn));
  }
  if (!sqlState.empty()) return FailureOf(sqlState);
  if (PQconnectionNeedsPassword(conn.get())) return Failure::kLoginRefused;
  if (reached) return Failure::kNotPostgres;
  if (failedAtOnce && OptionRefused(detail)) return Failure::kConnInfoInvalid;
  return Failure::kDatabaseUnreachable;
}

}  // namespace obrint::database
