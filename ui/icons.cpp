#include "ui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>

#include <array>
#include <cmath>
#include <numbers>

namespace orvane::ui {
namespace {

const QColor kOutline(0x20, 0x20, 0x20);
const QColor kRed(0xD0, 0x00, 0x00);
const QColor kPaper(0xFF, 0xFF, 0xFF);

QImage Blank(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

QPen Pen(const QColor& color, qreal width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A sheet of paper with its top right corner folded down.
void DrawSheet(QPainter& p, qreal left, qreal right) {
  const QPolygonF sheet{{left, 0.5}, {right - 3.5, 0.5}, {right, 4}, {right, 15.5}, {left, 15.5}};
  p.setPen(Pen(kOutline, 1));
  p.setBrush(kPaper);
  p.drawPolygon(sheet);
  p.drawPolyline(QPolygonF{{right - 3.5, 0.5}, {right - 3.5, 4}, {right, 4}});
}

QImage Refresh() {
  QImage image = Blank(kImageSize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  const QPointF centre(8, 8.5);
  const qreal radius = 5.2;
  p.setPen(Pen(kRed, 2.2));
  p.drawArc(QRectF(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius), 90 * 16,
            285 * 16);
  // Arrow head at the end of the arc, pointing on round the circle.
  const qreal end = (90.0 + 285.0) * std::numbers::pi / 180.0;
  const QPointF at(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
  const QPointF along(-std::sin(end), -std::cos(end));
  const QPointF outward(std::cos(end), -std::sin(end));
  p.setPen(Pen(QColor(0x90, 0x00, 0x00), 0.8));
  p.setBrush(kRed);
  p.drawPolygon(QPolygonF{at + along * 3.6, at + outward * 3.2, at - outward * 3.2});
  return image;
}

QImage Device() {
  QImage image = Blank(kImageSize);
  QPainter p(&image);
  p.setPen(kOutline);
  p.setBrush(QColor(0xC8, 0xC8, 0xC8));
  p.drawRect(1, 2, 13, 12);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x18, 0x28, 0x20));
  p.drawRect(3, 4, 10, 5);
  p.setBrush(QColor(0x40, 0x70, 0x50));
  p.drawRect(4, 5, 4, 1);
  p.setBrush(QColor(0x70, 0x70, 0x70));
  p.drawRect(3, 11, 2, 2);
  p.drawRect(6, 11, 2, 2);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Pen(QColor(0x80, 0x00, 0x00), 0.7));
  p.setBrush(QColor(0xFF, 0x20, 0x20));
  p.drawEllipse(QPointF(11.5, 12), 1.6, 1.6);
  return image;
}

QImage AddFile() {
  QImage image = Blank(kImageSize);
  QPainter p(&image);
  DrawSheet(p, 5.5, 15.5);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Pen(QColor(0x90, 0x00, 0x00), 0.8));
  p.setBrush(kRed);
  p.drawPolygon(QPolygonF{
      {0.5, 6.5}, {6.5, 6.5}, {6.5, 3.5}, {11.5, 8.5}, {6.5, 13.5}, {6.5, 10.5}, {0.5, 10.5}});
  return image;
}

QImage Erase() {
  QImage image = Blank(kImageSize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Pen(kOutline, 1));
  p.setBrush(QColor(0xF0, 0x70, 0x80));
  p.drawPolygon(QPolygonF{{0.8, 11.5}, {6.5, 5.8}, {10.5, 9.8}, {4.8, 15.5}});
  p.setBrush(kPaper);
  p.drawPolygon(QPolygonF{{0.8, 11.5}, {3.3, 9.0}, {7.3, 13.0}, {4.8, 15.5}});
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawRect(QRectF(12, 0.5, 3, 9));
  p.drawRect(QRectF(12, 11.5, 3, 3));
  return image;
}

QImage Sheet() {
  QImage image = Blank(kImageSize);
  QPainter p(&image);
  DrawSheet(p, 2.5, 13.5);
  p.setPen(QColor(0x00, 0x00, 0x80));
  for (int y = 6; y <= 13; y += 2) p.drawLine(5, y, 11, y);
  p.drawLine(5, 4, 8, 4);
  return image;
}

QImage Settings() {
  QImage image = Blank(kImageSize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // Wrench, lower left to upper right, with an open jaw at the top.
  p.setPen(Pen(QColor(0x50, 0x50, 0x50), 3.6));
  p.drawLine(QPointF(3, 13), QPointF(11, 5));
  p.setPen(Pen(QColor(0xB0, 0xB0, 0xB8), 2.0));
  p.drawLine(QPointF(3, 13), QPointF(11, 5));
  p.setPen(Pen(QColor(0x50, 0x50, 0x50), 1));
  p.setBrush(QColor(0xB0, 0xB0, 0xB8));
  p.drawEllipse(QPointF(11.8, 4.2), 3.4, 3.4);
  p.setCompositionMode(QPainter::CompositionMode_Clear);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::black);
  p.drawPolygon(QPolygonF{{12, 4}, {13.5, 0}, {16, 0}, {16, 2.5}});
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  // Screwdriver, upper left to lower right: steel shaft, red handle.
  p.setPen(Pen(QColor(0x40, 0x40, 0x40), 1.6));
  p.drawLine(QPointF(1.5, 1.5), QPointF(8.5, 8.5));
  p.setPen(Pen(QColor(0x70, 0x00, 0x00), 4.2));
  p.drawLine(QPointF(9.5, 9.5), QPointF(13.5, 13.5));
  p.setPen(Pen(QColor(0xE0, 0x20, 0x20), 2.6));
  p.drawLine(QPointF(9.5, 9.5), QPointF(13.5, 13.5));
  return image;
}

// The sixteen colours of the classic palette.
constexpr std::array<QRgb, 16> kPalette16{
    0xFF000000, 0xFF800000, 0xFF008000, 0xFF808000, 0xFF000080, 0xFF800080,
    0xFF008080, 0xFFC0C0C0, 0xFF808080, 0xFFFF0000, 0xFF00FF00, 0xFFFFFF00,
    0xFF0000FF, 0xFFFF00FF, 0xFF00FFFF, 0xFFFFFFFF};

int Distance(QRgb a, QRgb b) {
  const int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
  return dr * dr + dg * dg + db * db;
}

// Each pixel becomes the nearest of the sixteen colours, or transparent when
// it is more than half transparent.
QImage ToSixteenColours(const QImage& source) {
  QImage indexed(source.size(), QImage::Format_Indexed8);
  QList<QRgb> table(kPalette16.begin(), kPalette16.end());
  table.append(qRgba(0, 0, 0, 0));
  indexed.setColorTable(table);
  const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < argb.height(); ++y) {
    for (int x = 0; x < argb.width(); ++x) {
      const QRgb pixel = argb.pixel(x, y);
      int best = 16;
      if (qAlpha(pixel) >= 128) {
        best = 0;
        for (int i = 1; i < 16; ++i)
          if (Distance(pixel, kPalette16[i]) < Distance(pixel, kPalette16[best])) best = i;
      }
      indexed.setPixel(x, y, static_cast<uint>(best));
    }
  }
  return indexed;
}

}  // namespace

