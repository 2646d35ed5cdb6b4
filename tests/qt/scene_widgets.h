#pragma once
// Widgets the Qt host tests build their scenes from: a parent that paints its own two halves and
// opaque coloured blocks stacked beside, below or above the control.

#include <QPainter>
#include <QWidget>

namespace velmora::qttest {

inline constexpr QRgb kLeft = 0xFF204060;
inline constexpr QRgb kRight = 0xFF806020;

// 40 x 20, painted in two halves in paintEvent with no background fill (so the control must
// pick up the parent's own painting, not just its palette); the left colour can change.
class HalvesParent final : public QWidget {
 public:
  HalvesParent() { resize(40, 20); }
  QRgb left = kLeft;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(0, 0, 20, 20, QColor::fromRgb(left));
    painter.fillRect(20, 0, 20, 20, QColor::fromRgb(kRight));
  }
};

// An opaque block: repainting it repaints nothing beneath it.
class Block final : public QWidget {
 public:
  Block(QWidget* parent, QRect area, QRgb fill) : QWidget(parent), colour(fill) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setGeometry(area);
  }
  QRgb colour;

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor::fromRgb(colour)); }
};

}  // namespace velmora::qttest
