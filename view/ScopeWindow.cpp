#include "view/ScopeWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <tuple>

#include "platform/Clock.h"
#include "recording/StopSignals.h"
#include "view/Charts.h"

namespace quillbox::view {
namespace {

// Redraws 10 times a second: well below the screen's pace, and still a steady scroll.
constexpr int kFrameMs = 100;
// The latest values beside the legend change twice a second: faster is unreadable.
constexpr int kValuesMs = 500;

QString Text(const std::string& s) { return QString::fromStdString(s); }

QString ValueText(float value, const std::string& unit) {
  return QString::number(static_cast<double>(value), 'g', 5) + QLatin1Char(' ') + Text(unit);
}

}  // namespace

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
  // Each input's full range from the range its channel is set to; codes span the code range.
  const BoundedArray<std::string> ranges = adc_.Ranges();
  for (const recording::RecordColumn& c : d.columns) {
    const int16_t row = adc_.ChannelRange(c.channel);
    const bool known =
        c.unit != "code" && row >= 0 && static_cast<std::size_t>(row) < ranges.values().size();
    ranges_.push_back(InputRange(known ? ranges.values()[static_cast<std::size_t>(row)] : "",
                                 c.unit == "code" ? 1.0 : c.scale));
  }
  if (!options.trigger.empty()) {
    TriggerSetting setting;
    std::string error;
    if (!ParseTrigger(options.trigger, d.columns, setting, error)) {
      problem_ = recording::Problem{true, "", error};
      session_.reset();
      return;
    }
    trigger_ = setting;
  }
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

namespace {

// A button as wide as the widest of its texts, so that the toolbar stays put when it changes.
QToolButton* Button(const QString& name, const QStringList& texts) {
  auto* button = new QToolButton;
  button->setObjectName(name);
  int widest = 0;
  for (const QString& text : texts) {
    button->setText(text);
    widest = std::max(widest, button->sizeHint().width());
  }
  button->setText(texts.front());
  button->setFixedWidth(widest);
  return button;
}

}  // namespace

void ScopeWindow::BuildControls() {
  auto* bar = addToolBar(QStringLiteral("Scope"));
  bar->setMovable(false);
  pause_ = Button(QStringLiteral("pause"), {tr("&Pause"), tr("&Resume")});
  pause_->setCheckable(true);
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
    span_.reset();
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
  record_ = Button(QStringLiteral("record"), {tr("&Record"), tr("Stop &recording")});
  record_->setCheckable(true);
  connect(record_, &QToolButton::toggled, this, &ScopeWindow::ToggleRecording);
  bar->addWidget(record_);
  bar->addWidget(new QLabel(tr(" to ")));
  file_ = new QLineEdit(Text(options_.output));
  file_->setObjectName(QStringLiteral("file"));
  file_->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 20);
  bar->addWidget(file_);
  bar->addSeparator();
  auto* save = new QToolButton;
  save->setObjectName(QStringLiteral("save view"));
  save->setText(tr("Save &view"));
  connect(save, &QToolButton::clicked, this, [this] {
    const QString path =
        QStringLiteral("scope-%1.png")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    SaveView(path);
  });
  bar->addWidget(save);
  status_ = new QLabel;
  readout_ = new QLabel;
  statusBar()->addWidget(status_, 1);
  statusBar()->addPermanentWidget(readout_);
}

