#include "view/ScopeRecorder.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "platform/Clock.h"

namespace quillbox::view {
namespace {

constexpr std::chrono::seconds kSyncEvery{1};
constexpr std::chrono::seconds kDescribeEvery{10};

}  // namespace

bool ScopeRecorder::Start(const cli::Sidecar& description, bool replace) {
  sidecar_ = description;
  sidecar_.error.reset();
  for (const std::string& path : {path_, sidecarFile_.Path()}) {
    if (!replace && ::access(path.c_str(), F_OK) == 0) {
      sidecar_.error = path + " exists; choose another name";
      return false;
    }
  }
  if (!csv_.Open(path_, replace)) {
    sidecar_.error = csv_.Error();
    return false;
  }
  rows_ = cli::CsvRows(sidecar_.columns, sidecar_.rate, sidecar_.raw);
  sidecarFile_.Reserve();
  sidecar_.startUtc = cli::UtcNow();
  sidecar_.stopReason = "recording";
  start_ = lastSync_ = lastDescription_ = platform::Now();
  // The description's writer says what failed; the CSV's failures are kept by the file.
  std::string error;
  if (!csv_.Truncate() || !sidecarFile_.Write(sidecar_, error) || !csv_.Append(rows_.Header()))
    sidecar_.error = error.empty() ? csv_.Error() : error;
  if (sidecar_.error) {
    csv_.RemoveIfCreated();
    return false;
  }
  running_ = true;
  return true;
}

void ScopeRecorder::Append(std::span<const int16_t> codes) {
  const std::size_t width = sidecar_.columns.size();
  if (!running_ || Failed() || width == 0) return;
  text_.clear();
  rows_.Append(text_, codes, written_);
  if (!csv_.Append(text_)) {
    Fail(csv_.Error());
    return;
  }
  written_ += static_cast<int64_t>(codes.size() / width);
}

void ScopeRecorder::Tick() {
  if (!running_ || Failed()) return;
  const auto now = platform::Now();
  if (now - lastSync_ < kSyncEvery) return;
  lastSync_ = now;
  if (!csv_.Sync()) {
    Fail(csv_.Error());
    return;
  }
  if (now - lastDescription_ < kDescribeEvery) return;
  lastDescription_ = now;
  sidecar_.frames = written_;
  sidecar_.framesExpected = FramesExpected();
  std::string error;
  if (!sidecarFile_.Write(sidecar_, error)) Fail(error);
}

bool ScopeRecorder::Stop(const std::string& reason) {
  if (!running_) return !Failed();
  running_ = false;
  if (!Failed()) {
    sidecar_.stopReason = reason;
    if (!csv_.Sync()) Fail(csv_.Error());
  }
  sidecar_.frames = written_;
  sidecar_.framesExpected = FramesExpected();
  sidecar_.complete = true;
  std::string error;
  if (!sidecarFile_.WriteFinal(sidecar_, error)) Fail(error);
  return !Failed();
}

void ScopeRecorder::Fail(const std::string& message) {
  if (Failed()) return;
  sidecar_.stopReason = "write error";
  sidecar_.error = message;
}

int64_t ScopeRecorder::FramesExpected() const {
  const double elapsed = std::chrono::duration<double>(platform::Now() - start_).count();
  return std::max(written_, static_cast<int64_t>(std::llround(elapsed * sidecar_.rate)));
}

}  // namespace quillbox::view
