// The station's records: one record per job run, and the serial numbers the
// station counter has handed out. The same code and the same SQL statements
// serve an SQLite file and a PostgreSQL database (see store_location.h).
//
// Tables (created only when the store is opened with StoreMode::kCreate, so
// that a mistyped location never starts a second counter from the range's
// first number):
//   station_runs     one row per run: id, started, finished, port, usb_serial,
//                    image_sha256, plans (JSON), constants (JSON), result,
//                    reason, version; from version 2 on also station,
//                    position, socket, trace, image_action, failed_step,
//                    failed_plan, holds (JSON), lease_until; from version 3
//                    on also session_id (the station session that ran it;
//                    NULL for runs of older tools)
//   station_sessions from version 3: one row per station session: id,
//                    station, positions (JSON), host, started, renewed,
//                    lease_until, ended
//   station_serials  one row per serial number given to a run:
//                    (serial, turn) is the primary key, run_id is unique;
//                    from version 2 on also kind (fresh, again, kept)
//   station_schema   the layout's version (a store without it is version 1)
//
// A store of an older version is upgraded in place when it is opened, under
// a lock (SQLite's write lock, a PostgreSQL table lock), so a second process
// opening it at the same moment waits and then finds the upgrade done. A
// store of a newer version than this program knows is refused.
//
// Every write is a single statement in autocommit, so a process killed at
// any moment leaves either the whole row or none of it.
//
// Handing out numbers. A fresh number is the highest number in the job's
// range so far plus one (the range's first when it has none), computed and
// stored by one INSERT ... SELECT with turn 0. Two writers cannot store the
// same number: SQLite runs the statement under its write lock, and on
// PostgreSQL the primary key makes the second writer fail, after which it
// computes the next number again. A number is stored before the tool writes
// it, so a run killed right after taking one keeps it taken; the numbers
// taken so far survive every restart, and the counter never goes back.
//
// Giving a number again. A modem that failed after it was given a number
// may already carry that number, and then it gets the same one again rather
// than a second: when the serial number the modem reports (read before the
// constants are written) R
//   - lies in the job's range,
//   - is a number this store handed out (it has a turn-0 row), and
//   - every run given R so far has ended, none of them `done`
//     (so all are `failed` or `interrupted`),
// R is stored once more for this run with the next turn. The turn is part
// of the primary key, so two runs that claim R at the same moment compute
// the same turn and only one of them succeeds; the other then sees a run
// holding R that is still running and takes a fresh number instead.
// Why this gives no number to two modems:
//   - a fresh number goes to one run only (primary key);
//   - a number goes again only to a modem that already reports it, so the
//     store never puts a number on a modem that did not have it;
//   - once a run given R ends `done`, R belongs to that modem for good: any
//     modem reporting R later (the same one provisioned again, or one whose
//     constants were copied from it) gets a fresh number;
//   - while a run given R is still `running` R is not given again, so two
//     modems both reporting R (a copied constants block) cannot both be
//     given R at once. A run killed outright stays `running` and so retires
//     its number for good: the tool cannot tell its modem from a copy, and
//     one lost number is cheap.
// The port or the USB adapter plays no part: a station's cables stay while
// the modems change.
//
// A store object holds its own database connection, named uniquely, so
// several can live in one process; use each from one thread only. QtSql
// loads its drivers as plugins and needs a QCoreApplication to exist.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/events.h"
#include "station/job.h"
#include "station/outcome.h"
#include "station/run_ending.h"
#include "station/store_location.h"

