// Every test process gets its own settings folder before QSettings is first
// used, and the QCoreApplication the component needs.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QCoreApplication>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  std::string folder = (std::filesystem::temp_directory_path() / "orvane-serial-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) return 2;
  setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  unsetenv("ORVANE_PORT_DIR");
  int result = 0;
  {
    QCoreApplication app(argc, argv);
    result = RUN_ALL_TESTS();
  }
  std::filesystem::remove_all(folder);
  return result;
}
