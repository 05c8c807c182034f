#include "station/record_store.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSysInfo>
#include <QVariant>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "station/record_json.h"
#include "station/records_words.h"
#include "l10n/l10n.h"

namespace orvane::station {
namespace {

using l10n::Format;
using l10n::Tr;

std::string EndNotRecorded(std::int64_t run, const std::string& where, const std::string& error) {
  return Format(Tr("cannot record the end of run %1$lld in %2$s: %3$s"), static_cast<long long>(run), where.c_str(),
                error.c_str());
}

std::string NoRun(std::int64_t run, const std::string& where) {
  return Format(Tr("there is no run %1$lld in %2$s"), static_cast<long long>(run), where.c_str());
}

std::string AlreadyEnded(std::int64_t run, const std::string& result) {
  return Format(Tr("run %1$lld has already ended (%2$s)"), static_cast<long long>(run), result.c_str());
}

// The same statements for SQLite and PostgreSQL. Parameters whose type the
// statement does not fix by itself are cast, which PostgreSQL needs to
// prepare them.

constexpr int kVersion = 3;

// The first layout; a new store starts from it and is upgraded as an old
// one is.
constexpr const char* kSchemaVersion1[] = {
    "CREATE TABLE IF NOT EXISTS station_runs ("
    " id BIGINT PRIMARY KEY,"
    " started TEXT NOT NULL,"
    " finished TEXT,"
    " port TEXT NOT NULL,"
    " usb_serial TEXT NOT NULL,"
    " image_sha256 TEXT NOT NULL,"
    " plans TEXT NOT NULL,"
    " constants TEXT NOT NULL,"
    " result TEXT NOT NULL,"
    " reason TEXT NOT NULL,"
    " version TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS station_serials ("
    " serial BIGINT NOT NULL,"
    " turn BIGINT NOT NULL,"
    " run_id BIGINT NOT NULL UNIQUE REFERENCES station_runs (id),"
    " given TEXT NOT NULL,"
    " PRIMARY KEY (serial, turn))",
    "CREATE INDEX IF NOT EXISTS station_runs_started ON station_runs (started)",
};

constexpr const char* kUpgradeTo2[] = {
    "ALTER TABLE station_runs ADD COLUMN station TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE station_runs ADD COLUMN position TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE station_runs ADD COLUMN socket TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE station_runs ADD COLUMN trace TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE station_runs ADD COLUMN image_action TEXT NOT NULL DEFAULT 'none'",
    "ALTER TABLE station_runs ADD COLUMN failed_step TEXT NOT NULL DEFAULT 'none'",
    "ALTER TABLE station_runs ADD COLUMN failed_plan BIGINT NOT NULL DEFAULT 0",
    "ALTER TABLE station_runs ADD COLUMN holds TEXT NOT NULL DEFAULT '{}'",
    "ALTER TABLE station_runs ADD COLUMN lease_until TEXT NOT NULL DEFAULT ''",
    "ALTER TABLE station_serials ADD COLUMN kind TEXT NOT NULL DEFAULT 'fresh'",
    "UPDATE station_serials SET kind = 'again' WHERE turn > 0",
};

constexpr const char* kUpgradeTo3[] = {
    "CREATE TABLE IF NOT EXISTS station_sessions ("
    " id BIGINT PRIMARY KEY,"
    " station TEXT NOT NULL,"
    " positions TEXT NOT NULL,"
    " host TEXT NOT NULL,"
    " started TEXT NOT NULL,"
    " renewed TEXT NOT NULL,"
    " lease_until TEXT NOT NULL,"
    " ended TEXT,"
    " process TEXT NOT NULL DEFAULT '')",
    "ALTER TABLE station_runs ADD COLUMN session_id BIGINT REFERENCES station_sessions (id)",
    "CREATE INDEX IF NOT EXISTS station_runs_session ON station_runs (session_id, result)",
};

// Times are UTC ISO 8601 with milliseconds, so they compare as text.
constexpr const char* kLiveSessions =
    "SELECT id, host, started, lease_until, positions, process FROM station_sessions"
    " WHERE station = :station AND ended IS NULL AND lease_until >= :now ORDER BY id";
constexpr const char* kNewSession =
    "INSERT INTO station_sessions (id, station, positions, host, started, renewed, lease_until, ended, process)"
    " VALUES ((SELECT COALESCE(MAX(id), 0) + 1 FROM station_sessions), :station, :positions, :host, :started,"
    " :renewed, :lease_until, NULL, :process)"
    " RETURNING id";
constexpr const char* kRenewSession =
    "UPDATE station_sessions SET renewed = :renewed, lease_until = :lease_until"
    " WHERE id = :id AND ended IS NULL AND lease_until >= :now";
constexpr const char* kSessionState = "SELECT lease_until, ended FROM station_sessions WHERE id = :id";
constexpr const char* kReleaseSession =
    "UPDATE station_sessions SET ended = :ended, lease_until = :lease_until WHERE id = :id AND ended IS NULL";
constexpr const char* kLapsedSessions =
    "SELECT s.id, s.renewed, s.host FROM station_sessions s"
    " WHERE (s.ended IS NOT NULL OR s.lease_until < :now) AND EXISTS ("
    "  SELECT 1 FROM station_runs r WHERE r.session_id = s.id AND r.result = 'running')";
constexpr const char* kAbandonRuns =
    "UPDATE station_runs SET result = 'abandoned', finished = :finished, reason = :reason"
    " WHERE session_id = :session AND result = 'running'";

constexpr const char* kCreateSchemaTable = "CREATE TABLE IF NOT EXISTS station_schema (version INTEGER NOT NULL)";
constexpr const char* kReadVersion = "SELECT MAX(version) FROM station_schema";
constexpr const char* kClearVersion = "DELETE FROM station_schema";
constexpr const char* kWriteVersion = "INSERT INTO station_schema (version) VALUES (:version)";
// A write that changes nothing, to see that the store takes writes.
constexpr const char* kTouchVersion = "UPDATE station_schema SET version = version";

constexpr const char* kSqliteHasTable = "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = :name";
// The table the search path finds, as the store's own statements do.
constexpr const char* kPostgresHasTable =
    "SELECT CASE WHEN to_regclass(CAST(:name AS TEXT)) IS NULL THEN 0 ELSE 1 END";

constexpr const char* kStartRun =
    "INSERT INTO station_runs"
    " (id, started, finished, port, usb_serial, image_sha256, plans, constants, result, reason, version,"
    " station, position, socket, trace, session_id)"
    " VALUES ((SELECT COALESCE(MAX(id), 0) + 1 FROM station_runs), :started, NULL, :port, :usb_serial,"
    " :image_sha256, :plans, :constants, 'running', '', :version, :station, :position, :socket, :trace,"
    " CAST(:session AS BIGINT))"
    " RETURNING id";

constexpr const char* kFinishRun =
    "UPDATE station_runs SET finished = :finished, result = :result, reason = :reason,"
    " failed_step = :failed_step, failed_plan = :failed_plan, image_action = :image_action, holds = :holds,"
    " lease_until = :lease_until"
    " WHERE id = :id AND result IN ('running', 'abandoned')";

constexpr const char* kRunResult = "SELECT result FROM station_runs WHERE id = :id";

constexpr const char* kSerialOfRun = "SELECT serial, kind FROM station_serials WHERE run_id = :run";

// The modem's own number once more: only a number handed out before, and
// only while no run given it is running or done (see the header).
constexpr const char* kSerialAgain =
    "INSERT INTO station_serials (serial, turn, run_id, given, kind)"
    " SELECT serial, MAX(turn) + 1, CAST(:run AS BIGINT), CAST(:given AS TEXT), 'again'"
    " FROM station_serials"
    " WHERE serial = :reported AND NOT EXISTS ("
    "  SELECT 1 FROM station_serials held JOIN station_runs r ON r.id = held.run_id"
    "  WHERE held.serial = :held AND r.result IN ('running', 'done'))"
    " GROUP BY serial"
    " RETURNING serial";

// The next number of the range: one above the highest taken in it, or its
// first; nothing when the range is used up.
constexpr const char* kSerialFresh =
    "INSERT INTO station_serials (serial, turn, run_id, given, kind)"
    " SELECT next_serial, 0, CAST(:run AS BIGINT), CAST(:given AS TEXT), 'fresh'"
    " FROM (SELECT COALESCE(MAX(serial) + 1, CAST(:first AS BIGINT)) AS next_serial"
    "  FROM station_serials WHERE serial BETWEEN CAST(:low AS BIGINT) AND CAST(:high AS BIGINT)) AS counter"
    " WHERE next_serial <= CAST(:last AS BIGINT)"
    " RETURNING serial";

// A number the unit carries, kept for a rework: only one this store gave,
// and only while no run given it is running.
constexpr const char* kSerialKept =
    "INSERT INTO station_serials (serial, turn, run_id, given, kind)"
    " SELECT serial, MAX(turn) + 1, CAST(:run AS BIGINT), CAST(:given AS TEXT), 'kept'"
    " FROM station_serials"
    " WHERE serial = :kept AND NOT EXISTS ("
    "  SELECT 1 FROM station_serials held JOIN station_runs r ON r.id = held.run_id"
    "  WHERE held.serial = :held AND r.result = 'running')"
    " GROUP BY serial"
    " RETURNING serial";

// How many runs were given the number, and how many of them are running.
constexpr const char* kSerialHolders =
    "SELECT COUNT(*), COALESCE(SUM(CASE WHEN r.result = 'running' THEN 1 ELSE 0 END), 0)"
    " FROM station_serials g JOIN station_runs r ON r.id = g.run_id WHERE g.serial = :serial";

constexpr const char* kHighestTaken =
    "SELECT MAX(serial) FROM station_serials WHERE serial BETWEEN CAST(:low AS BIGINT) AND CAST(:high AS BIGINT)";

constexpr const char* kHistory =
    "SELECT r.id, r.started, r.finished, r.port, r.usb_serial, g.serial, g.turn, r.image_sha256, r.plans,"
    " r.constants, r.result, r.reason, r.version, r.station, r.position, r.socket, r.trace, r.image_action,"
    " r.failed_step, r.failed_plan, r.holds, r.lease_until, g.kind, r.session_id"
    " FROM station_runs r LEFT JOIN station_serials g ON g.run_id = r.id";

// SQLite waits this long for another process's write lock before a
// statement fails as busy; a busy or lost-race statement is tried again,
// up to kAttempts times within kRetryTime.
constexpr int kBusyTimeoutMs = 10000;
constexpr int kAttempts = 200;
constexpr auto kRetryTime = std::chrono::seconds(30);

std::atomic<unsigned> connection_counter{0};

QString Now() { return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs); }
QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

using Row = std::vector<QVariant>;
using Bindings = std::vector<std::pair<const char*, QVariant>>;

struct StatementResult {
  std::vector<Row> rows;
  int affected = 0;
  std::string error;       // empty on success
  bool transient = false;  // a lock or a lost race: worth trying again
};

// Busy or locked SQLite, and on PostgreSQL a lost race for a key (two
// writers computed the same id or number, or created the same table) or a
// serialization failure or deadlock.
bool Transient(const QString& driver, const QSqlError& error) {
  const QString code = error.nativeErrorCode();
  if (driver == QLatin1String("QSQLITE")) {
    bool ok = false;
    const int value = code.toInt(&ok) & 0xFF;
    return ok && (value == 5 || value == 6);  // SQLITE_BUSY, SQLITE_LOCKED and their extended codes
  }
  // unique_violation, duplicate_table, duplicate_object (the row type of a
  // table created at the same moment), serialization_failure, deadlock_detected
  for (const char* transient : {"23505", "42P07", "42710", "40001", "40P01"}) {
    if (code == QLatin1String(transient)) return true;
  }
  return false;
}

void PauseBeforeRetry(int attempt) {
  thread_local std::minstd_rand random(
      static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()));
  const int ceiling_us = std::min(50000, 500 * (attempt + 1));
  std::this_thread::sleep_for(std::chrono::microseconds(random() % ceiling_us));
}

