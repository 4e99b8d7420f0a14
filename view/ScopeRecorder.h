#pragma once
// The scope's Record button: writes the frames it is given to a CSV file and FILE.json beside
// it with the same pieces as `quillbox record` (locked output, CSV rows, the description), so
// the files are the same as that command's: rows numbered from the first recorded frame, the
// rows made durable every second, the description refreshed at most every 10 s and at the end.

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

#include "cli/recording/CsvRows.h"
#include "cli/recording/OutputFile.h"
#include "cli/recording/Sidecar.h"

namespace quillbox::view {

class ScopeRecorder {
 public:
  explicit ScopeRecorder(std::string path)
      : path_(std::move(path)), sidecarFile_(path_ + ".json") {}

  // Creates the files (refusing existing ones unless `replace`) and writes the header and the
  // first description. False with Error() set.
  bool Start(const cli::Sidecar& description, bool replace);
  // Appends whole frames of codes; a write error ends the recording (Failed()).
  void Append(std::span<const int16_t> codes);
  // Syncs the rows every second and refreshes the description every 10 s.
  void Tick();
  // Ends the recording with `reason` ("end" when the user stops it) and writes the last
  // description. False when anything failed on the way (Error()).
  bool Stop(const std::string& reason = "end");

  const std::string& Path() const { return path_; }
  int64_t Frames() const { return written_; }
  bool Failed() const { return sidecar_.error.has_value(); }
  std::string Error() const { return sidecar_.error.value_or(""); }

 private:
  void Fail(const std::string& message);
  int64_t FramesExpected() const;

  std::string path_;
  cli::OutputFile csv_;
  cli::SidecarFile sidecarFile_;
  cli::Sidecar sidecar_;
  cli::CsvRows rows_{{}, 1.0f, false};
  std::string text_;
  int64_t written_ = 0;
  bool running_ = false;
  std::chrono::nanoseconds start_{}, lastSync_{}, lastDescription_{};
};

}  // namespace quillbox::view
