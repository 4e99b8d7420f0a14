// quillbox record: opens the module and records the scan list through the recording engine to a
// CSV file with FILE.json beside it (values in the channels' units, or codes), or with `-o -` to
// standard output. The engine keeps the files safe at every instant and decides how the
// recording ends; the command only turns options into a request and results into an exit status.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/ArgParsing.h"
#include "cli/Commands.h"
#include "cli/TextTable.h"
#include "recording/FileSink.h"
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
  bool raw = false;
  bool force = false;
  double syncEvery = 1.0;
  std::optional<int32_t> ring;
  std::string sync;
  std::string doStart, doStop;
};

// The options as a request; kExitOk, or kExitUsage with the reason said.
int MakeRequest(const RecordOptions& o, recording::Request& r) {
  std::string error;
  if (!o.channels.empty() && !ParseChannelList(o.channels, r.channels, error)) {
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
  if (!r.seconds && !r.frames) r.seconds = 10.0;
  r.raw = o.raw;
  r.ring = o.ring;
  r.syncEvery = o.syncEvery;
  if (!o.sync.empty()) r.syncMode = o.sync == "rising" ? 1 : o.sync == "falling" ? 2 : 0;
  if (auto problem = recording::CheckRequest(r)) return PrintProblem(*problem);
  return kExitOk;
}

void ShowProgress(const recording::Session& s, IADC3& adc) {
  char line[160];
  std::snprintf(line, sizeof line, "\r\033[K%7.1f s  %lld frames  %s Hz  ring %d/%d",
                s.ElapsedSeconds(), static_cast<long long>(s.Frames()),
                FloatText(s.Description().rate).c_str(), adc.InputCountKadrs(),
                adc.InputSizeKadrs());
  std::cerr << line << std::flush;
}

int Record(Context& ctx, const RecordOptions& o) {
  recording::Request request;
  if (int code = MakeRequest(o, request); code != kExitOk) return code;
  // The files first: a name that is taken or cannot be written is refused before the module is
  // touched.
  std::string error;
  const auto format = recording::FormatOf(o.output, o.format, error);
  if (!format) {
    PrintError("--format: " + error);
    return kExitUsage;
  }
  const std::unique_ptr<recording::FileSink> file = recording::MakeFileSink(o.output, {*format});
  if (file == nullptr) {
    PrintError("--format: this build writes no HDF5");
    return kExitUsage;
  }
  recording::FileSink& output = *file;
  if (!output.Open(o.force, error)) {
    PrintError(error);
    return kExitFailure;
  }
  IADC3& adc = *ctx.Adc();
  recording::Session session(adc, ctx.Dio().get(), ctx.Tools(), PrintError);
  if (int code = ctx.OpenModule(); code != kExitOk) {
    output.Abandon();
    return code;
  }
  if (auto problem = session.Prepare(request)) {
    output.Abandon();
    return PrintProblem(*problem);
  }
  session.AddSink(output);
  const recording::StopSignals signals;
  if (auto problem = session.Start()) {
    output.Abandon();
    return PrintProblem(*problem);
  }
  const auto wallStart = Clock::now();
  const bool progress = isatty(STDERR_FILENO) != 0;
  auto lastProgress = wallStart;
  session.Run([&]() -> std::string {
    if (const int signal = recording::StopSignals::Received(); signal != 0)
      return recording::StopSignals::Name(signal);
    if (progress && Clock::now() - lastProgress > std::chrono::milliseconds(500)) {
      lastProgress = Clock::now();
      ShowProgress(session, adc);
    }
    return "";
  });
  if (progress) std::cerr << "\r\033[K" << std::flush;

  const recording::Sidecar& d = session.Description();
  const double wall = Seconds(Clock::now() - wallStart).count();
  // With the rows on standard output (or another stream), the summary goes to stderr.
  std::ostream& out = output.Described() ? std::cout : std::cerr;
  out << "Recorded " << d.frames << " frames of " << d.columns.size() << " channel"
      << (d.columns.size() == 1 ? "" : "s") << " at " << FloatText(d.rate) << " Hz ("
      << FloatText(std::round(static_cast<double>(d.frames) / d.rate * 10) / 10) << " s of data, "
      << FloatText(std::round(wall * 10) / 10) << " s wall) to "
      << (o.output == "-" ? "standard output" : o.output) << '\n'
      << std::flush;
  return d.error ? kExitFailure : kExitOk;
}

}  // namespace

void AddRecordCommand(CLI::App& app, Context& ctx, Action& run) {
  auto* cmd = app.add_subcommand(
      "record", "Open the module and record the scan list to a CSV file (and FILE.json)");
  auto o = std::make_shared<RecordOptions>();
  cmd->add_option("-c,--channels", o->channels,
                  "Scan list: channel numbers 0..31 and ranges, e.g. 0,1,16-18 "
                  "(default: the driver's scan list)");
  cmd->add_option("-r,--rate", o->rate,
                  "Frame rate in Hz (default: the stored rate; above the highest: the highest)");
  auto* duration = cmd->add_option("-d,--duration", o->seconds, "Seconds to record (default 10)");
  auto* frames = cmd->add_option("-n,--frames", o->frames, "Frames to record");
  duration->excludes(frames);
  cmd->add_option("-o,--output", o->output,
                  "CSV file to write (default recording.csv); - for standard output");
  cmd->add_option("--format", o->format,
                  "csv or hdf5 (default: by the name; .h5 and .hdf5 are HDF5)")
      ->check(CLI::IsMember({"csv", "hdf5"}));
  cmd->add_flag("--force", o->force, "Replace FILE and FILE.json when they exist");
  cmd->add_option("--sync-every", o->syncEvery,
                  "Make the rows durable (fdatasync) every SECONDS; 0: at every poll (default 1)");
  cmd->add_flag("--raw", o->raw,
                "Write codes (unit \"code\") instead of values in the channels' units");
  cmd->add_option("--ring", o->ring, "Ring size in frames");
  cmd->add_option("--sync", o->sync, "EIRQ synchronisation: off, rising or falling")
      ->check(CLI::IsMember({"off", "rising", "falling"}));
  cmd->add_option("--do-start", o->doStart, "Digital output value to put on the lines at start");
  cmd->add_option("--do-stop", o->doStop, "Digital output value to put on the lines at stop");
  cmd->callback([&ctx, &run, o] { run = [&ctx, o] { return Record(ctx, *o); }; });
}

}  // namespace quillbox::cli
