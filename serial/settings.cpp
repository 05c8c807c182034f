#include "serial/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QVariant>
#include <cerrno>
#include <cstring>

namespace orvane::serial {
namespace {

// QSettings at the user's configuration location: on Linux the file
// $XDG_CONFIG_HOME/Veltranix/Orvane.conf (~/.config when unset).
QSettings OpenStore() { return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Veltranix", "Orvane"); }

constexpr const char* kValueName = "ComPort";

// Opening a registry key creates it; here that is the store's file. Failure
// is not looked at: such a store reads as empty.
void CreateStoreWhenMissing(const QString& file_name) {
  if (QFileInfo::exists(file_name)) return;
  QDir().mkpath(QFileInfo(file_name).absolutePath());
  QFile file(file_name);
  if (file.open(QIODevice::WriteOnly | QIODevice::Append)) file.close();
}

}  // namespace

std::optional<std::string> LoadComPort() {
  QSettings store = OpenStore();
  CreateStoreWhenMissing(store.fileName());
  store.sync();
  if (!store.contains(kValueName)) return std::nullopt;
  const QVariant value = store.value(kValueName);
  if (value.typeId() != QMetaType::QString) throw SettingsError("Invalid data type for 'ComPort'");
  return value.toString().toStdString();
}

void SaveComPort(const std::string& name) {
  QSettings store = OpenStore();
  store.setValue(kValueName, QString::fromStdString(name));
  store.sync();
  if (store.status() != QSettings::NoError) throw SettingsError("Failed to set data for 'ComPort'");
}

std::optional<std::string> SettingsProblem() {
  const QSettings store = OpenStore();
  const std::string file = store.fileName().toStdString();
  switch (store.status()) {
    case QSettings::AccessError: {
      struct stat info{};
      const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
      const int error = fd < 0 ? errno : ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) ? EISDIR : EIO;
      if (fd >= 0) ::close(fd);
      return "the settings file " + file + " cannot be read: " + std::strerror(error);
    }
    case QSettings::FormatError:
      return "the settings file " + file + " cannot be parsed";
    case QSettings::NoError:
      break;
  }
  return std::nullopt;
}

}  // namespace orvane::serial
