#include "recording/CsvSink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace quillbox::recording {
namespace {

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

// True for a regular file other than the standard output, and for a name not taken yet (which
// the recording makes one).
bool IsRegular(const std::string& path) {
  struct stat st {};
  struct stat out {};
  if (::stat(path.c_str(), &st) != 0) return true;
  const bool isStdout =
      ::fstat(STDOUT_FILENO, &out) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino;
  return S_ISREG(st.st_mode) && !isStdout;
}

}  // namespace

CsvSink::CsvSink(std::string path) : path_(std::move(path)), sidecarFile_(path_ + ".json") {}

bool CsvSink::Open(bool replace, std::string& error) {
  if (path_ == "-") {
    csv_.OpenStandardOutput();
    described_ = false;
    return true;
  }
  // A stream (a device, a pipe, the standard output) is written to and gets no description.
  if (!replace && IsRegular(path_)) {
    for (const std::string& path : {path_, sidecarFile_.Path()}) {
      if (Exists(path)) {
        error = path + " exists; choose another name or use --force to replace it";
        return false;
      }
    }
  }
  if (!csv_.Open(path_, replace)) {
    error = csv_.Error();
    return false;
  }
  described_ = csv_.Regular();
  if (described_ && !CanReplaceAtomically(sidecarFile_.Path(), error)) {
    csv_.RemoveIfCreated();
    return false;
  }
  return true;
}

bool CsvSink::Begin(const Sidecar& description, std::string& error) {
  rows_ = CsvRows(description.columns, description.rate, description.raw);
  if (described_) {
    sidecarFile_.Reserve();
    // The new description first: a run killed before the old rows go leaves a description that
    // says "complete": false beside them, never an old one that claims them.
    if (!sidecarFile_.Write(description, error)) return false;
  }
  if (!csv_.Truncate() || !csv_.Append(rows_.Header())) {
    error = csv_.Error();
    return false;
  }
  return true;
}

bool CsvSink::Write(std::span<const int16_t> codes, int64_t firstFrame, std::string& error) {
  text_.clear();
  rows_.Append(text_, codes, firstFrame);
  if (csv_.Append(text_)) return true;
  failed_ = true;
  error = csv_.Error();
  return false;
}

bool CsvSink::Sync(const Sidecar& description, bool describe, std::string& error) {
  if (!csv_.Sync()) {
    failed_ = true;
    error = csv_.Error();
    return false;
  }
  return !describe || !described_ || sidecarFile_.Write(description, error);
}

bool CsvSink::End(const Sidecar& description, std::string& error) {
  bool ok = true;
  if (!failed_ && !csv_.Sync()) {
    error = csv_.Error();
    ok = false;
  }
  std::string describeError;
  if (described_ && !sidecarFile_.WriteFinal(description, describeError)) {
    if (ok) error = describeError;
    ok = false;
  }
  return ok;
}

}  // namespace quillbox::recording
