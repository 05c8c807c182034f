// What a unit holds at a run's end, as a table: the step it ended in, how
// that step's operation ended and what became of the image, against the
// holds; and the holds through the records' JSON and back.
#include "station/holds_at_end.h"

#include <gtest/gtest.h>

#include "link/commands.h"

namespace orvane::station {
namespace {

using M = MainProgram;
using F = UnitFiles;
using L = StepLeft;

// A job with an image, an erase, two plans, constants and a serial range.
RunFacts Full(JobStep step, int plan, ImageAction image, L left, FailureCause cause = FailureCause::kLinkCleared) {
  return {.job_image = true, .job_erase = true, .job_plans = 2, .job_constants = true, .job_serial = true,
          .done = false, .step = step, .plan = plan, .cause = cause, .image = image, .left = left};
}

RunFacts Done(ImageAction image) {
  RunFacts facts = Full(JobStep::kNone, 0, image, L::kComplete, FailureCause::kNone);
  facts.done = true;
  return facts;
}

TEST(UnitHolds, DerivedFromWhereTheRunEnded) {
  constexpr auto kNone = ImageAction::kNone;
  constexpr auto kWritten = ImageAction::kWritten;
  constexpr auto kHeld = ImageAction::kAlreadyHeld;
  RunFacts plans_only = Full(JobStep::kConstants, 0, kNone, L::kCleared);
  plans_only.job_image = false;
  RunFacts image_only = Done(kWritten);
  image_only.job_erase = false;
  image_only.job_plans = 0;
  image_only.job_constants = image_only.job_serial = false;
  struct Row {
    const char* what;
    RunFacts facts;
    UnitHolds holds;
  } rows[] = {
      {"done, image written", Done(kWritten), {M::kWhole, F::kAsJobWants, 0, true, true, true}},
      {"done, image held", Done(kHeld), {M::kWhole, F::kAsJobWants, 0, true, true, true}},
      {"done, a job of the image only", image_only, {M::kWhole, F::kUntouched, 0, false, false, true}},
      {"failed identifying", Full(JobStep::kIdentify, 0, kNone, L::kNotSeen), {M::kUntouched, F::kUntouched}},
      {"failed in the probe", Full(JobStep::kImage, 0, kNone, L::kCleared), {M::kUntouched, F::kUntouched}},
      {"image cut before a chunk went out", Full(JobStep::kImage, 0, kWritten, L::kFirmwareUntouched),
       {M::kUntouched, F::kUntouched}},
      {"cable pulled mid-image", Full(JobStep::kImage, 0, kWritten, L::kFirmwareInPart),
       {M::kWrittenInPart, F::kUntouched}},
      {"image end never seen", Full(JobStep::kImage, 0, kWritten, L::kNotSeen), {M::kWrittenInPart, F::kUntouched}},
      {"stopped in the verify pass", Full(JobStep::kImage, 0, kWritten, L::kFirmwareUnverified),
       {M::kNotVerified, F::kUntouched}},
      {"verify found a difference", Full(JobStep::kImage, 0, kWritten, L::kFirmwareDiffers),
       {M::kWithErrors, F::kUntouched}},
      {"stopped after the image ended", Full(JobStep::kImage, 0, kWritten, L::kComplete), {M::kWhole, F::kUntouched}},
      {"erase cut", Full(JobStep::kErase, 0, kWritten, L::kCleared), {M::kWhole, F::kNotErased}},
      {"plan 2 cut mid-file", Full(JobStep::kPlan, 2, kHeld, L::kFileInPart), {M::kWhole, F::kFileInPart, 2}},
      {"plan 1 refused", Full(JobStep::kPlan, 1, kWritten, L::kNotSeen), {M::kWhole, F::kPlansMissing, 1}},
      {"constants cut", Full(JobStep::kConstants, 0, kWritten, L::kCleared), {M::kWhole, F::kAsJobWants}},
      {"check found a difference", Full(JobStep::kCheck, 0, kWritten, L::kComplete, FailureCause::kCheckFailed),
       {M::kWhole, F::kDiffer, 0, true, true}},
      {"records failed after the check", Full(JobStep::kCheck, 0, kWritten, L::kComplete, FailureCause::kRecords),
       {M::kWhole, F::kAsJobWants, 0, true, true, true}},
      {"no image in the job, constants cut", plans_only, {M::kUntouched, F::kAsJobWants}},
  };
  for (const Row& row : rows) {
    const UnitHolds holds = DeriveHolds(row.facts);
    EXPECT_EQ(holds, row.holds) << row.what << ": " << HoldsToJson(holds);
    EXPECT_EQ(MustComeBack(holds), !row.holds.whole_job) << row.what;
  }
}

TEST(UnitHolds, StepLeftFollowsWhatTheClearedQueueHeld) {
  auto cleared = [](link::EndCause cause, link::Leftover left, std::uint8_t verify = 0) {
    link::OperationEnd outcome = link::OperationEnd::Cleared(cause, left);
    outcome.verify_command = verify;
    return outcome;
  };
  struct Row {
    link::OperationEnd outcome;
    L left;
  } rows[] = {
      {link::OperationEnd::Done(), L::kComplete},
      {cleared(link::EndCause::kPortLost, {.firmware_writes = 3, .firmware_verifies = 8, .firmware_written = true}),
       L::kFirmwareInPart},
      {cleared(link::EndCause::kCancelled, {.firmware_verifies = 2, .firmware_written = true}), L::kFirmwareUnverified},
      {cleared(link::EndCause::kVerifyFailed, {.firmware_verifies = 2, .firmware_written = true}, link::kFirmwareVerify),
       L::kFirmwareDiffers},
      {cleared(link::EndCause::kCancelled, {.entries = 1, .firmware_written = true}), L::kComplete},
      {cleared(link::EndCause::kPortLost, {.firmware_writes = 8, .firmware_verifies = 8}), L::kFirmwareUntouched},
      {cleared(link::EndCause::kNoAnswer, {.file_chunks = 4, .file_in_progress = true}), L::kFileInPart},
      {cleared(link::EndCause::kVerifyFailed, {.firmware_verifies = 5}, link::kFirmwareVerify), L::kCleared},
  };
  for (const Row& row : rows) EXPECT_EQ(StepLeftOf(row.outcome), row.left) << static_cast<int>(row.left);
}

TEST(UnitHolds, JsonRoundTripAndRowsThatDoNotSay) {
  for (const UnitHolds& holds : {UnitHolds{M::kWrittenInPart, F::kUntouched, 0, false, false, false},
                                 UnitHolds{M::kWhole, F::kFileInPart, 2, false, false, false},
                                 UnitHolds{M::kWhole, F::kAsJobWants, 0, true, true, true}}) {
    const auto back = HoldsFromJson(HoldsToJson(holds));
    ASSERT_TRUE(back) << HoldsToJson(holds);
    EXPECT_EQ(*back, holds);
  }
  EXPECT_EQ(HoldsToJson({M::kWithErrors, F::kPlansMissing, 1, false, false, false}),
            R"({"constants":false,"files":"plans_missing","main_program":"written_with_errors","plan":1,)"
            R"("serial":false,"whole_job":false})");
  for (const char* unknown : {"{}", "", "not json", "[]",
                              R"({"constants":true,"files":"as_job_wants","main_program":"shiny","plan":0,)"
                              R"("serial":true,"whole_job":true})",
                              R"({"constants":true,"files":"as_job_wants","main_program":"whole","plan":0,"serial":true})"}) {
    EXPECT_FALSE(HoldsFromJson(unknown)) << unknown;
  }
  EXPECT_EQ(HoldsShortText(HoldsFromJson("{}")), "-");
  EXPECT_EQ(HoldsCsvFields(HoldsFromJson("{}")), std::vector<std::string>(6));
  EXPECT_EQ(HoldsCsvFields(UnitHolds{M::kWhole, F::kFileInPart, 2}),
            (std::vector<std::string>{"whole", "file_in_part", "2", "false", "false", "true"}));
}

TEST(UnitHolds, WordsSayWhatIsWrongAndThatTheUnitMustComeBack) {
  EXPECT_EQ(HoldsText({M::kWrittenInPart, F::kUntouched}), "main program written in part: must come back");
  EXPECT_EQ(HoldsText({M::kWithErrors, F::kUntouched}), "main program written with errors: must come back");
  EXPECT_EQ(HoldsText({M::kWhole, F::kFileInPart, 2}), "plan 2 written in part: must come back");
  EXPECT_EQ(HoldsText({M::kUntouched, F::kUntouched}), "nothing written: must come back");
  EXPECT_EQ(HoldsText({M::kWhole, F::kAsJobWants}), "constants not written: must come back");
  EXPECT_EQ(HoldsText({M::kWhole, F::kAsJobWants, 0, true, true, true}), "whole job");
  EXPECT_EQ(HoldsShortText(UnitHolds{M::kNotVerified, F::kNotErased}), "main program written, not verified");
}

}  // namespace
}  // namespace orvane::station