void ScopeWindow::BuildCharts() {
  auto* splitter = new QSplitter(Qt::Horizontal);
  charts_ = new QWidget;
  auto* layout = new QVBoxLayout(charts_);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  const auto& columns = feed_->Columns();
  std::vector<std::string> units;
  units.reserve(columns.size());
  for (const auto& c : columns) units.push_back(c.unit);
  where_.assign(columns.size(), {0, 0});
  for (const Group& group : GroupColumns(units, options_.lanes)) {
    auto* panel = new Panel(Text(group.unit), group.lanes);
    for (std::size_t c : group.columns) {
      where_[c] = {panels_.size(), panel->Traces().size()};
      panel->Traces().push_back({Text(columns[c].name), TraceColour(panel->Traces().size()), {}});
    }
    const std::size_t index = panels_.size();
    connect(panel, &Panel::Hovered, this,
            [this, index](double t, double value) { Hover(index, t, value); });
    connect(panel, &Panel::CursorPlaced, this, &ScopeWindow::PlaceCursor);
    connect(panel, &Panel::Zoomed, this, [this](double centre, double factor) {
      if (!paused_) return;
      const auto [t0, t1] = panels_.front()->TimeRange();
      ShowSpan(centre - (centre - t0) * factor, centre + (t1 - centre) * factor);
    });
    connect(panel, &Panel::Panned, this, [this](double seconds) {
      if (!paused_) return;
      const auto [t0, t1] = panels_.front()->TimeRange();
      ShowSpan(t0 + seconds, t1 + seconds);
    });
    // Lanes take the height their lines need; analog panels share the rest, more of it for
    // more traces.
    const auto traces = static_cast<int>(group.columns.size());
    layout->addWidget(panel, group.lanes ? 0 : std::min(4, 1 + traces / 6));
    panels_.push_back(panel);
  }
  for (Panel* panel : panels_) panel->SetTimeLabels(panel == panels_.back());
  splitter->addWidget(charts_);

  // The legend: colour, name and unit, latest value; the check box shows the trace. The value
  // column keeps its width and the names give way, so the values stay in sight.
  list_ = new QTreeWidget;
  list_->setObjectName(QStringLiteral("channels"));
  list_->setColumnCount(2);
  list_->setHeaderLabels({tr("Channel"), tr("Value")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setTextElideMode(Qt::ElideMiddle);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  for (std::size_t c = 0; c < columns.size(); ++c) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, Text(columns[c].name + " (" + columns[c].unit + ")"));
    item->setToolTip(0, item->text(0));
    item->setForeground(0, TraceColour(where_[c].second));
    item->setCheckState(0, Qt::Checked);
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
  }
  const QFontMetrics fm = list_->fontMetrics();
  list_->header()->setStretchLastSection(false);
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setSectionResizeMode(1, QHeaderView::Fixed);
  list_->header()->resizeSection(1, fm.horizontalAdvance(QStringLiteral("-00000.0 Ohm")) + 12);
  list_->setMinimumWidth(fm.horizontalAdvance(QStringLiteral("M1-Ch1_U10")) +
                         list_->header()->sectionSize(1) + 40);
  connect(list_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int column) {
    if (column != 0) return;
    const auto c = static_cast<std::size_t>(list_->indexOfTopLevelItem(item));
    if (c >= where_.size()) return;
    panels_[where_[c].first]->Traces()[where_[c].second].visible =
        item->checkState(0) == Qt::Checked;
    Redraw();
  });
  connect(list_, &QTreeWidget::currentItemChanged, this,
          [this] { readout_->setText(CursorText()); });
  splitter->addWidget(list_);
  splitter->setStretchFactor(0, 1);
  splitter->setStretchFactor(1, 0);
  // The list starts at its least width (names elided in the middle); the panels take the rest.
  const int listWidth = list_->minimumWidth() + fm.horizontalAdvance(QStringLiteral(" (mA)"));
  splitter->setSizes({4 * listWidth, listWidth});
  setCentralWidget(splitter);
}

const QList<QPointF>& ScopeWindow::Points(std::size_t c) const {
  return panels_[where_[c].first]->Traces()[where_[c].second].points;
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
  if (trigger_) CheckTrigger();
  if (taken > 0 && !paused_ && (!trigger_ || trigger_->automatic)) Redraw();
  UpdateStatus();
  return taken;
}

void ScopeWindow::Arm() {
  triggered_.reset();
  scanned_ = feed_->Frames();
  for (Panel* panel : panels_) panel->SetMarker(std::nullopt);
}

