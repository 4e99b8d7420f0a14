// Plots: min/max decimation keeps every extreme of a long trace in a bounded number of points,
// and damaged recordings give a plot of what is valid with a note, or a clear refusal.

#include <gtest/gtest.h>

#include <QPointF>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>

#include "ChildProcess.h"
#include "view/Decimate.h"
#include "view/Plot.h"

namespace quillbox::view {
namespace {

TEST(Plot, DecimationKeepsTheExtremesOfEachColumnInOrder) {
  // A million samples of a slow sine with one spike up and one down, over 500 columns.
  constexpr int64_t n = 1'000'000;
  const auto x = [](int64_t i) { return static_cast<double>(i) * 1e-3; };
  const auto y = [](int64_t i) {
    if (i == 123'457) return 50.0;
    if (i == 765'433) return -40.0;
    if (i == 500'000) return std::nan("");
    return std::sin(static_cast<double>(i) * 1e-4);
  };
  QList<QPointF> out;
  MinMaxColumns(n, x, y, 0.0, x(n - 1), 500, out);
  ASSERT_LE(out.size(), 1000 + 2);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](QPointF p) { return std::isfinite(p.y()); }));
  EXPECT_TRUE(
      std::is_sorted(out.begin(), out.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));
  const auto [low, high] = std::minmax_element(out.begin(), out.end(),
                                               [](QPointF a, QPointF b) { return a.y() < b.y(); });
  EXPECT_EQ(low->y(), -40.0);
  EXPECT_EQ(high->y(), 50.0);
  EXPECT_EQ(high->x(), x(123'457));

  // Fewer samples than two per column are drawn as they are.
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

}  // namespace
}  // namespace quillbox::view