// Tries an operation again while it fails for a transient reason, for a
// bounded number of attempts and time.
template <typename Operation>
auto Retrying(Operation operation) {
  const auto deadline = std::chrono::steady_clock::now() + kRetryTime;
  for (int attempt = 0;; ++attempt) {
    auto result = operation();
    if (!result.transient || attempt + 1 >= kAttempts || std::chrono::steady_clock::now() > deadline) return result;
    PauseBeforeRetry(attempt);
  }
}

std::string TextOf(const QVariant& value) { return value.toString().toStdString(); }

}  // namespace

const char* ImageActionText(ImageAction action) { return WordOf(kImageActionWords, action); }
const char* StepKindText(StepKind step) { return WordOf(kStepKindWords, step); }
const char* SerialKindText(SerialKind kind) { return WordOf(kSerialKindWords, kind); }

// The named connection of one store. QSqlDatabase handles are fetched by
// name for each statement and never kept, so the connection can be removed
// cleanly at the end.
struct RecordStore::Connection {
  QString name;
  QString driver;

  ~Connection() {
    {
      QSqlDatabase db = QSqlDatabase::database(name, false);
      if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(name);
  }

  bool Sqlite() const { return driver == QLatin1String("QSQLITE"); }

  Outcome<bool> HasTable(const char* table) const {
    const StatementResult found = Retrying(
        [&] { return Execute(Sqlite() ? kSqliteHasTable : kPostgresHasTable, {{":name", QString::fromLatin1(table)}}); });
    if (!found.error.empty()) return Outcome<bool>::Failed(found.error);
    return Outcome<bool>::Done(!found.rows.empty() && found.rows.front().at(0).toLongLong() > 0);
  }

  // Whether the station's tables are there.
  Outcome<bool> HasTables() const { return HasTable("station_runs"); }

  // The layout's version; 1 for a store from before the version was kept.
  Outcome<int> Version() const {
    const auto kept = HasTable("station_schema");
    if (!kept) return Outcome<int>::Failed(kept.error);
    if (!*kept.value) return Outcome<int>::Done(1);
    const StatementResult read = Retrying([&] { return Execute(kReadVersion, {}); });
    if (!read.error.empty()) return Outcome<int>::Failed(read.error);
    const QVariant version = read.rows.empty() ? QVariant() : read.rows.front().at(0);
    return Outcome<int>::Done(version.isNull() ? 1 : version.toInt());
  }

  // Upgrades the layout to kVersion in one transaction that holds the
  // store's write lock from its start, so two processes upgrading at once
  // take turns and the second finds the work done. Nothing when done.
  StatementResult Upgrade() const {
    StatementResult failed;
    auto step = [&](const char* sql, const Bindings& bindings = {}) {
      if (!failed.error.empty()) return false;
      StatementResult result = Execute(sql, bindings);
      if (!result.error.empty()) failed = result;
      return failed.error.empty();
    };
    step(Sqlite() ? "BEGIN IMMEDIATE" : "BEGIN");
    if (!Sqlite()) step("LOCK TABLE station_runs IN ACCESS EXCLUSIVE MODE");
    step(kCreateSchemaTable);
    int version = 1;
    if (failed.error.empty()) {
      const StatementResult read = Execute(kReadVersion, {});
      if (!read.error.empty()) failed = read;
      if (!read.rows.empty() && !read.rows.front().at(0).isNull()) version = read.rows.front().at(0).toInt();
    }
    if (version == 1) {
      for (const char* statement : kUpgradeTo2) step(statement);
    }
    if (version <= 2) {
      for (const char* statement : kUpgradeTo3) step(statement);
    }
    if (version < kVersion) {
      step(kClearVersion);
      step(kWriteVersion, {{":version", kVersion}});
    }
    step("COMMIT");
    if (!failed.error.empty()) Execute("ROLLBACK", {});
    return failed;
  }

  // `body` in one transaction that holds the write lock on `table` from its
  // start, so two processes doing the same take turns; rolled back when a
  // statement fails.
  template <typename Body>
  StatementResult InTransaction(const char* table, Body body) const {
    StatementResult result = Execute(Sqlite() ? "BEGIN IMMEDIATE" : "BEGIN", {});
    if (!result.error.empty()) return result;
    if (!Sqlite()) {
      const std::string lock = std::string("LOCK TABLE ") + table + " IN SHARE ROW EXCLUSIVE MODE";
      result = Execute(lock.c_str(), {});
    }
    if (result.error.empty()) result = body();
    if (result.error.empty()) {
      StatementResult committed = Execute("COMMIT", {});
      if (!committed.error.empty()) result = committed;
    }
    if (!result.error.empty()) Execute("ROLLBACK", {});
    return result;
  }

  StatementResult Execute(const char* sql, const Bindings& bindings) const {
    StatementResult result;
    QSqlDatabase db = QSqlDatabase::database(name, false);
    // The client closes a connection the server dropped; the next statement
    // opens it again, so a restarted server is found once it is back.
    if (!db.isOpen() && !db.open()) {
      result.error = Format(Tr("the connection is lost and does not open again: %s"), S(db.lastError().text()).c_str());
      return result;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // PostgreSQL prepares no table definitions: statements without
    // parameters run as they are.
    bool ok = false;
    if (bindings.empty()) {
      ok = query.exec(QString::fromLatin1(sql));
    } else if ((ok = query.prepare(QString::fromLatin1(sql)))) {
      for (const auto& [key, value] : bindings) query.bindValue(QString::fromLatin1(key), value);
      ok = query.exec();
    }
    if (!ok) {
      const QSqlError error = query.lastError();
      result.error =
          error.text().trimmed().isEmpty() ? Tr("the statement failed and the driver says nothing more") : S(error.text());
      result.transient = Transient(driver, error);
      return result;
    }
    while (query.next()) {
      Row row;
      const int columns = query.record().count();
      for (int i = 0; i < columns; ++i) row.push_back(query.value(i));
      result.rows.push_back(std::move(row));
    }
    result.affected = query.numRowsAffected();
    // Ends the statement at once: an SQLite statement left open keeps its
    // lock, and a RETURNING one its write transaction.
    query.finish();
    return result;
  }
};

RecordStore::RecordStore(StoreLocation location, std::unique_ptr<Connection> connection)
    : location_(std::move(location)), connection_(std::move(connection)) {}

RecordStore::~RecordStore() = default;

Outcome<std::unique_ptr<RecordStore::Connection>> RecordStore::Connect(const StoreLocation& location,
                                                                       const std::string& where) {
  using Connected = Outcome<std::unique_ptr<Connection>>;
  const bool sqlite = location.kind == StoreLocation::Kind::kSqlite;
  if (!QCoreApplication::instance()) {
    return Connected::Failed(
        Format(Tr("cannot open %s: the program has no QCoreApplication for the database drivers"), where.c_str()));
  }
  auto connection = std::make_unique<Connection>();
  connection->driver = sqlite ? QStringLiteral("QSQLITE") : QStringLiteral("QPSQL");
  connection->name = QStringLiteral("orvane-station-%1-%2")
                         .arg(QCoreApplication::applicationPid())
                         .arg(connection_counter.fetch_add(1));
  QSqlDatabase db = QSqlDatabase::addDatabase(connection->driver, connection->name);
  if (!db.isValid()) {
    return Connected::Failed(Format(Tr("cannot open %1$s: Qt's %2$s driver is not installed (%3$s)"), where.c_str(),
                                    S(connection->driver).c_str(), sqlite ? "libqt6sql6-sqlite" : "libqt6sql6-psql"));
  }
  if (sqlite) {
    db.setDatabaseName(Q(location.file));
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs));
  } else {
    if (!location.host.empty()) db.setHostName(Q(location.host));
    if (location.port > 0) db.setPort(location.port);
    if (!location.user.empty()) db.setUserName(Q(location.user));
    if (!location.password.empty()) db.setPassword(Q(location.password));
    if (!location.database.empty()) db.setDatabaseName(Q(location.database));
    QStringList options;
    for (const auto& [key, value] : location.options) {
      QString quoted = Q(value);
      quoted.replace('\\', "\\\\").replace('\'', "\\'");
      options << Q(key) + "='" + quoted + "'";
    }
    db.setConnectOptions(options.join(';'));
  }
  if (!db.open()) {
    return Connected::Failed(Format(Tr("cannot open %1$s: %2$s"), where.c_str(), S(db.lastError().text()).c_str()));
  }
  return Connected::Done(std::move(connection));
}

