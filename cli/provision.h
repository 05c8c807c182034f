// orvane-cli provision JOB: a station job file run on each modem in one
// connection, as the steps flash (write and verify the image), erase, put
// (each plan in order) and constants (the job's constants with a serial
// number from the station counter), each ending on its own postcondition,
// and the last refresh checked against the whole job. Each modem's run is
// one record in the station store (--db): started as `running` before the
// port is opened, finished `done`, `failed` or `interrupted`.
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
#include "cli/several_ports.h"
#include "station/job.h"
#include "station/record_store.h"

namespace orvane::cli {

int RunProvision(const Options& options, const Console& console);

// A job ready to run: read and checked, its store open (see
// OpenStationStore, which sets options.db for the children).
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
  int exit = 0;
  const char* result = "done";  // done, failed, interrupted
  std::optional<std::int64_t> serial;
  std::string reason;
};
// From a child's end: its result line carries the serial number given.
ProvisionRow RowOf(const ChildEnd& end);
std::string FormatProvisionTable(const std::vector<ProvisionRow>& rows);
std::string ProvisionJsonLine(const ProvisionRow& row);

}  // namespace orvane::cli
