// The scope's data path on the simulated bench, through the component as the quillbox command
// reaches it: frames reach the traces in order and complete, a pause freezes the traces but not
// the recording, and the Record button writes what `quillbox record` writes.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QTest>
#include <QWheelEvent>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>

#include "ChildProcess.h"
#include "quillbox/CreateObject.h"
#include "tests/cli/CliTestSupport.h"
#include "view/Charts.h"
#include "view/ScopeWindow.h"

namespace quillbox::view {
namespace {

using Json = nlohmann::json;
using test::ReadFile;

// Mezzanine channel 0 reads the frame number as its code; direct input 0 its low byte.
constexpr const char* kBench = R"({"modules": [{"attach": "usb0",
  "slots": [{"type": 11}, null, null, null, null, null, null, null],
  "signals": {"m0": {"kind": "counter"}, "ad0": {"kind": "counter"}}}]})";

TEST(Scope, FramesReachTheTracesInOrderPauseFreezesThemAndRecordWritesWhatRecordWrites) {
  const std::string dir = test::ScratchPrefix();
  const std::string bench = dir + "bench.json";
  std::ofstream(bench) << kBench;
  setenv("QUILLBOX_BENCH", bench.c_str(), 1);
  setenv("QUILLBOX_TIME_SCALE", "20", 1);
  std::string why;
  ASSERT_NE(ViewApplication(true, why), nullptr) << why;

  const std::string scopeCsv = dir + "scope.csv";
  int64_t recorded = 0;
  {
    Object driver = CreateObject("Quillbox.E_270");
    auto adc = As<IADC3>(driver);
    ASSERT_TRUE(adc->Test());
    ScopeOptions options;
    options.channels = {0, 16};
    options.rate = 100.0;
    options.output = scopeCsv;
    options.windowSeconds = 10;
    const auto tools =
        reinterpret_cast<ITools* (*)()>(ComponentSymbol("Quillbox.E_270", "QuillboxTools"));
    ASSERT_NE(tools, nullptr);
    ScopeWindow scope(*adc, *tools(), options);
    ASSERT_FALSE(scope.Problem());
    ASSERT_TRUE(scope.StartRecording()) << scope.RecordError();
    const auto waitFor = [&](int64_t frames) {
      for (int i = 0; i < 1000 && scope.Feed().Frames() < frames; ++i) {
        scope.Tick();
        QTest::qWait(5);
      }
      ASSERT_GE(scope.Feed().Frames(), frames);
    };
    waitFor(150);

    // Every frame, in order, in the history: the counter goes up by one step per frame.
    const ScopeFeed& feed = scope.Feed();
    const float step = feed.Value(0, 1) - feed.Value(0, 0);
    EXPECT_GT(step, 0);
    for (int64_t i = 1; i < feed.Held(); ++i)
      ASSERT_NEAR(feed.Value(0, i) - feed.Value(0, i - 1), step, step * 1e-3) << i;
    // The trace (decimated to the plot's width) runs forward in time up to the newest frame.
    const QList<QPointF> points = scope.Points(0);
    ASSERT_FALSE(points.empty());
    for (qsizetype i = 1; i < points.size(); ++i) ASSERT_GE(points[i].x(), points[i - 1].x()) << i;
    EXPECT_EQ(points.last().x(), static_cast<double>(feed.Frames() - 1) / 100.0);

    // Paused: the traces stay, the feed and the recording go on for longer than the window, and
    // the paused view, zoomed, still shows the history it had; resumed: they catch up.
    scope.SetPaused(true);
    const int64_t before = scope.Feed().Frames();
    waitFor(before + 1100);
    EXPECT_EQ(scope.Points(0).size(), points.size());
    scope.ShowSpan(points.first().x(), points.last().x());
    EXPECT_EQ(scope.Points(0), points);
    // The wheel over a panel zooms the paused view around the time under the mouse.
    Panel* panel = scope.PanelOf(0);
    const QPointF centre = panel->PlotArea().center();
    const double at = panel->TimeAt(centre.x());
    const auto [t0, t1] = panel->TimeRange();
    QWheelEvent wheel(centre, panel->mapToGlobal(centre), {}, {0, 120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(panel, &wheel);
    EXPECT_DOUBLE_EQ(panel->TimeRange().first, at - (at - t0) * 0.8);
    EXPECT_DOUBLE_EQ(panel->TimeRange().second, at + (t1 - at) * 0.8);
    scope.SetPaused(false);
    EXPECT_EQ(scope.Points(0).last().x(), static_cast<double>(scope.Feed().Frames() - 1) / 100.0);

    // Full range: the panel of 0…20 V and 0…4.096 V inputs spans the union of the two.
    scope.findChild<QComboBox*>(QStringLiteral("scale"))->setCurrentIndex(1);
    EXPECT_EQ(scope.Panels().size(), 1u);
    EXPECT_EQ(scope.PanelOf(1)->ValueRange(), std::make_pair(0.0, 20.0));

    ASSERT_TRUE(scope.StopRecording());
    scope.End("closed");
  }

  // The recording holds every frame of the time it ran, and the command's recording of as many
  // frames the same header and rows.
  Json scopeJson = test::Description(scopeCsv);
  recorded = scopeJson["frames"];
  EXPECT_EQ(scopeJson["frames_expected"], recorded);
  EXPECT_EQ(scopeJson["stop_reason"], "end");
  const std::string recordCsv = dir + "record.csv";
  const auto run = test::RunProcess({QUILLBOX_CLI, "record", "-c", "0,16", "-r", "100", "-n",
                                     std::to_string(recorded), "-o", recordCsv});
  ASSERT_EQ(run.exitCode, 0) << run.Output();
  EXPECT_EQ(ReadFile(scopeCsv), ReadFile(recordCsv));
  Json recordJson = test::Description(recordCsv);
  for (Json* j : {&scopeJson, &recordJson})
    for (const char* varying : {"uid", "start_utc", "frames", "frames_expected"}) j->erase(varying);
  EXPECT_EQ(scopeJson, recordJson);
}

// A display that is named but does not answer: said, exit 1, where Qt would end the process.
TEST(Scope, AnUnreachableDisplayIsSaidWithExitOne) {
  const auto run = test::RunProcess(
      {QUILLBOX_CLI, "scope", "-c", "0", "-o", test::ScratchPrefix() + "unused.csv"},
      {{"DISPLAY", ":97"}, {"WAYLAND_DISPLAY", std::nullopt}, {"QT_QPA_PLATFORM", std::nullopt}});
  EXPECT_EQ(run.exitCode, 1) << run.Output();
  EXPECT_NE(run.err.find("the display DISPLAY=:97 cannot be reached"), std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace quillbox::view
