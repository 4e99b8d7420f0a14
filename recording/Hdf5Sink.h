#pragma once
// A recording's HDF5 file (layout: recording/Hdf5File.h and the README), readable while it grows
// and after its writer was killed. The file is created exclusively (or, with `replace`, taken
// over: emptied only when the recording starts) and locked before the module is touched. When the
// recording starts, the dataset and every attribute are made and the file turns to
// single-writer/multiple-reader (SWMR) access; each write then extends the dataset, writes the
// frames and flushes them, so a reader (or a killed run) finds every frame up to the last write.
// Each write first makes sure of the room it needs (the file-size limit, space allocated on the
// disk): the library never meets a full disk half-way, and the recording ends as a write error
// with a whole file that says so.

#include <cstdint>
#include <string>
#include <vector>

#include "recording/FileSink.h"
#include "recording/Hdf5File.h"

namespace quillbox::recording {

class Hdf5Sink : public FileSink {
 public:
  // `compress`: shuffle + gzip.
  Hdf5Sink(std::string path, bool compress);
  ~Hdf5Sink() override;
  Hdf5Sink(const Hdf5Sink&) = delete;
  Hdf5Sink& operator=(const Hdf5Sink&) = delete;

  bool Open(bool replace, std::string& error) override;
  void Abandon() override;

  bool Begin(const Sidecar& description, std::string& error) override;
  bool Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) override;
  bool Sync(const Sidecar& description, bool describe, std::string& error) override;
  bool End(const Sidecar& description, std::string& error) override;

  const std::string& Path() const override { return path_; }
  bool Described() const override { return true; }
  uint64_t Bytes() const override;

 private:
  bool MakeValues(const Sidecar& description);
  bool Describe(const Sidecar& description, bool create);
  bool MakeRoom(uint64_t bytes, std::string& error);
  bool Refuse(int error, std::string& message);
  bool Broken(std::string& error);
  void CloseFile();

  std::string path_;
  bool compress_;
  int fd_ = -1;  // holds the recording's lock; the library has a descriptor of its own
  bool created_ = false;
  hdf5::Id file_, values_;
  std::size_t width_ = 0;
  bool raw_ = false;
  std::vector<double> divisors_;  // per column: its scale, or 1 for a column of codes
  uint64_t chunkFrames_ = 1, chunkBytes_ = 0;
  uint64_t rows_ = 0;
  uint64_t reservedEnd_ = 0;  // the file's blocks are allocated up to here
  bool begun_ = false;
  bool failed_ = false;        // a write was refused: nothing more is written but the description
  bool frozen_ = false;        // the library failed half-way: the file stays as last flushed
  std::vector<float> floats_;  // one write's values
};

}  // namespace quillbox::recording
