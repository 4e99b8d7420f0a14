#pragma once
// Reading a recording back (for a plot, for Python's load): FILE.csv as the recording engine
// writes it and, when it is there, FILE.json for the names, units, channels, rate, serial and
// start. A damaged file gives
// what is valid in it: rows with the wrong number of cells and rows without a time are left
// out, a cell that is not a number is a gap in its trace, and every such repair is said in a
// note. Only a file with no header or no usable row is refused.
// An HDF5 recording (the signature, or a name ending .h5 or .hdf5) holds its description
// itself; it is read as far as its writer flushed it, also while it is still being written or
// after its writer was killed, and its times follow from the rate (through the HDF5 plug-in,
// recording/Plugins.h, loaded by the first such read).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "recording/Sidecar.h"

namespace quillbox::recording {

struct RecordingData {
  std::vector<std::string> names, units;   // of the kept columns
  std::vector<double> time;                // seconds, one per kept row
  std::vector<int64_t> frame;              // the row's frame number, one per kept row
  std::vector<std::vector<float>> values;  // per kept column, one per kept row (NaN: a gap)
  double rate = 0;                         // FILE.json's, else estimated from the times
  std::string serial, startUtc;
  bool described = false;  // FILE.json was read
  Sidecar description;     // ... and what it says
  bool complete = true;
  std::string stopReason;
};

enum class ReadResult { Ok, Failed, BadSelection };

// Where the rows of a recording go as they are read.
class RowSink {
 public:
  virtual ~RowSink() = default;
  // Once before the first row: about how many rows the file holds.
  virtual void Expect(std::size_t /*rows*/) {}
  // A kept row: its time in seconds, its frame number and the kept columns' values (NaN: a gap).
  virtual void Row(double time, int64_t frame, std::span<const float> values) = 0;
};

// As ReadRecording, but the rows go to `rows` one by one, not into `out` (whose time, frame and
// values stay empty): the file, CSV or HDF5, is read in chunks of bounded size, whatever its
// length.
ReadResult StreamRecording(const std::string& path, const std::string& selection,
                           RecordingData& out, RowSink& rows, std::string& error,
                           std::vector<std::string>& notes);

// Reads `csv` (or an HDF5 recording) and keeps the columns `selection` names (comma-separated
// names, channel numbers as the description lists them, or column positions from 0 without one,
// and ranges A-B of those; empty: all).
ReadResult ReadRecording(const std::string& csv, const std::string& selection, RecordingData& out,
                         std::string& error, std::vector<std::string>& notes);

}  // namespace quillbox::recording
