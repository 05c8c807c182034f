#include "ui/look.h"

#include <QFontInfo>
#include <QLabel>
#include <QPalette>
#include <QWidget>

// The style sheet's pictures are compiled into this library; a static
// library's resources are registered by a call from its own code.
static void RegisterLookResources() { Q_INIT_RESOURCE(look); }

namespace orvane::ui {

QFont WindowFont(bool bold) {
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  font.setBold(bold);
  return font;
}

QLabel* WrappedLabel(int pixels, bool bold, QWidget* parent) {
  auto* label = new QLabel(parent);
  QFont font = WindowFont(bold);
  font.setPixelSize(pixels);
  label->setFont(font);
  label->setWordWrap(true);
  return label;
}

void FillBackground(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, colour);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
}

// The face is named as the font system resolved it, so that a machine
// without the first choice gets the same fallback here as everywhere else.
// The text part of a combo box is an edit too; it gets no frame of its own.
QString FlatStyleSheet() {
  static const bool registered = (RegisterLookResources(), true);
  (void)registered;
  const QFont font = WindowFont();
  return QStringLiteral(
             "* { font-family: '%1'; font-size: %2px; }"
             "QLineEdit, QPlainTextEdit, QTableWidget { border: 1px solid #404040; background: white; }"
             "QComboBox { border: 1px solid #404040; background: white; padding: 0 2px; }"
             "QComboBox QLineEdit { border: 0; }"
             "QComboBox::drop-down { width: 15px; border-left: 1px solid #404040; background: #E4E4E4; }"
             "QComboBox::down-arrow { image: url(:/look/arrow_down.xpm); }"
             "QComboBox::down-arrow:on { top: 1px; }"
             "QComboBox QAbstractItemView { border: 1px solid #404040; background: white;"
             "  selection-background-color: #000080; selection-color: white; }"
             "QProgressBar { border: 1px solid #404040; background: white; }"
             "QProgressBar::chunk { background: #000080; }"
             "QPushButton { border: 1px solid #404040; background: #E4E4E4; padding: 0 4px; }"
             "QPushButton:default { border: 2px solid #000000; }"
             "QPushButton:pressed { background: #C8C8C8; }"
             "QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 0; }"
             "QGroupBox { border: 1px solid #404040; margin-top: 6px; }"
             "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }")
      .arg(QFontInfo(font).family())
      .arg(font.pixelSize());
}

}  // namespace orvane::ui
