// The HDF5 plug-in's entry: the table of what the recording engine calls of HDF5 files.

#include "recording/Hdf5File.h"
#include "recording/Hdf5Sink.h"
#include "recording/Plugins.h"

namespace quillbox::recording {
namespace {

std::unique_ptr<FileSink> MakeSink(const std::string& path, bool compress) {
  return std::make_unique<Hdf5Sink>(path, compress);
}

std::unique_ptr<Hdf5Recording> Open(const std::string& path, std::string& error,
                                    std::vector<std::string>& notes) {
  auto file = std::make_unique<hdf5::Reader>();
  if (!file->Open(path, error, notes)) return nullptr;
  return file;
}

constexpr Hdf5Plugin kPlugin{
    .abi = kRecordingPluginAbi,
    .makeSink = &MakeSink,
    .open = &Open,
};

}  // namespace
}  // namespace quillbox::recording

extern "C" __attribute__((visibility("default"))) const quillbox::recording::Hdf5Plugin*
QuillboxHdf5Plugin() {
  return &quillbox::recording::kPlugin;
}
