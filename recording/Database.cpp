#include "recording/Postgres.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

namespace quillbox::recording {
namespace {

// Taken while the schema is checked or created, so two recorders starting together do not race.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(2700270)";

// The schema of version kSchemaVersion; the frames table's key is completed where it is made.
// `frames` holds a recording's values in the channels' units (`value`), or its codes (`code`)
// for a raw recording.
constexpr const char* kCreateRecordings = R"(
CREATE TABLE recordings (
  id bigserial PRIMARY KEY,
  uid text NOT NULL UNIQUE,
  serial text NOT NULL,
  host text NOT NULL,
  start_utc timestamptz NOT NULL,
  rate_requested double precision NOT NULL,
  rate real NOT NULL,
  first_frame bigint NOT NULL,
  channels smallint[] NOT NULL,
  names text[] NOT NULL,
  units text[] NOT NULL,
  scales real[] NOT NULL,
  raw boolean NOT NULL,
  stop_reason text NOT NULL,
  frames bigint NOT NULL,
  complete boolean NOT NULL,
  last_frame_shipped bigint
);
CREATE TABLE frames (
  recording bigint NOT NULL REFERENCES recordings (id),
  frame bigint NOT NULL,
  time timestamptz NOT NULL,
  value real[],
  code smallint[],
)";

// PostgreSQL's binary formats: type ids of array elements, and its epoch (2000-01-01) in
// microseconds since 1970.
constexpr uint32_t kFloat4Oid = 700;
constexpr uint32_t kInt2Oid = 21;
constexpr int64_t kPostgresEpochMicros = 946684800LL * 1000000;

template <typename T>
void AppendNumber(std::string& out, T value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value).ptr;
  out.append(text, end);
}

// An element of an array literal, quoted: {"a b","c\"d"}.
void AppendArrayText(std::string& out, const std::string& text) {
  out += '"';
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
}

// Big-endian, as the binary COPY format has it.
template <typename T>
void Put(std::string& out, T value) {
  using U = std::make_unsigned_t<T>;
  auto bits = static_cast<U>(value);
  char bytes[sizeof(T)];
  for (std::size_t i = sizeof(T); i-- > 0; bits = static_cast<U>(bits >> 8))
    bytes[i] = static_cast<char>(bits & 0xFF);
  out.append(bytes, sizeof(T));
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

void Quiet(void*, const char*) {}  // "relation already exists, skipping" is no news

// The first value of a one-row answer, or -1.
int64_t FirstNumber(PGresult* result) {
  return PQntuples(result) == 1 && !PQgetisnull(result, 0, 0) ? std::atoll(PQgetvalue(result, 0, 0))
                                                              : -1;
}

// The connection through libpq.
class Postgres final : public Database {
 public:
  explicit Postgres(PGconn* conn) : conn_(conn) {}
  ~Postgres() override { PQfinish(conn_); }
  Postgres(const Postgres&) = delete;
  Postgres& operator=(const Postgres&) = delete;

  Schema PrepareSchema(std::string& error, std::string& note) override;
  bool OpenRecording(const Sidecar& description, Row& row, std::string& error) override;
  Ship ShipFrames(Row& row, const Sidecar& description, std::span<const int16_t> codes,
                  int64_t first, std::string& error) override;
  bool Finish(const Row& row, const std::string& stopReason, bool complete, int64_t frames,
              std::string& error) override;
  bool Denied() const override { return denied_; }

 private:
  bool Exec(const char* sql, std::string& error);
  // Notes a failed answer: its message into `error`, and whether it was a refusal.
  void Failed(const PGresult* result, std::string& error);
  PGconn* conn_;
  bool denied_ = false;
};

}  // namespace

std::string OneLine(const char* text) {
  // libpq's messages may span lines, the next indented ("...failed: No such file or
  // directory\n\tIs the server running...?"): one line, single spaces.
  std::string s;
  for (const char* c = text ? text : ""; *c; ++c) {
    const bool space = *c == '\n' || *c == '\t' || *c == ' ';
    if (!space)
      s += *c;
    else if (!s.empty() && s.back() != ' ')
      s += ' ';
  }
  if (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

std::unique_ptr<Database> ConnectPostgres(const std::string& connection, const char* application,
                                          std::string& error) {
  const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
  const char* values[] = {"5", application, connection.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (PQstatus(conn) != CONNECTION_OK) {
    error = OneLine(PQerrorMessage(conn));
    PQfinish(conn);
    return nullptr;
  }
  PQsetNoticeProcessor(conn, Quiet, nullptr);
  return std::make_unique<Postgres>(conn);
}

void Postgres::Failed(const PGresult* result, std::string& error) {
  // The server's own sentence, without the statement it quotes; libpq's text when it has none.
  const char* primary = PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY);
  error = OneLine(primary ? primary : PQresultErrorMessage(result));
  // insufficient_privilege, read_only_sql_transaction
  const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
  denied_ = state && (std::strcmp(state, "42501") == 0 || std::strcmp(state, "25006") == 0);
}

bool Postgres::Exec(const char* sql, std::string& error) {
  PGresult* result = PQexec(conn_, sql);
  const auto status = PQresultStatus(result);
  const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (!ok) Failed(result, error);
  PQclear(result);
  return ok;
}

Database::Schema Postgres::PrepareSchema(std::string& error, std::string& note) {
  std::string ignored;
  const auto fail = [&](Schema how) {
    Exec("ROLLBACK", ignored);
    return how;
  };
  if (!Exec("BEGIN", error) || !Exec(kSchemaLock, error)) return fail(Schema::Failed);
  // Looked up before anything is made: a user who may only write rows may not create tables.
  PGresult* result = PQexec(conn_,
                            "SELECT to_regclass('quillbox_schema') IS NULL, "
                            "(SELECT count(*) FROM pg_extension WHERE extname = 'timescaledb')");
  if (PQresultStatus(result) != PGRES_TUPLES_OK || PQntuples(result) != 1) {
    Failed(result, error);
    PQclear(result);
    return fail(Schema::Failed);
  }
  const bool fresh = std::strcmp(PQgetvalue(result, 0, 0), "t") == 0;
  const bool timescale = std::atoi(PQgetvalue(result, 0, 1)) > 0;
  PQclear(result);
  if (!fresh) {
    result = PQexec(conn_, "SELECT version FROM quillbox_schema LIMIT 1");
    const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK;
    if (!ok) Failed(result, error);
    const int64_t version = ok ? FirstNumber(result) : -1;
    PQclear(result);
    if (!ok) return fail(Schema::Failed);
    if (version != kSchemaVersion) {
      error = (version < 0
                   ? std::string("the database's quillbox schema has no version")
                   : "the database holds the quillbox schema version " + std::to_string(version)) +
              ", this quillbox writes version " + std::to_string(kSchemaVersion) +
              "; it is left as it is and nothing is shipped";
      return fail(Schema::Refused);
    }
  } else {
    // A hypertable's unique keys must hold its partitioning column; the time follows from the
    // frame, so the key stays one row a frame either way.
    std::string create = "CREATE TABLE quillbox_schema (version integer NOT NULL);\n";
    create += kCreateRecordings;
    create += timescale ? "  PRIMARY KEY (recording, frame, time)\n);\n"
                        : "  PRIMARY KEY (recording, frame)\n);\n";
    if (timescale) create += "SELECT create_hypertable('frames', 'time');\n";
    create +=
        "INSERT INTO quillbox_schema (version) VALUES (" + std::to_string(kSchemaVersion) + ");";
    if (!Exec(create.c_str(), error)) return fail(Schema::Failed);
    note = timescale ? "made the quillbox tables; frames is a TimescaleDB hypertable on time"
                     : "made the quillbox tables";
  }
  return Exec("COMMIT", error) ? Schema::Ready : Schema::Failed;
}

bool Postgres::OpenRecording(const Sidecar& d, Row& row, std::string& error) {
  std::string channels = "{", names = "{", units = "{", scales = "{";
  for (std::size_t i = 0; i < d.columns.size(); ++i) {
    const char* comma = i ? "," : "";
    channels += comma, names += comma, units += comma, scales += comma;
    AppendNumber(channels, d.columns[i].channel);
    AppendArrayText(names, d.columns[i].name);
    AppendArrayText(units, d.columns[i].unit);
    AppendNumber(scales, d.columns[i].scale);
  }
  channels += '}', names += '}', units += '}', scales += '}';
  std::string rateRequested, rate, first;
  AppendNumber(rateRequested, d.rateRequested);
  AppendNumber(rate, d.rate);
  AppendNumber(first, d.firstFrame);
  const std::string host = HostName();
  const char* values[] = {d.uid.c_str(),      d.serial.c_str(),      host.c_str(),
                          d.startUtc.c_str(), rateRequested.c_str(), rate.c_str(),
                          first.c_str(),      channels.c_str(),      names.c_str(),
                          units.c_str(),      scales.c_str(),        d.raw ? "true" : "false"};
  // The row is made once; a reconnection, a later segment or an upload find it by its uid.
  PGresult* result = PQexecParams(
      conn_,
      "INSERT INTO recordings (uid, serial, host, start_utc, rate_requested, rate, first_frame, "
      "channels, names, units, scales, raw, stop_reason, frames, complete) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, 'recording', 0, false) "
      "ON CONFLICT (uid) DO UPDATE SET uid = EXCLUDED.uid "
      "RETURNING id, (extract(epoch FROM start_utc) * 1000000)::bigint, first_frame, "
      "rate::float8, COALESCE(last_frame_shipped, -1)",
      12, nullptr, values, nullptr, nullptr, 0);
  const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1;
  if (ok) {
    row.id = std::atoll(PQgetvalue(result, 0, 0));
    row.startMicros = std::atoll(PQgetvalue(result, 0, 1));
    row.firstFrame = std::atoll(PQgetvalue(result, 0, 2));
    row.rate = std::atof(PQgetvalue(result, 0, 3));
    row.lastShipped = std::atoll(PQgetvalue(result, 0, 4));
  } else {
    Failed(result, error);
  }
  PQclear(result);
  return ok;
}

Database::Ship Postgres::ShipFrames(Row& row, const Sidecar& d, std::span<const int16_t> codes,
                                    int64_t first, std::string& error) {
  const std::size_t width = d.columns.size();
  if (width == 0 || codes.size() < width) return Ship::Done;
  const auto frames = static_cast<int64_t>(codes.size() / width);
  const int64_t last = first + frames - 1;
  std::string ignored;

  // The row first: locked until the commit, and advanced only when none of these frames is there.
  std::string sql = "BEGIN; UPDATE recordings SET last_frame_shipped = ";
  AppendNumber(sql, last);
  sql += " WHERE id = ";
  AppendNumber(sql, row.id);
  sql += " AND COALESCE(last_frame_shipped, -1) < ";
  AppendNumber(sql, first);
  sql += " RETURNING 1";
  PGresult* result = PQexec(conn_, sql.c_str());
  if (PQresultStatus(result) != PGRES_TUPLES_OK) {
    Failed(result, error);
    PQclear(result);
    Exec("ROLLBACK", ignored);
    return Ship::Failed;
  }
  const bool advanced = PQntuples(result) == 1;
  PQclear(result);
  if (!advanced) {
    sql = "SELECT COALESCE(last_frame_shipped, -1) FROM recordings WHERE id = ";
    AppendNumber(sql, row.id);
    result = PQexec(conn_, sql.c_str());
    const int64_t shipped = FirstNumber(result);
    if (PQresultStatus(result) != PGRES_TUPLES_OK) Failed(result, error);
    PQclear(result);
    Exec("ROLLBACK", ignored);
    if (shipped < first) return Ship::Failed;  // the row is gone, or the answer was lost
    row.lastShipped = shipped;
    return Ship::Behind;
  }

  // The frames in COPY's binary form: a header, a tuple a frame, a trailer.
  std::string data("PGCOPY\n\377\r\n\0", 11);
  Put<int32_t>(data, 0);  // flags
  Put<int32_t>(data, 0);  // header extension
  const bool raw = d.raw;
  const int32_t arrayBytes = 20 + static_cast<int32_t>(width) * (raw ? 6 : 8);
  data.reserve(data.size() + static_cast<std::size_t>(frames) * (2 + 12 + 12 + 4 + arrayBytes) + 2);
  for (int64_t f = 0; f < frames; ++f) {
    const int64_t frame = first + f;
    const auto offset = std::llround(static_cast<double>(frame - row.firstFrame) * 1e6 / row.rate);
    Put<int16_t>(data, 4);
    Put<int32_t>(data, 8), Put<int64_t>(data, row.id);
    Put<int32_t>(data, 8), Put<int64_t>(data, frame);
    Put<int32_t>(data, 8), Put<int64_t>(data, row.startMicros + offset - kPostgresEpochMicros);
    Put<int32_t>(data, arrayBytes);
    Put<int32_t>(data, 1);  // dimensions
    Put<int32_t>(data, 0);  // no NULLs
    Put<uint32_t>(data, raw ? kInt2Oid : kFloat4Oid);
    Put<int32_t>(data, static_cast<int32_t>(width));
    Put<int32_t>(data, 1);  // lower bound
    const int16_t* frameCodes = codes.data() + static_cast<std::size_t>(f) * width;
    for (std::size_t j = 0; j < width; ++j) {
      const int16_t code = frameCodes[j];
      if (raw) {
        Put<int32_t>(data, 2), Put<int16_t>(data, code);
        continue;
      }
      const RecordColumn& column = d.columns[j];
      const float value = column.scaled
                              ? static_cast<float>(code / static_cast<double>(column.scale))
                              : static_cast<float>(code);
      Put<int32_t>(data, 4), Put<uint32_t>(data, std::bit_cast<uint32_t>(value));
    }
  }
  Put<int16_t>(data, -1);

  result =
      PQexec(conn_, raw ? "COPY frames (recording, frame, time, code) FROM STDIN (FORMAT binary)"
                        : "COPY frames (recording, frame, time, value) FROM STDIN (FORMAT binary)");
  const bool copying = PQresultStatus(result) == PGRES_COPY_IN;
  if (!copying) Failed(result, error);
  PQclear(result);
  bool ok = copying && PQputCopyData(conn_, data.data(), static_cast<int>(data.size())) == 1 &&
            PQputCopyEnd(conn_, nullptr) == 1;
  if (copying && !ok) error = OneLine(PQerrorMessage(conn_));
  if (copying) {
    // The COPY's own result, then the end of its answers.
    while ((result = PQgetResult(conn_)) != nullptr) {
      if (PQresultStatus(result) != PGRES_COMMAND_OK && ok) {
        ok = false;
        Failed(result, error);
      }
      PQclear(result);
    }
  }
  if (!ok || !Exec("COMMIT", error)) {
    Exec("ROLLBACK", ignored);
    return Ship::Failed;
  }
  row.lastShipped = last;
  return Ship::Done;
}

bool Postgres::Finish(const Row& row, const std::string& stopReason, bool complete, int64_t frames,
                      std::string& error) {
  std::string id, count;
  AppendNumber(id, row.id);
  if (frames >= 0) AppendNumber(count, frames);
  const char* values[] = {stopReason.c_str(), complete ? "true" : "false",
                          frames >= 0 ? count.c_str() : nullptr, id.c_str()};
  PGresult* result = PQexecParams(
      conn_,
      "UPDATE recordings SET stop_reason = $1, complete = $2, frames = "
      "COALESCE($3::bigint, (SELECT count(*) FROM frames WHERE recording = $4)) WHERE id = $4",
      4, nullptr, values, nullptr, nullptr, 0);
  const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
  if (!ok) Failed(result, error);
  PQclear(result);
  return ok;
}

std::string PostgresWhere(const std::string& connection) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
  if (!options) {
    std::string text = error ? OneLine(error) : "not a connection string";
    PQfreemem(error);
    return "the database (" + text + ")";
  }
  std::string db, host;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (!o->val) continue;
    if (std::string(o->keyword) == "dbname") db = o->val;
    if (std::string(o->keyword) == "host") host = o->val;
  }
  PQconninfoFree(options);
  std::string where = db.empty() ? "the default database" : "database " + db;
  if (!host.empty()) where += " on " + host;
  return where;
}

}  // namespace quillbox::recording
