// Plots: min/max decimation keeps every extreme of a long trace in a bounded number of points,
// and damaged recordings give a plot of what is valid with a note, or a clear refusal.

#include <gtest/gtest.h>

#include <QPointF>
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "recording/FileSink.h"
#include "view/Charts.h"
#include "view/Decimate.h"
#include "view/Panel.h"
#include "view/Plot.h"
#include "view/TraceGather.h"

namespace quillbox::view {
namespace {

// Directly, and after gathering the samples while they are read (runs of rows merged well below
// the million), the extremes of every column stay, in order, in a bounded number of points;
// gathered by pixel columns, they are exactly the direct ones.
TEST(Plot, DecimationKeepsTheExtremesOfEachColumnInOrder) {
  // A million samples of a slow sine with one spike up and one down, over 500 columns.
  constexpr int64_t n = 1'000'000;
  const auto x = [](int64_t i) { return static_cast<double>(i) * 1e-3; };
  const auto y = [](int64_t i) {
    if (i == 123'457) return 50.0;
    if (i == 765'433) return -40.0;
    if (i == 500'000) return std::nan("");
    return static_cast<double>(static_cast<float>(std::sin(static_cast<double>(i) * 1e-4)));
  };
  TraceGather runs(2000), columns(0.0, x(n - 1), 500);
  for (int64_t i = 0; i < n; ++i)
    for (TraceGather* g : {&runs, &columns}) g->Row(x(i), i, std::array{static_cast<float>(y(i))});
  const QList<QPointF> gathered = runs.Points()[0];
  EXPECT_LE(gathered.size(), 4 * 2000 + 2);
  QList<QPointF> direct;
  MinMaxColumns(n, x, y, 0.0, x(n - 1), 500, direct);
  EXPECT_EQ(columns.Points()[0], direct);
  for (const bool viaRuns : {false, true}) {
    QList<QPointF> out = direct;
    if (viaRuns)
      MinMaxColumns(
          gathered.size(), [&](int64_t i) { return gathered[i].x(); },
          [&](int64_t i) { return gathered[i].y(); }, 0.0, x(n - 1), 500, out);
    ASSERT_LE(out.size(), 1000 + 2);
    EXPECT_TRUE(
        std::all_of(out.begin(), out.end(), [](QPointF p) { return std::isfinite(p.y()); }));
    EXPECT_TRUE(
        std::is_sorted(out.begin(), out.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    const auto [low, high] = std::minmax_element(
        out.begin(), out.end(), [](QPointF a, QPointF b) { return a.y() < b.y(); });
    EXPECT_EQ(low->y(), -40.0);
    EXPECT_EQ(high->y(), 50.0);
    EXPECT_EQ(high->x(), x(123'457));
  }

  // Fewer samples than two per column are drawn as they are.
  QList<QPointF> out;
  MinMaxColumns(5, x, y, 0.0, 1.0, 500, out);
  EXPECT_EQ(out.size(), 5);
}

struct BadFile {
  const char* name;
  std::string csv;
  std::optional<std::string> json;  // FILE.json, none when missing
  std::string channels;
  int exit;
  const char* message;  // a part of the message (notes included), "" for none
};

constexpr const char* kJson =
    R"({"start_utc": "2026-12-05T10:00:00.000Z", "rate": 10, "channels": [0, 16],
        "names": ["M1-Ch1", "AD-Ch1"], "units": ["mA", "V"], "serial": "27000124",
        "complete": true, "stop_reason": "end"})";
const std::string kHeader = "frame,time_s,M1-Ch1 (mA),AD-Ch1 (V)\n";
const std::string kRows = "0,0.000000,1.5,0.25\n1,0.100000,1.6,0.5\n2,0.200000,1.7,0.75\n";

TEST(Plot, DamagedRecordingsArePlottedAsFarAsValidOrRefusedClearly) {
  std::string incomplete = kJson;
  incomplete.replace(incomplete.find("true"), 4, "false");
  incomplete.replace(incomplete.find("\"end\""), 5, "\"recording\"");
  const BadFile cases[] = {
      {"whole", kHeader + kRows, kJson, "", 0, ""},
      {"no sidecar", kHeader + kRows, std::nullopt, "", 0, "is missing"},
      {"ragged row", kHeader + kRows + "3,0.3\n", kJson, "", 0, "left out 1 rows"},
      {"not a number", kHeader + "0,0.0,x,1\n1,0.1,2,1\n", kJson, "", 0, "not numbers"},
      {"incomplete", kHeader + kRows, incomplete, "", 0, "incomplete recording (recording)"},
      {"by name and number", kHeader + kRows, kJson, "ad-ch1,0", 0, ""},
      // Numbers are channels as FILE.json lists them; without it, column positions.
      {"by channel", kHeader + kRows, kJson, "16", 0, ""},
      {"a position is no channel", kHeader + kRows, kJson, "1", 2, "has no channel \"1\""},
      {"by position", kHeader + kRows, std::nullopt, "1", 0, "is missing"},
      {"a range of channels", kHeader + kRows, kJson, "0-16", 0, ""},
      {"a range without one", kHeader + kRows, kJson, "1-15", 2, "has no channel \"1-15\""},
      {"NULs after the description", kHeader + kRows, std::string(kJson) + std::string(8, '\0'), "",
       0, "cannot be read"},
      {"not a recording", "hello\n", std::nullopt, "", 1, "is not a recording"},
      {"header only", kHeader, kJson, "", 1, "holds no row"},
      {"unknown channel", kHeader + kRows, kJson, "5", 2, "has no channel \"5\""},
  };
  for (const BadFile& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string csv = test::ScratchPrefix() + "plot.csv", png = csv + ".png";
    std::ofstream(csv, std::ios::trunc) << c.csv;
    std::filesystem::remove(csv + ".json");
    std::filesystem::remove(png);
    if (c.json) std::ofstream(csv + ".json") << *c.json;
    PlotOptions options{.csv = csv, .png = png, .channels = c.channels, .width = 400};
    std::vector<std::string> messages;
    EXPECT_EQ(RunPlot(options, messages), c.exit);
    std::string said;
    for (const std::string& m : messages) said += m + "\n";
    EXPECT_NE(said.find(c.message), std::string::npos) << said;
    EXPECT_EQ(said.empty(), *c.message == '\0') << said;
    EXPECT_EQ(std::filesystem::exists(png), c.exit == 0);
  }
}

// A page of three units, digital lines among them: every channel in a legend, the panels' plot
// areas on the same left and right edges, the size asked for or a refusal below the least.
TEST(Plot, PageListsEveryChannelLinesPanelsUpAndKeepsItsSize) {
  std::string why;
  ASSERT_NE(ViewApplication(true, why), nullptr) << why;
  PlotData data;
  RecordingData& info = data.recording;
  info.names = {"AD-Ch1", "TTL-In1", "M1-Ch1", "AD-Ch2", "TTL-In2"};
  info.units = {"V", "TTL", "mA", "V", "TTL"};
  TraceGather gather(100);
  std::vector<float> values(info.names.size());
  for (int i = 0; i < 1000; ++i) {
    for (std::size_t c = 0; c < values.size(); ++c)
      values[c] = info.units[c] == "TTL" ? float(i / 50 % 2) : float(c * 1000 * i);
    gather.Row(i * 0.01, i, values);
  }
  data = {info, gather.Points(), gather.First(), gather.Last(), gather.Rows()};
  for (const PlotOptions& options :
       {PlotOptions{.width = 900, .height = 700}, PlotOptions{.width = 400, .lanes = true}}) {
    PlotPage page;
    ASSERT_TRUE(LayOutPlot(data, "x.csv", options, page, why)) << why;
    std::vector<std::string> names = data.recording.names;
    std::sort(names.begin(), names.end());
    std::sort(page.legend.begin(), page.legend.end());
    EXPECT_EQ(page.legend, names);
    EXPECT_EQ(page.panels.size(), options.lanes ? 4u : 3u);
    for (Panel* p : page.panels) {
      const QRect area(p->mapTo(page.page.get(), p->PlotArea().topLeft()), p->PlotArea().size());
      const QRect first(
          page.panels[0]->mapTo(page.page.get(), page.panels[0]->PlotArea().topLeft()),
          page.panels[0]->PlotArea().size());
      EXPECT_EQ(area.left(), first.left());
      EXPECT_EQ(area.right(), first.right());
      // Labels round, even for a trace in the millions.
      for (const Tick& t : p->ValueAxisTicks())
        EXPECT_FALSE(t.label.contains('e')) << t.label.toStdString();
    }
    EXPECT_EQ(page.page->width(), options.width);
    EXPECT_TRUE(options.height == 0 || page.page->height() == options.height);
  }
  PlotPage page;
  EXPECT_FALSE(LayOutPlot(data, "x.csv", PlotOptions{.width = 900, .height = 200}, page, why));
  EXPECT_NE(why.find("--height: 200 px is below the "), std::string::npos) << why;
}

// The picture's kind by its name, a time range and a least width, through the plug-in's entry.
TEST(Plot, WritesPngSvgAndPdfByNameWithinATimeRangeAndRefusesTheRest) {
  const std::string csv = test::ScratchPrefix() + "kinds.csv";
  std::ofstream(csv, std::ios::trunc) << kHeader + kRows;
  std::ofstream(csv + ".json", std::ios::trunc) << kJson;
  const struct {
    const char* out;
    int width;
    std::optional<double> from, to;
    int exit;
    const char* magic;  // the file's first bytes, or the message
  } rows[] = {{"p.png", 400, {}, {}, 0, "\x89PNG"},
              {"p.svg", 400, 0.1, {}, 0, "<?xml"},
              {"p.pdf", 400, {}, 0.1, 0, "%PDF"},
              {"p.jpg", 400, {}, {}, 2, "names no picture the plot writes (.png, .svg or .pdf)"},
              {"q.png", 399, {}, {}, 2, "--width: 399 px is below the least, 400 px"},
              {"r.png", 400, 5, 6, 2, "no frame between those times"}};
  for (const auto& r : rows) {
    const std::string out = test::ScratchPrefix() + r.out;
    std::vector<std::string> messages;
    const PlotOptions options{.csv = csv, .png = out, .width = r.width, .from = r.from, .to = r.to};
    EXPECT_EQ(RunPlot(options, messages), r.exit) << r.out;
    if (r.exit != 0) {
      ASSERT_FALSE(messages.empty());
      EXPECT_NE(messages.back().find(r.magic), std::string::npos) << messages.back();
      EXPECT_FALSE(std::filesystem::exists(out)) << out;
    } else {
      std::string head(5, '\0');
      std::ifstream(out, std::ios::binary).read(head.data(), 5);
      EXPECT_EQ(head.substr(0, std::string(r.magic).size()), r.magic) << r.out;
    }
  }
}

// The same frames as CSV and as HDF5 (codes, exact in both) give the same picture: the HDF5 file
// is read through the plug-in in blocks, and a block read twice, skipped or out of place would
// move an extreme. Both files have the same name (the title shows it), HDF5 found by its
// signature.
TEST(Plot, AnHdf5RecordingPlotsExactlyAsTheCsvOfTheSameFrames) {
  constexpr int64_t kFrames = 50'000;  // a few of the reader's blocks
  recording::Sidecar d;
  d.startUtc = "2026-12-05T10:00:00.000Z";
  d.rate = 100;
  d.rateRequested = 100;
  d.raw = true;
  d.columns = {{.channel = 0, .name = "M1-Ch1", .unit = "code"},
               {.channel = 16, .name = "AD-Ch1", .unit = "code"}};
  std::vector<int16_t> codes;
  for (int64_t f = 0; f < kFrames; ++f) {
    codes.push_back(static_cast<int16_t>(f % 30'011));
    codes.push_back(static_cast<int16_t>(f * 7919 % 2001 - 1000));
  }
  std::vector<std::string> pictures;
  for (const recording::Format format : {recording::Format::Csv, recording::Format::Hdf5}) {
    const std::string folder =
        test::ScratchPrefix() + (format == recording::Format::Csv ? "c" : "h");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    std::string error;
    const auto sink = recording::MakeFileSink(folder + "/run", {format}, error);
    ASSERT_NE(sink, nullptr) << error;
    recording::Sidecar end = d;
    end.frames = end.framesExpected = kFrames;
    end.complete = true;
    end.stopReason = "end";
    ASSERT_TRUE(sink->Open(false, error) && sink->Begin(d, error) && sink->Write(codes, 0, error) &&
                sink->End(end, error))
        << error;
    std::vector<std::string> messages;
    const PlotOptions options{.csv = folder + "/run", .png = folder + "/run.png", .width = 600};
    ASSERT_EQ(RunPlot(options, messages), 0) << (messages.empty() ? "" : messages.back());
    std::ifstream in(options.png, std::ios::binary);
    pictures.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_GT(pictures[0].size(), 1000u);
  EXPECT_TRUE(pictures[0] == pictures[1]);
}

}  // namespace
}  // namespace quillbox::view
