#include "view/Charts.h"

#include <QApplication>
#include <QChart>
#include <QGraphicsLayout>
#include <QLegend>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace quillbox::view {

QColor TraceColour(std::size_t i) {
  // Twelve hues a golden angle apart, then the same hues darker.
  const int hue = static_cast<int>((i % 12) * 137 % 360);
  const int value = 220 - static_cast<int>((i / 12) % 3) * 60;
  return QColor::fromHsv(hue, 230, value);
}

QChart* MakePanel(const QString& unit, QValueAxis*& x, QValueAxis*& y) {
  auto* chart = new QChart;
  chart->setAnimationOptions(QChart::NoAnimation);
  chart->legend()->hide();
  chart->setMargins(QMargins(4, 4, 4, 4));
  chart->layout()->setContentsMargins(0, 0, 0, 0);
  chart->setBackgroundRoundness(0);
  x = new QValueAxis;
  x->setTitleText(QStringLiteral("time (s)"));
  x->setLabelFormat(QStringLiteral("%.4g"));
  y = new QValueAxis;
  y->setTitleText(unit);
  y->setLabelFormat(QStringLiteral("%.4g"));
  chart->addAxis(x, Qt::AlignBottom);
  chart->addAxis(y, Qt::AlignLeft);
  return chart;
}

std::vector<std::pair<std::string, std::vector<std::size_t>>> GroupByUnit(
    const std::vector<std::string>& units) {
  std::vector<std::pair<std::string, std::vector<std::size_t>>> groups;
  for (std::size_t c = 0; c < units.size(); ++c) {
    auto it = std::find_if(groups.begin(), groups.end(),
                           [&](const auto& g) { return g.first == units[c]; });
    if (it == groups.end()) it = groups.insert(groups.end(), {units[c], {}});
    it->second.push_back(c);
  }
  return groups;
}

std::pair<double, double> PaddedRange(double lo, double hi) {
  if (!std::isfinite(lo) || !std::isfinite(hi) || lo > hi) return {-1, 1};
  double span = hi - lo;
  if (span <= 0) span = std::max(std::abs(hi) * 0.2, 1e-3);
  return {lo - span * 0.05, hi + span * 0.05};
}

QApplication* ViewApplication(bool offscreen) {
  if (QCoreApplication::instance() != nullptr)
    return qobject_cast<QApplication*>(QCoreApplication::instance());
  if (offscreen) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "quillbox";
  static char* argv[] = {name, nullptr};
  // Lives until the process ends, as the dialogs' application does.
  return new QApplication(argc, argv);
}

}  // namespace quillbox::view
