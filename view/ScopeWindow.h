#pragma once
// The live scope: the scan list as scrolling traces, one chart per unit (volts, milliamps and
// codes never share an axis), one colour per channel, and beside the charts a list of the
// channels (name, unit, latest value) whose check boxes show and hide the traces. Controls:
// pause, window length, autoscale or the channels' full range, Record to CSV + FILE.json.
//
// The frames come from the recording engine: the scope runs one session after another on the
// module, one without files while it only shows, and one with the CSV sink for each recording,
// so a recording started here behaves as one of `quillbox record` (stall rule, stop reasons,
// frame accounting, files).
//
// One timer (10 Hz, below the screen's pace) polls the driver and, when frames came and the view
// is not paused, replaces each visible series' points in one call; each panel draws its series as
// polylines. Traces are decimated to min/max per three pixel columns, so the cost per redraw does
// not grow with the rate.

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "quillbox/ViewPlugin.h"
#include "recording/FileSink.h"
#include "recording/Session.h"
#include "view/ScopeFeed.h"

class QChart;
class QChartView;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QLineSeries;
class QToolButton;
class QTreeWidget;
class QValueAxis;

namespace quillbox::view {

class ScopeWindow : public QMainWindow {
  Q_OBJECT

 public:
  // Prepares the scan list and rate of `options` on the opened module; Problem() says when the
  // module refused them. Start() then starts showing.
  ScopeWindow(IADC3& adc, ITools& tools, const ScopeOptions& options);
  ~ScopeWindow() override;

  const std::optional<recording::Problem>& Problem() const { return problem_; }
  // Starts the module (without files); false with Problem() set. StartRecording() may be the
  // first start instead.
  bool Start();
  // Polls the driver once and, unless paused, redraws what came. Returns the frames taken.
  int64_t Tick();
  bool StartRecording();
  // Ends a recording (if any) for `reason`; false with RecordError() when it failed.
  bool StopRecording(const std::string& reason = "end");
  // Ends whatever runs for `reason` ("closed", a signal's name) and does not start again.
  void End(const std::string& reason);
  void SetPaused(bool paused);

  const ScopeFeed& Feed() const { return *feed_; }
  // The running session (tests look at its description).
  const recording::Session* Session() const { return session_.get(); }
  // The series of column `c` (tests look at its points).
  QLineSeries* Series(std::size_t c) const { return series_[c]; }
  const std::string& RecordError() const { return recordError_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  class Traces;
  struct Panel {
    QChart* chart = nullptr;
    Traces* traces = nullptr;
    QValueAxis* x = nullptr;
    QValueAxis* y = nullptr;
    std::vector<std::size_t> columns;
  };

  void BuildControls();
  void BuildCharts();
  void Redraw();
  void UpdateStatus();
  void ToggleRecording(bool on);
  // Starts a session with the feed and, when given, the CSV sink.
  bool Begin(std::unique_ptr<recording::FileSink> csv);
  // Ends the running session for `reason`; false when it failed (RecordError()).
  bool Finish(const std::string& reason);
  void Say(const std::string& message);

  IADC3& adc_;
  ITools& tools_;
  ScopeOptions options_;
  recording::Request request_;
  std::set<std::string> said_;
  std::optional<recording::Problem> problem_;
  std::unique_ptr<recording::Session> session_;  // prepared or running
  std::unique_ptr<recording::FileSink> csv_;     // while recording to a file (CSV or HDF5)
  std::optional<ScopeFeed> feed_;
  std::string recordError_;
  bool ended_ = false;
  bool paused_ = false;
  bool autoscale_ = true;

  QTimer timer_;
  QElapsedTimer valuesShown_;
  std::vector<Panel> panels_;
  std::vector<QLineSeries*> series_;
  std::vector<QChartView*> views_;
  QTreeWidget* list_ = nullptr;
  QToolButton* pause_ = nullptr;
  QToolButton* record_ = nullptr;
  QDoubleSpinBox* window_ = nullptr;
  QComboBox* scale_ = nullptr;
  QLineEdit* file_ = nullptr;
  QLabel* status_ = nullptr;
  std::vector<QList<QPointF>> points_;  // per series, reused from redraw to redraw
};

// The exported entry: runs the scope (or renders it, with a screenshot) on an open module.
int RunScope(IADC3& adc, ITools& tools, const ScopeOptions& options);

}  // namespace quillbox::view