namespace {

// A location that parses, and an SQLite file whose folder is there; the
// name of the store for messages.
struct Place {
  StoreLocation location;
  std::string where;
  bool file_missing = false;  // SQLite: no file yet
};

Outcome<Place> PlaceOf(const std::string& text) {
  auto parsed = ParseStoreLocation(text);
  if (!parsed) return Outcome<Place>::Failed(parsed.error);
  Place place{std::move(*parsed.value), "", false};
  place.where = Format(Tr("the station records at %s"), place.location.Describe().c_str());
  if (place.location.kind != StoreLocation::Kind::kSqlite) return Outcome<Place>::Done(std::move(place));
  const std::filesystem::path file(place.location.file);
  std::error_code error;
  if (std::filesystem::is_directory(file, error)) {
    return Outcome<Place>::Failed(Format(Tr("cannot open %s: it is a folder"), place.where.c_str()));
  }
  const std::filesystem::path folder = file.parent_path().empty() ? "." : file.parent_path();
  if (!std::filesystem::is_directory(folder, error)) {
    return Outcome<Place>::Failed(Format(Tr("cannot open %1$s: the folder \"%2$s\" does not exist"),
                                         place.where.c_str(), folder.string().c_str()));
  }
  place.file_missing = !std::filesystem::exists(file, error);
  return Outcome<Place>::Done(std::move(place));
}

std::string NoStore(const StoreLocation& location) {
  return Format(Tr("there is no record store at %s; give --new-records to start a new one there"),
                location.Describe().c_str());
}

}  // namespace

