#pragma once
// List items whose text holds TAB characters, drawn in fixed columns: the text after the n-th
// TAB starts at the n-th stop, elided where it would reach the next one; the item's tool tip
// shows the whole line.

#include <QStyledItemDelegate>
#include <vector>

class QListWidget;

namespace quillbox {

class TabbedItemDelegate : public QStyledItemDelegate {
 public:
  // `stops`: pixel positions of the first tab stops, increasing; after the last one further
  // stops follow every `interval` pixels.
  TabbedItemDelegate(std::vector<int> stops, int interval, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Left edge of column `column` (0: the item's left edge).
  int ColumnStart(int column) const;

 private:
  std::vector<int> stops_;
  int interval_;
};

// Installs a TabbedItemDelegate on `list`.
void SetTabStops(QListWidget* list, std::vector<int> stops, int interval);

}  // namespace quillbox
