#include "ui/icons.h"

#include <gtest/gtest.h>

#include <set>

namespace orvane::ui {
namespace {

bool AnyVisible(const QImage& image) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) != 0) return true;
  return false;
}

TEST(Icons, ImageListHoldsSixteenPixelImagesAndShowsSix) {
  const std::set<int> shown{kImageSettings, kImageSheet, kImageAddFile, kImageErase, kImageRefresh,
                            kImageDevice};
  std::set<QByteArray> distinct;
  for (int index = 0; index < kImageListCount; ++index) {
    const QImage image = ImageList1(index);
    EXPECT_EQ(image.size(), QSize(16, 16)) << index;
    EXPECT_EQ(AnyVisible(image), shown.count(index) == 1) << index;
    if (shown.count(index))
      distinct.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
  }
  EXPECT_EQ(distinct.size(), shown.size());
}

TEST(Icons, ProgramIconIsAChipInSixteenColoursWithYellowPins) {
  const QImage icon = ProgramIcon();
  ASSERT_EQ(icon.size(), QSize(32, 32));
  ASSERT_EQ(icon.format(), QImage::Format_Indexed8);
  EXPECT_LE(icon.colorCount(), 17);  // sixteen colours and transparent
  int yellow = 0, black = 0, transparent = 0;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 32; ++x) {
      const QRgb pixel = icon.pixel(x, y);
      if (qAlpha(pixel) == 0) ++transparent;
      else if (pixel == qRgb(0xFF, 0xFF, 0x00)) ++yellow;
      else if (pixel == qRgb(0, 0, 0)) ++black;
    }
  }
  EXPECT_GT(yellow, 20);
  EXPECT_GT(black, 150);
  EXPECT_GT(transparent, 300);
  // At a slant: the package's top row and bottom row are not in the same
  // columns.
  auto first_dark_column = [&](int y) {
    for (int x = 0; x < 32; ++x)
      if (icon.pixel(x, y) == qRgb(0, 0, 0)) return x;
    return -1;
  };
  EXPECT_NE(first_dark_column(8), first_dark_column(24));
}

}  // namespace
}  // namespace orvane::ui