namespace orvane::station {

// What became of the job's image: none in the job; written and verified; a
// verify pass showed the unit already holds it, so it was not written again.
enum class ImageAction { kNone, kWritten, kAlreadyHeld };
const char* ImageActionText(ImageAction action);  // "none", "written", "already_held"

// The step a run failed in; kPlan comes with the plan's 1-based index.
using StepKind = JobStep;  // one enum for the engine and its records (station/events.h)
const char* StepKindText(StepKind step);  // "none", "connect", ..., "check"

// How a run came by its serial number: a fresh one from the counter; the
// number its modem already held from a run that did not end done; a number
// the unit carries from a done run of another job, kept for a rework.
enum class SerialKind { kFresh, kAgain, kKept };
const char* SerialKindText(SerialKind kind);  // "fresh", "again", "kept"

struct PlanRecord {
  std::string name;    // as the tool names it, usually the file name
  std::string sha256;  // lower-case hex
  bool operator==(const PlanRecord&) const = default;
};

struct RunStart {
  std::string port;
  std::string usb_serial;    // the USB adapter's serial number, may be empty
  std::string image_sha256;  // empty when the job has no image
  std::vector<PlanRecord> plans;
  Constants constants;  // the constants the run writes
  std::string version;  // the tool's version
  std::string station = {};   // the station's name (RunStartFor: the host name)
  std::string position = {};  // the position's name, such as "Место 1" (RunStartFor: the port)
  std::string socket = {};    // the hub socket's /dev/serial/by-path name, may be empty
  std::string trace = {};     // the run's frame-trace file, may be empty
  std::int64_t session = 0;   // the station session running it, 0 for none
};

// How a run ended. holds_json (what the unit holds afterwards, a JSON
// object) and lease_until (a live session's lease) are kept as given.
struct RunEnd {
  RunResult result;
  std::string reason;
  StepKind failed_step = StepKind::kNone;
  int failed_plan = 0;  // 1-based, 0 when the step is not a plan
  ImageAction image_action = ImageAction::kNone;
  std::string holds_json = "{}";
  std::string lease_until = {};
  std::string finished = {};  // UTC ISO 8601 when it ended; empty for now
};

struct RunRecord {
  std::int64_t id = 0;
  std::string started, finished;  // UTC ISO 8601; finished empty while running
  std::string port, usb_serial;
  std::optional<std::int64_t> serial;
  bool serial_again = false;  // serial_kind is kAgain
  SerialKind serial_kind = SerialKind::kFresh;
  std::string image_sha256;
  std::vector<PlanRecord> plans;
  Constants constants;
  RunResult result = RunResult::kRunning;
  std::string reason;
  std::string version;
  std::string station, position, socket, trace;
  ImageAction image_action = ImageAction::kNone;
  StepKind failed_step = StepKind::kNone;
  int failed_plan = 0;
  std::string holds_json = "{}";
  std::string lease_until;  // a live session's lease, empty when none
  std::int64_t session = 0;  // 0 for a run without a session
};

// A station session asking for its positions.
struct SessionClaim {
  std::string station;
  std::vector<std::string> positions;
  std::string host;
  std::chrono::milliseconds lapse{60000};  // the lease lasts this long unless renewed
};

// A live session, as a refused claim names it.
struct SessionHolder {
  std::int64_t id = 0;
  std::string host, started, lease_until;
  std::vector<std::string> positions;
};

struct SerialGrant {
  std::int32_t serial = 0;
  bool again = false;  // the number the modem already held, given once more
  SerialKind kind = SerialKind::kFresh;
};

struct HistoryFilter {
  std::optional<std::int64_t> serial = {};
  // "YYYY-MM-DD" (the start of that day, local time) or an ISO 8601 time
  // (local time unless it has Z or an offset); empty for all.
  std::string since = {};
  std::string station = {}, position = {};  // exact names; empty for all
  std::optional<RunResult> result = {};
  // The same forms as since; a day counts whole. Empty for all.
  std::string until = {};
};

// kExisting refuses a store that is not there (no SQLite file, or a
// database without the station's tables); kCreate makes it when missing.
enum class StoreMode { kExisting, kCreate };

class RecordStore {
 public:
  // Opens the store. `location` is an SQLite file path or a postgresql://
  // URL.
  static Outcome<std::unique_ptr<RecordStore>> Open(const std::string& location, StoreMode mode);
  // Whether the store at `location` exists; an error when that cannot be
  // told (a bad location, a server that does not answer).
  static Outcome<bool> Exists(const std::string& location);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Records a run as `running`, started now; its id.
  Outcome<std::int64_t> StartRun(const RunStart& start);
  // Ends a running run now; an error when it is not running (or unknown).
  std::optional<std::string> FinishRun(std::int64_t run, const RunEnd& end);
  std::optional<std::string> FinishRun(std::int64_t run, RunResult result, const std::string& reason) {
    return FinishRun(run, RunEnd{result, reason});
  }
  // The run's serial number from the station counter, stored before it is
  // returned (see above for when the modem's own number is given again).
  // Asked again for the same run, the same number. An error names the
  // range when every number in it is taken.
  Outcome<SerialGrant> TakeSerial(std::int64_t run, SerialRange range, std::optional<std::int64_t> modem_serial);
  // How many fresh numbers the counter still has in the range (numbers
  // below the highest one taken stay behind it).
  Outcome<std::int64_t> NumbersLeft(SerialRange range);
  // A rework: the unit already carries `serial`, which this store gave to
  // a run that ended done (with another job); the number is stored for this
  // run with the next turn, kind kKept. Refused while a run holding it is
  // still running, and for a number this store never gave. Asked again for
  // the same run, the same grant.
  Outcome<SerialGrant> KeepSerial(std::int64_t run, std::int64_t serial);
  // Every run this store gave the number to, of any kind, oldest first.
  Outcome<std::vector<RunRecord>> RunsWithSerial(std::int64_t serial);
  // The runs that match, oldest first.
  Outcome<std::vector<RunRecord>> History(const HistoryFilter& filter);
  // A session for the claim's positions, its lease running from now; an
  // error naming the holder when a live session of the same station holds
  // any of them. A session whose lease lapsed or that ended holds nothing.
  Outcome<std::int64_t> ClaimSession(const SessionClaim& claim);
  // The lease runs `lapse` from now; an error once it has lapsed or ended.
  std::optional<std::string> RenewSession(std::int64_t session, std::chrono::milliseconds lapse);
  // The session ends and holds nothing any more.
  std::optional<std::string> ReleaseSession(std::int64_t session);
  // Every run still `running` whose session lapsed or ended becomes
  // `abandoned`, its reason saying when the lease was last renewed; how
  // many. Runs without a session are left as they are: nothing tells
  // whether their tool still lives.
  Outcome<std::int64_t> AbandonLapsedRuns();