Outcome<std::unique_ptr<RecordStore>> RecordStore::Open(const std::string& text, StoreMode mode) {
  using Opened = Outcome<std::unique_ptr<RecordStore>>;
  auto place = PlaceOf(text);
  if (!place) return Opened::Failed(place.error);
  const std::string& where = place.value->where;
  if (mode == StoreMode::kExisting && place.value->file_missing) return Opened::Failed(NoStore(place.value->location));
  auto connection = Connect(place.value->location, where);
  if (!connection) return Opened::Failed(connection.error);
  if (mode == StoreMode::kExisting) {
    const auto there = (*connection.value)->HasTables();
    if (!there) return Opened::Failed(Format(Tr("cannot read %1$s: %2$s"), where.c_str(), there.error.c_str()));
    if (!*there.value) return Opened::Failed(NoStore(place.value->location));
  } else {
    // Two processes may create the tables at the same moment; the loser of
    // that race on PostgreSQL tries again and finds them there.
    for (const char* statement : kSchemaVersion1) {
      const StatementResult created = Retrying([&] { return (*connection.value)->Execute(statement, {}); });
      if (!created.error.empty()) {
        return Opened::Failed(
            Format(Tr("cannot create the tables of %1$s: %2$s"), where.c_str(), created.error.c_str()));
      }
    }
  }
  if (auto error = BringUpToDate(**connection.value, where)) return Opened::Failed(*error);
  return Opened::Done(std::unique_ptr<RecordStore>(
      new RecordStore(std::move(place.value->location), std::move(*connection.value))));
}

std::optional<std::string> RecordStore::BringUpToDate(const Connection& connection, const std::string& where) {
  const auto version = connection.Version();
  if (!version) return Format(Tr("cannot read %1$s: %2$s"), where.c_str(), version.error.c_str());
  if (*version.value > kVersion) {
    return Format(Tr("%1$s are of version %2$d, and this program knows version %3$d at most: use a newer orvane-cli"),
                  where.c_str(), *version.value, kVersion);
  }
  if (*version.value == kVersion) return std::nullopt;
  const StatementResult upgraded = Retrying([&] { return connection.Upgrade(); });
  if (!upgraded.error.empty()) {
    return Format(Tr("cannot upgrade %1$s to version %2$d: %3$s"), where.c_str(), kVersion, upgraded.error.c_str());
  }
  // Another program may have upgraded it further in the meantime.
  const auto now = connection.Version();
  if (now && *now.value == kVersion) return std::nullopt;
  return BringUpToDate(connection, where);
}

