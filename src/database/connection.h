// A connection to the line's PostgreSQL database over libpq, and the one way to query it:
// statements prepared once per connection, their values never spliced into their text. A failure
// is a value of the failure vocabulary, its words (the server's or libpq's) the detail().
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "device/failure.h"

namespace obrint::database {

template <auto release>
struct Release {
  void operator()(auto* handle) const { release(handle); }
};
using ResultOwner = std::unique_ptr<PGresult, Release<PQclear>>;
using ConnOwner = std::unique_ptr<PGconn, Release<PQfinish>>;

// A statement of fixed text, prepared under `name` on its first run on a connection.
struct Statement {
  const char* name;
  const char* sql;
};

// What a statement gave: its rows as text, and how many rows it inserted or changed.
class Rows {
 public:
  explicit Rows(ResultOwner result) : result_(std::move(result)) {}
  int count() const { return PQntuples(result_.get()); }
  // The empty text for NULL.
  std::string_view at(int row, int column) const {
    return {PQgetvalue(result_.get(), row, column),
            static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
  }
  std::uint64_t changed() const { return std::strtoull(PQcmdTuples(result_.get()), nullptr, 10); }

 private:
  ResultOwner result_;
};

// Failures as the server or libpq tells them: kDatabaseUnreachable (connection lost, server going
// away), kLoginRefused, kSchemaAltered (a table or column missing), kRecordsRefused (a value breaks
// a type or constraint), kRequestRefused (anything else, a permission say).
class Connection {
 public:
  // Runs `statement` with `values` as its parameters, in text form.
  Result<Rows> Run(const Statement& statement, std::initializer_list<std::string> values);
  // Runs fixed text of one or more statements, without values: a migration, BEGIN, COMMIT.
  Status RunScript(const char* sql);
  // The connection's socket, for cutting it off from another thread (shutdown).
  int socket() const { return PQsocket(conn_.get()); }
  // The words of the last failure.
  const std::string& detail() const { return detail_; }
  // `failure`, with `detail` as its words: for a failure found in what the database answered.
  Failure Fail(Failure failure, std::string detail) {
    detail_ = std::move(detail);
    return failure;
  }

 private:
  friend Result<Connection> Connect(const std::string& conninfo, std::string& detail);
  explicit Connection(ConnOwner conn) : conn_(std::move(conn)) {}
  Result<Rows> Check(ResultOwner result);

  ConnOwner conn_;
  std::set<std::string, std::less<>> prepared_;
  std::string detail_;
};

// Whether libpq takes `conninfo`, its keywords and their values (kConnInfoInvalid, with libpq's
// words in `detail`), without waiting for any server.
Status ReadConnInfo(const std::string& conninfo, std::string& detail);

// Opens the connection that `conninfo` (libpq's keywords or URI) describes, the password from
// wherever libpq finds it, waiting as long as its connect_timeout says (10 s without). Fails, with
// libpq's or the server's words in `detail`: kConnInfoInvalid, kDatabaseUnreachable (nothing
// answers, no such database, no answer in time), kNotPostgres (an answer not in PostgreSQL's
// protocol), kLoginRefused (user or password refused, or a password asked that libpq had not).
Result<Connection> Connect(const std::string& conninfo, std::string& detail);

}  // namespace obrint::database