void ScopeWindow::CheckTrigger() {
  if (paused_) return;
  const int64_t held = feed_->Held(), first = feed_->Frames() - held;
  const double half = options_.windowSeconds / 2;
  if (!triggered_) {
    // An event needs the window's first half before it.
    const auto after = static_cast<int64_t>(std::ceil(half * feed_->Rate()));
    triggered_ = FindCrossing(
        *trigger_,
        [&](int64_t f) { return static_cast<double>(feed_->Value(trigger_->column, f - first)); },
        first, std::max(scanned_, after), feed_->Frames());
    scanned_ = feed_->Frames();
  }
  if (!triggered_) return;
  // The event in the middle of the window: frozen once the window's second half has come.
  const double at = static_cast<double>(*triggered_) / feed_->Rate();
  if (static_cast<double>(feed_->Frames() - 1) / feed_->Rate() < at + half) return;
  for (Panel* panel : panels_) panel->SetMarker(at);
  SetPaused(true);
  span_ = std::make_pair(at - half, at + half);
  Redraw();
}

void ScopeWindow::ShowSpan(double t0, double t1) {
  if (!(t1 > t0)) return;
  span_ = std::make_pair(t0, t1);
  Redraw();
}

void ScopeWindow::PlaceCursor(int which, double t) {
  cursors_[which == 0 ? 0 : 1] = t;
  for (Panel* panel : panels_) panel->SetCursors(cursors_[0], cursors_[1]);
  readout_->setText(CursorText());
}

std::optional<double> ScopeWindow::ValueAt(std::size_t c, double t) const {
  const ScopeFeed& feed = Shown();
  const int64_t held = feed.Held(), first = feed.Frames() - held;
  const auto frame = static_cast<int64_t>(std::llround(t * feed.Rate()));
  if (frame < first || frame >= feed.Frames()) return std::nullopt;
  return feed.Value(c, frame - first);
}

QString ScopeWindow::CursorText() const {
  if (!cursors_[0] || !cursors_[1]) return hover_;
  const double a = *cursors_[0], b = *cursors_[1], dt = b - a;
  QString text = QStringLiteral("A %1 s  B %2 s  \u0394t %3 s")
                     .arg(a, 0, 'f', 4)
                     .arg(b, 0, 'f', 4)
                     .arg(dt, 0, 'f', 4);
  if (dt != 0) text += QStringLiteral("  1/\u0394t %1 Hz").arg(1 / std::abs(dt), 0, 'g', 5);
  const int row = list_ != nullptr ? list_->currentIndex().row() : -1;
  const std::size_t c = row >= 0 ? static_cast<std::size_t>(row) : 0;
  const auto va = ValueAt(c, a), vb = ValueAt(c, b);
  if (va && vb)
    text += QStringLiteral("  \u0394%1 %2 %3")
                .arg(Text(feed_->Columns()[c].name))
                .arg(*vb - *va, 0, 'g', 5)
                .arg(Text(feed_->Columns()[c].unit));
  return hover_.isEmpty() ? text : hover_ + QStringLiteral("   ") + text;
}

void ScopeWindow::Hover(std::size_t panel, double t, double value) {
  const Panel* p = panels_[panel];
  hover_ = QStringLiteral("t %1 s").arg(t, 0, 'f', 4);
  if (!p->Lanes()) hover_ += QStringLiteral("  %1 %2").arg(value, 0, 'g', 5).arg(p->Unit());
  readout_->setText(CursorText());
}

bool ScopeWindow::SaveView(const QString& path) {
  const bool ok = charts_->grab().save(path, "PNG");
  Say(ok ? "saved view " + path.toStdString() : "cannot write " + path.toStdString());
  return ok;
}

