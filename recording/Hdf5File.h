#pragma once
// A recording as an HDF5 file, written by Hdf5Sink and read back by ReadRecording: one dataset
// "values" (frames x columns; float32 values in the channels' units, or int16 codes for a raw
// recording) and the description (Sidecar) as attributes of the root group. This header holds
// the layout's names, what the writer and the reader share of the HDF5 C library, and the reader.
// It is the HDF5 plug-in's own (recording/Plugins.h): nothing outside it includes the library.

#include <hdf5.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "recording/Plugins.h"
#include "recording/Sidecar.h"

namespace quillbox::recording::hdf5 {

inline constexpr char kValues[] = "values";
// The strings that change once the file is readable while it grows have fixed sizes: a reader
// may then see their values change in place, never their sizes. Longer texts are cut.
inline constexpr std::size_t kStopReasonBytes = 16;
inline constexpr std::size_t kErrorBytes = 1024;

// An HDF5 identifier of any kind, closed with its kind's close call.
class Id {
 public:
  Id() = default;
  explicit Id(hid_t id) : id_(id) {}
  ~Id() { Close(); }
  Id(Id&& other) noexcept : id_(other.id_) { other.id_ = -1; }
  Id& operator=(Id&& other) noexcept;
  Id(const Id&) = delete;
  Id& operator=(const Id&) = delete;

  hid_t get() const { return id_; }
  explicit operator bool() const { return id_ >= 0; }
  // False when the library failed to close it (a file whose last flush failed).
  bool Close();

 private:
  hid_t id_ = -1;
};

// Keeps the library from printing its error stack while in scope (on this thread): the callers
// say what failed in their own words.
class QuietErrors {
 public:
  QuietErrors();
  ~QuietErrors();
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  H5E_auto2_t function_ = nullptr;
  void* data_ = nullptr;
};

// The most specific message of this thread's error stack; for a failed system call the
// system's text ("No space left on device").
std::string LastError();

// A recording file opened for reading: also one still being written (single-writer/
// multiple-reader access) or one whose writer was killed (its status flags are left set; they are
// ignored, the file is not changed).
class Reader final : public Hdf5Recording {
 public:
  bool Open(const std::string& path, std::string& error, std::vector<std::string>& notes);
  const Sidecar& Description() const override { return description_; }
  int64_t Frames() const override { return frames_; }
  bool Read(int64_t first, std::span<float> out, std::string& error) const override;

 private:
  std::string path_;
  Id file_, values_;
  Sidecar description_;
  int64_t frames_ = 0;
};

}  // namespace quillbox::recording::hdf5
