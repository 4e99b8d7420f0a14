#pragma once
// A recording kept in segments: "run.csv" becomes run-000001.csv, run-000002.csv, ... (each with
// its own description) and run.index.json, which lists them. A new segment starts when the
// current one holds a given time of frames or a given number of bytes, and whenever a new
// session continues the recording (after its module was away). Frames are numbered on across
// segments, none lost or repeated at a boundary; each segment's description says where it starts
// and, after a gap, what the gap cost. The oldest segments beyond a given number are deleted.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recording/FileSink.h"

namespace quillbox::recording {

struct SegmentPolicy {
  double seconds = 0;    // a new segment after this much time of frames; 0: never
  uint64_t bytes = 0;    // ... once a segment holds this many bytes; 0: never
  std::size_t keep = 0;  // at most this many segment files stay; 0: all
};

class Segments : public Sink {
 public:
  // `replace`: an earlier recording of that name is replaced; `append`: it is continued (its
  // index read, the next segment numbered on); neither: it is refused.
  Segments(std::string path, FileOptions options, SegmentPolicy policy, bool replace,
           bool append = false);
  ~Segments() override;

  // Before the module starts: makes the first segment's file and checks the index can be
  // written. False with `error`.
  bool Open(std::string& error);
  // Removes what Open made when the recording never started.
  void Abandon();
  // The module was away before the next session: said in the next segment and the index.
  void SetGap(const Sidecar::Gap& gap) { gap_ = gap; }
  // When Open continued an earlier recording: the frame number its time gives the frame of
  // `nowUtc` at `rate`, with the gap since its last frame; nullopt with `error` when the rates
  // differ. Nothing to continue: frame 0 and no gap.
  std::optional<std::pair<int64_t, std::optional<Sidecar::Gap>>> Continuation(
      double rate, const std::string& nowUtc, std::string& error) const;
  // Writes the index once more, saying the recording is complete.
  bool Finish(std::string& error);

  bool Begin(const Sidecar& description, std::string& error) override;
  bool Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) override;
  bool Sync(const Sidecar& description, bool describe, std::string& error) override;
  bool End(const Sidecar& description, std::string& error) override;

  const std::string& IndexPath() const { return indexPath_; }
  // The uid of the recording an --append continues ("" for a new one).
  const std::string& Uid() const { return uid_; }
  // The segment being written ("" between sessions).
  std::string CurrentPath() const { return current_ ? current_->Path() : ""; }

 private:
  struct Entry {
    std::string file;  // name in the folder
    int64_t firstFrame = 0, frames = 0;
    std::string startUtc, stopReason = "recording";
    std::optional<Sidecar::Gap> gap;
  };

  std::string SegmentPath(std::size_t number) const;
  bool OpenSegment(std::string& error);
  bool BeginSegment(int64_t firstFrame, std::string& error);
  bool CloseSegment(const Sidecar& description, const std::string& reason, std::string& error);
  Sidecar SegmentDescription(const Sidecar& session) const;
  void DeleteOldest();
  bool WriteIndex(bool complete, std::string& error);
  bool ReadIndex(std::string& error);

  std::string path_, stem_, extension_, folder_, indexPath_;
  FileOptions options_;
  SegmentPolicy policy_;
  bool replace_, append_;
  double appendedRate_ = 0;  // the rate of the recording Open continued
  int64_t perSegment_ = 0;   // frames per segment by time; 0: no limit
  Sidecar session_;          // the running session's description as last given
  std::string uid_;          // the recording's, as its first session had it
  std::string startUtc_;     // the recording's
  std::unique_ptr<FileSink> current_;
  bool full_ = false;       // the current segment is complete: the next frame starts another
  std::size_t number_ = 0;  // of the current segment
  std::vector<Entry> entries_;
  int64_t deleted_ = 0;
  std::optional<Sidecar::Gap> gap_;
};

}  // namespace quillbox::recording
