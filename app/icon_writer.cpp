// Writes the program icon as a PNG file for the desktop's icon theme.
#include <QGuiApplication>

#include <cstdio>

#include "ui/icons.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: orvane-icon-writer FILE.png\n");
    return 2;
  }
  QGuiApplication app(argc, argv);
  return orvane::ui::ProgramIcon().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
