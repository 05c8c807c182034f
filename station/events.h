// What the station engine tells its views: one typed event per change of a
// position's line, and the session's own events. Views (the terminal's line
// per position, the station window's tiles) render these values in their
// own words; nothing here is a sentence to be parsed.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "station/unit_holds.h"

namespace orvane::station {

// Where the modem on a position's line is, from the device's own behaviour:
// its polls, and what the engine has done with the unit.
enum class LineState {
  kNoPort,         // the port's device file is not there (adapter unplugged)
  kNoModem,        // the port is held, no polls: waiting for a modem
  kArrived,        // polls came: reading the unit's constants, nothing written
  kRunning,        // the job runs: step, steps and progress say where
  kWaitingRecords, // the record store cannot be reached; the port is held
  kDone,           // job done, number given: remove the modem
  kAlreadyDone,    // this unit's job was done before (when: done_at): remove it
  kFailed,         // the job failed: remove the modem, it must come back
  kStopped,        // the session stopped the job: it must come back
};

// A step of a unit's job, as a value (the records store it the same way).
enum class JobStep { kNone, kConnect, kIdentify, kImage, kErase, kPlan, kConstants, kCheck };

// Why a unit's job did not end done, as a value; `detail` carries the words
// of a library or of the link where there are some.
enum class FailureCause {
  kNone,
  kLinkCleared,      // the link ended the operation (detail: its log line)
  kModemLeft,        // polls stopped during the job
  kPortLost,         // the adapter went away during the job
  kRefused,          // the unit cannot take the job (detail: the figures)
  kCheckFailed,      // the last refresh does not show the whole job
  kForeignSerial,    // the unit carries a number of the range these records never gave
  kRecords,          // the record store failed (detail: its error)
  kStopped,          // stopped by the operator
};

struct PositionEvent {
  std::size_t position = 0;  // index into the session's positions
  LineState state = LineState::kNoModem;
  JobStep step = JobStep::kNone;
  int plan = 0;              // 1-based plan index when step is kPlan
  int step_index = 0;        // 1-based step of the job while running
  int steps = 0;
  int percent = 0;           // progress of the current step, 0 to 100
  std::optional<std::int64_t> serial;  // the number given, or the unit's own
  FailureCause cause = FailureCause::kNone;
  std::string detail;
  std::string done_at;       // kAlreadyDone: when its done run ended (UTC ISO 8601)
  std::chrono::milliseconds took{0};  // kDone, kFailed: how long the job took
  std::string adapter_serial;         // the USB adapter's serial number, may be empty
  std::optional<UnitHolds> holds;     // kDone, kFailed, kStopped: what a run left on the unit
  // A file of the job changed on disk since the session read it (told once
  // per position; the session goes on with the bytes it read).
  std::string job_changed;
};

}  // namespace orvane::station
