#include "view/Panel.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace quillbox::view {
namespace {

constexpr int kRight = 12;         // pixels right of the plot area
constexpr int kTop = 6;            // above it
constexpr int kTickGap = 6;        // between a label and the plot area
constexpr double kLaneFill = 0.7;  // the share of its lane a digital trace's swing takes
constexpr int kLanePixels = 20;    // the least height of a lane

}  // namespace

Panel::Panel(QString unit, bool lanes, QWidget* parent)
    : QWidget(parent), unit_(std::move(unit)), lanes_(lanes) {
  setMouseTracking(true);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void Panel::SetTimeRange(double t0, double t1) {
  t0_ = t0;
  t1_ = t1 > t0 ? t1 : t0 + 1;
}

void Panel::SetValueRange(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || !(hi > lo)) return;
  y0_ = lo;
  y1_ = hi;
}

void Panel::SetTimeLabels(bool shown) {
  timeLabels_ = shown;
  updateGeometry();
}

void Panel::SetCursors(std::optional<double> a, std::optional<double> b) {
  cursorA_ = a;
  cursorB_ = b;
  update();
}

void Panel::SetMarker(std::optional<double> t) {
  marker_ = t;
  update();
}

int Panel::PlotHeight() const {
  const int bottom = timeLabels_ ? 2 * fontMetrics().height() + 2 * kTickGap : kTop;
  return std::max(1, height() - kTop - bottom);
}

QRect Panel::PlotArea() const {
  const int left = left_ >= 0 ? left_ : LabelWidth();
  return {left, kTop, std::max(1, width() - left - kRight), PlotHeight()};
}

std::vector<Tick> Panel::ValueAxisTicks() const {
  if (lanes_) {
    std::vector<Tick> ticks;
    for (std::size_t i = 0; i < traces_.size(); ++i)
      ticks.push_back({static_cast<double>(i), traces_[i].name});  // the lane's number
    return ticks;
  }
  const int rows = PlotHeight() / (fontMetrics().height() * 5 / 2);
  return ValueTicks(y0_, y1_, std::max(2, rows));
}

std::vector<Tick> Panel::TimeAxisTicks() const {
  const int label = fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) + 24;
  return TimeTicks(t0_, t1_, std::max(2, PlotArea().width() / label));
}

int Panel::LabelWidth() const {
  const QFontMetrics fm = fontMetrics();
  int widest = 0;
  for (const Tick& t : ValueAxisTicks()) widest = std::max(widest, fm.horizontalAdvance(t.label));
  // The unit stands turned along the axis, left of the labels.
  return 4 + fm.height() + kTickGap + widest + kTickGap;
}

void Panel::SetLeftEdge(int pixels) {
  if (left_ == pixels) return;
  left_ = pixels;
  update();
}

void Panel::AlignEdges(const std::vector<Panel*>& panels) {
  int widest = 0;
  for (const Panel* p : panels) widest = std::max(widest, p->LabelWidth());
  for (Panel* p : panels) p->SetLeftEdge(widest);
}

QSize Panel::minimumSizeHint() const {
  const QFontMetrics fm = fontMetrics();
  const int lanes = lanes_ ? static_cast<int>(traces_.size()) * kLanePixels : 3 * fm.height();
  return {200, kTop + lanes + (timeLabels_ ? 2 * fm.height() + 2 * kTickGap : kTop)};
}

double Panel::XOf(double t) const {
  const QRect a = PlotArea();
  return a.left() + (t - t0_) * a.width() / (t1_ - t0_);
}

double Panel::YOf(double v, std::size_t trace) const {
  const QRect a = PlotArea();
  if (!lanes_) return a.top() + a.height() - (v - y0_) * a.height() / (y1_ - y0_);
  // Lane i of n from the top; the range's low end near the lane's bottom.
  const double lane = a.height() / static_cast<double>(std::max<std::size_t>(1, traces_.size()));
  const double bottom = a.top() + lane * (static_cast<double>(trace) + 0.5 + kLaneFill / 2);
  return bottom - (v - y0_) / (y1_ - y0_) * lane * kLaneFill;
}

double Panel::TimeAt(double x) const {
  const QRect a = PlotArea();
  return t0_ + (x - a.left()) * (t1_ - t0_) / std::max(1, a.width());
}

double Panel::ValueAt(double y) const {
  const QRect a = PlotArea();
  return y0_ + (a.top() + a.height() - y) * (y1_ - y0_) / std::max(1, a.height());
}