QImage ImageList1(int index) {
  switch (index) {
    case kImageSettings: return Settings();
    case kImageSheet: return Sheet();
    case kImageAddFile: return AddFile();
    case kImageErase: return Erase();
    case kImageRefresh: return Refresh();
    case kImageDevice: return Device();
    default: return Blank(kImageSize);
  }
}

QImage ProgramIcon() {
  QImage image = Blank(kProgramIconSize);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(16, 16);
  p.rotate(-28);
  const qreal half_width = 6.5, half_height = 11;
  // Pins, four on each long side.
  p.setPen(Pen(QColor(0x80, 0x80, 0x00), 0.8));
  p.setBrush(QColor(0xFF, 0xFF, 0x00));
  for (int i = 0; i < 4; ++i) {
    const qreal y = -8.5 + i * 5.2;
    p.drawRect(QRectF(-half_width - 4, y, 4.5, 2.6));
    p.drawRect(QRectF(half_width - 0.5, y, 4.5, 2.6));
  }
  // The package, its notch and the pin-1 mark.
  p.setPen(Pen(QColor(0x00, 0x00, 0x00), 1));
  p.setBrush(QColor(0x40, 0x40, 0x40));
  p.drawRect(QRectF(-half_width, -half_height, 2 * half_width, 2 * half_height));
  p.setBrush(QColor(0x80, 0x80, 0x80));
  p.drawChord(QRectF(-2.5, -half_height - 2.5, 5, 5), 180 * 16, 180 * 16);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xC0, 0xC0, 0xC0));
  p.drawEllipse(QPointF(-3.5, -7.5), 1.2, 1.2);
  p.end();
  return ToSixteenColours(image);
}

}  // namespace orvane::ui
