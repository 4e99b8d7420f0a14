#pragma once
// One panel of the scope or a plot, drawn by hand: traces over a time axis, against a value axis
// in the traces' unit with round ticks, or, for digital lines, one lane per trace drawn as steps
// like a logic analyser. Panels stacked in a column share their left edge (SetLeftEdge with the
// widest LabelWidth of them), so that their time axes line up; only the bottom one labels the
// times. The scope's paused view is zoomed and panned through the signals, and marks its two
// cursors and a trigger time.

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <QWidget>
#include <optional>
#include <vector>

#include "view/Scale.h"

namespace quillbox::view {

struct Trace {
  QString name;
  QColor colour;
  QList<QPointF> points;  // (time in s, value in the unit), time not decreasing
  bool visible = true;
};

class Panel : public QWidget {
  Q_OBJECT

 public:
  // `lanes`: each trace in a lane of its own, drawn as steps between `lo` and `hi` of the range.
  Panel(QString unit, bool lanes, QWidget* parent = nullptr);

  std::vector<Trace>& Traces() { return traces_; }
  const std::vector<Trace>& Traces() const { return traces_; }
  bool Lanes() const { return lanes_; }
  const QString& Unit() const { return unit_; }

  void SetTimeRange(double t0, double t1);
  void SetValueRange(double lo, double hi);
  std::pair<double, double> TimeRange() const { return {t0_, t1_}; }
  std::pair<double, double> ValueRange() const { return {y0_, y1_}; }
  void SetTimeLabels(bool shown);  // the time labels and title under the plot area
  void SetCursors(std::optional<double> a, std::optional<double> b);
  void SetMarker(std::optional<double> t);

  // Pixels left of the plot area that the value labels and the unit need at the current size.
  int LabelWidth() const;
  void SetLeftEdge(int pixels);
  QRect PlotArea() const;
  // The ticks of each axis at the current size (lanes: the traces' names at their centres).
  std::vector<Tick> ValueAxisTicks() const;
  std::vector<Tick> TimeAxisTicks() const;
  // The pixel of a time and a value, and back.
  double XOf(double t) const;
  double YOf(double v, std::size_t trace) const;
  double TimeAt(double x) const;
  double ValueAt(double y) const;

  // Lines every panel of a column up on the widest label width among them.
  static void AlignEdges(const std::vector<Panel*>& panels);

  QSize minimumSizeHint() const override;

 signals:
  void Hovered(double t, double value);
  void Zoomed(double centre, double factor);  // the time span times factor around centre
  void Panned(double seconds);
  void CursorPlaced(int which, double t);  // 0: left button, 1: right button

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  int PlotHeight() const;

  QString unit_;
  bool lanes_;
  std::vector<Trace> traces_;
  double t0_ = 0, t1_ = 1, y0_ = -1, y1_ = 1;
  bool timeLabels_ = true;
  int left_ = -1;  // -1: its own LabelWidth
  std::optional<double> cursorA_, cursorB_, marker_;
  std::optional<double> dragFrom_;
  bool dragged_ = false;
};

}  // namespace quillbox::view
