// The program's artwork, drawn in code: the tool-button images of the image
// list and the program icon.
#pragma once

#include <QImage>

namespace orvane::ui {

// Indices into ImageList1 of the images the tool bar shows.
enum ImageIndex {
  kImageSettings = 0,  // screwdriver and wrench
  kImageSheet = 2,     // sheet with lines
  kImageAddFile = 8,   // red arrow pointing into a sheet
  kImageErase = 10,    // eraser with an exclamation mark
  kImageRefresh = 12,  // red circular arrow
  kImageDevice = 14,   // the console: a box with a dark display and a red lamp
};

inline constexpr int kImageListCount = 18;
inline constexpr int kImageSize = 16;
inline constexpr int kProgramIconSize = 32;

// A 16 x 16 image of ImageList1; indices the tool bar does not use give an
// empty (fully transparent) image.
QImage ImageList1(int index);

// The 32 x 32 program icon in the 16 colours of the classic palette plus a
// transparent one: a microchip in a dual in-line package with yellow pins,
// drawn at a slant.
QImage ProgramIcon();

}  // namespace orvane::ui