Outcome<bool> RecordStore::Exists(const std::string& text) {
  auto place = PlaceOf(text);
  if (!place) return Outcome<bool>::Failed(place.error);
  if (place.value->file_missing) return Outcome<bool>::Done(false);
  auto connection = Connect(place.value->location, place.value->where);
  if (!connection) return Outcome<bool>::Failed(connection.error);
  return (*connection.value)->HasTables();
}

Outcome<std::int64_t> RecordStore::StartRun(const RunStart& start) {
  const QString plans = Q(CompactJson(PlansToJson(start.plans)));
  const StatementResult result = Retrying([&] {
    return connection_->Execute(kStartRun, {{":started", Now()},
                                            {":port", Q(start.port)},
                                            {":usb_serial", Q(start.usb_serial)},
                                            {":image_sha256", Q(start.image_sha256)},
                                            {":plans", plans},
                                            {":constants", Q(CompactJson(ConstantsToJson(start.constants)))},
                                            {":version", Q(start.version)},
                                            {":station", Q(start.station)},
                                            {":position", Q(start.position)},
                                            {":socket", Q(start.socket)},
                                            {":trace", Q(start.trace)},
                                            {":session", start.session > 0 ? QVariant::fromValue<qlonglong>(start.session)
                                                                           : QVariant(QMetaType(QMetaType::LongLong))}});
  });
  if (!result.error.empty() || result.rows.empty()) {
    return Outcome<std::int64_t>::Failed(Format(Tr("cannot record the run in %1$s: %2$s"),
                                                location_.Describe().c_str(),
                                                result.error.empty() ? Tr("no id came back") : result.error.c_str()));
  }
  return Outcome<std::int64_t>::Done(result.rows.front().at(0).toLongLong());
}

std::optional<std::string> RecordStore::FinishRun(std::int64_t run, const RunEnd& end) {
  if (end.result == RunResult::kRunning) return std::string(Tr("a run cannot be finished as running"));
  const std::string where = location_.Describe();
  const StatementResult update = Retrying([&] {
    return connection_->Execute(kFinishRun, {{":finished", end.finished.empty() ? Now() : Q(end.finished)},
                                             {":result", QString::fromLatin1(RunResultText(end.result))},
                                             {":reason", Q(end.reason)},
                                             {":failed_step", QString::fromLatin1(StepKindText(end.failed_step))},
                                             {":failed_plan", end.failed_plan},
                                             {":image_action", QString::fromLatin1(ImageActionText(end.image_action))},
                                             {":holds", Q(end.holds_json)},
                                             {":lease_until", Q(end.lease_until)},
                                             {":id", QVariant::fromValue<qlonglong>(run)}});
  });
  if (!update.error.empty()) return EndNotRecorded(run, where, update.error);
  if (update.affected > 0) return std::nullopt;
  const StatementResult state = Retrying([&] {
    return connection_->Execute(kRunResult, {{":id", QVariant::fromValue<qlonglong>(run)}});
  });
  if (!state.error.empty()) return EndNotRecorded(run, where, state.error);
  if (state.rows.empty()) return NoRun(run, where);
  return AlreadyEnded(run, S(state.rows.front().at(0).toString()));
}

Outcome<SerialGrant> RecordStore::TakeSerial(std::int64_t run, SerialRange range,
                                             std::optional<std::int64_t> modem_serial) {
  using Granted = Outcome<SerialGrant>;
  const QVariant run_id = QVariant::fromValue<qlonglong>(run);
  const std::string where = location_.Describe();
  struct Attempt {
    Granted outcome;
    bool transient = false;
  };
  auto failed = [&](const StatementResult& r) {
    return Attempt{
        Granted::Failed(Format(Tr("cannot take a serial number for run %1$lld in %2$s: %3$s"),
                               static_cast<long long>(run), where.c_str(), r.error.c_str())),
        r.transient};
  };
  auto granted = [](const Row& row, SerialKind kind) {
    return Attempt{Granted::Done(
        SerialGrant{static_cast<std::int32_t>(row.at(0).toLongLong()), kind == SerialKind::kAgain, kind})};
  };
  // Each attempt starts from the top, so one that lost a race sees what
  // the winner stored.
  const Attempt attempt = Retrying([&]() -> Attempt {
    const StatementResult held = connection_->Execute(kSerialOfRun, {{":run", run_id}});
    if (!held.error.empty()) return failed(held);
    if (!held.rows.empty()) {
      const auto kind = ValueOf(kSerialKindWords, TextOf(held.rows.front().at(1)));
      return granted(held.rows.front(), kind.value_or(SerialKind::kFresh));
    }
    const StatementResult state = connection_->Execute(kRunResult, {{":id", run_id}});
    if (!state.error.empty()) return failed(state);
    if (state.rows.empty()) return Attempt{Granted::Failed(NoRun(run, where))};
    if (state.rows.front().at(0).toString() != QLatin1String("running")) {
      return Attempt{Granted::Failed(AlreadyEnded(run, S(state.rows.front().at(0).toString())))};
    }
    if (modem_serial && range.Contains(*modem_serial)) {
      const QVariant reported = QVariant::fromValue<qlonglong>(*modem_serial);
      const StatementResult again = connection_->Execute(
          kSerialAgain, {{":run", run_id}, {":given", Now()}, {":reported", reported}, {":held", reported}});
      if (!again.error.empty()) return failed(again);
      if (!again.rows.empty()) return granted(again.rows.front(), SerialKind::kAgain);
    }
    const StatementResult fresh = connection_->Execute(kSerialFresh, {{":run", run_id},
                                                                      {":given", Now()},
                                                                      {":first", range.first},
                                                                      {":low", range.first},
                                                                      {":high", range.last},
                                                                      {":last", range.last}});
    if (!fresh.error.empty()) return failed(fresh);
    if (fresh.rows.empty()) {
      return Attempt{Granted::Failed(Format(Tr("every serial number from %1$s has been given in %2$s"),
                                            range.Text().c_str(), where.c_str()))};
    }
    return granted(fresh.rows.front(), SerialKind::kFresh);
  });
  return attempt.outcome;
}

