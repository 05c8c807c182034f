// The last refresh of a unit against the whole job: its plans on the
// console (with erase exactly its plans), its constants and the serial
// number given; and why a unit cannot take a file of the job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "device/model.h"
#include "station/job_snapshot.h"

namespace orvane::station {

// Why the console does not hold the job, or nothing when it does.
std::optional<std::string> JobMismatch(const JobSnapshot& snapshot, const device::DeviceModel& model,
                                       std::optional<std::int64_t> serial);

// Why a unit refused a plan of the job, with the figures when it does not
// fit: the unit's free space and the space the plan needs.
std::string PlanRefusal(const SnapshotFile& plan, const device::DeviceModel& model);
// Why a unit refused the job's image, with its size and the largest one.
std::string ImageRefusal(const SnapshotFile& image);

}  // namespace orvane::station
