#include "recording/DatabaseSink.h"

#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <random>

namespace quillbox::recording {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Frames in one transaction: large enough that a fast recording needs few round trips, small
// enough that a statement stays well under a megabyte or two.
constexpr std::size_t kBatchCodes = std::size_t{64} * 1024;
constexpr auto kFirstBackOff = std::chrono::milliseconds(500);
constexpr auto kLongestBackOff = std::chrono::seconds(30);
// Taken while the schema is checked or created, so two recorders starting together do not race.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(2700270)";

// The schema of version kSchemaVersion. `frames` holds a recording's values in the channels'
// units (`value`), or its codes (`code`) for a raw recording.
constexpr const char* kCreateSchema = R"(
CREATE TABLE recordings (
  id bigserial PRIMARY KEY,
  token text NOT NULL UNIQUE,
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
  time_s double precision NOT NULL,
  value real[],
  code smallint[],
  PRIMARY KEY (recording, frame)
);
)";

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  // libpq's messages may span lines ("connection to server ... failed: FATAL: ..."); one line.
  std::replace(s.begin(), s.end(), '\n', ' ');
  return s;
}

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

std::string RandomToken() {
  std::random_device random;
  char text[40];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", random(), random(), random(), random());
  return text;
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace

struct DatabaseSink::Shared {
  std::string connection, where;
  std::size_t maxCodes = 0;
  std::mutex m;
  std::condition_variable wake;      // the shipper: work, or stop
  std::condition_variable progress;  // Drain: a batch shipped, or the shipper gave up or ended

  // Set by the recording's thread.
  Sidecar description;  // as at Begin
  std::string token, host;
  std::size_t width = 0;
  std::deque<Chunk> queue;
  std::size_t queuedCodes = 0;
  int64_t recorded = 0;       // frames handed to Write
  int64_t behindFrom = -1;    // the first frame not queued because the queue was full
  bool finalPending = false;  // End's state is still to be written
  std::string finalReason;
  int64_t finalFrames = 0;
  bool finalComplete = false;
  bool stop = false;

  // Set by the shipper.
  int64_t shipped = 0;       // frames the database confirmed
  int64_t lastShipped = -1;  // the last of them
  int64_t recordingId = -1;
  bool givenUp = false, exited = false;
  std::vector<std::string> messages;

  void Say(std::string message) {
    std::lock_guard lock(m);
    messages.push_back(std::move(message));
  }
};

namespace {

// One statement or several (one implicit transaction); false with `error`.
bool Exec(PGconn* conn, const char* sql, std::string& error, PGresult** keep = nullptr) {
  PGresult* result = PQexec(conn, sql);
  const auto status = PQresultStatus(result);
  const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (!ok) error = Trimmed(PQresultErrorMessage(result));
  if (ok && keep)
    *keep = result;
  else
    PQclear(result);
  return ok;
}

enum class SchemaState { Ready, Failed, Refused };

// Creates the schema in an empty database, or checks the version of the one it holds; another
// version is refused and left as it is.
SchemaState CheckSchema(PGconn* conn, std::string& error) {
  PGresult* result = nullptr;
  if (!Exec(conn, "BEGIN", error) || !Exec(conn, kSchemaLock, error) ||
      !Exec(conn, "CREATE TABLE IF NOT EXISTS quillbox_schema (version integer NOT NULL)", error) ||
      !Exec(conn, "SELECT version FROM quillbox_schema", error, &result)) {
    std::string ignored;
    Exec(conn, "ROLLBACK", ignored);
    return SchemaState::Failed;
  }
  const int rows = PQntuples(result);
  const int version = rows > 0 ? std::atoi(PQgetvalue(result, 0, 0)) : 0;
  PQclear(result);
  if (rows > 0 && version != DatabaseSink::kSchemaVersion) {
    std::string ignored;
    Exec(conn, "ROLLBACK", ignored);
    error = "the database holds the quillbox schema version " + std::to_string(version) +
            ", this quillbox writes version " + std::to_string(DatabaseSink::kSchemaVersion) +
            "; it is left as it is and nothing is shipped";
    return SchemaState::Refused;
  }
  if (rows == 0) {
    const std::string insert = "INSERT INTO quillbox_schema (version) VALUES (" +
                               std::to_string(DatabaseSink::kSchemaVersion) + ")";
    if (!Exec(conn, kCreateSchema, error) || !Exec(conn, insert.c_str(), error)) {
      std::string ignored;
      Exec(conn, "ROLLBACK", ignored);
      return SchemaState::Failed;
    }
  }
  return Exec(conn, "COMMIT", error) ? SchemaState::Ready : SchemaState::Failed;
}

// The recording's row: made at the first connection, found again by its token after a
// reconnection (also when the first connection was lost before its answer came). Its id, or -1.
int64_t RecordingRow(PGconn* conn, const DatabaseSink::Shared& s, std::string& error) {
  const Sidecar& d = s.description;
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
  const char* values[] = {s.token.c_str(),    d.serial.c_str(),      s.host.c_str(),
                          d.startUtc.c_str(), rateRequested.c_str(), rate.c_str(),
                          first.c_str(),      channels.c_str(),      names.c_str(),
                          units.c_str(),      scales.c_str(),        d.raw ? "true" : "false"};
  PGresult* result = PQexecParams(
      conn,
      "INSERT INTO recordings (token, serial, host, start_utc, rate_requested, rate, first_frame, "
      "channels, names, units, scales, raw, stop_reason, frames, complete) "
      "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, 'recording', 0, false) "
      "ON CONFLICT (token) DO UPDATE SET token = EXCLUDED.token RETURNING id",
      12, nullptr, values, nullptr, nullptr, 0);
  int64_t id = -1;
  if (PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1)
    id = std::atoll(PQgetvalue(result, 0, 0));
  else
    error = Trimmed(PQresultErrorMessage(result));
  PQclear(result);
  return id;
}

void Quiet(void*, const char*) {}  // "relation already exists, skipping" is no news

}  // namespace

DatabaseSink::DatabaseSink(std::string connection, Messages say, std::size_t maxQueuedCodes)
    : shared_(std::make_shared<Shared>()), say_(std::move(say)) {
  shared_->where = Where(connection);
  shared_->connection = std::move(connection);
  shared_->maxCodes = maxQueuedCodes;
}

DatabaseSink::~DatabaseSink() {
  {
    std::lock_guard lock(shared_->m);
    shared_->stop = true;
  }
  shared_->wake.notify_all();
  if (shipper_.joinable()) shipper_.detach();  // it holds the shared state; it ends on its own
}

std::string DatabaseSink::Where(const std::string& connection) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
  if (!options) {
    std::string text = error ? Trimmed(error) : "not a connection string";
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

namespace {

// The shipper: connects (again, with back-off), then sends the queue batch by batch.
void Ship(std::shared_ptr<DatabaseSink::Shared> s) {
  PGconn* conn = nullptr;
  auto backOff = std::chrono::duration_cast<SteadyClock::duration>(kFirstBackOff);
  auto nextTry = SteadyClock::now();
  bool wasDown = false;
  std::string lastSaid;
  const auto failed = [&](const std::string& what) {
    if (conn) PQfinish(conn);
    conn = nullptr;
    if (what != lastSaid) s->Say(s->where + ": " + what);
    lastSaid = what;
    wasDown = true;
    nextTry = SteadyClock::now() + backOff;
    backOff = std::min<SteadyClock::duration>(backOff * 2, kLongestBackOff);
  };
  std::string sql;
  for (;;) {
    int64_t first = 0, frames = 0, id = 0;
    bool finalOnly = false;
    std::string finalReason;
    int64_t finalFrames = 0;
    bool finalComplete = false;
    {
      std::unique_lock lock(s->m);
      const auto work = [&] { return s->stop || !s->queue.empty() || s->finalPending; };
      if (conn)
        s->wake.wait(lock, work);
      else
        s->wake.wait_until(lock, nextTry, [&] { return s->stop; });
      if (s->stop) break;
      if (conn) {
        id = s->recordingId;
        if (!s->queue.empty()) {
          // One batch: whole chunks from the front, as many as fit.
          const DatabaseSink::Chunk& c = s->queue.front();
          first = c.firstFrame;
          sql = "INSERT INTO frames (recording, frame, time_s, ";
          sql += s->description.raw ? "code" : "value";
          sql += ") VALUES ";
          const double rate = s->description.rate;
          const std::size_t width = s->width;
          std::size_t codes = 0;
          for (const DatabaseSink::Chunk& chunk : s->queue) {
            if (codes > 0 && codes + chunk.codes.size() > kBatchCodes) break;
            if (chunk.firstFrame != first + frames) break;  // shipped in order, no holes
            const int64_t n = static_cast<int64_t>(chunk.codes.size() / width);
            for (int64_t f = 0; f < n; ++f) {
              const int64_t frame = chunk.firstFrame + f;
              sql += frames + f ? ",(" : "(";
              AppendNumber(sql, id);
              sql += ',';
              AppendNumber(sql, frame);
              sql += ',';
              AppendNumber(sql, static_cast<double>(frame) / rate);
              sql += ",'{";
              for (std::size_t j = 0; j < width; ++j) {
                if (j) sql += ',';
                const int16_t code = chunk.codes[f * width + j];
                const RecordColumn& column = s->description.columns[j];
                if (s->description.raw)
                  AppendNumber(sql, code);
                else if (column.scaled)
                  AppendNumber(sql, static_cast<float>(code / static_cast<double>(column.scale)));
                else
                  AppendNumber(sql, static_cast<float>(code));
              }
              sql += "}')";
            }
            frames += n;
            codes += chunk.codes.size();
          }
          sql +=
              " ON CONFLICT DO NOTHING;\nUPDATE recordings SET last_frame_shipped = "
              "GREATEST(COALESCE(last_frame_shipped, -1), ";
          AppendNumber(sql, first + frames - 1);
          sql += ") WHERE id = ";
          AppendNumber(sql, id);
        } else if (s->finalPending) {
          finalOnly = true;
          finalReason = s->finalReason;
          finalFrames = s->finalFrames;
          finalComplete = s->finalComplete;
        }
      }
    }
    if (!conn) {
      const char* keywords[] = {"connect_timeout", "application_name", "dbname", nullptr};
      const char* values[] = {"5", "quillbox record", s->connection.c_str(), nullptr};
      conn = PQconnectdbParams(keywords, values, 1);
      if (PQstatus(conn) != CONNECTION_OK) {
        failed("cannot connect (" + Trimmed(PQerrorMessage(conn)) +
               "); the recording goes on and is shipped once the database can be reached");
        continue;
      }
      PQsetNoticeProcessor(conn, Quiet, nullptr);
      std::string error;
      const SchemaState schema = CheckSchema(conn, error);
      if (schema == SchemaState::Refused) {
        s->Say(s->where + ": " + error);
        std::lock_guard lock(s->m);
        s->givenUp = true;
        s->progress.notify_all();
        break;
      }
      int64_t newId = -1;
      if (schema == SchemaState::Failed || (newId = RecordingRow(conn, *s, error)) < 0) {
        failed("cannot prepare the recording (" + error + "); trying again");
        continue;
      }
      {
        std::lock_guard lock(s->m);
        s->recordingId = newId;
        if (wasDown)
          s->messages.push_back(s->where + ": connected; shipping from frame " +
                                std::to_string(s->lastShipped + 1));
      }
      wasDown = false;
      lastSaid.clear();
      backOff = kFirstBackOff;
      continue;
    }
    std::string error;
    if (finalOnly) {
      std::string id_, count;
      AppendNumber(id_, id);
      AppendNumber(count, finalFrames);
      const char* values[] = {finalReason.c_str(), count.c_str(), finalComplete ? "true" : "false",
                              id_.c_str()};
      PGresult* result = PQexecParams(
          conn, "UPDATE recordings SET stop_reason = $1, frames = $2, complete = $3 WHERE id = $4",
          4, nullptr, values, nullptr, nullptr, 0);
      const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
      if (!ok) error = Trimmed(PQresultErrorMessage(result));
      PQclear(result);
      if (!ok) {
        failed("the connection was lost (" + error + "); reconnecting");
        continue;
      }
      std::lock_guard lock(s->m);
      // A later End (the recording went on) queues its own state again.
      if (s->finalReason == finalReason && s->finalFrames == finalFrames) s->finalPending = false;
      s->progress.notify_all();
      continue;
    }
    if (!Exec(conn, sql.c_str(), error)) {
      failed("the connection was lost (" + error + "); reconnecting, the recording goes on");
      continue;
    }
    std::lock_guard lock(s->m);
    int64_t left = frames;
    while (left > 0) {
      DatabaseSink::Chunk& c = s->queue.front();
      left -= static_cast<int64_t>(c.codes.size() / s->width);
      s->queuedCodes -= c.codes.size();
      s->queue.pop_front();
    }
    s->shipped += frames;
    s->lastShipped = first + frames - 1;
    s->progress.notify_all();
  }
  if (conn) PQfinish(conn);
  std::lock_guard lock(s->m);
  s->exited = true;
  s->progress.notify_all();
}

}  // namespace

bool DatabaseSink::Begin(const Sidecar& description, std::string& /*error*/) {
  if (begun_) return true;  // the same recording goes on after its module was away
  begun_ = true;
  {
    std::lock_guard lock(shared_->m);
    shared_->description = description;
    shared_->width = description.columns.size();
    shared_->token = RandomToken();
    shared_->host = HostName();
  }
  shipper_ = std::thread(Ship, shared_);
  return true;
}

bool DatabaseSink::Write(std::span<const int16_t> codes, int64_t firstFrame,
                         std::string& /*error*/) {
  Shared& s = *shared_;
  if (s.width == 0 || codes.empty()) return true;
  const auto frames = static_cast<int64_t>(codes.size() / s.width);
  bool full = false;
  {
    std::lock_guard lock(s.m);
    s.recorded += frames;
    if (s.behindFrom < 0 && s.queuedCodes + codes.size() > s.maxCodes) {
      s.behindFrom = firstFrame;
      full = true;
    }
    if (s.behindFrom < 0 && !s.givenUp) {
      s.queue.push_back({firstFrame, {codes.begin(), codes.end()}});
      s.queuedCodes += codes.size();
    }
  }
  if (full)
    s.Say(s.where + ": the shipping queue is full; frames from " + std::to_string(firstFrame) +
          " on are not shipped (the local file has them)");
  s.wake.notify_one();
  SayPending();
  return true;
}

bool DatabaseSink::Sync(const Sidecar& /*description*/, bool /*describe*/, std::string& /*error*/) {
  SayPending();
  return true;
}

bool DatabaseSink::End(const Sidecar& description, std::string& /*error*/) {
  {
    std::lock_guard lock(shared_->m);
    shared_->finalPending = true;
    shared_->finalReason = description.stopReason;
    shared_->finalComplete = description.complete;
    shared_->finalFrames = shared_->recorded;
  }
  shared_->wake.notify_one();
  SayPending();
  return true;
}

int64_t DatabaseSink::Drain(double seconds) {
  if (drained_ || !begun_) return 0;
  drained_ = true;
  Shared& s = *shared_;
  int64_t unsent = 0, shipped = 0, last = -1, id = -1;
  bool givenUp = false;
  {
    std::unique_lock lock(s.m);
    s.progress.wait_for(lock, std::chrono::duration<double>(std::max(0.0, seconds)), [&] {
      return (s.queue.empty() && !s.finalPending) || s.givenUp || s.exited;
    });
    unsent = s.recorded - s.shipped;
    shipped = s.shipped;
    last = s.lastShipped;
    id = s.recordingId;
    givenUp = s.givenUp;
    s.stop = true;
  }
  s.wake.notify_all();
  SayPending();
  if (unsent == 0 && id >= 0) {
    say_(s.where + ": all " + std::to_string(shipped) + " frames shipped (recording " +
         std::to_string(id) + ")");
  } else if (!givenUp || unsent > 0) {
    say_(s.where + ": " + std::to_string(unsent) + " frames not shipped" +
         (last >= 0 ? " (the last shipped is frame " + std::to_string(last) + ")" : "") +
         "; the local file has every frame");
  }
  {
    // A shipper stuck in a call to a server that does not answer is left behind.
    std::unique_lock lock(s.m);
    s.progress.wait_for(lock, std::chrono::seconds(2), [&] { return s.exited; });
    if (s.exited && shipper_.joinable()) {
      lock.unlock();
      shipper_.join();
    }
  }
  return unsent;
}

void DatabaseSink::SayPending() {
  std::vector<std::string> messages;
  {
    std::lock_guard lock(shared_->m);
    messages.swap(shared_->messages);
  }
  for (const std::string& m : messages) say_(m);
}

}  // namespace quillbox::recording
