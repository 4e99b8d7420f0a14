// quillbox record: opens the module, records the scan list to a CSV file (values in the
// channels' units, or codes) and describes the recording in FILE.json beside it.
//
// The files are safe at every instant: rows reach the CSV at every poll (one block period of
// the module) and are made durable every --sync-every seconds; FILE.json is replaced whole (with
// the frames so far at most every 10 s while recording, so that the syncs stay cheap), says
// "complete": false until the recording ended, and then how many frames the CSV holds, how many
// the elapsed time called for and why it ended. SIGINT, SIGTERM and SIGHUP end the recording like
// reaching its end; a write error, or a module that stops delivering, ends it at once.
//
// The duration is counted in frames: -d SECONDS asks for round(SECONDS x rate) frames and gives
// up SECONDS + 2 s after the start when the module delivers no more; -n FRAMES waits for that
// many. The command's own waits follow QUILLBOX_TIME_SCALE like the driver's clock.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"
#include "cli/recording/Columns.h"
#include "cli/recording/CsvRows.h"
#include "cli/recording/OutputFile.h"
#include "cli/recording/Sidecar.h"
#include "cli/recording/StopSignals.h"
#include "platform/Clock.h"

namespace quillbox::cli {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// The longest recording the command takes on: time stamps and frame numbers stay exact far
// beyond it.
constexpr double kMaxSeconds = 1e9;  // about 31 years
constexpr double kMaxSyncSeconds = 86400;

struct RecordOptions {
  std::string channels;
  std::optional<double> rate;
  std::optional<double> seconds;
  std::optional<int64_t> frames;
  std::string output = "recording.csv";
  bool raw = false;
  bool force = false;
  double syncEvery = 1.0;
  std::optional<int32_t> ring;
  std::string sync;
  std::string doStart, doStop;
};

bool Exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class Recorder {
 public:
  Recorder(Context& ctx, const RecordOptions& o) : ctx_(ctx), o_(o) {}

  int Run() {
    if (int code = ParseValues(); code != kExitOk) return code;
    // The files first: a name already taken is refused before the module is touched.
    for (const std::string& path : {o_.output, sidecarFile_.Path()}) {
      if (!o_.force && Exists(path)) {
        PrintError(path + " exists; choose another name or use --force to replace it");
        return kExitFailure;
      }
    }
    if (!csv_.Open(o_.output, o_.force)) {
      PrintError(csv_.Error());
      return kExitFailure;
    }
    const int code = Record();
    if (code != kExitOk && !recording_) csv_.RemoveIfCreated();
    return code;
  }

 private:
  static constexpr int32_t kPollFrames = 4096;
  static constexpr uint32_t kPollMs = 200;  // one block period of the module
  static constexpr double kGraceSeconds = 2.0;
  static constexpr double kStallSeconds = 2.0;
  // A stall also needs this much real time: on an accelerated clock 2 s of module time can pass
  // while a loaded machine merely did not schedule the recorder.
  static constexpr std::chrono::milliseconds kStallRealMin{250};
  // FILE.json's running frame count is refreshed this often at most: replacing it costs three
  // flushes, the rows' sync one, and the CSV itself always says how far the recording got.
  static constexpr double kDescribeSeconds = 10.0;

  double DurationSeconds() const { return o_.seconds.value_or(10.0); }

  // Checks the values given as text and the numbers before anything is opened.
  int ParseValues() {
    std::string error;
    const auto usage = [](const std::string& message) {
      PrintError(message);
      return kExitUsage;
    };
    if (!o_.channels.empty() && !ParseChannelList(o_.channels, channels_, error))
      return usage("--channels: " + error);
    if (!o_.doStart.empty() && !ParseLong(o_.doStart, doStart_, error))
      return usage("--do-start: " + error);
    if (!o_.doStop.empty() && !ParseLong(o_.doStop, doStop_, error))
      return usage("--do-stop: " + error);
    if (o_.rate) {
      const auto asFloat = static_cast<float>(*o_.rate);
      if (!std::isfinite(*o_.rate) || !(*o_.rate > 0) || !std::isfinite(asFloat) ||
          !(asFloat > 0.0f))
        return usage("--rate: " + FloatText(*o_.rate) + " is not a usable frame rate in Hz");
    }
    if (o_.seconds &&
        (!std::isfinite(*o_.seconds) || !(*o_.seconds > 0) || *o_.seconds > kMaxSeconds))
      return usage("--duration: " + FloatText(*o_.seconds) +
                   " is not a number of seconds between 0 and " + FloatText(kMaxSeconds));
    if (o_.frames && *o_.frames <= 0) return usage("--frames: must be at least 1");
    if (!std::isfinite(o_.syncEvery) || o_.syncEvery < 0 || o_.syncEvery > kMaxSyncSeconds)
      return usage("--sync-every: " + FloatText(o_.syncEvery) +
                   " is not a number of seconds between 0 and " + FloatText(kMaxSyncSeconds));
    if (o_.ring && *o_.ring <= 0) return usage("--ring: must be at least 1");
    return kExitOk;
  }

  int Configure(IADC3& adc, IDIO& dio) {
    if (int code = ApplyScanListAndRate(adc, channels_, o_.rate); code != kExitOk) return code;
    if (o_.ring) adc.InputSizeData(*o_.ring);
    if (!o_.sync.empty()) {
      const int mode = o_.sync == "rising" ? 1 : o_.sync == "falling" ? 2 : 0;
      if (!ctx_.Tools().SetSyncMode(mode)) {
        PrintError("the synchronisation mode cannot be set now");
        return kExitFailure;
      }
    }
    if (!o_.doStart.empty()) {
      dio.DOStartValue(doStart_);
      dio.DOStartEnabled(true);
    }
    if (!o_.doStop.empty()) {
      dio.DOStopValue(doStop_);
      dio.DOStopEnabled(true);
    }
    return kExitOk;
  }

  void Describe(IADC3& adc) {
    sidecar_.rateRequested = o_.rate ? *o_.rate : adc.Rate();
    sidecar_.rate = adc.Rate();
    sidecar_.raw = o_.raw;
    sidecar_.columns = ScanListColumns(adc);
    sidecar_.serial = ModuleSerial(ctx_.Tools());
  }

  // Frames the recording is to hold; 0 with a message when they cannot be represented.
  int64_t Target() const {
    const double rate = sidecar_.rate;
    if (o_.frames) {
      if (static_cast<double>(*o_.frames) / rate > kMaxSeconds) return 0;
      return *o_.frames;
    }
    return std::max<int64_t>(1, std::llround(DurationSeconds() * rate));
  }

  int Record() {
    IADC3& adc = *ctx_.Adc();
    IDIO& dio = *ctx_.Dio();
    if (int code = ctx_.OpenModule(); code != kExitOk) return code;
    if (int code = Configure(adc, dio); code != kExitOk) return code;
    Describe(adc);
    target_ = Target();
    if (target_ == 0) {
      PrintError("--frames: " + std::to_string(*o_.frames) + " frames at " +
                 FloatText(sidecar_.rate) + " Hz last longer than " + FloatText(kMaxSeconds) +
                 " s");
      return kExitUsage;
    }
    rows_ = CsvRows(sidecar_.columns, sidecar_.rate, o_.raw);
    StopSignals signals;
    sidecarFile_.Reserve();
    sidecar_.startUtc = UtcNow();
    if (!adc.StartRecord()) {
      PrintError(adc.LastError());
      return kExitFailure;
    }
    recording_ = true;
    startTime_ = platform::Now();
    const auto wallStart = Clock::now();
    if (!o_.doStart.empty()) ReportOutputWrite("start");

    // The description says "incomplete" before the first row reaches the file.
    std::string error;
    if (!csv_.Truncate())
      Fail("write error", csv_.Error());
    else if (!sidecarFile_.Write(sidecar_, error))
      Fail("write error", error);
    else
      Write(rows_.Header());
    Poll(adc);
    adc.StopRecord();
    if (!o_.doStop.empty()) ReportOutputWrite("stop");
    // Frames that arrived before the stop are the user's too.
    if (sidecar_.stopReason != "write error")
      while (written_ < target_ && Take(adc) > 0 && sidecar_.stopReason != "write error") {
      }
    if (sidecar_.stopReason == "recording") {
      sidecar_.stopReason = "short";
      Fail("short", "the module delivered " + std::to_string(written_) + " of " +
                        std::to_string(target_) + " frames");
    }
    Finish();

    const double wall = Seconds(Clock::now() - wallStart).count();
    std::cout << "Recorded " << written_ << " frames of " << sidecar_.columns.size() << " channel"
              << (sidecar_.columns.size() == 1 ? "" : "s") << " at " << FloatText(sidecar_.rate)
              << " Hz ("
              << FloatText(std::round(static_cast<double>(written_) / sidecar_.rate * 10) / 10)
              << " s of data, " << FloatText(std::round(wall * 10) / 10) << " s wall) to "
              << o_.output << '\n'
              << std::flush;
    return sidecar_.error ? kExitFailure : kExitOk;
  }

  // Takes frames until the recording has them all, a stop signal arrives, or it fails.
  void Poll(IADC3& adc) {
    // -d gives up this long after the start; -n waits for its frames.
    const auto limit = std::chrono::duration_cast<std::chrono::nanoseconds>(
        Seconds(o_.frames ? kMaxSeconds * 2 : DurationSeconds() + kGraceSeconds));
    // No frame for this long means the module stopped delivering (a slow rate gets three of
    // its frame periods).
    const auto stallAfter = std::chrono::duration_cast<std::chrono::nanoseconds>(
        Seconds(std::max(kStallSeconds, 3.0 / sidecar_.rate)));
    const auto syncEvery =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Seconds(o_.syncEvery));
    const bool progress = isatty(STDERR_FILENO) != 0;
    auto lastProgress = Clock::now();
    auto lastFrame = platform::Now();
    auto lastFrameReal = Clock::now();
    auto lastSync = lastFrame;
    auto lastDescription = lastFrame;
    const auto describeEvery = std::chrono::duration_cast<std::chrono::nanoseconds>(
        Seconds(std::max(kDescribeSeconds, o_.syncEvery)));

    while (sidecar_.stopReason == "recording") {
      if (const int signal = StopSignals::Received(); signal != 0) {
        sidecar_.stopReason = StopSignals::Name(signal);
        break;
      }
      const auto now = platform::Now();
      if (written_ >= target_) {
        sidecar_.stopReason = "end";
        break;
      }
      if (now - startTime_ > limit) break;  // short: said after the stop
      if (Take(adc) > 0) {
        lastFrame = now;
        lastFrameReal = Clock::now();
      } else if (now - lastFrame > stallAfter && Clock::now() - lastFrameReal > kStallRealMin) {
        std::string message = "the module stopped delivering data";
        if (const std::string why = ctx_.Tools().AcquisitionProblem(); !why.empty())
          message += " (" + why + ")";
        Fail("stalled", message);
        break;
      }
      if (now - lastSync >= syncEvery) {
        lastSync = now;
        const bool describe = now - lastDescription >= describeEvery;
        if (describe) lastDescription = now;
        if (!Sync(describe)) break;
      }
      if (progress && Clock::now() - lastProgress > std::chrono::milliseconds(500)) {
        lastProgress = Clock::now();
        ShowProgress(adc);
      }
      if (written_ < target_ && sidecar_.stopReason == "recording") platform::Sleep(kPollMs);
    }
    if (progress) std::cerr << "\r\033[K" << std::flush;
  }

