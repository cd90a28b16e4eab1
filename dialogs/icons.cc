// Pictures drawn with QPainter, and the style's standard button pictures.
#include "dialogs/icons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>

namespace pullwire {
namespace {

const QColor kInk(0x1f, 0x4e, 0x79);
const QColor kAccent(0x2e, 0x8b, 0x57);
const QColor kPaper(0xf4, 0xf8, 0xfb);

// A transparent `size` x `size` picture that `draw` paints with antialiasing.
template <typename Draw>
QPixmap Paint(int size, Draw draw) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  draw(painter);
  painter.end();
  return pixmap;
}

void DrawDownArrow(QPainter& painter, QPointF top, double length, double head, const QColor& color) {
  painter.setPen(QPen(color, head / 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  const QPointF tip = top + QPointF(0, length);
  painter.drawLine(top, tip);
  painter.drawLine(tip, tip + QPointF(-head, -head));
  painter.drawLine(tip, tip + QPointF(head, -head));
}

void DrawTray(QPainter& painter, const QRectF& rect, const QColor& color, double width) {
  painter.setPen(QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.drawPolyline(QPolygonF({rect.topLeft(), rect.bottomLeft(), rect.bottomRight(), rect.topRight()}));
}

QIcon StandardIcon(QStyle::StandardPixmap which) { return QApplication::style()->standardIcon(which); }

}  // namespace

QIcon PlaceholderIcon() {
  return QIcon(Paint(kPlaceholderIconSize, [](QPainter& painter) {
    painter.setPen(QPen(kInk, 1));
    painter.setBrush(kPaper);
    painter.drawRoundedRect(QRectF(0.5, 2.5, 15, 11), 2.5, 2.5);
    painter.setPen(QPen(kAccent, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(QPolygonF({QPointF(6, 5), QPointF(3.5, 8), QPointF(6, 11)}));
    painter.drawPolyline(QPolygonF({QPointF(10, 5), QPointF(12.5, 8), QPointF(10, 11)}));
  }));
}

QIcon WindowIcon() {
  return QIcon(Paint(kWindowIconSize, [](QPainter& painter) {
    DrawDownArrow(painter, QPointF(8, 1.5), 9, 3.5, kAccent);
    DrawTray(painter, QRectF(2, 10, 12, 4.5), kInk, 1.6);
  }));
}

QPixmap CommandPicture() {
  return Paint(kCommandPictureSize, [](QPainter& painter) {
    // A server box with two drive slots.
    painter.setPen(QPen(kInk, 1.5));
    painter.setBrush(kPaper);
    painter.drawRoundedRect(QRectF(6, 1.5, 20, 12), 2, 2);
    painter.drawLine(QPointF(9, 5.5), QPointF(19, 5.5));
    painter.drawLine(QPointF(9, 9.5), QPointF(19, 9.5));
    painter.setBrush(kAccent);
    painter.drawEllipse(QPointF(22.5, 5.5), 1.2, 1.2);
    // The wire down into the tray.
    DrawDownArrow(painter, QPointF(16, 14), 11, 4.5, kAccent);
    DrawTray(painter, QRectF(4, 21, 24, 8.5), kInk, 2);
  });
}

QPixmap EngineLogo() {
  return Paint(kEngineLogoSize, [](QPainter& painter) {
    painter.setPen(QPen(kInk, 1.5));
    painter.setBrush(kPaper);
    painter.drawEllipse(QRectF(1, 1, 26, 26));
    // A wire pulled through a ring: the engine's mark.
    QPainterPath wire;
    wire.moveTo(5, 19);
    wire.cubicTo(10, 19, 10, 9, 14, 9);
    wire.cubicTo(18, 9, 18, 19, 23, 19);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kAccent, 2.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(wire);
    painter.setPen(QPen(kInk, 1.6));
    painter.drawEllipse(QPointF(14, 9), 3, 3);
  });
}

QIcon OkIcon() { return StandardIcon(QStyle::SP_DialogOkButton); }
QIcon CancelIcon() { return StandardIcon(QStyle::SP_DialogCancelButton); }
QIcon ProxyIcon() { return StandardIcon(QStyle::SP_DriveNetIcon); }
QIcon BrowseIcon() { return StandardIcon(QStyle::SP_DirOpenIcon); }

}  // namespace pullwire