Outcome<std::int64_t> RecordStore::NumbersLeft(SerialRange range) {
  const StatementResult result = Retrying([&] {
    return connection_->Execute(kHighestTaken, {{":low", range.first}, {":high", range.last}});
  });
  if (!result.error.empty()) {
    return Outcome<std::int64_t>::Failed(Format(Tr("cannot read the serial counter in %1$s: %2$s"),
                                                location_.Describe().c_str(), result.error.c_str()));
  }
  const QVariant highest = result.rows.empty() ? QVariant() : result.rows.front().at(0);
  const std::int64_t next = highest.isNull() ? range.first : highest.toLongLong() + 1;
  return Outcome<std::int64_t>::Done(std::max<std::int64_t>(0, std::int64_t{range.last} - next + 1));
}

Outcome<std::vector<RunRecord>> RecordStore::History(const HistoryFilter& filter) {
  using Listed = Outcome<std::vector<RunRecord>>;
  std::string sql = kHistory;
  Bindings bindings;
  std::vector<std::string> conditions;
  if (filter.serial) {
    conditions.push_back("g.serial = :serial");
    bindings.emplace_back(":serial", QVariant::fromValue<qlonglong>(*filter.serial));
  }
  if (!filter.since.empty()) {
    const auto since = SinceToUtc(filter.since);
    if (!since) return Listed::Failed(since.error);
    conditions.push_back("r.started >= :since");
    bindings.emplace_back(":since", Q(*since.value));
  }
  if (!filter.until.empty()) {
    const auto until = UntilToUtc(filter.until);
    if (!until) return Listed::Failed(until.error);
    conditions.push_back("r.started < :until");
    bindings.emplace_back(":until", Q(*until.value));
  }
  if (!filter.station.empty()) {
    conditions.push_back("r.station = :station");
    bindings.emplace_back(":station", Q(filter.station));
  }
  if (!filter.position.empty()) {
    conditions.push_back("r.position = :position");
    bindings.emplace_back(":position", Q(filter.position));
  }
  if (filter.result) {
    conditions.push_back("r.result = :result");
    bindings.emplace_back(":result", QString::fromLatin1(RunResultText(*filter.result)));
  }
  for (std::size_t i = 0; i < conditions.size(); ++i) sql += (i == 0 ? " WHERE " : " AND ") + conditions[i];
  sql += " ORDER BY r.started, r.id";
  const StatementResult result = Retrying([&] { return connection_->Execute(sql.c_str(), bindings); });
  if (!result.error.empty()) {
    return Listed::Failed(
        Format(Tr("cannot read the history in %1$s: %2$s"), location_.Describe().c_str(), result.error.c_str()));
  }
  std::vector<RunRecord> runs;
  for (const Row& row : result.rows) {
    RunRecord r;
    r.id = row[0].toLongLong();
    r.started = S(row[1].toString());
    r.finished = S(row[2].toString());
    r.port = S(row[3].toString());
    r.usb_serial = S(row[4].toString());
    if (!row[5].isNull()) r.serial = row[5].toLongLong();
    r.serial_kind = ValueOf(kSerialKindWords, TextOf(row[22])).value_or(SerialKind::kFresh);
    r.serial_again = r.serial && r.serial_kind == SerialKind::kAgain;
    r.image_sha256 = S(row[7].toString());
    r.plans = PlansFromJson(ArrayFromText(S(row[8].toString())));
    r.constants = ConstantsFromJson(ObjectFromText(S(row[9].toString())));
    r.result = RunResultFromText(TextOf(row[10])).value_or(RunResult::kFailed);
    r.reason = S(row[11].toString());
    r.version = S(row[12].toString());
    r.station = S(row[13].toString());
    r.position = S(row[14].toString());
    r.socket = S(row[15].toString());
    r.trace = S(row[16].toString());
    r.image_action = ValueOf(kImageActionWords, TextOf(row[17])).value_or(ImageAction::kNone);
    r.failed_step = ValueOf(kStepKindWords, TextOf(row[18])).value_or(StepKind::kNone);
    r.failed_plan = row[19].toInt();
    r.holds_json = S(row[20].toString());
    r.lease_until = S(row[21].toString());
    r.session = row[23].isNull() ? 0 : row[23].toLongLong();
    runs.push_back(std::move(r));
  }
  return Listed::Done(std::move(runs));
}

Outcome<std::vector<RunRecord>> RecordStore::RunsWithSerial(std::int64_t serial) {
  HistoryFilter filter;
  filter.serial = serial;
  return History(filter);
}

