// How a reason names the step of a unit's job it comes from: image, erase,
// plan N (NAME), constants, check.
#pragma once

#include <string>

#include "station/events.h"
#include "station/job.h"

namespace orvane::station {

std::string StepText(const Job& job, JobStep step, int plan);

}  // namespace orvane::station
