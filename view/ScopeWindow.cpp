#include "view/ScopeWindow.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGraphicsItem>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Clock.h"
#include "recording/StopSignals.h"
#include "view/Charts.h"
#include "view/Decimate.h"

namespace quillbox::view {
namespace {

// Redraws 10 times a second: well below the screen's pace, and still a steady scroll.
constexpr int kFrameMs = 100;
// The latest values beside the legend change twice a second: faster is unreadable.
constexpr int kValuesMs = 500;

// Traces are decimated to the lowest and highest sample of every three pixel columns: the band a
// noisy trace covers is kept, at a third of the points of a sample per pixel.
constexpr int kPixelsPerColumn = 3;

QString Text(const std::string& s) { return QString::fromStdString(s); }

QString ValueText(float value, const std::string& unit) {
  return QString::number(static_cast<double>(value), 'g', 5) + QLatin1Char(' ') + Text(unit);
}

}  // namespace

// A panel's traces, drawn as polylines over its plot area from its series' points. Qt Charts' own
// line items rebuild a stroked hit shape of every trace whenever its points or an axis change,
// which costs several times the drawing; a strip chart changes both on every redraw.
class ScopeWindow::Traces : public QGraphicsItem {
 public:
  Traces(QChart* chart, QValueAxis* x, QValueAxis* y, std::vector<QLineSeries*> series)
      : QGraphicsItem(chart), chart_(chart), x_(x), y_(y), series_(std::move(series)) {
    setZValue(10);  // above the grid
    QObject::connect(chart, &QChart::plotAreaChanged, chart, [this] { prepareGeometryChange(); });
  }

  QRectF boundingRect() const override { return chart_->plotArea(); }

  void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
    const QRectF area = chart_->plotArea();
    const double x0 = x_->min(), y0 = y_->min();
    if (!(x_->max() > x0) || !(y_->max() > y0)) return;
    const double sx = area.width() / (x_->max() - x0), sy = area.height() / (y_->max() - y0);
    painter->setClipRect(area);
    painter->setRenderHint(QPainter::Antialiasing, false);
    for (QLineSeries* series : series_) {
      if (!series->isVisible()) continue;
      const QList<QPointF> points = series->points();
      polyline_.resize(points.size());
      for (qsizetype i = 0; i < points.size(); ++i)
        polyline_[i] = QPointF(area.left() + (points[i].x() - x0) * sx,
                               area.bottom() - (points[i].y() - y0) * sy);
      painter->setPen(series->pen());
      painter->drawPolyline(polyline_.constData(), static_cast<int>(polyline_.size()));
    }
  }

 private:
  QChart* chart_;
  QValueAxis* x_;
  QValueAxis* y_;
  std::vector<QLineSeries*> series_;
  QList<QPointF> polyline_;  // reused from paint to paint
};

