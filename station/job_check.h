// The last refresh of a unit against the whole job: its plans on the
// console (with erase exactly its plans), its constants and the serial
// number given; why a unit cannot take a file of the job; and why no unit
// could, before any is touched.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "device/file_rules.h"
#include "device/model.h"
#include "station/job.h"
#include "station/job_snapshot.h"

namespace orvane::station {

// The first file of a job, the image and then the plans in order, that
// cannot be read or that no console would take (device/file_rules.h).
struct JobFileRefusal {
  enum class Part { kImage, kPlan };
  Part part = Part::kImage;
  std::string path;
  std::variant<device::FileLook, device::ImageVerdict, device::PlanVerdict> why;
};
// `force`: the operator vouched for an empty or foreign image.
std::optional<JobFileRefusal> CheckJobFiles(const Job& job, bool force);

// Why the console does not hold the job, or nothing when it does.
std::optional<std::string> JobMismatch(const JobSnapshot& snapshot, const device::DeviceModel& model,
                                       std::optional<std::int64_t> serial);

// Why a unit refused a plan of the job, with the figures when it does not
// fit: the unit's free space and the space the plan needs.
std::string PlanRefusal(const SnapshotFile& plan, const device::DeviceModel& model);
// Why a unit refused the job's image, with its size and the largest one.
std::string ImageRefusal(const SnapshotFile& image);

}  // namespace orvane::station