void ScopeWindow::Redraw() {
  const ScopeFeed& feed = Shown();
  const float rate = feed.Rate();
  const double newest = feed.Held() > 0 ? static_cast<double>(feed.Frames() - 1) / rate : 0.0;
  double start = std::max(0.0, newest - options_.windowSeconds);
  double end = start + options_.windowSeconds;
  if (paused_ && span_) std::tie(start, end) = *span_;
  for (Panel* panel : panels_) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    double fullLo = lo, fullHi = hi;
    for (std::size_t c = 0; c < where_.size(); ++c) {
      if (panels_[where_[c].first] != panel) continue;
      Trace& trace = panel->Traces()[where_[c].second];
      fullLo = std::min(fullLo, ranges_[c].first), fullHi = std::max(fullHi, ranges_[c].second);
      if (!trace.visible) continue;
      feed.Points(c, start, end, trace.points);
      for (const QPointF& p : trace.points) lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
    }
    panel->SetTimeRange(start, end);
    // Lanes always span the lines' range; analog panels the union of their inputs' ranges.
    if (panel->Lanes() || !autoscale_)
      panel->SetValueRange(fullLo, fullHi);
    else
      panel->SetValueRange(PaddedRange(lo, hi).first, PaddedRange(lo, hi).second);
  }
  Panel::AlignEdges(panels_);
  for (Panel* panel : panels_) panel->update();
  if (feed_->Held() > 0 && (!valuesShown_.isValid() || valuesShown_.elapsed() >= kValuesMs)) {
    valuesShown_.start();
    list_->blockSignals(true);
    for (std::size_t c = 0; c < where_.size(); ++c)
      list_->topLevelItem(static_cast<int>(c))
          ->setText(1, ValueText(feed_->Latest(c), feed_->Columns()[c].unit));
    list_->blockSignals(false);
  }
}

void ScopeWindow::UpdateStatus() {
  QString text = QStringLiteral("%1 Hz, %2 s")
                     .arg(static_cast<double>(feed_->Rate()), 0, 'g', 6)
                     .arg(static_cast<double>(feed_->Frames()) / feed_->Rate(), 0, 'f', 1);
  if (trigger_ && !triggered_) text += tr("  waiting for the trigger");
  if (triggered_)
    text +=
        tr("  triggered at %1 s").arg(static_cast<double>(*triggered_) / feed_->Rate(), 0, 'f', 4);
  else if (paused_)
    text += tr("  (paused)");
  if (csv_ && session_)
    text += tr("  recording to %1: %2 frames").arg(Text(csv_->Path())).arg(session_->Frames());
  else if (!recordError_.empty())
    text += QStringLiteral("  ") + Text(recordError_);
  status_->setText(text);
  readout_->setText(CursorText());
}

void ScopeWindow::SetPaused(bool paused) {
  // A paused view is drawn from a copy of the history, which the frames arriving meanwhile do
  // not push out.
  if (paused && !paused_) frozen_.emplace(*feed_);
  if (!paused) frozen_.reset();
  paused_ = paused;
  if (pause_->isChecked() != paused) pause_->setChecked(paused);
  pause_->setText(paused ? tr("&Resume") : tr("&Pause"));
  if (!paused) {
    // Resumed: the live window again, and the trigger armed for the next event.
    span_.reset();
    if (trigger_) Arm();
    Redraw();
  }
  UpdateStatus();
}

bool ScopeWindow::StartRecording() {
  if (csv_) return true;
  recordError_.clear();
  const std::string path = file_->text().trimmed().toStdString();
  // The file's kind by its name, as `quillbox record` takes it (.h5 and .hdf5: HDF5).
  std::string error;
  const auto format = recording::FormatOf(path, "", error);
  auto csv = format && path != "-" ? recording::MakeFileSink(path, {*format}, error) : nullptr;
  if (path.empty() || path == "-") {
    recordError_ = "name the file to record to";
  } else if (!csv || !csv->Open(options_.force, error)) {
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
  std::string why;
  QApplication* app = ViewApplication(screenshot, why);
  if (app == nullptr) {
    say(why);
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
  if (options.cursors.size() == 2) {
    window.PlaceCursor(0, options.cursors[0]);
    window.PlaceCursor(1, options.cursors[1]);
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
    // Cursors are looked at on a paused view; a triggered view is paused already.
    window.SetPaused(options.cursors.size() == 2 || window.Triggered().has_value());
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