Outcome<SerialGrant> RecordStore::KeepSerial(std::int64_t run, std::int64_t serial) {
  using Granted = Outcome<SerialGrant>;
  const QVariant run_id = QVariant::fromValue<qlonglong>(run);
  const QVariant number = QVariant::fromValue<qlonglong>(serial);
  const std::string where = location_.Describe();
  struct Attempt {
    Granted outcome;
    bool transient = false;
  };
  auto failed = [&](const StatementResult& r) {
    return Attempt{Granted::Failed(Format(Tr("cannot keep the serial number %1$lld for run %2$lld in %3$s: %4$s"),
                                          static_cast<long long>(serial), static_cast<long long>(run), where.c_str(),
                                          r.error.c_str())),
                   r.transient};
  };
  auto kept = [serial] {
    return Attempt{Granted::Done(SerialGrant{static_cast<std::int32_t>(serial), false, SerialKind::kKept})};
  };
  const Attempt attempt = Retrying([&]() -> Attempt {
    const StatementResult held = connection_->Execute(kSerialOfRun, {{":run", run_id}});
    if (!held.error.empty()) return failed(held);
    if (!held.rows.empty()) {
      const bool kept_for_rework = TextOf(held.rows.front().at(1)) == SerialKindText(SerialKind::kKept);
      if (held.rows.front().at(0).toLongLong() == serial && kept_for_rework) return kept();
      return Attempt{Granted::Failed(Format(Tr("run %1$lld already has the serial number %2$lld"),
                                            static_cast<long long>(run), held.rows.front().at(0).toLongLong()))};
    }
    const StatementResult state = connection_->Execute(kRunResult, {{":id", run_id}});
    if (!state.error.empty()) return failed(state);
    if (state.rows.empty()) return Attempt{Granted::Failed(NoRun(run, where))};
    if (state.rows.front().at(0).toString() != QLatin1String("running")) {
      return Attempt{Granted::Failed(AlreadyEnded(run, S(state.rows.front().at(0).toString())))};
    }
    const StatementResult holders = connection_->Execute(kSerialHolders, {{":serial", number}});
    if (!holders.error.empty()) return failed(holders);
    const Row counts = holders.rows.empty() ? Row{0, 0} : holders.rows.front();
    if (counts.at(0).toLongLong() == 0) {
      return Attempt{Granted::Failed(Format(Tr("the serial number %1$lld was never given in %2$s, so it cannot be kept"),
                                            static_cast<long long>(serial), where.c_str()))};
    }
    if (counts.at(1).toLongLong() > 0) {
      return Attempt{Granted::Failed(Format(Tr("the serial number %1$lld cannot be kept: a run given it is still running"),
                                            static_cast<long long>(serial)))};
    }
    const StatementResult stored = connection_->Execute(
        kSerialKept, {{":run", run_id}, {":given", Now()}, {":kept", number}, {":held", number}});
    if (!stored.error.empty()) return failed(stored);
    // A run given the number in the meantime: the next attempt says which.
    if (stored.rows.empty()) return Attempt{Granted::Failed(""), true};
    return kept();
  });
  return attempt.outcome;
}

namespace {

QString LeaseEnd(std::chrono::milliseconds lapse) {
  return QDateTime::currentDateTimeUtc().addMSecs(lapse.count()).toString(Qt::ISODateWithMs);
}

bool SharesPosition(const std::vector<std::string>& held, const std::vector<std::string>& wanted) {
  return std::any_of(wanted.begin(), wanted.end(),
                     [&](const std::string& name) { return std::find(held.begin(), held.end(), name) != held.end(); });
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// A session's process as this host knows it: its id and its start time in
// clock ticks since boot, which together are never reused.
std::string ProcessIdentity(const std::string& pid) {
  QFile stat(QString::fromStdString("/proc/" + pid + "/stat"));
  if (!stat.open(QIODevice::ReadOnly)) return {};
  const QByteArray text = stat.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  return fields.size() > 19 ? pid + ":" + fields[19].toStdString() : std::string{};
}

std::string ThisProcess() { return ProcessIdentity(std::to_string(::getpid())); }

// A holder on this host whose process is gone (killed outright) holds
// nothing, whatever its lease says; one on another host cannot be looked at.
bool DeadOnThisHost(const std::string& host, const std::string& process, const std::string& this_host) {
  if (host != this_host || process.empty()) return false;
  return ProcessIdentity(process.substr(0, process.find(':'))) != process;
}

std::string Refusal(const SessionClaim& claim, const SessionHolder& holder) {
  std::vector<std::string> shared;
  for (const std::string& name : claim.positions) {
    if (std::find(holder.positions.begin(), holder.positions.end(), name) != holder.positions.end()) {
      shared.push_back(name);
    }
  }
  return Format(Tr("station %1$s: %2$s already taken by the session on %3$s started at %4$s, its lease running "
                   "until %5$s"),
                claim.station.c_str(), Joined(shared).c_str(), holder.host.c_str(), holder.started.c_str(),
                holder.lease_until.c_str());
}

}  // namespace

Outcome<std::int64_t> RecordStore::ClaimSession(const SessionClaim& claim) {
  using Claimed = Outcome<std::int64_t>;
  std::optional<SessionHolder> holder;
  const StatementResult result = Retrying([&] {
    holder.reset();
    return connection_->InTransaction("station_sessions", [&]() -> StatementResult {
      const QString now = Now();
      StatementResult live = connection_->Execute(kLiveSessions, {{":station", Q(claim.station)}, {":now", now}});
      if (!live.error.empty()) return live;
      for (const Row& row : live.rows) {
        if (DeadOnThisHost(TextOf(row[1]), TextOf(row[5]), claim.host)) {
          StatementResult released = connection_->Execute(kReleaseSession, {{":ended", now}, {":lease_until", now}, {":id", row[0]}});
          if (!released.error.empty()) return released;
          continue;
        }
        SessionHolder held{row[0].toLongLong(), TextOf(row[1]), TextOf(row[2]), TextOf(row[3]),
                           NamesFromJson(ArrayFromText(S(row[4].toString())))};
        if (SharesPosition(held.positions, claim.positions)) {
          holder = std::move(held);
          return {};
        }
      }
      return connection_->Execute(kNewSession, {{":station", Q(claim.station)},
                                                {":positions", Q(CompactJson(NamesToJson(claim.positions)))},
                                                {":host", Q(claim.host)},
                                                {":started", now},
                                                {":renewed", now},
                                                {":lease_until", LeaseEnd(claim.lapse)},
                                                {":process", Q(ThisProcess())}});
    });
  });
  if (!result.error.empty()) {
    return Claimed::Failed(Format(Tr("cannot start the station session in %1$s: %2$s"), location_.Describe().c_str(),
                                  result.error.c_str()));
  }
  if (holder) return Claimed::Failed(Refusal(claim, *holder));
  if (result.rows.empty()) return Claimed::Failed(Tr("no id came back"));
  return Claimed::Done(result.rows.front().at(0).toLongLong());
}

std::optional<std::string> RecordStore::RenewSession(std::int64_t session, std::chrono::milliseconds lapse) {
  const QVariant id = QVariant::fromValue<qlonglong>(session);
  const StatementResult renewed = Retrying([&] {
    const QString now = Now();
    return connection_->Execute(kRenewSession,
                                {{":renewed", now}, {":lease_until", LeaseEnd(lapse)}, {":id", id}, {":now", now}});
  });
  const std::string where = location_.Describe();
  if (!renewed.error.empty()) {
    return Format(Tr("cannot renew the lease of station session %1$lld in %2$s: %3$s"),
                  static_cast<long long>(session), where.c_str(), renewed.error.c_str());
  }
  if (renewed.affected > 0) return std::nullopt;
  const StatementResult state = Retrying([&] { return connection_->Execute(kSessionState, {{":id", id}}); });
  if (state.rows.empty()) return Format(Tr("there is no station session %1$lld in %2$s"), static_cast<long long>(session), where.c_str());
  return Format(Tr("the lease of station session %1$lld lapsed at %2$s"), static_cast<long long>(session),
                TextOf(state.rows.front().at(0)).c_str());
}

std::optional<std::string> RecordStore::ReleaseSession(std::int64_t session) {
  const StatementResult released = Retrying([&] {
    const QString now = Now();
    return connection_->Execute(kReleaseSession,
                                {{":ended", now}, {":lease_until", now}, {":id", QVariant::fromValue<qlonglong>(session)}});
  });
  if (released.error.empty()) return std::nullopt;
  return Format(Tr("cannot end station session %1$lld in %2$s: %3$s"), static_cast<long long>(session),
                location_.Describe().c_str(), released.error.c_str());
}

Outcome<std::int64_t> RecordStore::AbandonLapsedRuns() {
  using Counted = Outcome<std::int64_t>;
  auto failed = [&](const StatementResult& r) {
    return Counted::Failed(Format(Tr("cannot mark the runs of lapsed sessions in %1$s: %2$s"),
                                  location_.Describe().c_str(), r.error.c_str()));
  };
  const StatementResult lapsed = Retrying([&] { return connection_->Execute(kLapsedSessions, {{":now", Now()}}); });
  if (!lapsed.error.empty()) return failed(lapsed);
  std::int64_t marked = 0;
  for (const Row& row : lapsed.rows) {
    const std::string reason =
        Format(Tr("its station %1$s stopped renewing its lease at %2$s"), TextOf(row[2]).c_str(), TextOf(row[1]).c_str());
    const StatementResult abandoned = Retrying([&] {
      return connection_->Execute(kAbandonRuns, {{":finished", Now()}, {":reason", Q(reason)}, {":session", row[0]}});
    });
    if (!abandoned.error.empty()) return failed(abandoned);
    marked += abandoned.affected;
  }
  return Counted::Done(marked);
}

std::optional<std::string> RecordStore::Probe() {
  StatementResult result = connection_->Execute(kTouchVersion, {});
  if (result.error.empty()) result = connection_->Execute(kReadVersion, {});
  if (result.error.empty() && !result.rows.empty() && result.rows.front().at(0).toInt() == kVersion) {
    return std::nullopt;
  }
  const std::string where = Format(Tr("the station records at %s"), location_.Describe().c_str());
  return Format(Tr("%1$s cannot be used now: %2$s"), where.c_str(),
                result.error.empty() ? Tr("the store's version cannot be read back") : result.error.c_str());
}

bool SameJob(const RunRecord& done, const RunStart& session) {
  return done.image_sha256 == session.image_sha256 && done.plans == session.plans &&
         done.constants == session.constants;
}

Outcome<std::string> FileSha256(const std::string& path) {
  QFile file(Q(path));
  if (!file.open(QIODevice::ReadOnly)) {
    return Outcome<std::string>::Failed(Format(Tr("cannot read \"%s\": %s"), path.c_str(), S(file.errorString()).c_str()));
  }
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file)) {
    return Outcome<std::string>::Failed(Format(Tr("cannot read \"%s\": %s"), path.c_str(), S(file.errorString()).c_str()));
  }
  return Outcome<std::string>::Done(hash.result().toHex().toStdString());
}