ScopeWindow::ScopeWindow(IADC3& adc, ITools& tools, const ScopeOptions& options)
    : adc_(adc), tools_(tools), options_(options) {
  request_.channels = options.channels;
  request_.rate = options.rate;
  session_ = std::make_unique<recording::Session>(adc_, nullptr, tools_,
                                                  [this](const std::string& m) { Say(m); });
  problem_ = session_->Prepare(request_);
  if (problem_) return;
  const recording::Sidecar& d = session_->Description();
  feed_.emplace(d.columns, d.rate, options.windowSeconds);
  setWindowTitle(d.serial.empty() ? QStringLiteral("quillbox scope")
                                  : QStringLiteral("quillbox scope - E-270 ") + Text(d.serial));
  BuildControls();
  BuildCharts();
  resize(1200, 760);
  timer_.setInterval(kFrameMs);
  connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

ScopeWindow::~ScopeWindow() { End("closed"); }

bool ScopeWindow::Start() { return !problem_ && Begin(nullptr); }

void ScopeWindow::Say(const std::string& message) {
  if (options_.say && said_.insert(message).second) options_.say(message);
}

bool ScopeWindow::Begin(std::unique_ptr<recording::FileSink> csv) {
  if (!session_) {
    session_ = std::make_unique<recording::Session>(adc_, nullptr, tools_,
                                                    [this](const std::string& m) { Say(m); });
    problem_ = session_->Prepare(request_);
  }
  if (!problem_) {
    session_->AddSink(*feed_);
    if (csv) session_->AddSink(*csv);
    problem_ = session_->Start();
  }
  if (problem_) {
    session_.reset();
    if (csv) csv->Abandon();
    return false;
  }
  csv_ = std::move(csv);
  if (!timer_.isActive()) timer_.start();
  return true;
}

bool ScopeWindow::Finish(const std::string& reason) {
  if (!session_) return true;
  session_->RequestStop(reason);
  session_->Finish();
  const recording::Sidecar& d = session_->Description();
  const bool ok = !d.error.has_value();
  if (!ok) recordError_ = *d.error;
  if (csv_) Say("saved " + csv_->Path() + ": " + std::to_string(d.frames) + " frames");
  session_.reset();
  csv_.reset();
  return ok;
}

void ScopeWindow::End(const std::string& reason) {
  ended_ = true;
  timer_.stop();
  Finish(reason);
}

void ScopeWindow::BuildControls() {
  auto* bar = addToolBar(QStringLiteral("Scope"));
  bar->setMovable(false);
  pause_ = new QToolButton;
  pause_->setText(tr("&Pause"));
  pause_->setCheckable(true);
  pause_->setObjectName(QStringLiteral("pause"));
  connect(pause_, &QToolButton::toggled, this, &ScopeWindow::SetPaused);
  bar->addWidget(pause_);
  bar->addSeparator();
  bar->addWidget(new QLabel(tr("Window ")));
  window_ = new QDoubleSpinBox;
  window_->setObjectName(QStringLiteral("window"));
  window_->setRange(0.1, 3600);
  window_->setDecimals(1);
  window_->setSuffix(QStringLiteral(" s"));
  window_->setValue(options_.windowSeconds);
  connect(window_, &QDoubleSpinBox::valueChanged, this, [this](double seconds) {
    options_.windowSeconds = seconds;
    feed_->SetWindow(seconds);
    Redraw();
  });
  bar->addWidget(window_);
  scale_ = new QComboBox;
  scale_->setObjectName(QStringLiteral("scale"));
  scale_->addItems({tr("Autoscale"), tr("Full range")});
  connect(scale_, &QComboBox::currentIndexChanged, this, [this](int index) {
    autoscale_ = index == 0;
    Redraw();
  });
  bar->addWidget(scale_);
  bar->addSeparator();
  record_ = new QToolButton;
  record_->setText(tr("&Record"));
  record_->setCheckable(true);
  record_->setObjectName(QStringLiteral("record"));
  connect(record_, &QToolButton::toggled, this, &ScopeWindow::ToggleRecording);
  bar->addWidget(record_);
  bar->addWidget(new QLabel(tr(" to ")));
  file_ = new QLineEdit(Text(options_.output));
  file_->setObjectName(QStringLiteral("file"));
  file_->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 28);
  bar->addWidget(file_);
  status_ = new QLabel;
  statusBar()->addWidget(status_, 1);
}

