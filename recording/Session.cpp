#include "recording/Session.h"

#include <algorithm>
#include <cmath>

#include "platform/Clock.h"
#include "platform/Trace.h"
#include "recording/Columns.h"

namespace quillbox::recording {
namespace {

using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::nanoseconds;
using Seconds = std::chrono::duration<double>;
using RealClock = std::chrono::steady_clock;

constexpr int64_t kPollFrames = 4096;
// -d gives up this long after its duration when the module delivers no more.
constexpr double kGraceSeconds = 2.0;
// No frame for this long (or three frame periods, if longer) means the module stopped.
constexpr double kStallSeconds = 2.0;
// A stall also needs this much real time of silence: on an accelerated clock 2 s of module time
// can pass while a loaded machine merely did not schedule the acquisition thread.
constexpr milliseconds kStallRealMin{500};
// ... of which a single gap between polls counts this much at most.
constexpr milliseconds kMaxRealSilencePerPoll{250};
// The description's running frame count is refreshed this often at most: replacing it costs
// three flushes, and the data itself always shows how far the recording got.
constexpr double kDescribeSeconds = 10.0;
// A gap between two polls counts as the module's silence up to this much: time the process did
// not run (stopped with Ctrl-Z, not scheduled) is not the module's.
constexpr milliseconds kMaxSilencePerPoll{2 * Session::kPollMs};

nanoseconds Span(double seconds) { return duration_cast<nanoseconds>(Seconds(seconds)); }

}  // namespace

Session::Session(IADC3& adc, IDIO* dio, ITools& tools, Messages say)
    : adc_(adc), dio_(dio), tools_(tools), say_(std::move(say)) {}

Session::~Session() {
  if (state_ == State::Running) RequestStop("closed");
  Finish();
}

std::optional<Problem> Session::Prepare(const Request& request) {
  if (state_ != State::Idle) return Problem{false, "", "the recording was prepared already"};
  if (auto problem = CheckRequest(request)) return problem;
  if ((request.doStart || request.doStop) && dio_ == nullptr)
    return Problem{true, "", "this recording cannot set the digital outputs"};
  std::string note;
  if (auto problem = ApplyScanListAndRate(adc_, request, note)) return problem;
  const float rate = adc_.Rate();
  if (request.frames && static_cast<double>(*request.frames) / rate > kMaxSeconds)
    return Problem{true, "frames",
                   std::to_string(*request.frames) + " frames at " + FloatText(rate) +
                       " Hz last longer than " + FloatText(kMaxSeconds) + " s"};
  if (request.syncMode >= 0 && !tools_.SetSyncMode(request.syncMode))
    return Problem{false, "sync", "the synchronisation mode cannot be set now"};
  if (request.ring) adc_.InputSizeData(*request.ring);
  if (request.doStart) {
    dio_->DOStartValue(*request.doStart);
    dio_->DOStartEnabled(true);
  }
  if (request.doStop) {
    dio_->DOStopValue(*request.doStop);
    dio_->DOStopEnabled(true);
  }
  request_ = request;
  description_ = Sidecar{};
  description_.uid = NewUid();
  description_.firstFrame = firstFrame_;
  description_.rateRequested = request.rate ? *request.rate : rate;
  description_.rate = rate;
  description_.raw = request.raw;
  description_.columns = ScanListColumns(adc_, request.raw);
  description_.serial = ModuleSerial(tools_);
  if (description_.columns.empty()) return Problem{false, "channels", "the scan list is empty"};
  if (request.frames)
    target_ = *request.frames;
  else if (request.seconds)
    target_ = std::max<int64_t>(1, std::llround(*request.seconds * rate));
  if (!note.empty()) Say(note);
  if (platform::TraceOn())
    platform::TraceF("recording prepared: %zu channels, rate %s Hz (asked %s), %lld frames%s",
                     description_.columns.size(), FloatText(rate).c_str(),
                     request.rate ? FloatText(*request.rate).c_str() : "stored",
                     static_cast<long long>(target_), target_ == 0 ? " (until stopped)" : "");
  return std::nullopt;
}

std::optional<Problem> Session::Start() {
  if (state_ != State::Idle || description_.columns.empty())
    return Problem{false, "", "the recording was not prepared"};
  description_.startUtc = UtcNow();
  if (!adc_.StartRecord()) {
    const std::string why = adc_.LastError();
    if (platform::TraceOn()) platform::TraceF("recording refused: %s", why.c_str());
    return Problem{false, "", why.empty() ? "the module refused to start" : why};
  }
  state_ = State::Running;
  if (platform::TraceOn()) platform::Trace("recording started");
  start_ = lastPoll_ = lastSync_ = lastDescription_ = platform::Now();
  lastPollReal_ = RealClock::now();
  const double rate = description_.rate;
  deadline_ = request_.seconds ? Span(*request_.seconds + kGraceSeconds) : nanoseconds::max();
  stallAfter_ = Span(std::max(kStallSeconds, 3.0 / rate));
  syncEvery_ = Span(request_.syncEvery);
  describeEvery_ = Span(std::max(kDescribeSeconds, request_.syncEvery));
  if (request_.doStart) {
    if (const std::string call = tools_.LastCallFailure(); !call.empty())
      Say("the digital outputs were not set at start: " + call + " failed");
  }
  for (Sink* sink : sinks_) {
    std::string error;
    if (!sink->Begin(description_, error)) {
      Fail("write error", error);
      break;
    }
  }
  return std::nullopt;
}

int64_t Session::Poll(int64_t room) {
  if (state_ != State::Running) return 0;
  const auto now = platform::Now();
  const auto gap = now - lastPoll_;
  lastPoll_ = now;
  const auto realNow = RealClock::now();
  const auto realGap = realNow - lastPollReal_;
  lastPollReal_ = realNow;
  const int64_t got = Take(room);
  if (state_ != State::Running) return got;
  if (target_ > 0 && written_ >= target_) {
    EndWith("end");
    return got;
  }
  for (Sink* sink : sinks_) {
    std::string reason, message;
    if (sink->WantsStop(reason, message)) {
      Fail(reason.c_str(), message);
      return got;
    }
  }
  if (got > 0) {
    silence_ = realSilence_ = nanoseconds::zero();
  } else {
    silence_ += std::min<nanoseconds>(gap, kMaxSilencePerPoll);
    realSilence_ += std::min<nanoseconds>(realGap, kMaxRealSilencePerPoll);
    if (silence_ > stallAfter_ && realSilence_ > kStallRealMin) {
      std::string message = "the module stopped delivering data";
      if (const std::string why = tools_.AcquisitionProblem(); !why.empty())
        message += " (" + why + ")";
      Fail("stalled", message);
      return got;
    }
  }
  // The duration is over (counting only time the process ran) and this poll brought nothing:
  // the frames still missing are said with their count once the stop took what the module had.
  // A module catching up (after the process was stopped a while) is waited for.
  awake_ += std::min<nanoseconds>(gap, kMaxSilencePerPoll);
  if (got == 0 && awake_ > deadline_) {
    EndWith("short");
    return got;
  }
  if (now - lastSync_ >= syncEvery_) {
    lastSync_ = now;
    const bool describe = now - lastDescription_ >= describeEvery_;
    if (describe) lastDescription_ = now;
    SyncSinks(describe);
  }
  return got;
}

void Session::RequestStop(const std::string& reason) {
  if (state_ == State::Running) EndWith(reason);
}

void Session::EndWith(const std::string& reason) {
  state_ = State::Stopping;
  description_.stopReason = reason;
  if (platform::TraceOn())
    platform::TraceF("recording stops: %s after %.3f s, %lld frames so far", reason.c_str(),
                     ElapsedSeconds(), static_cast<long long>(written_));
  // A recording that reached its length expects exactly that; one stopped early the frames of
  // the time it ran.
  const bool whole = target_ > 0 && (reason == "end" || reason == "short");
  const int64_t expected = whole ? target_ : FramesExpected();
  stopAt_ = expected;
  description_.framesExpected = expected;
}

void Session::Finish() {
  if (state_ == State::Idle || state_ == State::Finished) return;
  if (state_ == State::Running) EndWith("closed");
  // The frames up to the stop are the recording's: the module delivers them within a block
  // period or two; a module that stalls now leaves the shortfall to show.
  nanoseconds silence{};
  const bool wait = description_.stopReason != "short";
  while (wait && !description_.error && written_ < stopAt_ && silence <= stallAfter_) {
    tools_.WaitForData(kPollMs / 2);
    silence =
        Take(stopAt_ - written_) > 0 ? nanoseconds::zero() : silence + milliseconds(kPollMs / 2);
  }
  adc_.StopRecord();
  if (request_.doStop) {
    if (const std::string call = tools_.LastCallFailure(); !call.empty())
      Say("the digital outputs were not set at stop: " + call + " failed");
  }
  // A block that was in flight at the stop.
  while (!description_.error && written_ < stopAt_ && Take(stopAt_ - written_) > 0) {
  }
  if (description_.stopReason == "short")
    Fail("short", "the module delivered " + std::to_string(written_) + " of " +
                      std::to_string(target_) + " frames");
  description_.frames = written_;
  description_.complete = true;
  state_ = State::Finished;
  if (platform::TraceOn())
    platform::TraceF("recording ended: %s, %lld of %lld frames expected%s%s",
                     description_.stopReason.c_str(), static_cast<long long>(written_),
                     static_cast<long long>(description_.framesExpected),
                     description_.error ? ", error: " : "",
                     description_.error ? description_.error->c_str() : "");
  for (Sink* sink : sinks_) {
    std::string error;
    if (!sink->End(description_, error)) {
      if (!description_.error) description_.error = error;
      Say(error);
    }
  }
}

void Session::Run(const std::function<std::string()>& stopReason) {
  while (state_ == State::Running) {
    if (const std::string reason = stopReason(); !reason.empty()) {
      RequestStop(reason);
      break;
    }
    Poll();
    if (state_ == State::Running) WaitForFrames();
  }
  Finish();
}

double Session::ElapsedSeconds() const {
  if (state_ == State::Idle) return 0;
  return Seconds(platform::Now() - start_).count();
}

int64_t Session::Take(int64_t room) {
  const std::size_t width = description_.columns.size();
  int64_t limit = room;
  if (target_ > 0) limit = std::min(limit, target_ - written_);
  if (state_ == State::Stopping) limit = std::min(limit, stopAt_ - written_);
  if (width == 0 || limit <= 0) return 0;
  int64_t taken = 0;
  while (taken < limit) {
    const int64_t want = std::min(kPollFrames, limit - taken);
    buffer_.resize(width * static_cast<std::size_t>(want));
    auto size = static_cast<int32_t>(buffer_.size());
    int32_t unread = 0;
    const int32_t got = adc_.GetData(buffer_[0], size, unread);
    if (got <= 0) break;
    const std::span<const int16_t> codes(buffer_.data(), static_cast<std::size_t>(got) * width);
    for (Sink* sink : sinks_) {
      std::string error;
      if (!sink->Write(codes, firstFrame_ + written_, error)) {
        Fail("write error", error);
        return taken;
      }
    }
    written_ += got;
    taken += got;
    if (got < want) break;
  }
  return taken;
}

void Session::SyncSinks(bool describe) {
  description_.frames = written_;
  if (describe) description_.framesExpected = FramesExpected();
  for (Sink* sink : sinks_) {
    std::string error;
    if (!sink->Sync(description_, describe, error)) {
      Fail("write error", error);
      return;
    }
  }
}

void Session::Fail(const char* reason, const std::string& message) {
  if (platform::TraceOn())
    platform::TraceF("recording fails (%s) after %.3f s, %lld frames: %s", reason, ElapsedSeconds(),
                     static_cast<long long>(written_), message.c_str());
  if (!description_.error) {
    description_.error = message;
    description_.stopReason = reason;
    // A failure while running ends the recording with the frames it has; one during the stop
    // keeps the expectation of the moment the stop was asked for.
    if (state_ == State::Running) {
      description_.framesExpected = FramesExpected();
      state_ = State::Stopping;
    }
    if (state_ == State::Stopping) stopAt_ = written_;
  }
  Say(message);
}

void Session::Say(const std::string& message) {
  if (say_ && said_.insert(message).second) say_(message);
}

int64_t Session::FramesExpected() const {
  const int64_t expected = std::llround(ElapsedSeconds() * description_.rate);
  return target_ > 0 ? std::min(target_, expected) : expected;
}

}  // namespace quillbox::recording
