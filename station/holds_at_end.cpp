#include "station/holds_at_end.h"

#include "link/commands.h"

namespace orvane::station {
namespace {

MainProgram MainProgramOf(const RunFacts& facts) {
  if (!facts.job_image || facts.image == ImageAction::kNone) return MainProgram::kUntouched;
  if (facts.image == ImageAction::kAlreadyHeld || facts.done || facts.step > JobStep::kImage) {
    return MainProgram::kWhole;
  }
  switch (facts.left) {
    case StepLeft::kComplete: return MainProgram::kWhole;
    case StepLeft::kFirmwareUntouched: return MainProgram::kUntouched;
    case StepLeft::kFirmwareUnverified: return MainProgram::kNotVerified;
    case StepLeft::kFirmwareDiffers: return MainProgram::kWithErrors;
    default: return MainProgram::kWrittenInPart;  // nothing tells how far the write went
  }
}

struct FilesPart {
  UnitFiles files;
  int plan = 0;
};

FilesPart FilesOf(const RunFacts& facts) {
  if (!facts.job_erase && facts.job_plans == 0) return {UnitFiles::kUntouched};
  if (facts.done) return {UnitFiles::kAsJobWants};
  if (facts.step < JobStep::kErase) return {UnitFiles::kUntouched};
  if (facts.step == JobStep::kErase) return {UnitFiles::kNotErased};
  if (facts.step == JobStep::kPlan) {
    return {facts.left == StepLeft::kFileInPart ? UnitFiles::kFileInPart : UnitFiles::kPlansMissing, facts.plan};
  }
  if (facts.step == JobStep::kCheck && facts.cause == FailureCause::kCheckFailed) return {UnitFiles::kDiffer};
  return {UnitFiles::kAsJobWants};
}

bool FilesAsWanted(const RunFacts& facts, UnitFiles files) {
  return files == UnitFiles::kAsJobWants || (files == UnitFiles::kUntouched && !facts.job_erase && facts.job_plans == 0);
}

}  // namespace

StepLeft StepLeftOf(const link::OperationEnd& outcome) {
  if (outcome.kind != link::OperationEnd::Kind::kCleared) return StepLeft::kComplete;
  const link::Leftover& left = outcome.left;
  if (left.firmware_written) {
    if (outcome.cause == link::EndCause::kVerifyFailed && outcome.verify_command == link::kFirmwareVerify) {
      return StepLeft::kFirmwareDiffers;
    }
    if (left.firmware_writes > 0) return StepLeft::kFirmwareInPart;
    if (left.firmware_verifies > 0) return StepLeft::kFirmwareUnverified;
    return StepLeft::kComplete;
  }
  if (left.file_in_progress) return StepLeft::kFileInPart;
  if (left.firmware_writes > 0) return StepLeft::kFirmwareUntouched;
  return StepLeft::kCleared;
}

UnitHolds DeriveHolds(const RunFacts& facts) {
  UnitHolds holds;
  holds.main_program = MainProgramOf(facts);
  const FilesPart files = FilesOf(facts);
  holds.files = files.files;
  holds.plan = files.plan;
  holds.constants = facts.job_constants && (facts.done || facts.step == JobStep::kCheck);
  holds.serial = holds.constants && facts.job_serial;
  holds.whole_job = (!facts.job_image || holds.main_program == MainProgram::kWhole) &&
                    FilesAsWanted(facts, holds.files) && holds.constants == facts.job_constants &&
                    holds.serial == facts.job_serial;
  return holds;
}

}  // namespace orvane::station
