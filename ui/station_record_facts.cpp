#include "ui/station_record_facts.h"

namespace orvane::ui {
namespace {

using station::JobStep;
using station::StepKind;

JobStep StepOf(StepKind step) {
  switch (step) {
    case StepKind::kNone: return JobStep::kNone;
    case StepKind::kConnect: return JobStep::kConnect;
    case StepKind::kIdentify: return JobStep::kIdentify;
    case StepKind::kImage: return JobStep::kImage;
    case StepKind::kErase: return JobStep::kErase;
    case StepKind::kPlan: return JobStep::kPlan;
    case StepKind::kConstants: return JobStep::kConstants;
    case StepKind::kCheck: return JobStep::kCheck;
  }
  return JobStep::kNone;
}

}  // namespace

RecordFacts FactsOf(const station::RunRecord& record) {
  return {record.station, record.position, record.trace, StepOf(record.failed_step), record.failed_plan,
          station::HoldsFromJson(record.holds_json)};
}

}  // namespace orvane::ui
