#pragma once
// A recording's CSV file and its description FILE.json beside it (or, for the name "-", the CSV
// on standard output with no description). The file is created, locked and checked before the
// module is touched; a file taken over with `replace` keeps its old rows until the new
// description, saying "complete": false, is in place.

#include <string>

#include "recording/CsvRows.h"
#include "recording/OutputFile.h"
#include "recording/Sink.h"

namespace quillbox::recording {

class CsvSink : public Sink {
 public:
  explicit CsvSink(std::string path);

  // Creates (or, with `replace`, takes over) the file and makes sure its description can be
  // written: an existing name, a name too long or a folder that cannot be written is refused
  // here. False with `error`.
  bool Open(bool replace, std::string& error);
  // Removes the file when Open created it and the recording never started.
  void Abandon() { csv_.RemoveIfCreated(); }

  bool Begin(const Sidecar& description, std::string& error) override;
  bool Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) override;
  bool Sync(const Sidecar& description, bool describe, std::string& error) override;
  bool End(const Sidecar& description, std::string& error) override;

  const std::string& Path() const { return path_; }
  // False when the rows go to standard output or another non-regular file.
  bool Described() const { return described_; }

 private:
  std::string path_;
  OutputFile csv_;
  SidecarFile sidecarFile_;
  CsvRows rows_{{}, 1.0f, false};
  std::string text_;
  bool described_ = true;
  bool failed_ = false;
};

}  // namespace quillbox::recording
