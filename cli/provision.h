// orvane-cli provision JOB: a station job file run on each modem in one
// connection by the station engine (station/station_engine.h): the job's
// files are read once, each unit is read and decided on before anything is
// written, then flashed (write and verify), erased, given each plan in
// order and the job's constants with a serial number from the station
// counter, and the last refresh checked against the whole job. Each job's
// run is one record in the station store (--db), started `running` once
// the unit has been read, finished `done`, `failed` or `interrupted`.
//
// Everything the job names, and the store, is checked before any modem is
// touched; the image's question is asked once. The result is one table (a
// row per port: port, result, serial number given, reason), or with --json
// one object a line ({"port","exit","serial"} and "error" on failure).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"
#include "cli/port_result.h"
#include "station/job.h"
#include "station/record_store.h"
#include "station/unit_holds.h"

namespace orvane::cli {

int RunProvision(const Options& options, const Console& console);

// A job ready to run: read and checked, its store open (see
// OpenStationStore, which sets options.db for the workers).
struct PreparedJob {
  station::Job job;
  std::unique_ptr<station::RecordStore> store;
  std::int64_t numbers_left = 0;  // fresh serial numbers in the job's range
};
station::Outcome<PreparedJob> PrepareJob(Options& options, const Console& console);

// The one question before a job that reflashes or erases (the reflash
// warning covers both); why it was not confirmed, or nothing.
std::optional<std::string> ConfirmJob(const station::Job& job, const Options& options, const Console& console,
                                      const std::string& ports);

// A port's row of the result.
struct ProvisionRow {
  std::string port;
  RunEnding end = RunEnding::Done();
  std::optional<std::int64_t> serial;
  std::string reason;
  std::optional<station::UnitHolds> holds = {};  // after a run
};
// The reason, and what the unit holds when it must come back.
std::string RowReason(const ProvisionRow& row);
std::string FormatProvisionTable(const std::vector<ProvisionRow>& rows);
std::string ProvisionJsonLine(const ProvisionRow& row);

}  // namespace orvane::cli