void ScopeWindow::BuildCharts() {
  auto* splitter = new QSplitter(Qt::Horizontal);
  auto* charts = new QWidget;
  auto* layout = new QVBoxLayout(charts);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  const auto& columns = feed_->Columns();
  std::vector<std::string> units;
  units.reserve(columns.size());
  for (const auto& c : columns) units.push_back(c.unit);
  series_.assign(columns.size(), nullptr);
  for (const auto& [unit, members] : GroupByUnit(units)) {
    Panel panel;
    panel.chart = MakePanel(Text(unit), panel.x, panel.y);
    panel.columns = members;
    std::vector<QLineSeries*> traces;
    traces.reserve(members.size());
    for (std::size_t c : members) {
      // The series holds the drawn points; the panel's trace item draws them.
      auto* series = new QLineSeries(this);
      series->setName(Text(columns[c].name));
      series->setPen(QPen(TraceColour(c), 1.0));
      series_[c] = series;
      traces.push_back(series);
    }
    panel.traces = new Traces(panel.chart, panel.x, panel.y, std::move(traces));
    auto* view = new QChartView(panel.chart);
    view->setRenderHint(QPainter::Antialiasing, false);
    layout->addWidget(view, 1);
    views_.push_back(view);
    panels_.push_back(panel);
  }
  splitter->addWidget(charts);

  // The legend: colour, name and unit, latest value; the check box shows the trace.
  list_ = new QTreeWidget;
  list_->setObjectName(QStringLiteral("channels"));
  list_->setColumnCount(2);
  list_->setHeaderLabels({tr("Channel"), tr("Value")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, Text(columns[c].name + " (" + columns[c].unit + ")"));
    item->setForeground(0, TraceColour(c));
    item->setCheckState(0, Qt::Checked);
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  }
  list_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  list_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (column != 0) return;
    const auto c = static_cast<std::size_t>(list_->indexOfTopLevelItem(item));
    if (c < series_.size()) series_[c]->setVisible(item->checkState(0) == Qt::Checked);
    Redraw();
  });
  splitter->addWidget(list_);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 0);
  setCentralWidget(splitter);
}

int64_t ScopeWindow::Tick() {
  if (!session_ || !session_->Running()) return 0;
  const int64_t taken = session_->Poll();
  if (!session_->Running()) {
    // A lost module or a failed write ends the session; the window says so and shows what it has.
    const bool recording = csv_ != nullptr;
    Finish("");
    if (recording) {
      const QSignalBlocker block(record_);
      record_->setChecked(false);
      record_->setText(tr("&Record"));
      file_->setEnabled(true);
    }
  }
  if (taken > 0 && !paused_) Redraw();
  UpdateStatus();
  return taken;
}

void ScopeWindow::Redraw() {
  const float rate = feed_->Rate();
  const int64_t held = feed_->Held();
  const int64_t first = feed_->Frames() - held;
  const double newest = held > 0 ? static_cast<double>(feed_->Frames() - 1) / rate : 0.0;
  const double start = std::max(0.0, newest - options_.windowSeconds);
  const double end = start + options_.windowSeconds;
  points_.resize(series_.size());
  for (Panel& panel : panels_) {
    const int columns =
        std::max(100, static_cast<int>(panel.chart->plotArea().width()) / kPixelsPerColumn);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t c : panel.columns) {
      if (!series_[c]->isVisible()) continue;
      MinMaxColumns(
          held, [&](int64_t i) { return static_cast<double>(first + i) / rate; },
          [&](int64_t i) { return static_cast<double>(feed_->Value(c, i)); }, start, end, columns,
          points_[c]);
      for (const QPointF& p : points_[c]) lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
      if (!autoscale_) {
        const auto [full0, full1] = feed_->FullRange(c);
        lo = std::min(lo, full0), hi = std::max(hi, full1);
      }
      series_[c]->replace(points_[c]);
    }
    panel.x->setRange(start, end);
    const auto range = autoscale_ ? PaddedRange(lo, hi) : std::make_pair(lo, hi);
    if (std::isfinite(range.first) && std::isfinite(range.second) && range.first < range.second)
      panel.y->setRange(range.first, range.second);
    panel.traces->update();
  }
  if (held > 0 && (!valuesShown_.isValid() || valuesShown_.elapsed() >= kValuesMs)) {
    valuesShown_.start();
    list_->blockSignals(true);
    for (std::size_t c = 0; c < series_.size(); ++c)
      list_->topLevelItem(static_cast<int>(c))
          ->setText(1, ValueText(feed_->Latest(c), feed_->Columns()[c].unit));
    list_->blockSignals(false);
  }
}

void ScopeWindow::UpdateStatus() {
  QString text = QStringLiteral("%1 Hz, %2 s")
                     .arg(static_cast<double>(feed_->Rate()), 0, 'g', 6)
                     .arg(static_cast<double>(feed_->Frames()) / feed_->Rate(), 0, 'f', 1);
  if (paused_) text += tr("  (paused)");
  if (csv_ && session_)
    text += tr("  recording to %1: %2 frames").arg(Text(csv_->Path())).arg(session_->Frames());
  else if (!recordError_.empty())
    text += QStringLiteral("  ") + Text(recordError_);
  status_->setText(text);
}

