#pragma once
// The live scope: the scan list as scrolling traces, one chart per unit (volts, milliamps and
// codes never share an axis), one colour per channel, and beside the charts a list of the
// channels (name, unit, latest value) whose check boxes show and hide the traces. Controls:
// pause, window length, autoscale or the channels' full range, Record to CSV + FILE.json.
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
#include <string>
#include <vector>

#include "view/ScopeFeed.h"
#include "view/ScopeRecorder.h"
#include "view/ViewPlugin.h"

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
  // `adc` is recording already; `serial` goes into the Record button's description.
  ScopeWindow(IADC3& adc, std::vector<cli::RecordColumn> columns, float rate, std::string serial,
              const ScopeOptions& options);
  ~ScopeWindow() override;

  // Polls the driver once and, unless paused, redraws what came. Returns the frames taken.
  int64_t Tick();
  bool StartRecording();
  // Ends a recording (if any); false with RecordError() when its files could not be finished.
  bool StopRecording(const std::string& reason = "end");
  void SetPaused(bool paused);

  const ScopeFeed& Feed() const { return feed_; }
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

  ScopeFeed feed_;
  std::string serial_;
  ScopeOptions options_;
  std::unique_ptr<ScopeRecorder> recorder_;
  std::string recordError_;
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
int RunScope(IADC3& adc, ITools& tools, const ScopeOptions& options,
             std::vector<std::string>& messages);

}  // namespace quillbox::view
