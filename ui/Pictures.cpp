#include "ui/Pictures.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "ui/UiSettings.h"

namespace quillbox {
namespace {

QPixmap Blank(QSize size) {
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

const QColor kVendorBlue(0x1f, 0x4e, 0x9a);
const QColor kVendorRed(0xd0, 0x21, 0x2a);

// An edge between a low and a high level, drawn as a step with an arrow on the edge.
QPixmap EdgeIcon(bool rising) {
  QPixmap pixmap = Blank(QSize(16, 16));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QPen pen(QColor(0x20, 0x20, 0x20), 1.6);
  pen.setJoinStyle(Qt::MiterJoin);
  p.setPen(pen);
  const qreal low = 13.0;
  const qreal high = 3.0;
  QPainterPath step;
  step.moveTo(1, rising ? low : high);
  step.lineTo(8, rising ? low : high);
  step.lineTo(8, rising ? high : low);
  step.lineTo(15, rising ? high : low);
  p.drawPath(step);
  // Arrow head on the edge, pointing the way the level goes.
  p.setPen(Qt::NoPen);
  p.setBrush(kVendorRed);
  QPolygonF head;
  if (rising)
    head << QPointF(8, 4.5) << QPointF(5.2, 9.5) << QPointF(10.8, 9.5);
  else
    head << QPointF(8, 11.5) << QPointF(5.2, 6.5) << QPointF(10.8, 6.5);
  p.drawPolygon(head);
  return pixmap;
}

}  // namespace

QPixmap VendorLogo(QSize size) {
  QPixmap pixmap = Blank(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const QRectF box = QRectF(pixmap.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  QLinearGradient fill(box.topLeft(), box.bottomLeft());
  fill.setColorAt(0.0, kVendorBlue.lighter(125));
  fill.setColorAt(1.0, kVendorBlue);
  p.setPen(QPen(kVendorBlue.darker(140), 1.0));
  p.setBrush(fill);
  p.drawRoundedRect(box, 4, 4);

  // A sine trace across the left third, the name on the right.
  const QRectF wave(box.left() + 4, box.top() + 4, box.height() * 1.3, box.height() - 8);
  QPainterPath trace;
  for (int i = 0; i <= 24; ++i) {
    const qreal x = wave.left() + wave.width() * i / 24.0;
    const qreal y = wave.center().y() - wave.height() / 2.2 * std::sin(i * 3.14159265 / 6.0);
    if (i == 0)
      trace.moveTo(x, y);
    else
      trace.lineTo(x, y);
  }
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(0xff, 0xd0, 0x40), 1.8, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(trace);

  QFont font;
  font.setFamily("DejaVu Sans");
  font.setBold(true);
  font.setPixelSize(std::max(8, static_cast<int>(box.height() * 0.55)));
  p.setFont(font);
  p.setPen(Qt::white);
  const QRectF text(wave.right() + 4, box.top(), box.right() - wave.right() - 8, box.height());
  p.drawText(text, Qt::AlignCenter, QString::fromUtf8(kVendorName));
  return pixmap;
}

QPixmap RisingEdgeIcon() { return EdgeIcon(true); }
QPixmap FallingEdgeIcon() { return EdgeIcon(false); }

QCursor LinkCursor() {
  QPixmap pixmap = Blank(QSize(32, 32));
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  // A hand with the index finger up: finger, palm with three folded fingers, thumb.
  QPainterPath hand;
  hand.addRoundedRect(QRectF(9, 2, 5, 15), 2.5, 2.5);
  hand.addRoundedRect(QRectF(9, 11, 14, 14), 4, 4);
  hand.addRoundedRect(QRectF(4, 13, 7, 5), 2.5, 2.5);
  hand = hand.simplified();
  p.setPen(QPen(Qt::black, 1.2));
  p.setBrush(Qt::white);
  p.drawPath(hand);
  p.setPen(QPen(Qt::black, 0.9));
  for (qreal x : {14.0, 18.0}) p.drawLine(QPointF(x, 12), QPointF(x, 16));
  return QCursor(pixmap, 11, 2);
}

QIcon ComponentIcon() {
  QIcon icon;
  for (int side : {16, 32}) {
    QPixmap pixmap = Blank(QSize(side, side));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = side / 16.0;
    p.setPen(QPen(kVendorBlue.darker(150), u));
    p.setBrush(kVendorBlue);
    p.drawRoundedRect(QRectF(1 * u, 3 * u, 14 * u, 10 * u), 1.5 * u, 1.5 * u);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xff, 0xd0, 0x40));
    for (int slot = 0; slot < 8; ++slot) {
      const qreal x = (2.2 + (slot % 4) * 3.0) * u;
      const qreal y = (slot < 4 ? 4.6 : 8.8) * u;
      p.drawRect(QRectF(x, y, 2.2 * u, 2.6 * u));
    }
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace quillbox
