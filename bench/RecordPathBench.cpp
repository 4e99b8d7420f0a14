// Throughput of the recording path on one core: 32-channel frames converted from raw device
// frames into the ring and copied out to the host (the acquisition thread's store through the
// recording's conversion plan, and the host's GetData), against a plain memcpy of the bytes the
// host receives. Prints frames per second of both, their ratio, and the path's rate as a multiple
// of the device's 25 kHz frame clock (target: at least 40); then the time of a CSV value's text
// with the writer's formatter against std::to_chars.

#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "device/FrameRing.h"
#include "device/SampleConversion.h"
#include "recording/CsvRows.h"

namespace {

using namespace quillbox;

constexpr int kChannels = 32;
constexpr int kBlock = kMaxFramesPerBlock;  // 20 frames, the largest block
constexpr int32_t kRingFrames = 16384;

// A module with a mix of mezzanines (zero offsets and not, one empty slot) and the default
// channel sources: 16 mezzanine channels, 8 direct inputs, 8 TTL lines.
ConversionPlan Plan() {
  ChannelSources sources{};
  for (uint8_t i = 0; i < 16; ++i) sources[i] = {SourceMezzanine, i};
  for (uint8_t i = 0; i < 8; ++i) sources[16 + i] = {SourceADC, i};
  for (uint8_t i = 0; i < 8; ++i) sources[24 + i] = {SourceTTL, i};
  ModuleSlots modules{};
  const uint8_t types[8] = {10, 10, 11, 22, 40, 31, 255, 21};
  const int32_t offsets[8] = {16384, 16384, 0, 0, 8192, 0, 0, 16384};
  for (int m = 0; m < 8; ++m) {
    modules[static_cast<std::size_t>(m)].ModuleType = types[m];
    modules[static_cast<std::size_t>(m)].Offset = offsets[m];
  }
  SourceInfo ttl;
  ttl.Scale = 1000.0f;
  std::vector<SampleSource> resolved;
  resolved.reserve(kChannels);
  for (int c = 0; c < kChannels; ++c) resolved.push_back(ResolveSample(c, sources, modules, ttl));
  return ConversionPlan(resolved);
}

std::vector<DeviceFrame> Block() {
  std::vector<DeviceFrame> block(kBlock);
  uint32_t x = 12345;
  for (DeviceFrame& f : block)
    for (uint8_t& b : f.Bytes) {
      x = x * 1103515245u + 12345u;
      b = static_cast<uint8_t>(x >> 16);
    }
  return block;
}

void BM_RecordPath(benchmark::State& state) {
  FrameRing ring;
  std::vector<int16_t> list(kChannels);
  for (int c = 0; c < kChannels; ++c) list[static_cast<std::size_t>(c)] = static_cast<int16_t>(c);
  ring.Reset(BoundedArray<int16_t>::FromVector(list), kChannels, kRingFrames);
  const ConversionPlan plan = Plan();
  const std::vector<DeviceFrame> block = Block();
  std::vector<int16_t> host(std::size_t{kChannels} * kBlock);
  int32_t phase = 0;
  for (auto _ : state) {
    ring.Store(plan, block.data(), kBlock, 1, phase);
    int32_t size = static_cast<int32_t>(host.size()), unread = 0;
    ring.Read(host.data(), size, unread);
    benchmark::DoNotOptimize(host.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_RecordPath);

void BM_MemcpyOfTheFrames(benchmark::State& state) {
  std::vector<int16_t> from(std::size_t{kChannels} * kBlock, 7),
      to(std::size_t{kChannels} * kBlock);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), to.size() * sizeof(int16_t));
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(BM_MemcpyOfTheFrames);

// The CSV text of values: the writer's formatter against std::to_chars with seven significant
// digits (the text both give is the same), over a sweep of codes at the scales of a U10, an I20
// and a direct input.
std::vector<double> Values() {
  std::vector<double> values;
  for (int code = -32768; code < 32768; code += 7)
    for (const double scale : {1638.4, 1638.4 / 1.2, 62.499996}) values.push_back(code / scale);
  return values;
}

void BM_CsvValueFormatter(benchmark::State& state) {
  const std::vector<double> values = Values();
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const double v : values) recording::AppendCsvValue(out, v);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_CsvValueFormatter);

void BM_CsvValueToChars(benchmark::State& state) {
  const std::vector<double> values = Values();
  std::string out;
  for (auto _ : state) {
    out.clear();
    for (const double v : values) {
      char text[40];
      out.append(text,
                 std::to_chars(text, text + sizeof text, v, std::chars_format::general, 7).ptr);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(values.size()));
}
BENCHMARK(BM_CsvValueToChars);

// Whole CSV rows as the writer makes them: 32 columns of values (frame number and time
// included), 4096 frames of codes sweeping each column's range.
void BM_CsvRows(benchmark::State& state) {
  constexpr int kColumns = 32, kFrames = 4096;
  std::vector<recording::RecordColumn> columns;
  columns.reserve(kColumns);
  for (int c = 0; c < kColumns; ++c)
    columns.push_back({static_cast<int16_t>(c), "c", "V", c % 3 == 2 ? 62.499996f : 1638.4f, true});
  const recording::CsvRows rows(columns, 100.0f, false);
  std::vector<int16_t> codes(std::size_t{kColumns} * kFrames);
  for (std::size_t i = 0; i < codes.size(); ++i)
    codes[i] = static_cast<int16_t>(static_cast<int>(i * 37) % 65536 - 32768);
  std::string out;
  int64_t first = 0;
  for (auto _ : state) {
    out.clear();
    rows.Append(out, codes, first);
    first += kFrames;
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kColumns * kFrames);
}
BENCHMARK(BM_CsvRows);

// Console output as usual, plus the frames-per-second figures for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) framesPerSecond[run.benchmark_name()] = it->second.value;
    }
  }
  std::map<std::string, double> framesPerSecond;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double formatter = reporter.framesPerSecond["BM_CsvValueFormatter"];
  const double toChars = reporter.framesPerSecond["BM_CsvValueToChars"];
  if (formatter > 0.0 && toChars > 0.0)
    std::printf(
        "CSV values: %.1f ns each with the writer's formatter, %.1f ns with to_chars "
        "(formatter / to_chars time = %.2f)\n",
        1e9 / formatter, 1e9 / toChars, toChars / formatter);
  if (const double rows = reporter.framesPerSecond["BM_CsvRows"]; rows > 0.0)
    std::printf("CSV rows of 32 columns: %.1f ns a value, frame number and time included\n",
                1e9 / rows);
  const double path = reporter.framesPerSecond["BM_RecordPath"];
  const double copy = reporter.framesPerSecond["BM_MemcpyOfTheFrames"];
  if (path <= 0.0 || copy <= 0.0) return 0;
  std::printf(
      "\nrecord path: %.3g frames/s of %d channels; memcpy of the same bytes: %.3g frames/s\n",
      path, kChannels, copy);
  std::printf("path / memcpy = %.4f (memcpy is %.1f times faster)\n", path / copy, copy / path);
  std::printf("path / 25 kHz device frame clock = %.0f (target >= 40)\n", path / 25000.0);
  return path / 25000.0 >= 40.0 ? 0 : 1;
}
