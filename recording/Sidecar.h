#pragma once
// FILE.json beside a recording's CSV: what the columns are, how many frames the CSV holds, how
// many the elapsed time called for, and whether and why the recording ended. It is replaced
// whole at every change, so a reader always finds one complete description.

#include <sys/types.h>
#include <cstdint>

#include <optional>
#include <string>
#include <vector>

#include "recording/CsvRows.h"

namespace quillbox::recording {

struct Sidecar {
  // The recording's own name, random, the same in all its segments and continuations: a
  // database copy is found again by it.
  std::string uid;
  std::string startUtc;
  double rateRequested = 0;
  float rate = 0;
  std::vector<RecordColumn> columns;
  std::string serial;
  bool raw = false;

  int64_t frames = 0;          // rows in the CSV
  int64_t framesExpected = 0;  // frames the elapsed time called for
  bool complete = false;       // false while recording, and after a killed run
  // How it ended: "end", "SIGINT"/"SIGTERM"/"SIGHUP", "closed", "stalled", "short",
  // "write error", "rotated" (a segment the next one continues), "low disk"; "recording" while
  // it runs.
  std::string stopReason = "recording";
  std::optional<std::string> error;  // what went wrong, said as on stderr

  // Frame number of the first row: 0, or where a segment of a longer recording starts (the
  // segments of one recording number their frames on, so time = frame / rate throughout).
  int64_t firstFrame = 0;
  // The frames the module did not deliver before this segment because it was away, and when.
  struct Gap {
    std::string fromUtc, toUtc;
    int64_t frames = 0;
  };
  std::optional<Gap> gap;

  // The description as JSON; `compact` without indentation (for a nearly full disk).
  std::string Text(bool compact = false) const;
  // Reads a description back; false with `error` when the text is not one.
  static bool Parse(const std::string& text, Sidecar& out, std::string& error);
};

// Writes a Sidecar to its path, each time replacing the file whole. Space for the last
// description is set aside when the recording starts, so that a recording ended by a full disk
// still says so.
class SidecarFile {
 public:
  explicit SidecarFile(std::string path) : path_(std::move(path)) {}
  ~SidecarFile();
  SidecarFile(const SidecarFile&) = delete;
  SidecarFile& operator=(const SidecarFile&) = delete;

  // Sets the space aside (an unnamed file in the same folder, gone if the process dies): as
  // much of 256 KiB as the disk has, at least 4 KiB.
  void Reserve();
  bool Write(const Sidecar& sidecar, std::string& error);
  // The last write: into the space set aside when there is one; without indentation when only
  // that fits.
  bool WriteFinal(const Sidecar& sidecar, std::string& error);

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int reserved_ = -1;
  off_t reservedBytes_ = 0;
};

// A new random recording uid (32 hex digits).
std::string NewUid();
// The current time as "2026-12-05T23:39:44.123Z".
std::string UtcNow();
// `utc` (as UtcNow writes it) plus `seconds`, in the same form; `utc` itself when unreadable.
std::string UtcPlus(const std::string& utc, double seconds);
// Seconds since 1970 of `utc` (as UtcNow writes it); NaN when unreadable.
double UtcSeconds(const std::string& utc);

}  // namespace quillbox::recording
