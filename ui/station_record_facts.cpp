#include "ui/station_record_facts.h"

namespace orvane::ui {

// PENDING the record store's new fields: nothing to read yet.
RecordFacts FactsOf(const station::RunRecord&) { return {}; }

}  // namespace orvane::ui
