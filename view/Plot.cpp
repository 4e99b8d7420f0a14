#include "view/Plot.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>

#include "view/Charts.h"
#include "view/Decimate.h"
#include "view/Panel.h"
#include "view/TraceGather.h"

namespace quillbox::view {
namespace {

bool Writable(const std::string& path) {
  const std::string ext = std::filesystem::path(path).extension().string();
  return ext == ".png" || ext == ".svg" || ext == ".pdf";
}

std::string Unwritable(const std::string& path) {
  return "-o: " + path + " names no picture the plot writes (.png, .svg or .pdf)";
}

constexpr int kPanelHeight = 300;  // an analog panel's height when the page's is not given
constexpr int kLaneHeight = 22;    // a digital line's

QString Title(const PlotData& plot, const std::string& source) {
  const RecordingData& data = plot.recording;
  QStringList parts;
  parts << QString::fromStdString(std::filesystem::path(source).filename().string());
  if (!data.serial.empty()) parts << QStringLiteral("E-270 ") + QString::fromStdString(data.serial);
  if (!data.startUtc.empty())
    parts << QStringLiteral("started ") + QString::fromStdString(data.startUtc);
  if (data.rate > 0) parts << QString::number(data.rate, 'g', 6) + QStringLiteral(" Hz");
  parts << QString::number(plot.frames) + QStringLiteral(" frames") +
               (data.complete ? QString() : QStringLiteral(" (incomplete)"));
  return parts.join(QStringLiteral("  \u2014  "));
}

// A panel's legend: every channel, in its colour, wrapped into as many lines as it needs.
QLabel* Legend(const Panel& panel) {
  QStringList entries;
  for (const Trace& t : panel.Traces())
    entries << QStringLiteral("<span style=\"color:%1\">\u2501\u2501&nbsp;%2</span>")
                   .arg(
                       t.colour.name(),
                       // A name is not broken at its hyphens (a word joiner after each).
                       t.name.toHtmlEscaped().replace(QLatin1Char('-'), QStringLiteral("-\u2060")));
  auto* label = new QLabel(entries.join(QStringLiteral(" &nbsp; ")));
  label->setWordWrap(true);
  label->setTextFormat(Qt::RichText);
  label->setContentsMargins(panel.LabelWidth(), 0, 0, 0);
  return label;
}

}  // namespace

bool LayOutPlot(const PlotData& data, const std::string& source, const PlotOptions& options,
                PlotPage& out, std::string& error) {
  out = PlotPage{};
  out.page = std::make_unique<QWidget>();
  QWidget& page = *out.page;
  page.setAttribute(Qt::WA_DontShowOnScreen);
  page.setAutoFillBackground(true);
  page.setPalette(QPalette(Qt::white));
  auto* layout = new QVBoxLayout(&page);
  layout->setContentsMargins(8, 8, 8, 8);
  layout->setSpacing(2);
  auto* title = new QLabel(Title(data, source));
  QFont bold = title->font();
  bold.setBold(true);
  title->setFont(bold);
  title->setWordWrap(true);
  layout->addWidget(title);

  const double t0 = data.t0;
  const double t1 = data.t1 > t0 ? data.t1 : t0 + 1;
  const RecordingData& recording = data.recording;
  const auto groups = GroupColumns(recording.units, options.lanes);
  int needed = 0, wanted = 0;
  std::vector<QLabel*> legends;
  for (const Group& group : groups) {
    auto* panel = new Panel(QString::fromStdString(group.unit), group.lanes);
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (std::size_t c : group.columns) {
      panel->Traces().push_back(
          {QString::fromStdString(recording.names[c]), TraceColour(panel->Traces().size()), {}});
      out.legend.push_back(recording.names[c]);
      for (const QPointF& p : data.points[c]) lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
    }
    panel->SetTimeRange(t0, t1);
    if (group.lanes)
      panel->SetValueRange(0, 1);
    else
      panel->SetValueRange(PaddedRange(lo, hi).first, PaddedRange(lo, hi).second);
    panel->SetTimeLabels(&group == &groups.back());
    const int least = group.lanes ? panel->minimumSizeHint().height()
                                  : std::max(kPanelMinHeight, panel->minimumSizeHint().height());
    needed += least;
    wanted += group.lanes ? std::max(least, static_cast<int>(group.columns.size()) * kLaneHeight)
                          : kPanelHeight;
    legends.push_back(Legend(*panel));
    layout->addWidget(legends.back());
    layout->addWidget(panel, group.lanes ? 0 : 1);
    out.panels.push_back(panel);
  }
  Panel::AlignEdges(out.panels);
  for (std::size_t i = 0; i < legends.size(); ++i)
    legends[i]->setContentsMargins(out.panels[i]->PlotArea().left(), 0, 0, 0);

  // The text above the panels, at this width.
  int text = 16 + title->heightForWidth(options.width - 16);
  for (QLabel* l : legends) text += l->heightForWidth(options.width - 16) + 2 * layout->spacing();
  if (options.height > 0 && options.height < text + needed) {
    error = "--height: " + std::to_string(options.height) + " px is below the " +
            std::to_string(text + needed) + " px that the title, the legends and " +
            std::to_string(groups.size()) + " panels need at this width";
    return false;
  }
  page.resize(options.width, options.height > 0 ? options.height : text + wanted);
  layout->activate();
  // The scales depend on the panels' heights: edges lined up again, then the traces reduced to
  // the plot area's pixel columns.
  Panel::AlignEdges(out.panels);
  for (std::size_t g = 0; g < groups.size(); ++g) {
    Panel* panel = out.panels[g];
    legends[g]->setContentsMargins(panel->PlotArea().left(), 0, 0, 0);
    for (std::size_t k = 0; k < groups[g].columns.size(); ++k) {
      const QList<QPointF>& points = data.points[groups[g].columns[k]];
      MinMaxColumns(
          points.size(), [&](int64_t i) { return points[i].x(); },
          [&](int64_t i) { return points[i].y(); }, t0, t1, panel->PlotArea().width(),
          panel->Traces()[k].points);
    }
  }
  return true;
}

bool SavePage(QWidget& page, const std::string& path, std::string& error) {
  const QString name = QString::fromStdString(path);
  const std::string ext = std::filesystem::path(path).extension().string();
  bool ok = false;
  if (ext == ".png") {
    ok = page.grab().save(name, "PNG");
  } else if (ext == ".svg") {
    QSvgGenerator svg;
    svg.setFileName(name);
    svg.setSize(page.size());
    svg.setViewBox(page.rect());
    QPainter painter;
    ok = painter.begin(&svg);
    if (ok) page.render(&painter);
    ok = painter.end() && ok;
  } else if (ext == ".pdf") {
    QPdfWriter pdf(name);
    pdf.setPageSize(QPageSize(QSizeF(page.width(), page.height()), QPageSize::Point));
    pdf.setPageMargins(QMarginsF());
    pdf.setResolution(72);
    QPainter painter;
    ok = painter.begin(&pdf);
    if (ok) page.render(&painter);
    ok = painter.end() && ok;
  } else {
    error = Unwritable(path);
  }
  if (!ok && error.empty()) error = "cannot write " + path;
  return ok;
}

int RunPlot(const PlotOptions& options, std::vector<std::string>& messages) {
  std::string error;
  if (!Writable(options.png)) {
    messages.push_back(Unwritable(options.png));
    return 2;
  }
  if (options.width < kPlotMinWidthPx) {
    messages.push_back("--width: " + std::to_string(options.width) + " px is below the least, " +
                       std::to_string(kPlotMinWidthPx) + " px");
    return 2;
  }
  // Runs of rows two to four times finer than the pixel columns: every row of a short recording
  // is kept, a long one is read again below.
  TraceGather gather(2 * static_cast<std::size_t>(options.width),
                     options.from.value_or(-TraceGather::kAll),
                     options.to.value_or(TraceGather::kAll));
  PlotData data;
  const ReadResult read =
      StreamRecording(options.csv, options.channels, data.recording, gather, error, messages);
  if (read != ReadResult::Ok) {
    messages.push_back(error);
    return read == ReadResult::BadSelection ? 2 : 1;
  }
  if (gather.Rows() == 0) {
    messages.push_back(
        "--from/--to: the recording has no frame between those times (it runs from " +
        std::to_string(gather.FirstRead()) + " to " + std::to_string(gather.LastRead()) + " s)");
    return 2;
  }
  data.points = gather.Points();
  data.points.resize(data.recording.names.size());
  data.t0 = gather.First();
  data.t1 = gather.Last();
  data.frames = gather.Rows();
  if (ViewApplication(true, error) == nullptr) {
    messages.push_back(error);
    return 1;
  }
  PlotPage page;
  if (!LayOutPlot(data, options.csv, options, page, error)) {
    messages.push_back(error);
    return 2;
  }
  // Runs of rows were merged, so a run may straddle two pixel columns: the rows read again into
  // the plot area's pixel columns, now known, which draws exactly the extremes of each column.
  if (gather.Merged()) {
    TraceGather exact(data.t0, data.t1 > data.t0 ? data.t1 : data.t0 + 1,
                      page.panels.front()->PlotArea().width(), gather.First(), gather.Last());
    RecordingData again;
    std::vector<std::string> notes;
    if (StreamRecording(options.csv, options.channels, again, exact, error, notes) ==
            ReadResult::Ok &&
        exact.Rows() == data.frames) {
      data.points = exact.Points();
      data.points.resize(data.recording.names.size());
      if (!LayOutPlot(data, options.csv, options, page, error)) {
        messages.push_back(error);
        return 2;
      }
    }
  }
  if (!SavePage(*page.page, options.png, error)) {
    messages.push_back(error);
    return 1;
  }
  return 0;
}

}  // namespace quillbox::view
