#include "ui/TabbedList.h"

#include <QApplication>
#include <QListWidget>
#include <QPainter>

namespace quillbox {
namespace {
constexpr int kTextMargin = 2;  // pixels between the item's edge and its first column

void ShowWholeText(QListWidgetItem* item) {
  if (item == nullptr) return;
  const QString tip = item->text().replace(QLatin1Char('\t'), QStringLiteral("   "));
  if (item->toolTip() != tip) item->setToolTip(tip);
}

}  // namespace

TabbedItemDelegate::TabbedItemDelegate(std::vector<int> stops, int interval, QObject* parent)
    : QStyledItemDelegate(parent), stops_(std::move(stops)), interval_(std::max(1, interval)) {}

int TabbedItemDelegate::ColumnStart(int column) const {
  if (column <= 0) return 0;
  if (static_cast<std::size_t>(column) <= stops_.size())
    return stops_[static_cast<std::size_t>(column) - 1];
  const int last = stops_.empty() ? 0 : stops_.back();
  return last + (column - static_cast<int>(stops_.size())) * interval_;
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
  // Fixed columns: segment i starts at column i whatever the width of the text before it, and
  // is elided ("...") where it would run into the next column.
  const QStringList segments = text.split(QLatin1Char('\t'));
  for (qsizetype i = 0; i < segments.size(); ++i) {
    const int x = ColumnStart(static_cast<int>(i));
    const int end =
        i + 1 < segments.size() ? ColumnStart(static_cast<int>(i + 1)) - kTextMargin : area.width();
    const QRect cell(area.left() + x, area.top(), std::max(0, end - x), area.height());
    painter->drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      opt.fontMetrics.elidedText(segments[i], Qt::ElideRight, cell.width()));
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
  // Elided cells show their whole line as the item's tool tip.
  QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list,
                   [list](const QModelIndex&, int first, int last) {
                     for (int row = first; row <= last; ++row) ShowWholeText(list->item(row));
                   });
  QObject::connect(list->model(), &QAbstractItemModel::dataChanged, list,
                   [list](const QModelIndex& from, const QModelIndex& to) {
                     for (int row = from.row(); row <= to.row(); ++row)
                       ShowWholeText(list->item(row));
                   });
  QAbstractItemDelegate* old = list->itemDelegate();
  list->setItemDelegate(new TabbedItemDelegate(std::move(stops), interval, list));
  if (old != nullptr && old->parent() == list) old->deleteLater();
}

}  // namespace quillbox
