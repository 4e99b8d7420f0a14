// quillbox record: opens the module, records the scan list to a CSV file (values in the
// channels' units, or codes) and describes the recording in FILE.json beside it.
//
// The duration is counted in frames: -d SECONDS asks for round(SECONDS x rate) frames and
// gives up SECONDS + 2 s after the start when the module delivers no more; -n FRAMES waits for
// that many. SIGINT / SIGTERM end the recording like reaching the end: every frame recorded is
// written. The command's own waits follow QUILLBOX_TIME_SCALE like the driver's clock.

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"
#include "platform/Clock.h"

namespace quillbox::cli {
namespace {

using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t g_interrupted = 0;
extern "C" void OnInterrupt(int) { g_interrupted = 1; }

// Catches SIGINT and SIGTERM while alive; a second signal takes its default action.
class InterruptGuard {
 public:
  InterruptGuard() {
    g_interrupted = 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
  }
  ~InterruptGuard() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

 private:
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

struct RecordOptions {
  std::string channels;
  std::optional<double> rate;
  std::optional<double> seconds;
  std::optional<int64_t> frames;
  std::string output = "recording.csv";
  bool raw = false;
  std::optional<int32_t> ring;
  std::string sync;
  std::string doStart, doStop;
};

// What each scan-list column is.
struct ColumnInfo {
  int16_t channel = 0;
  std::string name, unit;
  float scale = 1.0f;
  bool scaled = false;  // false: no usable scale, the column holds codes
};

std::string CsvCell(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string q = "\"";
  for (char c : text) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

void AppendNumber(std::string& line, double value, int digits) {
  char text[40];
  const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
  line.append(text, r.ptr);
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return text;
}

std::string ModuleSerial(ITools& tools) {
  try {
    const auto info = nlohmann::json::parse(tools.InfoJson());
    if (info.contains("board") && info["board"].contains("serial") &&
        info["board"]["serial"].is_string())
      return info["board"]["serial"].get<std::string>();
  } catch (const std::exception&) {
  }
  return "";
}

class Recorder {
 public:
  Recorder(Context& ctx, const RecordOptions& o) : ctx_(ctx), o_(o) {}

  int Run() {
    IADC3& adc = *ctx_.Adc();
    IDIO& dio = *ctx_.Dio();
    if (int code = ParseValues(); code != kExitOk) return code;
    if (!adc.Test()) {
      PrintError(adc.LastError());
      return kExitFailure;
    }
    if (int code = Configure(adc, dio); code != kExitOk) return code;
    Describe(adc);

    std::ofstream csv(o_.output, std::ios::binary | std::ios::trunc);
    if (!csv) {
      PrintError("cannot write " + o_.output + ": " +
                 std::error_code(errno, std::generic_category()).message());
      return kExitFailure;
    }
    InterruptGuard interrupts;
    startUtc_ = UtcNow();
    if (!adc.StartRecord()) {
      csv.close();
      std::remove(o_.output.c_str());
      PrintError(adc.LastError());
      return kExitFailure;
    }
    // Durations run on the driver's clock, so that an accelerated time scale (tests) also
    // shortens the command's own waits.
    const auto started = platform::Now();
    const auto wallStart = Clock::now();
    csv << Header();
    const int64_t target =
        o_.frames ? *o_.frames : std::max<int64_t>(1, std::llround(Seconds() * rate_));
    const std::optional<std::chrono::nanoseconds> limit =
        o_.frames ? std::nullopt
                  : std::optional<std::chrono::nanoseconds>(
                        std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::duration<double>(Seconds() + kGraceSeconds)));
    const bool progress = isatty(STDERR_FILENO) != 0;
    auto lastProgress = wallStart;

    std::vector<int16_t> buffer(static_cast<std::size_t>(columns_.size()) * kPollFrames);
    while (written_ < target && g_interrupted == 0) {
      if (limit && platform::Now() - started > *limit) break;
      Take(adc, buffer, csv, target);
      if (progress && Clock::now() - lastProgress > std::chrono::milliseconds(500)) {
        lastProgress = Clock::now();
        ShowProgress(adc, started);
      }
      if (written_ < target) platform::Sleep(kPollMs);
    }
    adc.StopRecord();
    while (written_ < target && Take(adc, buffer, csv, target) > 0) {
    }
    if (progress) std::cerr << "\r\033[K";
    csv.flush();
    if (!csv) {
      PrintError("cannot write " + o_.output + ": " +
                 std::error_code(errno, std::generic_category()).message());
      return kExitFailure;
    }
    csv.close();
    if (!WriteDescription()) return kExitFailure;

    const double wall = std::chrono::duration<double>(Clock::now() - wallStart).count();
    std::cout << "Recorded " << written_ << " frames of " << columns_.size() << " channel"
              << (columns_.size() == 1 ? "" : "s") << " at " << FloatText(rate_) << " Hz ("
              << FloatText(std::round(static_cast<double>(written_) / rate_ * 10) / 10)
              << " s of data, " << FloatText(std::round(wall * 10) / 10) << " s wall) to "
              << o_.output << '\n';
    if (g_interrupted == 0 && written_ < target) {
      PrintError("the module delivered " + std::to_string(written_) + " of " +
                 std::to_string(target) + " frames");
      return kExitFailure;
    }
    return kExitOk;
  }

 private:
  static constexpr int32_t kPollFrames = 4096;
  static constexpr uint32_t kPollMs = 200;  // one block period of the device
  static constexpr double kGraceSeconds = 2.0;

  double Seconds() const { return o_.seconds.value_or(10.0); }

  // Checks the values given as text before anything is opened.
  int ParseValues() {
    std::string error;
    if (!o_.channels.empty() && !ParseChannelList(o_.channels, channels_, error)) {
      PrintError("--channels: " + error);
      return kExitUsage;
    }
    if (!o_.doStart.empty() && !ParseLong(o_.doStart, doStart_, error)) {
      PrintError("--do-start: " + error);
      return kExitUsage;
    }
    if (!o_.doStop.empty() && !ParseLong(o_.doStop, doStop_, error)) {
      PrintError("--do-stop: " + error);
      return kExitUsage;
    }
    return kExitOk;
  }

  int Configure(IADC3& adc, IDIO& dio) {
    if (!o_.channels.empty()) adc.InputChannels(BoundedArray<int16_t>::FromVector(channels_));
    if (o_.rate) {
      if (*o_.rate > adc.RateMax())
        PrintError("rate " + FloatText(*o_.rate) + " Hz is above the highest rate; using " +
                   FloatText(adc.RateMax()) + " Hz");
      adc.Rate(static_cast<float>(*o_.rate));
    }
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
    rateRequested_ = o_.rate ? *o_.rate : adc.Rate();
    rate_ = adc.Rate();
    for (int16_t channel : adc.InputChannels()) {
      ColumnInfo c;
      c.channel = channel;
      c.name = adc.ChannelName(channel);
      c.unit = adc.ChannelUnitName(channel);
      c.scale = adc.ChannelUnitScale(channel);
      if (c.name.empty()) c.name = "ch" + std::to_string(channel);
      c.scaled = std::isfinite(c.scale) && c.scale > 0.0f;
      if (!c.scaled) {
        c.scale = 1.0f;
        c.unit = "code";
      }
      columns_.push_back(std::move(c));
    }
  }

  std::string Header() const {
    std::string line = "frame,time_s";
    for (const ColumnInfo& c : columns_) line += "," + CsvCell(c.name + " (" + c.unit + ")");
    return line + "\n";
  }

  // One GetData; writes the rows (at most up to `target`); returns the frames taken.
  int32_t Take(IADC3& adc, std::vector<int16_t>& buffer, std::ofstream& csv, int64_t target) {
    if (columns_.empty()) return 0;
    int32_t size = static_cast<int32_t>(buffer.size()), unread = 0;
    const int32_t frames = adc.GetData(buffer[0], size, unread);
    const std::size_t width = columns_.size();
    std::string text;
    for (int32_t f = 0; f < frames && written_ < target; ++f, ++written_) {
      text += std::to_string(written_);
      text += ',';
      char time[32];
      std::snprintf(time, sizeof time, "%.6f", static_cast<double>(written_) / rate_);
      text += time;
      for (std::size_t j = 0; j < width; ++j) {
        const int16_t code = buffer[static_cast<std::size_t>(f) * width + j];
        text += ',';
        if (o_.raw || !columns_[j].scaled)
          text += std::to_string(code);
        else
          AppendNumber(text, code / static_cast<double>(columns_[j].scale), 7);
      }
      text += '\n';
    }
    csv << text;
    return frames;
  }

  void ShowProgress(IADC3& adc, std::chrono::nanoseconds started) const {
    const double elapsed = std::chrono::duration<double>(platform::Now() - started).count();
    char line[160];
    std::snprintf(line, sizeof line, "\r\033[K%7.1f s  %lld frames  %s Hz  ring %d/%d", elapsed,
                  static_cast<long long>(written_), FloatText(rate_).c_str(), adc.InputCountKadrs(),
                  adc.InputSizeKadrs());
    std::cerr << line << std::flush;
  }

  bool WriteDescription() const {
    Json j;
    j["start_utc"] = startUtc_;
    j["rate_requested"] = rateRequested_;
    j["rate"] = std::stod(FloatText(rate_));
    j["channels"] = Json::array();
    j["names"] = Json::array();
    j["units"] = Json::array();
    j["scales"] = Json::array();
    for (const ColumnInfo& c : columns_) {
      j["channels"].push_back(c.channel);
      j["names"].push_back(c.name);
      j["units"].push_back(c.unit);
      j["scales"].push_back(std::stod(FloatText(c.scale)));
    }
    j["frames"] = written_;
    j["serial"] = ModuleSerial(ctx_.Tools());
    j["raw"] = o_.raw;
    const std::string path = o_.output + ".json";
    std::ofstream out(path, std::ios::trunc);
    out << j.dump(2) << '\n';
    if (!out) {
      PrintError("cannot write " + path + ": " +
                 std::error_code(errno, std::generic_category()).message());
      return false;
    }
    return true;
  }

  Context& ctx_;
  const RecordOptions& o_;
  std::vector<int16_t> channels_;
  int32_t doStart_ = 0, doStop_ = 0;
  std::vector<ColumnInfo> columns_;
  double rateRequested_ = 0;
  float rate_ = 0;
  int64_t written_ = 0;
  std::string startUtc_;
};

}  // namespace

void AddRecordCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand(
      "record", "Open the module and record the scan list to a CSV file (and FILE.json)");
  auto o = std::make_shared<RecordOptions>();
  cmd->add_option("-c,--channels", o->channels,
                  "Scan list: channel numbers 0..31 and ranges, e.g. 0,1,16-18 "
                  "(default: the driver's scan list)");
  cmd->add_option("-r,--rate", o->rate, "Frame rate in Hz (default: the stored rate)")
      ->check(CLI::PositiveNumber);
  auto* duration = cmd->add_option("-d,--duration", o->seconds, "Seconds to record (default 10)")
                       ->check(CLI::PositiveNumber);
  auto* frames =
      cmd->add_option("-n,--frames", o->frames, "Frames to record")->check(CLI::PositiveNumber);
  duration->excludes(frames);
  cmd->add_option("-o,--output", o->output, "CSV file to write (default recording.csv)");
  cmd->add_flag("--raw", o->raw, "Write codes instead of values in the channels' units");
  cmd->add_option("--ring", o->ring, "Ring size in frames")->check(CLI::PositiveNumber);
  cmd->add_option("--sync", o->sync, "EIRQ synchronisation: off, rising or falling")
      ->check(CLI::IsMember({"off", "rising", "falling"}));
  cmd->add_option("--do-start", o->doStart, "Digital output value to put on the lines at start");
  cmd->add_option("--do-stop", o->doStop, "Digital output value to put on the lines at stop");
  cmd->callback([&ctx, &run, o] { run = [&ctx, o] { return Recorder(ctx, *o).Run(); }; });
}

}  // namespace quillbox::cli
