#include "station/unit_holds.h"

#include <vector>

#include "l10n/l10n.h"
#include "link/commands.h"
#include "station/record_json.h"
#include "station/records_words.h"

namespace orvane::station {
namespace {

using l10n::Format;
using l10n::Tr;

inline constexpr Word<MainProgram> kMainProgramWords[] = {{MainProgram::kUntouched, "untouched"},
                                                          {MainProgram::kWhole, "whole"},
                                                          {MainProgram::kWrittenInPart, "written_in_part"},
                                                          {MainProgram::kNotVerified, "not_verified"},
                                                          {MainProgram::kWithErrors, "written_with_errors"}};
inline constexpr Word<UnitFiles> kUnitFilesWords[] = {{UnitFiles::kAsJobWants, "as_job_wants"},
                                                      {UnitFiles::kFileInPart, "file_in_part"},
                                                      {UnitFiles::kNotErased, "not_erased"},
                                                      {UnitFiles::kUntouched, "untouched"},
                                                      {UnitFiles::kPlansMissing, "plans_missing"},
                                                      {UnitFiles::kDiffer, "differ"}};

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

// What is not as the job wants, in the tool's words, main program first.
std::vector<std::string> Faults(const UnitHolds& holds) {
  std::vector<std::string> faults;
  switch (holds.main_program) {
    case MainProgram::kWrittenInPart: faults.push_back(Tr("main program written in part")); break;
    case MainProgram::kNotVerified: faults.push_back(Tr("main program written, not verified")); break;
    case MainProgram::kWithErrors: faults.push_back(Tr("main program written with errors")); break;
    default: break;
  }
  switch (holds.files) {
    case UnitFiles::kFileInPart: faults.push_back(Format(Tr("plan %d written in part"), holds.plan)); break;
    case UnitFiles::kNotErased: faults.push_back(Tr("files not erased")); break;
    case UnitFiles::kPlansMissing: faults.push_back(Format(Tr("plans from %d on not written"), holds.plan)); break;
    case UnitFiles::kDiffer: faults.push_back(Tr("files or constants differ from the job")); break;
    default: break;
  }
  if (faults.empty() && !holds.whole_job) {
    const bool nothing = holds.main_program == MainProgram::kUntouched && holds.files == UnitFiles::kUntouched;
    faults.push_back(nothing ? Tr("nothing written") : Tr("constants not written"));
  }
  return faults;
}

}  // namespace

StepLeft StepLeftOf(const link::Outcome& outcome) {
  if (outcome.kind != link::Outcome::Kind::kCleared) return StepLeft::kComplete;
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

bool MustComeBack(const UnitHolds& holds) { return !holds.whole_job; }

std::string HoldsToJson(const UnitHolds& holds) {
  return CompactJson(Json{{"main_program", WordOf(kMainProgramWords, holds.main_program)},
                          {"files", WordOf(kUnitFilesWords, holds.files)},
                          {"plan", holds.plan},
                          {"constants", holds.constants},
                          {"serial", holds.serial},
                          {"whole_job", holds.whole_job}});
}

std::optional<UnitHolds> HoldsFromJson(const std::string& text) {
  const Json object = ObjectFromText(text);
  const auto main_program = ValueOf(kMainProgramWords, TextOf(MemberOf(object, "main_program")));
  const auto files = ValueOf(kUnitFilesWords, TextOf(MemberOf(object, "files")));
  const auto plan = IntegerOf(MemberOf(object, "plan"));
  const Json& constants = MemberOf(object, "constants");
  const Json& serial = MemberOf(object, "serial");
  const Json& whole_job = MemberOf(object, "whole_job");
  if (!main_program || !files || !plan || !constants.is_boolean() || !serial.is_boolean() ||
      !whole_job.is_boolean()) {
    return std::nullopt;
  }
  return UnitHolds{*main_program, *files, static_cast<int>(*plan), constants.get<bool>(), serial.get<bool>(),
                   whole_job.get<bool>()};
}

std::string HoldsText(const UnitHolds& holds) {
  if (!MustComeBack(holds)) return Tr("whole job");
  std::string text;
  for (const std::string& fault : Faults(holds)) text += (text.empty() ? "" : ", ") + fault;
  return Format(Tr("%s: must come back"), text.c_str());
}

std::string HoldsShortText(const std::optional<UnitHolds>& holds) {
  if (!holds) return "-";
  if (!MustComeBack(*holds)) return Tr("whole job");
  return Faults(*holds).front();
}

}  // namespace orvane::station
