// The look shared by the program's windows: colours, the font and the flat
// drawing of the controls.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace orvane::ui {

inline const QColor kWindowColour{0xE8, 0xFF, 0xD2};     // main window background
inline const QColor kToolBarColour{0xA4, 0xD1, 0xFF};    // tool bar
inline const QColor kFixedCellColour{0xFF, 0xD3, 0xA8};  // file table header cells
inline const QColor kDialogColour{0x80, 0x00, 0x00};     // port dialog background (maroon)

// The window font: a sans-serif face with Cyrillic at 11 pixels, the height
// the windows were laid out for. Liberation Sans has the metrics of the
// narrow sans-serif faces that layout assumes; DejaVu Sans is the fallback.
QFont WindowFont(bool bold = false);

// A word-wrapping label in the window font at the given pixel size: the
// station window's texts, read from a distance.
QLabel* WrappedLabel(int pixels, bool bold, QWidget* parent);

// Paints a widget's background in the given colour.
void FillBackground(QWidget* widget, const QColor& colour);

// The style sheet of a window: every control in it, and every box or dialog
// opened over it, takes the window font (a widget under a style sheet
// inherits no font from its parent, so the face and size are given here;
// widgets set bold keep their weight), and edits, combo boxes, buttons, the
// progress bar, the log, the table and the group boxes are drawn flat: a
// single dark line instead of a bevelled, rounded or shaded border.
QString FlatStyleSheet();

}  // namespace orvane::ui