  // One cheap write and read: why the store cannot be used right now, or
  // nothing when it can.
  std::optional<std::string> Probe();

  const StoreLocation& Location() const { return location_; }

 private:
  struct Connection;
  explicit RecordStore(StoreLocation location, std::unique_ptr<Connection> connection);
  static Outcome<std::unique_ptr<Connection>> Connect(const StoreLocation& location, const std::string& where);
  static std::optional<std::string> BringUpToDate(const Connection& connection, const std::string& where);

  StoreLocation location_;
  std::unique_ptr<Connection> connection_;
};

// The SHA-256 of a file in lower-case hex.
Outcome<std::string> FileSha256(const std::string& path);

// The record of a job's run before it starts: the image's SHA-256, each
// plan by its file name with its SHA-256, and the job's constants. An error
// names a file that cannot be read.
Outcome<RunStart> RunStartFor(const Job& job, const std::string& port, const std::string& usb_serial,
                              const std::string& version);

// Whether a run done earlier ran the same job as the session starts: the
// same image, the same plans in the same order, the same constants.
bool SameJob(const RunRecord& done, const RunStart& session);

// "since" as the stored times are written (UTC, see HistoryFilter); an
// error for a text that is neither form.
Outcome<std::string> SinceToUtc(const std::string& since);
// "until" as the first stored time after it: the start of the next day for
// a day, a millisecond later for a time.
Outcome<std::string> UntilToUtc(const std::string& until);

// History for people and programs: a plain table (line ends in a reason
// shown as spaces; the last column what the unit holds); one JSON object a line
// (serial, port, usb_serial, result, reason, image_sha256, plans,
// constants, started, finished, version, run, serial_again, and station,
// position, socket, trace, image_action, failed_step, failed_plan, holds,
// lease_until, serial_kind); CSV with a header line in that order and then
// the holds' own columns (HoldsCsvFields), RFC 4180
// quoting and CRLF line ends. Each ends with a line end when it has any
// line.
std::string FormatHistoryTable(const std::vector<RunRecord>& runs);
std::string FormatHistoryJson(const std::vector<RunRecord>& runs);
std::string FormatHistoryCsv(const std::vector<RunRecord>& runs);

}  // namespace orvane::station
