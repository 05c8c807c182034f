#include "station/job_snapshot.h"

#include <sys/stat.h>

#include <QCryptographicHash>
#include <QString>
#include <QSysInfo>
#include <filesystem>

#include "device/session.h"

namespace orvane::station {
namespace {

// The look comes before the read: a file written while it is read then
// counts as changed.
SnapshotFile LookAt(const std::string& path) {
  SnapshotFile file;
  file.path = path;
  struct stat info{};
  if (::stat(path.c_str(), &info) == 0) {
    file.size = static_cast<std::uintmax_t>(info.st_size);
    file.mtime = info.st_mtim;
  }
  return file;
}

Outcome<SnapshotFile> ReadSnapshotFile(const std::string& path) {
  SnapshotFile file = LookAt(path);
  try {
    file.bytes = device::ReadWholeFile(path);
  } catch (const device::FileError& failure) {
    return Outcome<SnapshotFile>::Failed(failure.what());
  }
  file.sha256 = Sha256Hex(file.bytes);
  return Outcome<SnapshotFile>::Done(std::move(file));
}

bool Changed(const SnapshotFile& file) {
  struct stat info{};
  if (::stat(file.path.c_str(), &info) != 0) return true;
  return static_cast<std::uintmax_t>(info.st_size) != file.size || info.st_mtim.tv_sec != file.mtime.tv_sec ||
         info.st_mtim.tv_nsec != file.mtime.tv_nsec;
}

}  // namespace

std::string Sha256Hex(const std::vector<std::uint8_t>& bytes) {
  const QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
  return QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().toStdString();
}

Outcome<JobSnapshot> JobSnapshot::Read(Job job) {
  JobSnapshot snapshot;
  snapshot.job_file = LookAt(job.file);
  if (job.image) {
    auto image = ReadSnapshotFile(*job.image);
    if (!image) return Outcome<JobSnapshot>::Failed(image.error);
    snapshot.image = std::move(*image.value);
  }
  for (const std::string& path : job.plans) {
    auto plan = ReadSnapshotFile(path);
    if (!plan) return Outcome<JobSnapshot>::Failed(plan.error);
    snapshot.plans.push_back(std::move(*plan.value));
  }
  snapshot.job = std::move(job);
  return Outcome<JobSnapshot>::Done(std::move(snapshot));
}

RunStart JobSnapshot::RunStartFor(const std::string& port, const std::string& usb_serial,
                                  const std::string& version) const {
  RunStart start;
  start.port = port;
  start.usb_serial = usb_serial;
  start.constants = job.constants;
  start.version = version;
  start.station = QSysInfo::machineHostName().toStdString();
  start.position = port;
  if (image) start.image_sha256 = image->sha256;
  for (const SnapshotFile& plan : plans) {
    start.plans.push_back({std::filesystem::path(plan.path).filename().string(), plan.sha256});
  }
  return start;
}

std::optional<std::string> JobSnapshot::ChangedOnDisk() const {
  if (Changed(job_file)) return job.file;
  if (image && Changed(*image)) return image->path;
  for (const SnapshotFile& plan : plans) {
    if (Changed(plan)) return plan.path;
  }
  return std::nullopt;
}

}  // namespace orvane::station
