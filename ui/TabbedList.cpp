#include "ui/TabbedList.h"

#include <QApplication>
#include <QListWidget>
#include <QPainter>

namespace quillbox {
namespace {
constexpr int kTextMargin = 2;  // pixels between the item's edge and its first column
}

TabbedItemDelegate::TabbedItemDelegate(std::vector<int> stops, int interval, QObject* parent)
    : QStyledItemDelegate(parent), stops_(std::move(stops)), interval_(std::max(1, interval)) {}

int TabbedItemDelegate::NextStop(int x) const {
  for (int stop : stops_)
    if (stop > x) return stop;
  const int last = stops_.empty() ? 0 : stops_.back();
  return last + ((x - last) / interval_ + 1) * interval_;
}

void TabbedItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  const QString text = opt.text;
  opt.text.clear();
  const QWidget* widget = opt.widget;
  QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

  const QRect area = opt.rect.adjusted(kTextMargin, 0, -kTextMargin, 0);
  const QPalette::ColorGroup group =
      (opt.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
  const QPalette::ColorRole role =
      (opt.state & QStyle::State_Selected) != 0 ? QPalette::HighlightedText : QPalette::Text;
  painter->save();
  painter->setFont(opt.font);
  painter->setPen(opt.palette.color(group, role));
  painter->setClipRect(opt.rect);
  int x = 0;
  const QStringList segments = text.split(QLatin1Char('\t'));
  for (qsizetype i = 0; i < segments.size(); ++i) {
    if (i > 0) x = NextStop(x);
    const QRect cell(area.left() + x, area.top(), std::max(0, area.width() - x), area.height());
    painter->drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, segments[i]);
    x += opt.fontMetrics.horizontalAdvance(segments[i]);
  }
  painter->restore();
}

QSize TabbedItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
  QStyleOptionViewItem opt = option;
  initStyleOption(&opt, index);
  // Rows as tight as the font, so that a list shows as many of them as its layout meant.
  return QSize(opt.rect.width(), opt.fontMetrics.height());
}

void SetTabStops(QListWidget* list, std::vector<int> stops, int interval) {
  QAbstractItemDelegate* old = list->itemDelegate();
  list->setItemDelegate(new TabbedItemDelegate(std::move(stops), interval, list));
  if (old != nullptr && old->parent() == list) old->deleteLater();
}

}  // namespace quillbox
