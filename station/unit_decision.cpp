#include "station/unit_decision.h"

#include <algorithm>

namespace orvane::station {

UnitVerdict DecideUnit(std::optional<std::int64_t> serial, const std::optional<SerialRange>& range,
                       const std::vector<RunRecord>& given, const RunStart& session) {
  using Kind = UnitVerdict::Kind;
  if (!serial) return {Kind::kFresh, {}};
  std::vector<const RunRecord*> mine;
  for (const RunRecord& run : given) {
    if (run.serial == serial) mine.push_back(&run);
  }
  const auto done = [](const RunRecord* run) { return run->result == RunResult::kDone; };
  // The newest done run of this job says when.
  for (auto run = mine.rbegin(); run != mine.rend(); ++run) {
    if (done(*run) && SameJob(**run, session)) return {Kind::kAlreadyDone, (*run)->finished};
  }
  if (std::any_of(mine.begin(), mine.end(), done)) return {Kind::kKeep, {}};
  if (!mine.empty()) return {Kind::kAgain, {}};
  if (range && range->Contains(*serial)) return {Kind::kForeign, {}};
  return {Kind::kFresh, {}};
}

bool SameUnit(const device::DeviceModel& ended, const device::DeviceModel& read) {
  return ended.fields == read.fields && ended.directory.files == read.directory.files;
}

}  // namespace orvane::station
