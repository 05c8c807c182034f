// The widget tests run on the offscreen platform, with a settings folder and
// a folder of port names of their own, set before anything reads them.
#include <QApplication>
#include <QStyleFactory>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "l10n/l10n.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::string folder = (std::filesystem::temp_directory_path() / "orvane-ui-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return 2;
  const std::filesystem::path root(folder);
  std::filesystem::create_directories(root / "config");
  std::filesystem::create_directories(root / "ports");
  setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  setenv("ORVANE_PORT_DIR", (root / "ports").c_str(), 1);
  orvane::l10n::SetUpFor(argv[0], "ru");  // as the program does
  int result = 0;
  {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvane"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    ::testing::InitGoogleTest(&argc, argv);
    result = RUN_ALL_TESTS();
  }
  std::filesystem::remove_all(root);
  return result;
}
