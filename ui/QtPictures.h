// The window's pictures, painted when the window is made rather than kept as files: they
// scale with nothing and cost a few milliseconds. Need a QGuiApplication.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace qvu {

QPixmap PaintBackground(const QString& fontFamily);   // 640 x 400
QPixmap PaintUpdateGlyph(const QString& fontFamily);  // 72 x 72, picture and label
QPixmap PaintCloseGlyph(const QString& fontFamily);   // 72 x 72, picture and label
QIcon PaintWindowIcon();

}  // namespace qvu
