#pragma once
// List items whose text holds TAB characters, drawn in columns at tab stops as the original
// list boxes did.

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

  // Left edge of the column that follows a segment ending at `x`.
  int NextStop(int x) const;

 private:
  std::vector<int> stops_;
  int interval_;
};

// Installs a TabbedItemDelegate on `list`.
void SetTabStops(QListWidget* list, std::vector<int> stops, int interval);

}  // namespace quillbox
