#include "view/Plot.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "view/Charts.h"
#include "view/Decimate.h"

namespace quillbox::view {
namespace {

constexpr int kPanelHeight = 320;

QString Title(const RecordingData& data, const std::string& source) {
  QStringList parts;
  parts << QString::fromStdString(std::filesystem::path(source).filename().string());
  if (!data.serial.empty()) parts << QStringLiteral("E-270 ") + QString::fromStdString(data.serial);
  if (!data.startUtc.empty())
    parts << QStringLiteral("started ") + QString::fromStdString(data.startUtc);
  if (data.rate > 0) parts << QString::number(data.rate, 'g', 6) + QStringLiteral(" Hz");
  parts << QString::number(data.time.size()) + QStringLiteral(" frames") +
               (data.complete ? QString() : QStringLiteral(" (incomplete)"));
  return parts.join(QStringLiteral("  \u2014  "));
}

}  // namespace

bool RenderPlot(const RecordingData& data, const std::string& source, const std::string& png,
                int width, std::string& error) {
  const auto groups = GroupByUnit(data.units);
  QWidget page;
  page.setAttribute(Qt::WA_DontShowOnScreen);
  page.setAutoFillBackground(true);
  page.setPalette(QPalette(Qt::white));
  auto* layout = new QVBoxLayout(&page);
  layout->setContentsMargins(8, 8, 8, 8);
  auto* title = new QLabel(Title(data, source));
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  layout->addWidget(title);

  const double t0 = data.time.front();
  const double t1 = data.time.back() > t0 ? data.time.back() : t0 + 1;
  const auto n = static_cast<int64_t>(data.time.size());
  const auto timeAt = [&](int64_t i) { return data.time[static_cast<std::size_t>(i)]; };
  QList<QPointF> points;
  for (const auto& [unit, members] : groups) {
    QValueAxis *x = nullptr, *y = nullptr;
    QChart* chart = MakePanel(QString::fromStdString(unit), x, y);
    chart->legend()->show();
    chart->legend()->setAlignment(Qt::AlignRight);
    x->setRange(t0, t1);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t c : members) {
      const std::vector<float>& values = data.values[c];
      MinMaxColumns(
          n, timeAt,
          [&](int64_t i) { return static_cast<double>(values[static_cast<std::size_t>(i)]); }, t0,
          t1, width, points);
      for (const QPointF& p : points) lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
      auto* series = new QLineSeries;
      series->setName(QString::fromStdString(data.names[c]));
      series->setPen(QPen(TraceColour(c), 1.0));
      series->replace(points);
      chart->addSeries(series);
      series->attachAxis(x);
      series->attachAxis(y);
    }
    const auto [y0, y1] = PaddedRange(lo, hi);
    y->setRange(y0, y1);
    y->applyNiceNumbers();
    x->applyNiceNumbers();
    auto* view = new QChartView(chart);
    view->setMinimumHeight(kPanelHeight);
    view->setRenderHint(QPainter::Antialiasing, true);
    layout->addWidget(view);
  }
  page.resize(width, title->sizeHint().height() + 16 +
                         static_cast<int>(groups.size()) * (kPanelHeight + layout->spacing()));
  layout->activate();
  if (!page.grab().save(QString::fromStdString(png), "PNG")) {
    error = "cannot write " + png;
    return false;
  }
  return true;
}

int RunPlot(const PlotOptions& options, std::vector<std::string>& messages) {
  RecordingData data;
  std::string error;
  const ReadResult read = ReadRecording(options.csv, options.channels, data, error, messages);
  if (read != ReadResult::Ok) {
    messages.push_back(error);
    return read == ReadResult::BadSelection ? 2 : 1;
  }
  if (ViewApplication(true) == nullptr) {
    messages.emplace_back("the plot needs a Qt widget application");
    return 1;
  }
  if (!RenderPlot(data, options.csv, options.png, std::clamp(options.width, 200, 20000), error)) {
    messages.push_back(error);
    return 1;
  }
  return 0;
}

}  // namespace quillbox::view
