#include "ui/look.h"

#include <QPalette>
#include <QWidget>

namespace orvane::ui {

QFont WindowFont(bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  font.setBold(bold);
  return font;
}

QFont NarrowFont(bool bold) {
  QFont font = WindowFont(bold);
  font.setFamilies({QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans Condensed")});
  return font;
}

void FillBackground(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

// The text part of a combo box is an edit too; it gets no frame of its own.
QString FlatStyleSheet() {
  return QStringLiteral(
             "QLineEdit, QPlainTextEdit, QTableWidget { border: 1px solid #404040; background: white; }"
             "QComboBox QLineEdit { border: 0; }"
             "QGroupBox { border: 1px solid #404040; margin-top: 6px; }"
             "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }");
}

QString FontRule(bool bold) {
  const QFont font = WindowFont(bold);
  return QStringLiteral("font-family: '%1'; font-size: %2px; font-weight: %3;")
      .arg(font.families().constFirst())
      .arg(font.pixelSize())
      .arg(bold ? QStringLiteral("bold") : QStringLiteral("normal"));
}

}  // namespace orvane::ui
