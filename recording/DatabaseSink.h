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
//
// The sink is made by the database plug-in (recording/Plugins.h); this is what the front ends
// see of it.

#include <cstdint>

#include "recording/Sink.h"

namespace quillbox::recording {

// Begin never fails: a database that cannot be reached is said and tried again. A later Begin
// (the recording goes on after its module was away) continues the same recording in the
// database. End queues the final state (stop reason, frames, complete) and does not wait.
class DatabaseSink : public Sink {
 public:
  // Waits at most `seconds` for the shipper to send everything queued, says how it went and
  // stops the shipper. Returns the frames recorded that the database did not get.
  virtual int64_t Drain(double seconds) = 0;

  // Frames recorded that the database has not confirmed yet.
  virtual int64_t Lag() const = 0;
};

}  // namespace quillbox::recording