  // Takes what the driver holds and appends it to the CSV; returns the frames taken.
  int64_t Take(IADC3& adc) {
    const std::size_t width = sidecar_.columns.size();
    if (width == 0) return 0;
    buffer_.resize(width * kPollFrames);
    text_.clear();
    int64_t taken = 0;
    for (;;) {
      int32_t size = static_cast<int32_t>(buffer_.size()), unread = 0;
      const int32_t frames = adc.GetData(buffer_[0], size, unread);
      if (frames <= 0) break;
      const int64_t keep = std::min<int64_t>(frames, target_ - written_ - taken);
      rows_.Append(text_, std::span(buffer_.data(), static_cast<std::size_t>(keep) * width),
                   written_ + taken);
      taken += keep;
      if (frames < kPollFrames || written_ + taken >= target_) break;
    }
    if (taken > 0 && !Write(text_)) return 0;
    written_ += taken;
    return taken;
  }

  bool Write(const std::string& text) {
    if (csv_.Append(text)) return true;
    Fail("write error", csv_.Error());
    return false;
  }

  // Makes the rows durable and, when `describe`, says in FILE.json how far the recording got.
  bool Sync(bool describe) {
    if (!csv_.Sync()) {
      Fail("write error", csv_.Error());
      return false;
    }
    if (!describe) return true;
    sidecar_.frames = written_;
    sidecar_.framesExpected = FramesExpected();
    std::string error;
    if (!sidecarFile_.Write(sidecar_, error)) {
      Fail("write error", error);
      return false;
    }
    return true;
  }

