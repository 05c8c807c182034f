// What a unit holds when its run ends: its main program, its files, its
// constants and serial number, each as a value. Derived from what the
// position's worker knows at the end, kept in the records as a JSON object,
// and told by the views; whatever is not the job's whole result means the
// unit must come back.
#pragma once

#include <optional>
#include <string>

#include "link/outcome.h"
#include "station/events.h"
#include "station/record_store.h"

namespace orvane::station {

enum class MainProgram {
  kUntouched,      // the job has no image, or the run ended before its write
  kWhole,          // written and verified, or held already
  kWrittenInPart,  // the write ended before its last chunk was answered
  kNotVerified,    // written; the verify pass never ran to its end
  kWithErrors,     // the verify pass found a difference
};

enum class UnitFiles {
  kAsJobWants,
  kFileInPart,    // plan `plan` was written in part
  kNotErased,     // the erase did not finish
  kUntouched,     // the job touches no files, or the run ended before it did
  kPlansMissing,  // plans from `plan` on were not written
  kDiffer,        // the last refresh did not show the job
};

struct UnitHolds {
  MainProgram main_program = MainProgram::kUntouched;
  UnitFiles files = UnitFiles::kUntouched;
  int plan = 0;  // 1-based, for kFileInPart and kPlansMissing
  bool constants = false;  // the job's constants were written
  bool serial = false;     // the serial number was written
  bool whole_job = false;  // every part is as the job wants it
  bool operator==(const UnitHolds&) const = default;
};

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
StepLeft StepLeftOf(const link::Outcome& outcome);

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
bool MustComeBack(const UnitHolds& holds);

std::string HoldsToJson(const UnitHolds& holds);
// Nothing ("not known") for a row of an older program ("{}"), broken text or
// a word this program does not know.
std::optional<UnitHolds> HoldsFromJson(const std::string& text);

// The tool's words: "main program written in part: must come back", or
// "whole job"; short: the first thing wrong ("main program written in
// part"), "whole job", or "-" when not known.
std::string HoldsText(const UnitHolds& holds);
std::string HoldsShortText(const std::optional<UnitHolds>& holds);

}  // namespace orvane::station
