#pragma once
// A second copy of a recording in a PostgreSQL database. The local file stays the recording of
// record: Write only appends the frames the file has just taken to a bounded queue in memory, and
// a shipping thread sends them in batches through Database, which makes every frame arrive
// exactly once. A database that is slow or gone never slows the recording: the shipper
// reconnects with back-off while the queue holds the frames. When the queue is full the sink
// stops queuing (the frames shipped stay one unbroken run from the first) and says from which
// frame on the database is behind; `quillbox upload` ships the rest from the local file later.
//
// Everything the shipper has to say is handed to the recording's thread and said from Write,
// Sync, End and Drain, so messages never interleave with the front end's.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recording/Sink.h"

namespace quillbox::recording {

class DatabaseSink : public Sink {
 public:
  using Messages = std::function<void(const std::string&)>;

  // `connection`: a libpq connection string or URI. `maxQueuedCodes`: the queue's bound, in codes.
  DatabaseSink(std::string connection, Messages say, std::size_t maxQueuedCodes = 32u << 20);
  ~DatabaseSink() override;
  DatabaseSink(const DatabaseSink&) = delete;
  DatabaseSink& operator=(const DatabaseSink&) = delete;

  // Never fails: a database that cannot be reached is said and tried again. A later Begin (the
  // recording goes on after its module was away) continues the same recording in the database.
  bool Begin(const Sidecar& description, std::string& error) override;
  bool Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) override;
  bool Sync(const Sidecar& description, bool describe, std::string& error) override;
  // Queues the final state (stop reason, frames, complete) for the database; does not wait.
  bool End(const Sidecar& description, std::string& error) override;

  // Waits at most `seconds` for the shipper to send everything queued, says how it went and
  // stops the shipper. Returns the frames recorded that the database did not get.
  int64_t Drain(double seconds);

  // Frames recorded that the database has not confirmed yet.
  int64_t Lag() const;

  // Frames queued for the shipper, and the state it shares with the recording's thread (in the
  // source file).
  struct Chunk {
    int64_t firstFrame = 0;
    std::vector<int16_t> codes;
  };
  struct Shared;

 private:
  void SayPending();

  std::shared_ptr<Shared> shared_;
  Messages say_;
  std::thread shipper_;
  bool begun_ = false, drained_ = false;
};

}  // namespace quillbox::recording
