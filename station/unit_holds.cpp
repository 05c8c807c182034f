#include "station/unit_holds.h"

#include "l10n/l10n.h"
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

std::string FaultText(HoldsFault fault, int plan) {
  switch (fault) {
    case HoldsFault::kMainInPart: return Tr("main program written in part");
    case HoldsFault::kMainNotVerified: return Tr("main program written, not verified");
    case HoldsFault::kMainWithErrors: return Tr("main program written with errors");
    case HoldsFault::kFileInPart: return Format(Tr("plan %d written in part"), plan);
    case HoldsFault::kNotErased: return Tr("files not erased");
    case HoldsFault::kPlansMissing: return Format(Tr("plans from %d on not written"), plan);
    case HoldsFault::kDiffer: return Tr("files or constants differ from the job");
    case HoldsFault::kNothingWritten: return Tr("nothing written");
    case HoldsFault::kConstantsNotWritten: return Tr("constants not written");
  }
  return "";
}

}  // namespace

bool MustComeBack(const UnitHolds& holds) { return !holds.whole_job; }

std::vector<HoldsFault> FaultsOf(const UnitHolds& holds) {
  std::vector<HoldsFault> faults;
  switch (holds.main_program) {
    case MainProgram::kWrittenInPart: faults.push_back(HoldsFault::kMainInPart); break;
    case MainProgram::kNotVerified: faults.push_back(HoldsFault::kMainNotVerified); break;
    case MainProgram::kWithErrors: faults.push_back(HoldsFault::kMainWithErrors); break;
    default: break;
  }
  switch (holds.files) {
    case UnitFiles::kFileInPart: faults.push_back(HoldsFault::kFileInPart); break;
    case UnitFiles::kNotErased: faults.push_back(HoldsFault::kNotErased); break;
    case UnitFiles::kPlansMissing: faults.push_back(HoldsFault::kPlansMissing); break;
    case UnitFiles::kDiffer: faults.push_back(HoldsFault::kDiffer); break;
    default: break;
  }
  if (faults.empty() && !holds.whole_job) {
    const bool nothing = holds.main_program == MainProgram::kUntouched && holds.files == UnitFiles::kUntouched;
    faults.push_back(nothing ? HoldsFault::kNothingWritten : HoldsFault::kConstantsNotWritten);
  }
  return faults;
}

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
  for (HoldsFault fault : FaultsOf(holds)) text += (text.empty() ? "" : ", ") + FaultText(fault, holds.plan);
  return Format(Tr("%s: must come back"), text.c_str());
}

std::string HoldsShortText(const std::optional<UnitHolds>& holds) {
  if (!holds) return "-";
  if (!MustComeBack(*holds)) return Tr("whole job");
  return FaultText(FaultsOf(*holds).front(), holds->plan);
}

std::vector<std::string> HoldsCsvFields(const std::optional<UnitHolds>& holds) {
  if (!holds) return std::vector<std::string>(6);
  auto yes_no = [](bool value) { return std::string(value ? "true" : "false"); };
  return {WordOf(kMainProgramWords, holds->main_program), WordOf(kUnitFilesWords, holds->files),
          std::to_string(holds->plan), yes_no(holds->constants), yes_no(holds->serial),
          yes_no(MustComeBack(*holds))};
}

}  // namespace orvane::station
