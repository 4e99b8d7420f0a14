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
//
// The libpq implementation is in the database plug-in (recording/Plugins.h), which makes the
// connections; this is what its users see of one.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "recording/Sidecar.h"

namespace quillbox::recording {

class Database {
 public:
  // The schema this version creates and accepts; a database holding another is refused.
  static constexpr int kSchemaVersion = 1;

  Database() = default;
  virtual ~Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Creates the schema in a database without one, or checks the version of the one it holds.
  // `note` says what was made (the frames table as a TimescaleDB hypertable when that extension
  // is installed).
  enum class Schema { Ready, Failed, Refused };
  virtual Schema PrepareSchema(std::string& error, std::string& note) = 0;

  // A recording's row, found by the description's id or made from the description. Times of
  // frames count from its start and first frame, whoever made it.
  struct Row {
    int64_t id = -1;
    int64_t startMicros = 0;  // since 1970
    int64_t firstFrame = 0;
    double rate = 0;
    int64_t lastShipped = -1;  // -1: none yet
  };
  virtual bool OpenRecording(const Sidecar& description, Row& row, std::string& error) = 0;

  // Ships the frames `first`.. (codes, `description.columns.size()` a frame) in one transaction.
  // Behind: frames from `first` on are in the database already (another shipper, or a commit
  // whose answer was lost); `row.lastShipped` then says up to which, and nothing was written.
  enum class Ship { Done, Behind, Failed };
  virtual Ship ShipFrames(Row& row, const Sidecar& description, std::span<const int16_t> codes,
                          int64_t first, std::string& error) = 0;

  // The recording's end: its stop reason, whether it is complete and its frames (a negative
  // `frames`: the frames the database holds for it).
  virtual bool Finish(const Row& row, const std::string& stopReason, bool complete, int64_t frames,
                      std::string& error) = 0;

  // The last failure was the database's refusal to let this user write (no privilege, a
  // read-only session): trying again will not help.
  virtual bool Denied() const = 0;
};

}  // namespace quillbox::recording
