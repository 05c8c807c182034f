#include "app/station_demo.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

#include "app/demo_files.h"

namespace orvane::app {
namespace {

std::string In(const QTemporaryDir& folder, const char* name) {
  return QDir(folder.path()).filePath(QString::fromUtf8(name)).toStdString();
}

void WriteJob(const std::string& path) {
  QFile job(QString::fromStdString(path));
  const QByteArray text =
      "image = \"files/прошивка.mts\"\n"
      "erase = true\n"
      "plans = [\"files/годовой план.yp1\", \"files/кольцевой план.R0\"]\n"
      "[constants]\n"
      "id = \"Пульт-7\"\n"
      "tz = 180\n"
      "[serial]\n"
      "first = 100000\n"
      "last = 100999\n";
  if (!job.open(QIODevice::WriteOnly) || job.write(text) != text.size()) {
    throw std::runtime_error("cannot write the demo job " + path);
  }
}

}  // namespace

StationDemo::StationDemo(const std::vector<DemoModem>& modems) {
  if (!folder_.isValid()) throw std::runtime_error("no temporary folder for the demo");
  const QString files = QDir(folder_.path()).filePath(QStringLiteral("files"));
  if (!QDir().mkpath(files) || WriteDemoFiles(files).isEmpty()) throw std::runtime_error("cannot write the demo files");
  ports_ = In(folder_, "ports");
  if (!QDir().mkpath(QString::fromStdString(ports_))) throw std::runtime_error("cannot make " + ports_);
  job_ = In(folder_, "batch.toml");
  WriteJob(job_);
  store_ = In(folder_, "station.sqlite");
  qputenv("ORVANE_PORT_DIR", QByteArray::fromStdString(ports_));
  for (std::size_t i = 0; i < modems.size(); ++i) {
    sim::SimOptions options;
    options.capacity = modems[i].capacity;
    options.seed = i + 1;
    options.link_path = ports_ + "/ttyUSB" + std::to_string(i);
    modems_.push_back(std::make_unique<sim::Simulator>(options));
    modems_.back()->Start();
  }
}

StationDemo::~StationDemo() {
  for (auto& modem : modems_) modem->Stop();
}

}  // namespace orvane::app
