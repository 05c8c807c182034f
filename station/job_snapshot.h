// A job as a session runs it: the job file's files read once when the
// session starts. Every unit gets these bytes, and the records carry their
// SHA-256, whatever happens to the files on disk meanwhile: a bench keeps
// one image for the batch, and the operator restarts the session to take a
// new one.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "station/job.h"
#include "station/outcome.h"
#include "station/record_store.h"

namespace orvane::station {

struct SnapshotFile {
  std::string path;  // absolute, as the job names it
  std::vector<std::uint8_t> bytes;
  std::string sha256;  // of `bytes`, lower-case hex
  // What the file on disk looked like when it was read.
  std::uintmax_t size = 0;
  std::timespec mtime{};
};

struct JobSnapshot {
  Job job;
  std::optional<SnapshotFile> image;
  std::vector<SnapshotFile> plans;  // in the job's order
  SnapshotFile job_file;            // the job file's look only, no bytes

  // Reads every file of the job; an error names a file that cannot be read.
  static Outcome<JobSnapshot> Read(Job job);

  // The record of a run of these bytes.
  RunStart RunStartFor(const std::string& port, const std::string& usb_serial, const std::string& version) const;
  // The first file of the job whose size or modification time differs from
  // what was read (or that is gone), if any.
  std::optional<std::string> ChangedOnDisk() const;
};

std::string Sha256Hex(const std::vector<std::uint8_t>& bytes);

}  // namespace orvane::station
