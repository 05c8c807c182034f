#include "station/engine_records.h"

namespace orvane::station {

Outcome<std::vector<RunRecord>> RunsWithSerial(RecordStore& store, std::int64_t serial) {
  return store.History({.serial = serial, .since = {}});
}

Outcome<SerialGrant> KeepSerial(RecordStore&, std::int64_t, std::int64_t serial) {
  return Outcome<SerialGrant>::Done({static_cast<std::int32_t>(serial), false});
}

static_assert(static_cast<int>(JobStep::kCheck) == static_cast<int>(StepKind::kCheck) &&
              static_cast<int>(JobStep::kPlan) == static_cast<int>(StepKind::kPlan) &&
              static_cast<int>(JobStep::kConnect) == static_cast<int>(StepKind::kConnect));

StepKind StepKindOf(JobStep step) { return static_cast<StepKind>(static_cast<int>(step)); }

}  // namespace orvane::station
