#pragma once
// HDF5 files and the database copy are plug-ins: QuillboxHdf5.so holds everything that calls the
// HDF5 library, QuillboxDatabase.so everything that calls libpq. The recording engine loads one
// the first time a recording, a read or an upload needs it, so that the command, the scope and
// Python map neither library otherwise (libhdf5 alone brings some thirty more). Each plug-in
// exports one C function that returns its table below; the plug-ins are built from the same tree
// as the engine, so the tables pass C++ types, and the ABI number guards against a stale file.
// They are found in the folder of the platform library, which every front end maps: beside the
// command in a build tree, the package's private folder once installed.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "recording/Database.h"
#include "recording/DatabaseSink.h"
#include "recording/FileSink.h"
#include "recording/Sidecar.h"

namespace quillbox::recording {

// Bumped whenever a table or a type it passes changes.
inline constexpr uint32_t kRecordingPluginAbi = 1;

// An HDF5 recording opened for reading, as far as its writer flushed it (also while it is still
// being written, or after its writer was killed).
class Hdf5Recording {
 public:
  virtual ~Hdf5Recording() = default;
  virtual const Sidecar& Description() const = 0;
  // Frames the file held when it was opened.
  virtual int64_t Frames() const = 0;
  // Frames `first`.. of every column, frame after frame, as many as `out` holds whole frames.
  virtual bool Read(int64_t first, std::span<float> out, std::string& error) const = 0;
};

struct Hdf5Plugin {
  uint32_t abi;
  // The sink of an HDF5 recording (`compress`: shuffle + gzip).
  std::unique_ptr<FileSink> (*makeSink)(const std::string& path, bool compress);
  // The file opened for reading; null with `error`. `notes` say what was repaired.
  std::unique_ptr<Hdf5Recording> (*open)(const std::string& path, std::string& error,
                                         std::vector<std::string>& notes);
};

struct DatabasePlugin {
  uint32_t abi;
  // Where a connection string points ("database D on H"), without anything secret in it.
  std::string (*where)(const std::string& connection);
  // One connection; null with `error` (libpq's reason, on one line).
  std::unique_ptr<Database> (*connect)(const std::string& connection, const char* application,
                                       std::string& error);
  // The second copy of a recording: a sink that ships its frames through its own connection.
  std::unique_ptr<DatabaseSink> (*makeSink)(const std::string& connection,
                                            std::function<void(const std::string&)> say);
};

inline constexpr const char* kHdf5PluginFile = "QuillboxHdf5.so";
inline constexpr const char* kHdf5PluginEntry = "QuillboxHdf5Plugin";
inline constexpr const char* kDatabasePluginFile = "QuillboxDatabase.so";
inline constexpr const char* kDatabasePluginEntry = "QuillboxDatabasePlugin";

// The plug-in, loaded on the first call (later calls give the same answer); null with `error`,
// one line naming the file and the loader's reason.
const Hdf5Plugin* LoadHdf5Plugin(std::string& error);
const DatabasePlugin* LoadDatabasePlugin(std::string& error);

}  // namespace quillbox::recording
