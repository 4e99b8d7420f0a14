#pragma once
// A sink that writes one recording file and its description: the CSV today, HDF5 beside it.
// Front ends choose the kind by the name (or an explicit format) through MakeFileSink, so the
// command, rotation and Python make their files the same way.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "recording/Sink.h"

namespace quillbox::recording {

class FileSink : public Sink {
 public:
  // Creates (or, with `replace`, takes over) the file and checks that everything the recording
  // will write can be written, before the module is touched. False with `error`.
  virtual bool Open(bool replace, std::string& error) = 0;
  // Removes what Open created when the recording never started.
  virtual void Abandon() = 0;
  virtual const std::string& Path() const = 0;
  // False when the data go to standard output or another non-regular file (no description).
  virtual bool Described() const = 0;
  // Bytes the file holds so far (for rotation by size).
  virtual uint64_t Bytes() const = 0;
};

enum class Format { Csv, Hdf5 };

struct FileOptions {
  Format format = Format::Csv;
  bool compress = false;  // HDF5 only: shuffle + gzip
};

// The format `given` names ("csv", "hdf5"), or without one the name's (".h5" and ".hdf5" are
// HDF5, anything else CSV); nullopt with `error` for an unknown name.
std::optional<Format> FormatOf(const std::string& path, const std::string& given,
                               std::string& error);

// The sink for `path` in the given format; null with `error` when the format's plug-in cannot be
// loaded.
std::unique_ptr<FileSink> MakeFileSink(const std::string& path, const FileOptions& options,
                                       std::string& error);

// Whether `path` starts with the HDF5 signature.
bool HasHdf5Signature(const std::string& path);

}  // namespace quillbox::recording