void Panel::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  p.fillRect(rect(), Qt::white);
  const QRect area = PlotArea();
  const QFontMetrics fm = fontMetrics();
  const QColor grid(226, 226, 226), ink(60, 60, 60);

  // Time grid, and its labels under the bottom panel.
  const std::vector<Tick> times = TimeAxisTicks();
  for (const Tick& t : times) {
    const double x = XOf(t.value);
    p.setPen(grid);
    p.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
    if (!timeLabels_) continue;
    p.setPen(ink);
    p.drawLine(QPointF(x, area.bottom()), QPointF(x, area.bottom() + 4));
    const int w = fm.horizontalAdvance(t.label);
    p.drawText(QPointF(std::clamp(x - w / 2.0, 0.0, double(width() - w)),
                       area.bottom() + kTickGap + fm.ascent()),
               t.label);
  }
  if (timeLabels_) {
    const QString title = TimeTitle(t1_ - t0_);
    p.drawText(QPointF(area.center().x() - fm.horizontalAdvance(title) / 2.0,
                       area.bottom() + kTickGap + fm.height() + fm.ascent()),
               title);
  }

  // Value grid and labels, right-aligned against the plot area.
  for (const Tick& t : ValueAxisTicks()) {
    const double y =
        lanes_ ? YOf((y0_ + y1_) / 2, static_cast<std::size_t>(t.value)) : YOf(t.value, 0);
    p.setPen(grid);
    if (!lanes_) p.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    p.setPen(ink);
    p.drawText(
        QPointF(area.left() - kTickGap - fm.horizontalAdvance(t.label), y + fm.ascent() / 2.0 - 1),
        t.label);
  }
  p.save();
  p.translate(4 + fm.ascent(), area.center().y() + fm.horizontalAdvance(unit_) / 2.0);
  p.rotate(-90);
  p.drawText(0, 0, unit_);
  p.restore();

  // Traces, clipped to the plot area.
  p.setClipRect(area);
  QList<QPointF> line;
  for (std::size_t i = 0; i < traces_.size(); ++i) {
    const Trace& trace = traces_[i];
    if (!trace.visible || trace.points.isEmpty()) continue;
    line.clear();
    line.reserve(trace.points.size() * (lanes_ ? 2 : 1));
    for (qsizetype k = 0; k < trace.points.size(); ++k) {
      const QPointF& q = trace.points[k];
      const QPointF at(XOf(q.x()), YOf(q.y(), i));
      // Steps: a digital line holds its level until the next sample.
      if (lanes_ && k > 0) line.append(QPointF(at.x(), line.last().y()));
      line.append(at);
    }
    // Envelopes denser than the pixel columns let the ones under them show through.
    QColor colour = trace.colour;
    if (trace.points.size() > 2 * static_cast<qsizetype>(area.width())) colour.setAlpha(150);
    p.setPen(QPen(colour, 1.0));
    p.drawPolyline(line.constData(), static_cast<int>(line.size()));
  }
  p.setClipping(false);

  const auto vertical = [&](std::optional<double> t, const QPen& pen) {
    if (!t || *t < t0_ || *t > t1_) return;
    p.setPen(pen);
    p.drawLine(QPointF(XOf(*t), area.top()), QPointF(XOf(*t), area.bottom()));
  };
  vertical(marker_, QPen(QColor(200, 0, 0), 1, Qt::DotLine));
  vertical(cursorA_, QPen(QColor(0, 0, 0), 1, Qt::DashLine));
  vertical(cursorB_, QPen(QColor(0, 0, 160), 1, Qt::DashLine));
  p.setPen(QColor(150, 150, 150));
  p.drawRect(area.adjusted(0, 0, -1, -1));
}

void Panel::mouseMoveEvent(QMouseEvent* event) {
  const QPointF at = event->position();
  if (dragFrom_) {
    const double now = TimeAt(at.x());
    if (std::abs(now - *dragFrom_) > 0) {
      dragged_ = true;
      emit Panned(*dragFrom_ - now);
    }
    return;
  }
  emit Hovered(TimeAt(at.x()), ValueAt(at.y()));
}

void Panel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragFrom_ = TimeAt(event->position().x());
  dragged_ = false;
}

void Panel::mouseReleaseEvent(QMouseEvent* event) {
  const double t = TimeAt(event->position().x());
  if (!dragged_ && PlotArea().contains(event->position().toPoint()))
    emit CursorPlaced(event->button() == Qt::LeftButton ? 0 : 1, t);
  dragFrom_.reset();
  dragged_ = false;
}

void Panel::wheelEvent(QWheelEvent* event) {
  const double steps = event->angleDelta().y() / 120.0;
  if (steps != 0) emit Zoomed(TimeAt(event->position().x()), std::pow(0.8, steps));
}

}  // namespace quillbox::view
