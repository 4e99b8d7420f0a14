#include "recording/FileSink.h"

#include "recording/CsvSink.h"
#include "recording/Hdf5Sink.h"

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

std::unique_ptr<FileSink> MakeFileSink(const std::string& path, const FileOptions& options) {
  if (options.format == Format::Hdf5) return std::make_unique<Hdf5Sink>(path, options.compress);
  return std::make_unique<CsvSink>(path);
}

}  // namespace quillbox::recording
