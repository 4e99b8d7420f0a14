// quillbox record: opens the module and records the scan list through the recording engine to a
// CSV file with FILE.json beside it (values in the channels' units, or codes), or with `-o -` to
// standard output. The engine keeps the files safe at every instant and decides how the
// recording ends; the command only turns options into a request and results into an exit status.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"
#include "cli/ServiceNotify.h"
#include "cli/TextTable.h"
#include "platform/Clock.h"
#include "recording/Columns.h"
#include "recording/DatabaseSink.h"
#include "recording/DiskGuard.h"
#include "recording/FileSink.h"
#include "recording/OutputFile.h"
#include "recording/Plugins.h"
#include "recording/Segments.h"
#include "recording/Session.h"
#include "recording/StopSignals.h"

namespace quillbox::cli {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

struct RecordOptions {
  std::string channels;
  std::optional<double> rate;
  std::optional<double> seconds;
  std::optional<int64_t> frames;
  std::string output = "recording.csv";
  std::string format;  // "csv" or "hdf5"; empty: by the name
  bool compress = false;
  std::string rotate;  // a time or a size
  std::optional<std::size_t> keep;
  std::string minFree;
  bool reconnect = false;
  bool append = false;
  bool untilStopped = false;
  bool raw = false;
  bool force = false;
  double syncEvery = 1.0;
  std::optional<int32_t> ring;
  std::string sync;
  std::string doStart, doStop;
  bool quiet = false;
  double statusEvery = 60;
  std::string to;  // a libpq connection string or URI: a second copy in that database
  double shipWait = 10;
};

// The options as a request; kExitOk, or kExitUsage with the reason said.
int MakeRequest(const RecordOptions& o, recording::Request& r) {
  std::string error;
  // Channels by name are taken once the module is open and their names are known.
  const bool named = std::any_of(o.channels.begin(), o.channels.end(),
                                 [](unsigned char c) { return std::isalpha(c) != 0; });
  if (!o.channels.empty() && !named && !ParseChannelList(o.channels, r.channels, error)) {
    PrintError("--channels: " + error);
    return kExitUsage;
  }
  for (auto [text, value, name] : {std::tuple(&o.doStart, &r.doStart, "--do-start"),
                                   std::tuple(&o.doStop, &r.doStop, "--do-stop")}) {
    if (text->empty()) continue;
    int32_t parsed = 0;
    if (!ParseLong(*text, parsed, error)) {
      PrintError(std::string(name) + ": " + error);
      return kExitUsage;
    }
    *value = parsed;
  }
  r.rate = o.rate;
  r.seconds = o.seconds;
  r.frames = o.frames;
  if (!r.seconds && !r.frames && !o.untilStopped) r.seconds = 10.0;
  r.raw = o.raw;
  r.ring = o.ring;
  r.syncEvery = o.syncEvery;
  if (!o.sync.empty()) r.syncMode = o.sync == "rising" ? 1 : o.sync == "falling" ? 2 : 0;
  if (auto problem = recording::CheckRequest(r)) return PrintProblem(*problem);
  return kExitOk;
}

// Where a recording stands: seconds of the module's clock since its start, its length (0: until
// stopped), the frames so far and the file being written.
struct Standing {
  double elapsed = 0, length = 0;
  int64_t frames = 0;
  std::string file;
  int64_t lag = -1;  // with --to: frames the database does not have yet
};

std::string HoursMinutesSeconds(long long s) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

// The terminal's status line.
void ShowProgress(const Standing& now) {
  // Whole seconds, so that the time recorded and the time left add up to the length.
  const auto elapsed = static_cast<long long>(now.elapsed), length = std::llround(now.length);
  std::string line = "\r\033[K" + HoursMinutesSeconds(elapsed);
  if (length > 0)
    line += " of " + HoursMinutesSeconds(length) + ", " +
            HoursMinutesSeconds(std::max(0LL, length - elapsed)) + " left";
  line += "  " + std::to_string(now.frames) + " frames  " + now.file;
  if (now.lag >= 0) line += "  (database " + std::to_string(now.lag) + " behind)";
  std::cerr << line << std::flush;
}

// The status for logs and the service manager: "recording run.csv: 360000 frames, 3600.0 s of
// 86400.0 s".
std::string StatusText(const Standing& now) {
  char times[80];
  std::snprintf(times, sizeof times, now.length > 0 ? "%.1f s of %.1f s" : "%.1f s", now.elapsed,
                now.length);
  std::string text =
      "recording " + now.file + ": " + std::to_string(now.frames) + " frames, " + times;
  if (now.lag >= 0) text += ", database " + std::to_string(now.lag) + " frames behind";
  return text;
}

// The files of the recording: one, or segments with an index when rotating or reconnecting.
struct Outputs {
  std::unique_ptr<recording::FileSink> file;
  std::unique_ptr<recording::Segments> segments;
  std::optional<recording::DiskGuard> guard;

