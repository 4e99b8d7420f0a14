#pragma once
// The live scope: the scan list as scrolling traces, one panel per unit (volts, milliamps and
// codes never share an axis; with `lanes` each analog channel has its own), the digital lines as
// stacked lanes of steps, and beside them a list of the channels (name, unit, latest value)
// whose check boxes show and hide the traces. Controls: pause, window length, autoscale or the
// channels' full input range, Record to a file + FILE.json, Save view. On a paused view the mouse
// wheel zooms, a drag pans, the left and right buttons place two cursors (the status bar gives
// their times, Δt, 1/Δt and the difference of the selected channel), and the value under the
// mouse is shown. A software trigger freezes the window around its event.
//
// The frames come from the recording engine: the scope runs one session after another on the
// module, one without files while it only shows, and one with the file sink for each recording,
// so a recording started here behaves as one of `quillbox record` (stall rule, stop reasons,
// frame accounting, files).
//
// One timer (10 Hz, below the screen's pace) polls the driver and, when frames came and the view
// is not paused, redraws from the feed's min/max buckets, so the cost of a redraw does not grow
// with the rate or the window.

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
#include "view/Panel.h"
#include "view/ScopeFeed.h"
#include "view/Trigger.h"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QToolButton;
class QTreeWidget;

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
  // The drawn points of column `c`, and its panel.
  const QList<QPointF>& Points(std::size_t c) const;
  Panel* PanelOf(std::size_t c) const { return panels_[where_[c].first]; }
  const std::vector<Panel*>& Panels() const { return panels_; }
  const std::string& RecordError() const { return recordError_; }
  // The frame of the trigger's event once it came.
  std::optional<int64_t> Triggered() const { return triggered_; }
  // The paused view's time span (zoom and pan), and the cursors.
  void ShowSpan(double t0, double t1);
  void PlaceCursor(int which, double t);
  QString CursorText() const;
  // Saves the panels as they are drawn into a PNG; false when it cannot be written.
  bool SaveView(const QString& path);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void BuildCharts();
  void Redraw();
  void Arm();
  void CheckTrigger();
  void Hover(std::size_t panel, double t, double value);
  // The value of column `c` at time `t` from the held frames, if they reach it.
  std::optional<double> ValueAt(std::size_t c, double t) const;
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
  std::optional<ScopeFeed> frozen_;  // the history as it was when the view was paused
  const ScopeFeed& Shown() const { return frozen_ ? *frozen_ : *feed_; }
  std::string recordError_;
  bool ended_ = false;
  bool paused_ = false;
  bool autoscale_ = true;

  std::vector<std::pair<double, double>> ranges_;  // per column, its input's full range
  std::optional<TriggerSetting> trigger_;
  int64_t scanned_ = 0;  // frames the trigger has looked at
  std::optional<int64_t> triggered_;
  std::optional<std::pair<double, double>> span_;  // the paused view's, when zoomed or panned
  std::optional<double> cursors_[2];

  QTimer timer_;
  QElapsedTimer valuesShown_;
  std::vector<Panel*> panels_;
  std::vector<std::pair<std::size_t, std::size_t>> where_;  // per column: panel, trace
  QWidget* charts_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QToolButton* pause_ = nullptr;
  QToolButton* record_ = nullptr;
  QDoubleSpinBox* window_ = nullptr;
  QComboBox* scale_ = nullptr;
  QLineEdit* file_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* readout_ = nullptr;
  QString hover_;
};

// The exported entry: runs the scope (or renders it, with a screenshot) on an open module.
int RunScope(IADC3& adc, ITools& tools, const ScopeOptions& options);

}  // namespace quillbox::view
