// The facts of a run's record that the station's views read beyond the
// common ones, in one place.
#pragma once

#include <optional>
#include <string>

#include "station/events.h"
#include "station/record_store.h"

namespace orvane::ui {

struct RecordFacts {
  std::string station;
  std::string position;
  std::string trace;
  station::JobStep failed_step = station::JobStep::kNone;
  int failed_plan = 0;
  std::optional<station::UnitHolds> holds;  // none for a row that does not say
};

RecordFacts FactsOf(const station::RunRecord& record);

}  // namespace orvane::ui
