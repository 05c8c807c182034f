// What a unit holds at a run's end, from what the position's worker knows
// then: the step it ended in, how that step's operation ended, what became
// of the image.
#pragma once

#include "link/operation_end.h"
#include "station/events.h"
#include "station/record_store.h"
#include "station/unit_holds.h"

namespace orvane::station {

// How the operation of the step a run ended in ended, as far as the unit's
// contents go.
enum class StepLeft {
  kNotSeen,              // no end of the step's operation came
  kComplete,             // it ended done, or nothing of it was left
  kFirmwareUntouched,    // cleared before any image chunk went out
  kFirmwareInPart,       // image chunks were left unwritten
  kFirmwareUnverified,   // written, verify chunks left
  kFirmwareDiffers,      // the verify pass found a difference
  kFileInPart,           // a file was created and not all its chunks answered
  kCleared,              // cleared with nothing of the above
};
StepLeft StepLeftOf(const link::OperationEnd& outcome);

// What the worker knows when a run ends.
struct RunFacts {
  // The job's parts.
  bool job_image = false;
  bool job_erase = false;
  int job_plans = 0;
  bool job_constants = false;  // a constants step (constants or a serial number)
  bool job_serial = false;
  // The run.
  bool done = false;
  JobStep step = JobStep::kNone;  // the step it ended in when not done
  int plan = 0;
  FailureCause cause = FailureCause::kNone;
  ImageAction image = ImageAction::kNone;  // kWritten: the write was queued
  StepLeft left = StepLeft::kNotSeen;      // the end of that step's operation
};

UnitHolds DeriveHolds(const RunFacts& facts);

}  // namespace orvane::station