  recording::Sink& Sink() {
    return file ? static_cast<recording::Sink&>(*file) : static_cast<recording::Sink&>(*segments);
  }
  void Abandon() {
    if (file) file->Abandon();
    if (segments) segments->Abandon();
  }
  std::string Names(const std::string& output) const {
    if (segments) return output + " in segments (" + segments->IndexPath() + ")";
    return output == "-" ? "standard output" : output;
  }
};

// Makes the outputs before the module is touched: a name that is taken or cannot be written is
// refused here. kExitOk, or the exit status with the reason said.
int OpenOutputs(const RecordOptions& o, Outputs& out) {
  std::string error;
  const auto format = recording::FormatOf(o.output, o.format, error);
  if (!format) {
    PrintError("--format: " + error);
    return kExitUsage;
  }
  if (*format == recording::Format::Hdf5 && o.output == "-") {
    PrintError("--format hdf5: HDF5 cannot go to standard output; name a file with -o");
    return kExitUsage;
  }
  if (o.compress && *format != recording::Format::Hdf5) {
    PrintError("--compress: only HDF5 recordings are compressed (-o FILE.h5 or --format hdf5)");
    return kExitUsage;
  }
  recording::SegmentPolicy policy;
  if (!o.rotate.empty() && !ParseDuration(o.rotate, policy.seconds, error) &&
      !ParseSize(o.rotate, policy.bytes, error)) {
    PrintError("--rotate: \"" + o.rotate + "\" is not a time (1h, 30min) or size (500MB, 1GB)");
    return kExitUsage;
  }
  policy.keep = o.keep.value_or(0);
  if (o.keep && *o.keep == 0) {
    PrintError("--keep: must be at least 1");
    return kExitUsage;
  }
  if (o.keep && o.rotate.empty()) {
    PrintError("--keep: only with --rotate");
    return kExitUsage;
  }
  if (!o.minFree.empty()) {
    uint64_t bytes = 0;
    if (!ParseSize(o.minFree, bytes, error)) {
      PrintError("--min-free: " + error);
      return kExitUsage;
    }
    out.guard.emplace(recording::FolderOf(o.output), bytes);
  }
  const recording::FileOptions options{*format, o.compress};
  const bool segmented = !o.rotate.empty() || o.reconnect;
  if (o.append && !segmented) {
    PrintError("--append: only with --rotate or --reconnect");
    return kExitUsage;
  }
  if (segmented && o.output == "-") {
    PrintError("--rotate and --reconnect write files: name one with -o");
    return kExitUsage;
  }
  if (segmented) {
    out.segments =
        std::make_unique<recording::Segments>(o.output, options, policy, o.force, o.append);
    if (!out.segments->Open(error)) {
      PrintError(error);
      return kExitFailure;
    }
    return kExitOk;
  }
  out.file = recording::MakeFileSink(o.output, options, error);
  if (!out.file || !out.file->Open(o.force, error)) {
    PrintError(error);
    return kExitFailure;
  }
  return kExitOk;
}

// Waits for the module with `serial` to be back, trying to open it at a modest interval, until
// the module's clock reads `until`; false when that time or a stop signal came first.
bool WaitForModule(Context& ctx, const std::string& serial, std::chrono::nanoseconds until) {
  constexpr uint32_t kRetryMs = 1000;
  for (;;) {
    Service().Alive();  // waiting is no hang
    if (recording::StopSignals::Received() != 0 || platform::Now() >= until) return false;
    ctx.Tools().SetDeviceChoice(serial, "--device");
    if (ctx.Adc()->Test()) return true;
    platform::Sleep(kRetryMs);
  }
}

int Record(Context& ctx, const RecordOptions& o) {
  recording::Request request;
  if (int code = MakeRequest(o, request); code != kExitOk) return code;
  Outputs out;
  if (int code = OpenOutputs(o, out); code != kExitOk) return code;
  IADC3& adc = *ctx.Adc();
  if (int code = ctx.OpenModule(); code != kExitOk) {
    out.Abandon();
    return code;
  }
  if (std::string error; request.channels.empty() && !o.channels.empty() &&
                         !recording::SelectChannels(o.channels, recording::ChannelNames(adc),
                                                    request.channels, error)) {
    out.Abandon();
    PrintError("--channels: " + error);
    return kExitUsage;
  }
  // The database copy after the file, so the file always has a frame first; it never fails the
  // recording, it only says how its shipping goes.
  std::unique_ptr<recording::DatabaseSink> database;
  if (!o.to.empty()) {
    std::string error;
    const recording::DatabasePlugin* postgres = recording::LoadDatabasePlugin(error);
    if (postgres == nullptr) {
      out.Abandon();
      PrintError("--to: " + error);
      return kExitFailure;
    }
    database =
        postgres->makeSink(o.to, [](const std::string& m) { PrintMessage(Severity::Warning, m); });
  }
  const recording::StopSignals signals;
  const auto wallStart = Clock::now();
  const bool terminal = isatty(STDERR_FILENO) != 0;
  const bool progress = terminal && !o.quiet;
  auto lastProgress = wallStart;
  double nextStatus = o.statusEvery;
  // One session, or with --reconnect one after each return of the module; frames are numbered
  // on by the module's time, so those the gap cost are counted and the times stay true.
  int64_t target = 0, total = 0;
  std::optional<recording::Sidecar> last;
  std::chrono::nanoseconds firstStart{}, previousStart{};
  int64_t firstFrame = 0;  // of this run: 0, or where an --append continues the recording
  for (int round = 0;; ++round) {
    // The recording's failure is an error; anything else it says (a rate note) a warning.
    recording::Session session(adc, ctx.Dio().get(), ctx.Tools(), [&session](const std::string& m) {
      PrintMessage(session.Description().error ? Severity::Error : Severity::Warning, m);
    });
    recording::Request r = request;
    int64_t first = 0;
    if (round > 0) {
      const double away = Seconds(platform::Now() - previousStart).count();
      first = last->firstFrame + std::llround(away * last->rate);
      if (target > 0) {
        if (first >= firstFrame + target) break;
        r.seconds.reset();
        r.frames = firstFrame + target - first;
      }
    }
    if (auto problem = session.Prepare(r)) {
      if (round == 0) out.Abandon();
      PrintProblem(*problem);
      if (round == 0) return problem->usage ? kExitUsage : kExitFailure;
      break;
    }
    if (round == 0 && !r.rate)  // the rate of an earlier run, or one set from Python
      PrintMessage(Severity::Notice, "rate " + FloatText(session.Description().rateRequested) +
                                         " Hz (stored setting; -r to choose)");
    session.AddSink(out.Sink());
    if (out.guard) session.AddSink(*out.guard);
    if (database) session.AddSink(*database);
    if (round == 0 && out.segments) {
      // Continuing an earlier recording (--append): numbered on by the time since its end.
      std::string error;
      const auto continuation =
          out.segments->Continuation(session.Description().rate, recording::UtcNow(), error);
      if (!continuation) {
        out.Abandon();
        PrintError(error);
        return kExitFailure;
      }
      if (continuation->second) out.segments->SetGap(*continuation->second);
      session.SetFirstFrame(firstFrame = continuation->first);
      if (!out.segments->Uid().empty()) session.SetUid(out.segments->Uid());
    }
    if (round > 0) {
      // From the frame after the last one delivered to the new start (its time the segment's).
      out.segments->SetGap(
          {recording::UtcPlus(last->startUtc, static_cast<double>(last->frames) / last->rate), "",
           first - (last->firstFrame + last->frames)});
      session.SetFirstFrame(first);
      session.SetUid(last->uid);
    }
    if (auto problem = session.Start()) {
      if (round == 0) out.Abandon();
      PrintProblem(*problem);
      if (round == 0) return problem->usage ? kExitUsage : kExitFailure;
      break;
    }
    if (round == 0) {
      target = session.Target();
      firstStart = session.StartTime();
    }
    const auto standing = [&] {
      return Standing{Seconds(platform::Now() - firstStart).count(),
                      target > 0 ? static_cast<double>(target) / session.Description().rate : 0,
                      total + session.Frames(),
                      out.segments ? out.segments->CurrentPath() : out.Names(o.output),
                      database ? database->Lag() : -1};
    };
    // A service is ready once the module runs and the files exist (the start began the sinks).
    if (session.Running()) Service().Ready(StatusText(standing()));
    session.Run([&]() -> std::string {
      Service().Alive();  // the watchdog sees the poll loop turn
      if (const int signal = recording::StopSignals::Received(); signal != 0) {
        Service().Stopping(std::string("stopping on ") + recording::StopSignals::Name(signal));
        return recording::StopSignals::Name(signal);
      }
      if (progress && Clock::now() - lastProgress > std::chrono::milliseconds(500)) {
        lastProgress = Clock::now();
        ShowProgress(standing());
      }
      if (const double elapsed = Seconds(platform::Now() - firstStart).count();
          o.statusEvery > 0 && elapsed >= nextStatus) {
        // The next a whole period on: a process that was stopped a while says it once.
        nextStatus = (std::floor(elapsed / o.statusEvery) + 1) * o.statusEvery;
        const std::string status = StatusText(standing());
        if (!terminal && !o.quiet) PrintMessage(Severity::Info, status);
        Service().Status(status);
      }
      return "";
    });
    if (progress) std::cerr << "\r\033[K" << std::flush;
    last = session.Description();
    total += last->frames;
    previousStart = session.StartTime();
    if (!o.reconnect || last->stopReason != "stalled") break;
    PrintMessage(Severity::Warning, "waiting for the module " + last->serial +
                                        " to come back; Ctrl-C ends the recording here");
    const auto until = target > 0
                           ? firstStart + std::chrono::duration_cast<std::chrono::nanoseconds>(
                                              Seconds(static_cast<double>(target) / last->rate))
                           : std::chrono::nanoseconds::max();
    if (!WaitForModule(ctx, last->serial, until)) break;
    PrintMessage(Severity::Notice,
                 "the module " + last->serial + " is back; the recording goes on in a new segment");
  }
  if (out.segments) {
    if (std::string error; !out.segments->Finish(error)) PrintError(error);
  }
  if (database) database->Drain(o.shipWait);
  Service().Stopping("recorded " + std::to_string(total) + " frames (" +
                     (last ? last->stopReason : "not started") + ")");

  const double wall = Seconds(Clock::now() - wallStart).count();
  const float rate = last ? last->rate : 0.0f;
  const std::size_t width = last ? last->columns.size() : 0;
  // With the rows on standard output (or another stream), the summary goes to stderr.
  std::ostream& summary = out.file && !out.file->Described() ? std::cerr : std::cout;
  summary << "Recorded " << total << " frames of " << width << " channel" << (width == 1 ? "" : "s")
          << " at " << FloatText(rate) << " Hz ("
          << FloatText(std::round(static_cast<double>(total) / rate * 10) / 10) << " s of data, "
          << FloatText(std::round(wall * 10) / 10) << " s wall) to " << out.Names(o.output) << '\n'
          << std::flush;
  // With --reconnect a module that went away is not a failure of the recording; anything else
  // that ended it is.
  const bool failed = last && last->error && !(o.reconnect && last->stopReason == "stalled");
  return failed ? kExitFailure : kExitOk;
}

}  // namespace

void AddRecordCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand(
      "record", "Open the module and record the scan list to a CSV file (and FILE.json)");
  auto o = std::make_shared<RecordOptions>();
  cmd->add_option("-c,--channels", o->channels,
                  "Scan list: channel numbers 0..31, ranges and names, e.g. 0,1,16-18 or "
                  "AD-Ch1,TTL-In3 (default: the driver's scan list)")
      ->type_name("CHANNELS");
  cmd->add_option("-r,--rate", o->rate,
                  "Frame rate in Hz, e.g. 50 or 1k (default: the stored rate, said at the start; "
                  "above the highest: the highest)")
      ->type_name("HZ")
      ->transform(QuantityText(Quantity::Rate));
  auto* duration = cmd->add_option("-d,--duration", o->seconds,
                                   "How long to record: 10s, 30min, 2h (default 10 seconds)")
                       ->type_name("TIME")
                       ->transform(QuantityText(Quantity::Time));
  auto* frames = cmd->add_option("-n,--frames", o->frames, "Frames to record, e.g. 500 or 10k")
                     ->type_name("N")
                     ->transform(QuantityText(Quantity::Count));
  duration->excludes(frames);
  cmd->add_flag("--until-stopped", o->untilStopped,
                "Record until a signal (Ctrl-C, SIGTERM) ends it, as a service does")
      ->excludes(duration)
      ->excludes(frames);
  cmd->add_option("-o,--output", o->output,
                  "File to write (default recording.csv; .h5 or .hdf5: HDF5); - for standard "
                  "output (CSV)")
      ->type_name("FILE");
  cmd->add_option("--format", o->format,
                  "csv or hdf5 (default: by the name; .h5 and .hdf5 are HDF5)")
      ->check(CLI::IsMember({"csv", "hdf5"}));
  cmd->add_flag("--compress", o->compress, "HDF5: compress the values (shuffle + gzip)");
  cmd->add_flag("--force", o->force, "Replace FILE and FILE.json when they exist");
  cmd->add_option("--rotate", o->rotate,
                  "Start a new segment FILE-000002... after this time (1h, 30min) or size (500MB)")
      ->type_name("TIME|SIZE");
  cmd->add_option("--keep", o->keep, "With --rotate: delete the oldest segments beyond N")
      ->type_name("N");
  cmd->add_option("--min-free", o->minFree,
                  "End the recording (\"low disk\") before the disk has less than SIZE free")
      ->type_name("SIZE");
  cmd->add_flag("--append", o->append,
                "With --rotate or --reconnect: continue an earlier recording of that name in "
                "new segments");
  cmd->add_flag("--reconnect", o->reconnect,
                "Wait for a module that went away and go on in a new segment");
  cmd->add_option("--sync-every", o->syncEvery,
                  "Make the rows durable on disk (fdatasync) every SECONDS; 0: at every poll "
                  "(default 1). Not the start trigger: that is --start-on")
      ->type_name("SECONDS")
      ->transform(QuantityText(Quantity::Time));
  cmd->add_flag("--raw", o->raw,
                "Write codes (unit \"code\") instead of values in the channels' units");
  cmd->add_option("--ring", o->ring, "Ring size in frames")
      ->type_name("N")
      ->transform(QuantityText(Quantity::Count));
  cmd->add_option("--start-on,--trigger,--sync", o->sync,
                  "Start on the module's hardware trigger input (EIRQ): its rising or falling "
                  "edge, or off (--sync is the old name; not --sync-every)")
      ->check(CLI::IsMember({"off", "rising", "falling"}));
  cmd->add_option("--do-start", o->doStart,
                  "Digital output value to put on the lines at start (decimal or 0x hex)")
      ->type_name("VALUE");
  cmd->add_option("--do-stop", o->doStop,
                  "Digital output value to put on the lines at stop (decimal or 0x hex)")
      ->type_name("VALUE");
  cmd->add_flag("-q,--quiet", o->quiet,
                "No progress line on a terminal, no status lines elsewhere (messages stay)");
  cmd->add_option("--status-every", o->statusEvery,
                  "Not on a terminal (a service, a pipe): a status line on stderr every SECONDS "
                  "of recording, under systemd also its status (default 60; 0: never)")
      ->type_name("SECONDS")
      ->transform(QuantityText(Quantity::Time))
      ->check(CLI::Range(0.0, 1e9));
  cmd->add_option("--to", o->to,
                  "Also ship the recording to this PostgreSQL database (a libpq connection "
                  "string or URI, e.g. postgresql://host/db; a password from ~/.pgpass or "
                  "PGPASSWORD); the local file stays the recording of record")
      ->type_name("CONNECTION");
  cmd->add_option("--ship-wait", o->shipWait,
                  "With --to: wait at most SECONDS at the end for the frames still to ship "
                  "(default 10)")
      ->type_name("SECONDS")
      ->transform(QuantityText(Quantity::Time))
      ->check(CLI::Range(0.0, 1e6));
  cmd->add_option("--config",
                  "Read options from FILE, one a line as on the command line (the value after "
                  "the first blank, spaces kept); lines starting with # are comments")
      ->type_name("FILE");
  cmd->callback([&ctx, &run, o] { run = [&ctx, o] { return Record(ctx, *o); }; });
}

}  // namespace quillbox::cli
