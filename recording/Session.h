#pragma once
// One recording from its start to its end, the same for every front end (the command line, the
// scope's Record button, Python): the scan list and rate policy, the start and stop outputs, the
// poll loop paced by the module's block period, the stall rule, the stop reason, the frame
// accounting and the sinks the frames go to.
//
// A front end prepares the session, adds its sinks, starts it and then either calls Run (a loop
// that wakes when a block has arrived) or calls Poll from its own loop or timer. When it
// decides to end the recording (a signal, a closed window) it calls RequestStop; Finish then
// takes the frames up to that moment, stops the module and writes the final description.

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "quillbox/IADC3.h"
#include "quillbox/IDIO.h"
#include "quillbox/Tools.h"
#include "recording/Request.h"
#include "recording/Sidecar.h"
#include "recording/Sink.h"

namespace quillbox::recording {

class Session {
 public:
  // `say` receives every message for the user (a rate note, a failure), each at most once.
  using Messages = std::function<void(const std::string&)>;

  // `dio` may be null when the request sets no outputs.
  Session(IADC3& adc, IDIO* dio, ITools& tools, Messages say);
  ~Session();  // a recording still running ends as "closed"
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Checks the request and hands it to the opened driver (scan list, rate, ring, sync mode,
  // outputs). A refused request changes nothing.
  std::optional<Problem> Prepare(const Request& request);
  // Sinks get the frames in the order added; they must outlive the session's Finish.
  void AddSink(Sink& sink) { sinks_.push_back(&sink); }
  // Numbers the frames from `frame` on (a recording that goes on after its module was away).
  void SetFirstFrame(int64_t frame) { firstFrame_ = description_.firstFrame = frame; }
  // After Prepare: this session continues the recording of that uid (a new one has its own).
  void SetUid(std::string uid) { description_.uid = std::move(uid); }
  // Starts the module and begins the sinks. A refused start is a problem; a sink that cannot
  // begin ends the recording as a write error (Running() false).
  std::optional<Problem> Start();
  // Takes what the driver holds (at most `room` frames), hands it to the sinks, syncs them on
  // schedule and decides whether the recording ends. Returns the frames taken.
  int64_t Poll(int64_t room = std::numeric_limits<int64_t>::max());
  // Asks the recording to end now for `reason` ("SIGINT", "closed", ...).
  void RequestStop(const std::string& reason);
  // Ends the recording: takes the frames up to the stop, stops the module, applies the stop
  // output and writes the final description. Safe to call more than once.
  void Finish();
  // Polls once per block (or block period without one) until the recording ends; `stopReason` is
  // asked before each poll and ends the recording with the reason it gives ("" to go on).
  void Run(const std::function<std::string()>& stopReason);
  // Waits until the module delivered frames to take, kWaitMs at most: a front end that polls
  // from its own loop calls it between polls and so wakes once per block.
  void WaitForFrames() { tools_.WaitForData(kWaitMs); }

  bool Running() const { return state_ == State::Running; }
  bool Finished() const { return state_ == State::Finished; }
  const Sidecar& Description() const { return description_; }
  int64_t Frames() const { return written_; }
  // Frames the recording is to hold; 0 for "until stopped".
  int64_t Target() const { return target_; }
  double ElapsedSeconds() const;
  // The module clock's reading at the start.
  std::chrono::nanoseconds StartTime() const { return start_; }

  // The module's block period: the pace of the polls.
  static constexpr uint32_t kPollMs = 200;
  // How long a front end waits for the next block before it polls anyway: longer than a block
  // period, so that a wait ends with the block's arrival rather than just before it.
  static constexpr uint32_t kWaitMs = 2 * kPollMs;

 private:
  enum class State { Idle, Running, Stopping, Finished };

  int64_t Take(int64_t room);
  void SyncSinks(bool describe);
  void Fail(const char* reason, const std::string& message);
  void Say(const std::string& message);
  void EndWith(const std::string& reason);
  int64_t FramesExpected() const;

  IADC3& adc_;
  IDIO* dio_;
  ITools& tools_;
  Messages say_;
  std::set<std::string> said_;
  Request request_;
  Sidecar description_;
  std::vector<Sink*> sinks_;
  State state_ = State::Idle;

  int64_t target_ = 0;
  int64_t stopAt_ = 0;  // frames the recording holds once it ends
  int64_t written_ = 0;
  int64_t firstFrame_ = 0;
  std::chrono::nanoseconds start_{}, deadline_{}, stallAfter_{}, syncEvery_{}, describeEvery_{};
  std::chrono::nanoseconds lastPoll_{}, silence_{}, lastSync_{}, lastDescription_{};
  std::chrono::nanoseconds awake_{};  // time since the start that the process ran
  std::chrono::steady_clock::time_point lastPollReal_{};
  std::chrono::nanoseconds realSilence_{};
  std::vector<int16_t> buffer_;
};

}  // namespace quillbox::recording
