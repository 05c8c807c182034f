// The look shared by the program's windows: colours, the font and the flat
// drawing of the controls.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QWidget;

namespace orvane::ui {

inline const QColor kWindowColour{0xE8, 0xFF, 0xD2};   // main window background
inline const QColor kToolBarColour{0xA4, 0xD1, 0xFF};  // tool bar
inline const QColor kFixedCellColour{0xFF, 0xD3, 0xA8};  // file table header cells
inline const QColor kDialogColour{0x80, 0x00, 0x00};   // port dialog background (maroon)

// The window font: a sans-serif face with Cyrillic at 11 pixels, the height
// the windows were laid out for. Liberation Sans has the metrics of the
// narrow sans-serif faces that layout assumes; DejaVu Sans is the fallback.
QFont WindowFont(bool bold = false);
// The narrow cut of the same face, for the queue counter, whose label is
// sized for a short text but shows queues of thousands of commands.
QFont NarrowFont(bool bold = false);

// Paints a widget's background in the given colour.
void FillBackground(QWidget* widget, const QColor& colour);

// Style rules that draw edits, combo boxes, the log, the table and the group
// boxes flat: a single dark line instead of a sunken 3-D border. Combo boxes
// keep the style's own frame, which draws their drop-down arrow.
QString FlatStyleSheet();

// The window font as a style-sheet declaration, for controls whose rules
// would otherwise bring the default font back.
QString FontRule(bool bold);

}  // namespace orvane::ui
