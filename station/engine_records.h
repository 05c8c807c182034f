// What the engine asks of the record store beyond starting and finishing
// runs, in one place: the runs a serial number was given to, and a number
// kept by a unit that is worked again.
#pragma once

#include <cstdint>
#include <vector>

#include "station/events.h"
#include "station/outcome.h"
#include "station/record_store.h"

namespace orvane::station {

Outcome<std::vector<RunRecord>> RunsWithSerial(RecordStore& store, std::int64_t serial);
// The unit keeps the number a done run of another job gave it. The store
// keeps no row for it yet: the run's record then carries no number.
Outcome<SerialGrant> KeepSerial(RecordStore& store, std::int64_t run, std::int64_t serial);

// The records' name of a job step (the two enums hold the same values).
StepKind StepKindOf(JobStep step);

}  // namespace orvane::station
