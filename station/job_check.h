// The last refresh of a unit against the whole job: its plans on the
// console (with erase exactly its plans), its constants and the serial
// number given.
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

}  // namespace orvane::station
