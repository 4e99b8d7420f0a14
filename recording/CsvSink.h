#pragma once
// A recording's CSV file and its description FILE.json beside it (or, for the name "-", the CSV
// on standard output with no description). The file is created, locked and checked before the
// module is touched; a file taken over with `replace` keeps its old rows until the new
// description, saying "complete": false, is in place.

#include <string>

#include "recording/CsvRows.h"
#include "recording/FileSink.h"
#include "recording/OutputFile.h"

namespace quillbox::recording {

class CsvSink : public FileSink {
 public:
  explicit CsvSink(std::string path);

  // Besides the file, makes sure its description can be written: an existing name, a name too
  // long or a folder that cannot be written is refused here.
  bool Open(bool replace, std::string& error) override;
  void Abandon() override { csv_.RemoveIfCreated(); }

  bool Begin(const Sidecar& description, std::string& error) override;
  bool Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) override;
  bool Sync(const Sidecar& description, bool describe, std::string& error) override;
  bool End(const Sidecar& description, std::string& error) override;

  const std::string& Path() const override { return path_; }
  bool Described() const override { return described_; }
  uint64_t Bytes() const override { return csv_.Bytes(); }

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