void ScopeWindow::SetPaused(bool paused) {
  paused_ = paused;
  if (pause_->isChecked() != paused) pause_->setChecked(paused);
  pause_->setText(paused ? tr("&Resume") : tr("&Pause"));
  if (!paused) Redraw();
  UpdateStatus();
}

bool ScopeWindow::StartRecording() {
  if (csv_) return true;
  recordError_.clear();
  const std::string path = file_->text().trimmed().toStdString();
  // The file's kind by its name, as `quillbox record` takes it (.h5 and .hdf5: HDF5).
  std::string error;
  const auto format = recording::FormatOf(path, "", error);
  auto csv = format && path != "-" ? recording::MakeFileSink(path, {*format}) : nullptr;
  if (path.empty() || path == "-") {
    recordError_ = "name the file to record to";
  } else if (!csv->Open(options_.force, error)) {
    recordError_ = error;
  } else {
    // A recording is a session of its own, from its start to its end, as `quillbox record`'s.
    Finish("end");
    if (!Begin(std::move(csv))) {
      recordError_ = problem_ ? problem_->Text() : "the recording did not start";
      problem_.reset();
      if (!ended_) Begin(nullptr);
    }
  }
  const QSignalBlocker block(record_);
  record_->setChecked(csv_ != nullptr);
  record_->setText(csv_ ? tr("Stop &recording") : tr("&Record"));
  file_->setEnabled(csv_ == nullptr);
  UpdateStatus();
  return csv_ != nullptr;
}

bool ScopeWindow::StopRecording(const std::string& reason) {
  if (!csv_) return recordError_.empty();
  const bool ok = Finish(reason);
  if (!ended_) Begin(nullptr);
  if (record_ != nullptr) {
    const QSignalBlocker block(record_);
    record_->setChecked(false);
    record_->setText(tr("&Record"));
    file_->setEnabled(true);
    UpdateStatus();
  }
  return ok;
}

void ScopeWindow::ToggleRecording(bool on) {
  if (on)
    StartRecording();
  else
    StopRecording();
}

void ScopeWindow::closeEvent(QCloseEvent* event) {
  End("closed");
  event->accept();
}

int RunScope(IADC3& adc, ITools& tools, const ScopeOptions& options) {
  const auto say = [&](const std::string& m) {
    if (options.say) options.say(m);
  };
  const bool screenshot = !options.screenshot.empty();
  QApplication* app = ViewApplication(screenshot);
  if (app == nullptr) {
    say("the scope needs a Qt widget application");
    return 1;
  }
  const recording::StopSignals stopSignals;
  ScopeWindow window(adc, tools, options);
  // The window said nothing of a refusal yet: said as the command says problems.
  const auto refused = [&](const recording::Problem& p) {
    say(p.field.empty() ? p.message : "--" + p.field + ": " + p.message);
    return p.usage ? 2 : 1;
  };
  if (window.Problem()) return refused(*window.Problem());
  // Recording from the start: the first session is the recording's.
  if (options.recordAtStart) {
    if (!window.StartRecording()) {
      say(window.RecordError());
      return 1;
    }
  } else if (!window.Start()) {
    return refused(*window.Problem());
  }
  int code = 0;
  // Stop signals end the recording with the signal's name and close the window; a screenshot
  // is taken once the module's clock has run `after` seconds.
  const auto start = platform::Now();
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &window, [&] {
    if (const int signal = recording::StopSignals::Received(); signal != 0) {
      window.End(recording::StopSignals::Name(signal));
      window.close();
    }
    if (!screenshot) return;
    const double elapsed = std::chrono::duration<double>(platform::Now() - start).count();
    if (elapsed < options.after) return;
    watch.stop();
    window.Tick();
    window.SetPaused(false);
    if (!window.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
      say("cannot write " + options.screenshot);
      code = 1;
    }
    window.End("end");
    window.close();
  });
  watch.start(20);
  window.show();
  QApplication::exec();
  window.End("closed");
  if (!window.RecordError().empty()) code = 1;
  return code;
}

}  // namespace quillbox::view
