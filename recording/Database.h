#pragma once
// One connection to a PostgreSQL database (libpq) that holds recordings: the schema, a
// recording's row and its frames. Both the live shipper of `record --to` and `upload` ship
// through it, so a recording shipped partly by one and finished by the other is one recording.
//
// Frames go in batches, one transaction each: the recording's row is locked and its last shipped
// frame advanced, then the frames are copied in (`COPY` in binary form). A batch that would ship a
// frame already there is refused before anything is written, and the caller goes on after the
// last shipped frame, so every frame arrives exactly once, also when the answer to a commit was
// lost with the connection or two shippers work on the same recording.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "recording/Sidecar.h"

struct pg_conn;    // libpq's connection
struct pg_result;  // and one of its answers

namespace quillbox::recording {

class Database {
 public:
  // The schema this version creates and accepts; a database holding another is refused.
  static constexpr int kSchemaVersion = 1;

  // Connects; nullptr with `error` (libpq's reason, on one line).
  static std::unique_ptr<Database> Connect(const std::string& connection, const char* application,
                                           std::string& error);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Creates the schema in a database without one, or checks the version of the one it holds.
  // `note` says what was made (the frames table as a TimescaleDB hypertable when that extension
  // is installed).
  enum class Schema { Ready, Failed, Refused };
  Schema PrepareSchema(std::string& error, std::string& note);

  // A recording's row, found by the description's id or made from the description. Times of
  // frames count from its start and first frame, whoever made it.
  struct Row {
    int64_t id = -1;
    int64_t startMicros = 0;  // since 1970
    int64_t firstFrame = 0;
    double rate = 0;
    int64_t lastShipped = -1;  // -1: none yet
  };
  bool OpenRecording(const Sidecar& description, Row& row, std::string& error);

  // Ships the frames `first`.. (codes, `description.columns.size()` a frame) in one transaction.
  // Behind: frames from `first` on are in the database already (another shipper, or a commit
  // whose answer was lost); `row.lastShipped` then says up to which, and nothing was written.
  enum class Ship { Done, Behind, Failed };
  Ship ShipFrames(Row& row, const Sidecar& description, std::span<const int16_t> codes,
                  int64_t first, std::string& error);

  // The recording's end: its stop reason, whether it is complete and its frames (a negative
  // `frames`: the frames the database holds for it).
  bool Finish(const Row& row, const std::string& stopReason, bool complete, int64_t frames,
              std::string& error);

  // The last failure was the database's refusal to let this user write (no privilege, a
  // read-only session): trying again will not help.
  bool Denied() const { return denied_; }

  // Where a connection string points ("database D on H"), without anything secret in it.
  static std::string Where(const std::string& connection);

 private:
  explicit Database(pg_conn* conn) : conn_(conn) {}
  bool Exec(const char* sql, std::string& error);
  // Notes a failed answer: its message into `error`, and whether it was a refusal.
  void Failed(const pg_result* result, std::string& error);
  pg_conn* conn_;
  bool denied_ = false;
};

// libpq's message on one line, without the trailing newline.
std::string OneLine(const char* text);

}  // namespace quillbox::recording