  int64_t FramesExpected() const {
    const double elapsed = Seconds(platform::Now() - startTime_).count();
    return std::min<int64_t>(target_, std::llround(elapsed * sidecar_.rate));
  }

  // Ends the recording with `reason`; the first failure is the one reported.
  void Fail(const char* reason, const std::string& message) {
    if (sidecar_.error) return;
    sidecar_.stopReason = reason;
    sidecar_.error = message;
    PrintError(message);
  }

  void Finish() {
    const bool writeFailed = sidecar_.stopReason == "write error";
    sidecar_.framesExpected = FramesExpected();
    sidecar_.frames = written_;
    sidecar_.complete = true;
    if (!writeFailed && !csv_.Sync()) Fail("write error", csv_.Error());
    std::string error;
    if (!sidecarFile_.WriteFinal(sidecar_, error)) Fail("write error", error);
  }

  void ReportOutputWrite(const char* when) {
    if (const std::string call = ctx_.Tools().LastCallFailure(); !call.empty())
      PrintError(std::string("the digital outputs were not set at ") + when + ": " + call +
                 " failed");
  }

  void ShowProgress(IADC3& adc) const {
    const double elapsed = Seconds(platform::Now() - startTime_).count();
    char line[160];
    std::snprintf(line, sizeof line, "\r\033[K%7.1f s  %lld frames  %s Hz  ring %d/%d", elapsed,
                  static_cast<long long>(written_), FloatText(sidecar_.rate).c_str(),
                  adc.InputCountKadrs(), adc.InputSizeKadrs());
    std::cerr << line << std::flush;
  }

