#include "ui/QtPictures.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>
#include <functional>

namespace qvu {

namespace {

constexpr int kGlyphSize = 72;
const QColor kDeepBlue(0x1b, 0x4a, 0x8a);
const QColor kFrame(0x9f, 0xb3, 0xcc);

QFont PictureFont(const QString& family, int pixelSize, bool bold) {
  QFont font(family);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

QImage Transparent(int width, int height) {
  QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

// A coloured disc with a white symbol over the glyph's label; the label is part of the
// picture, since a speed button has no caption of its own.
QPixmap PaintGlyph(const QString& family, const QColor& light, const QColor& dark,
                   const QString& label, const std::function<void(QPainter&)>& symbol) {
  QImage image = Transparent(kGlyphSize, kGlyphSize);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  QRadialGradient gradient(QPointF(30, 18), 34);
  gradient.setColorAt(0, light);
  gradient.setColorAt(1, dark);
  painter.setPen(QPen(dark.darker(130), 1.5));
  painter.setBrush(gradient);
  painter.drawEllipse(QRectF(12, 2, 48, 48));
  symbol(painter);
  painter.setFont(PictureFont(family, 13, true));
  painter.setPen(QColor(0x22, 0x33, 0x44));
  painter.drawText(QRect(0, 52, kGlyphSize, 20), Qt::AlignCenter, label);
  painter.end();
  return QPixmap::fromImage(image);
}

}  // namespace

QPixmap PaintBackground(const QString& family) {
  QImage image(640, 400, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);

  QLinearGradient body(0, 0, 0, 400);
  body.setColorAt(0, QColor(0xf7, 0xf9, 0xfc));
  body.setColorAt(1, QColor(0xd9, 0xe4, 0xf1));
  painter.fillRect(image.rect(), body);

  // The title band with the product's name.
  QLinearGradient band(0, 0, 640, 0);
  band.setColorAt(0, kDeepBlue);
  band.setColorAt(1, QColor(0x3f, 0x86, 0xc8));
  painter.fillRect(QRect(0, 0, 640, 84), band);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(255, 255, 255, 28));
  painter.drawEllipse(QPointF(560, 20), 90, 90);
  painter.drawEllipse(QPointF(610, 70), 50, 50);
  painter.fillRect(QRect(0, 84, 640, 3), QColor(0x7c, 0xc5, 0x3a));

  painter.setPen(Qt::white);
  painter.setFont(PictureFont(family, 30, true));
  painter.drawText(QRect(40, 10, 560, 44), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("QueltaVersionUp"));
  painter.setFont(PictureFont(family, 14, false));
  painter.drawText(QRect(42, 52, 560, 24), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("バージョンアップ"));

  // Headings and thin frames for the two lists, which are flat themselves.
  painter.setFont(PictureFont(family, 12, true));
  painter.setPen(kDeepBlue);
  painter.drawText(QRect(56, 100, 241, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("更新するファイル"));
  painter.drawText(QRect(350, 100, 241, 18), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("更新したファイル"));
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(kFrame, 1));
  painter.drawRect(QRectF(55.5, 119.5, 242, 186));
  painter.drawRect(QRectF(349.5, 119.5, 242, 186));
  return QPixmap::fromImage(image);
}

QPixmap PaintUpdateGlyph(const QString& family) {
  return PaintGlyph(family, QColor(0x9b, 0xe0, 0x6a), QColor(0x3a, 0x9a, 0x2a),
                    QStringLiteral("更新"), [](QPainter& painter) {
                      // A downward arrow into a tray: the new files come in.
                      painter.setPen(Qt::NoPen);
                      painter.setBrush(Qt::white);
                      painter.drawPolygon(QPolygonF(
                          {QPointF(31, 10), QPointF(41, 10), QPointF(41, 25), QPointF(48, 25),
                           QPointF(36, 38), QPointF(24, 25), QPointF(31, 25)}));
                      painter.setPen(
                          QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                      painter.setBrush(Qt::NoBrush);
                      painter.drawPolyline(QPolygonF(
                          {QPointF(22, 36), QPointF(22, 42), QPointF(50, 42), QPointF(50, 36)}));
                    });
}

QPixmap PaintCloseGlyph(const QString& family) {
  return PaintGlyph(family, QColor(0xf3, 0x8d, 0x80), QColor(0xc0, 0x39, 0x2b),
                    QStringLiteral("閉じる"), [](QPainter& painter) {
                      painter.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
                      painter.drawLine(QPointF(27, 17), QPointF(45, 35));
                      painter.drawLine(QPointF(45, 17), QPointF(27, 35));
                    });
}

QIcon PaintWindowIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48, 64}) {
    QImage image = Transparent(size, size);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 64.0, size / 64.0);
    QLinearGradient face(0, 0, 0, 64);
    face.setColorAt(0, QColor(0x3f, 0x86, 0xc8));
    face.setColorAt(1, kDeepBlue);
    painter.setPen(Qt::NoPen);
    painter.setBrush(face);
    painter.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    // A white ring and a green arrow pointing up: a new version.
    painter.setPen(QPen(Qt::white, 7));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(13, 13, 38, 38));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x7c, 0xd5, 0x3a));
    painter.drawPolygon(QPolygonF({QPointF(32, 16), QPointF(46, 32), QPointF(37, 32),
                                   QPointF(37, 46), QPointF(27, 46), QPointF(27, 32),
                                   QPointF(18, 32)}));
    painter.end();
    icon.addPixmap(QPixmap::fromImage(image));
  }
  return icon;
}

}  // namespace qvu
