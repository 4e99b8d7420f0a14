#include "recording/FileSink.h"

#include <cstring>
#include <fstream>

#include "recording/CsvSink.h"
#include "recording/Plugins.h"

namespace quillbox::recording {
namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::optional<Format> FormatOf(const std::string& path, const std::string& given,
                               std::string& error) {
  if (given == "csv") return Format::Csv;
  if (given == "hdf5") return Format::Hdf5;
  if (!given.empty()) {
    error = "\"" + given + "\" is not a format: csv or hdf5";
    return std::nullopt;
  }
  return EndsWith(path, ".h5") || EndsWith(path, ".hdf5") ? Format::Hdf5 : Format::Csv;
}

std::unique_ptr<FileSink> MakeFileSink(const std::string& path, const FileOptions& options,
                                       std::string& error) {
  if (options.format == Format::Csv) return std::make_unique<CsvSink>(path);
  const Hdf5Plugin* hdf5 = LoadHdf5Plugin(error);
  return hdf5 != nullptr ? hdf5->makeSink(path, options.compress) : nullptr;
}

bool HasHdf5Signature(const std::string& path) {
  static constexpr char kSignature[] = "\x89HDF\r\n\x1a\n";
  std::ifstream in(path, std::ios::binary);
  char head[sizeof kSignature - 1] = {};
  return in.read(head, sizeof head) && std::memcmp(head, kSignature, sizeof head) == 0;
}

}  // namespace quillbox::recording
