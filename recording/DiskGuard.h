#pragma once
// Ends a recording cleanly, as "low disk", before the file system holding its files runs out of
// room: a sink that writes nothing and asks for the stop when less than a given number of bytes
// is free.

#include <cstdint>
#include <optional>
#include <string>

#include "recording/Sink.h"

namespace quillbox::recording {

class DiskGuard : public Sink {
 public:
  DiskGuard(std::string folder, uint64_t minFree) : folder_(std::move(folder)), minFree_(minFree) {}

  bool Begin(const Sidecar& /*description*/, std::string& /*error*/) override { return true; }
  bool Write(std::span<const int16_t> /*codes*/, int64_t /*firstFrame*/,
             std::string& /*error*/) override {
    return true;
  }
  bool End(const Sidecar& /*description*/, std::string& /*error*/) override { return true; }
  bool WantsStop(std::string& reason, std::string& message) override;

 private:
  std::string folder_;
  uint64_t minFree_;
};

// Free bytes of the file system holding `folder` (for users, not root's reserve); nullopt when
// it cannot be asked.
std::optional<uint64_t> FreeBytes(const std::string& folder);

// "1.5 GB", "500 MB", "20 kB": a size for messages.
std::string SizeText(uint64_t bytes);

}  // namespace quillbox::recording