Outcome<RunStart> RunStartFor(const Job& job, const std::string& port, const std::string& usb_serial,
                              const std::string& version) {
  RunStart start{port, usb_serial, "", {}, job.constants, version};
  start.station = S(QSysInfo::machineHostName());
  start.position = port;
  if (job.image) {
    auto sha = FileSha256(*job.image);
    if (!sha) return Outcome<RunStart>::Failed(sha.error);
    start.image_sha256 = std::move(*sha.value);
  }
  for (const std::string& plan : job.plans) {
    auto sha = FileSha256(plan);
    if (!sha) return Outcome<RunStart>::Failed(sha.error);
    start.plans.push_back({std::filesystem::path(plan).filename().string(), std::move(*sha.value)});
  }
  return Outcome<RunStart>::Done(std::move(start));
}

namespace {

// A day (its start, or with next_day the start of the next one) or an ISO
// 8601 time (a millisecond later with next_day), in UTC; invalid for
// anything else.
QDateTime TimeOf(const std::string& given, bool next_day) {
  const QString text = Q(given).trimmed();
  if (text.size() == 10) {
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (!day.isValid()) return {};
    return (next_day ? day.addDays(1) : day).startOfDay(Qt::LocalTime).toUTC();
  }
  const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
  if (!time.isValid()) return {};
  return (next_day ? time.addMSecs(1) : time).toUTC();
}

Outcome<std::string> Bound(const char* name, const std::string& given, bool next_day) {
  const QDateTime time = TimeOf(given, next_day);
  if (!time.isValid()) {
    return Outcome<std::string>::Failed(
        Format(Tr("%1$s: \"%2$s\" is neither a date (YYYY-MM-DD) nor an ISO 8601 time"), name, given.c_str()));
  }
  return Outcome<std::string>::Done(S(time.toString(Qt::ISODateWithMs)));
}

}  // namespace

Outcome<std::string> SinceToUtc(const std::string& since) { return Bound("since", since, false); }
Outcome<std::string> UntilToUtc(const std::string& until) { return Bound("until", until, true); }

}  // namespace orvane::station
