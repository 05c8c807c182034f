// What a unit holds when its run ends: its main program, its files, its
// constants and serial number, each as a value (derived in holds_at_end.h),
// kept in the records as a JSON object and told by the views; whatever is
// not the job's whole result means the unit must come back.
#pragma once

#include <optional>
#include <string>
#include <vector>

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

bool MustComeBack(const UnitHolds& holds);

// What is not as the job wants, main program first; each view says it in
// its own words.
enum class HoldsFault {
  kMainInPart,
  kMainNotVerified,
  kMainWithErrors,
  kFileInPart,    // UnitHolds::plan
  kNotErased,
  kPlansMissing,  // from UnitHolds::plan on
  kDiffer,
  kNothingWritten,
  kConstantsNotWritten,
};
std::vector<HoldsFault> FaultsOf(const UnitHolds& holds);

std::string HoldsToJson(const UnitHolds& holds);
// Nothing ("not known") for a row of an older program ("{}"), broken text or
// a word this program does not know.
std::optional<UnitHolds> HoldsFromJson(const std::string& text);

// The tool's words: "main program written in part: must come back", or
// "whole job"; short: the first thing wrong ("main program written in
// part"), "whole job", or "-" when not known.
std::string HoldsText(const UnitHolds& holds);
std::string HoldsShortText(const std::optional<UnitHolds>& holds);

// The history's CSV columns after its others: main_program, files,
// files_plan, constants_written, serial_written, must_come_back; all empty
// when not known.
std::vector<std::string> HoldsCsvFields(const std::optional<UnitHolds>& holds);

}  // namespace orvane::station
