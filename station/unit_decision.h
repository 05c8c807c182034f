// Whether a unit on the line gets the job, and which serial number it
// carries away, decided from its own number and the records before anything
// is written. A number these records gave to a finished unit stays with that
// unit; a number of the job's range these records never gave was counted by
// another record store, and writing over it would give one number twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/model.h"
#include "station/job.h"
#include "station/record_store.h"

namespace orvane::station {

struct UnitVerdict {
  enum class Kind {
    kAlreadyDone,  // its number went to a done run of this job: nothing written
    kKeep,         // done by another job (rework): the job runs, the number stays
    kAgain,        // given only to runs that did not end done: given again
    kForeign,      // in the range, never given by these records: nothing written
    kFresh,        // a fresh number from the counter when the constants are written
  };
  Kind kind = Kind::kFresh;
  std::string done_at;  // kAlreadyDone: when that run ended

  bool RunsJob() const { return kind == Kind::kKeep || kind == Kind::kAgain || kind == Kind::kFresh; }
};

// `serial`: the number the unit reports; `given`: the runs these records
// gave that number to; `session`: what this session's runs record.
UnitVerdict DecideUnit(std::optional<std::int64_t> serial, const std::optional<SerialRange>& range,
                       const std::vector<RunRecord>& given, const RunStart& session);

// Whether the unit read after polls resumed is the one whose job ended on
// this line a moment ago: the same constants and the same files. A silence
// shorter than a swap (a loaded machine, a cable moved) must not make a
// finished unit a new one.
bool SameUnit(const device::DeviceModel& ended, const device::DeviceModel& read);

}  // namespace orvane::station
