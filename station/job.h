// Job files of the provisioning station: what every modem of a batch gets,
// written in TOML.
//
//   image = "main.mts"                  # written and verified
//   erase = true                        # all files erased before the plans
//   plans = ["plan 12.yp1", "ring.R0"]  # uploaded in this order
//   [constants]                         # id, tz, summer, local, global
//   id = "Пульт-7"
//   tz = 180
//   [serial]                            # the station counter, first to last
//   first = 100000
//   last = 199999
//
// Every part is optional, but a job has to do something. Paths are taken
// relative to the job file's folder. The serial number is never a constant
// of the job: each modem gets its own from the station counter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/constants_fields.h"
#include "station/outcome.h"

namespace orvane::station {

// Constants written to every modem of a job; empty fields stay as they are.
// A job never sets the serial number here (a field of one console's own).
using Constants = device::ConstantsChange;

// The serial numbers a job hands out, both ends included; positive and
// within the constants block's field.
struct SerialRange {
  std::int32_t first = 0;
  std::int32_t last = 0;

  bool Contains(std::int64_t serial) const { return serial >= first && serial <= last; }
  std::string Text() const;  // "100000 to 199999"
  bool operator==(const SerialRange&) const = default;
};

struct Job {
  std::string file;                  // the job file, absolute
  std::optional<std::string> image;  // absolute path
  bool erase = false;
  std::vector<std::string> plans;    // absolute paths, in upload order
  Constants constants;
  std::optional<SerialRange> serial;
};

// Job files are small; a larger one is refused before it is read.
inline constexpr std::uintmax_t kJobFileLimit = 1 << 20;

// Reads and checks a job file. The error names the file and, where there is
// one, the line: a syntax error, an unknown key (with its dotted path), a
// value of the wrong type or out of range, a plan listed twice or with a
// name the console cannot store, a job that does nothing.
Outcome<Job> ReadJob(const std::string& path);
// The same for a text already read; `path` names the job in errors and its
// folder is the base of relative paths (the file need not exist).
Outcome<Job> ParseJob(std::string_view text, const std::string& path);

}  // namespace orvane::station
