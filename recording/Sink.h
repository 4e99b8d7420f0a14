#pragma once
// Where a recording's frames go. The session hands every sink the description before the first
// frame, whole frames of codes as they arrive (numbered from 0 at the start), a sync at the
// recording's sync interval and the final description. A sink that fails says why; the session
// then ends the recording as a write error.

#include <cstdint>
#include <span>
#include <string>

#include "recording/Sidecar.h"

namespace quillbox::recording {

class Sink {
 public:
  virtual ~Sink() = default;
  // The recording starts: `description` says "complete": false.
  virtual bool Begin(const Sidecar& description, std::string& error) = 0;
  // Frames `firstFrame`.. of codes, one per column, frame after frame.
  virtual bool Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) = 0;
  // Makes what was written durable; with `describe`, also says how far the recording got.
  virtual bool Sync(const Sidecar& /*description*/, bool /*describe*/, std::string& /*error*/) {
    return true;
  }
  // The recording ended as `description` says.
  virtual bool End(const Sidecar& description, std::string& error) = 0;
  // Asked at every poll: true, with a stop reason and the message, when the recording must end
  // now although nothing failed (a disk running out of room).
  virtual bool WantsStop(std::string& /*reason*/, std::string& /*message*/) { return false; }
};

}  // namespace quillbox::recording