  Context& ctx_;
  const RecordOptions& o_;
  std::vector<int16_t> channels_;
  int32_t doStart_ = 0, doStop_ = 0;
  OutputFile csv_;
  SidecarFile sidecarFile_{o_.output + ".json"};
  Sidecar sidecar_;
  CsvRows rows_{{}, 1.0f, false};
  int64_t target_ = 0;
  int64_t written_ = 0;
  bool recording_ = false;
  std::chrono::nanoseconds startTime_{};
  std::vector<int16_t> buffer_;
  std::string text_;
};

}  // namespace

void AddRecordCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand(
      "record", "Open the module and record the scan list to a CSV file (and FILE.json)");
  auto o = std::make_shared<RecordOptions>();
  cmd->add_option("-c,--channels", o->channels,
                  "Scan list: channel numbers 0..31 and ranges, e.g. 0,1,16-18 "
                  "(default: the driver's scan list)");
  cmd->add_option("-r,--rate", o->rate, "Frame rate in Hz (default: the stored rate)");
  auto* duration = cmd->add_option("-d,--duration", o->seconds, "Seconds to record (default 10)");
  auto* frames = cmd->add_option("-n,--frames", o->frames, "Frames to record");
  duration->excludes(frames);
  cmd->add_option("-o,--output", o->output, "CSV file to write (default recording.csv)");
  cmd->add_flag("--force", o->force, "Replace FILE and FILE.json when they exist");
  cmd->add_option("--sync-every", o->syncEvery,
                  "Make the rows durable (fdatasync) every SECONDS; 0: at every poll (default 1)");
  cmd->add_flag("--raw", o->raw, "Write codes instead of values in the channels' units");
  cmd->add_option("--ring", o->ring, "Ring size in frames");
  cmd->add_option("--sync", o->sync, "EIRQ synchronisation: off, rising or falling")
      ->check(CLI::IsMember({"off", "rising", "falling"}));
  cmd->add_option("--do-start", o->doStart, "Digital output value to put on the lines at start");
  cmd->add_option("--do-stop", o->doStop, "Digital output value to put on the lines at stop");
  cmd->callback([&ctx, &run, o] { run = [&ctx, o] { return Recorder(ctx, *o).Run(); }; });
}

}  // namespace quillbox::cli
