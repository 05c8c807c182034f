// A unit's row of the provision result says what a run left on the unit
// when it must come back: in the table after the reason, in JSON as an
// object beside the error.
#include <gtest/gtest.h>

#include "cli/provision.h"

namespace orvane::cli {
namespace {

using station::MainProgram;
using station::UnitFiles;
using station::UnitHolds;

TEST(ProvisionRow, TableAndJsonSayWhatTheUnitHolds) {
  const UnitHolds in_part{MainProgram::kWrittenInPart, UnitFiles::kUntouched};
  const UnitHolds whole{MainProgram::kWhole, UnitFiles::kAsJobWants, 0, true, true, true};
  const std::vector<ProvisionRow> rows = {
      {"COM3", station::RunEnding::Failed(), std::nullopt, "image: Порт связи потерян!", in_part},
      {"COM4", station::RunEnding::Done(), 100001, "", whole},
      {"COM5", station::RunEnding::Failed(), 100002, "check: records away", whole},
      {"COM6", station::RunEnding::Failed(), std::nullopt, "Порт связи не может быть открыт."},
  };
  EXPECT_EQ(FormatProvisionTable(rows),
            "port  result  serial  reason\n"
            "COM3  failed  -       image: Порт связи потерян!; main program written in part: must come back\n"
            "COM4  done    100001\n"
            "COM5  failed  100002  check: records away\n"
            "COM6  failed  -       Порт связи не может быть открыт.\n");
  EXPECT_EQ(ProvisionJsonLine(rows[0]),
            "{\"port\":\"COM3\",\"exit\":1,\"serial\":null,\"error\":\"image: Порт связи потерян!\",\"holds\":"
            "{\"constants\":false,\"files\":\"untouched\",\"main_program\":\"written_in_part\",\"plan\":0,"
            "\"serial\":false,\"whole_job\":false}}\n");
  EXPECT_EQ(ProvisionJsonLine(rows[3]),
            "{\"port\":\"COM6\",\"exit\":1,\"serial\":null,\"error\":\"Порт связи не может быть открыт.\"}\n");
}

}  // namespace
}  // namespace orvane::cli
