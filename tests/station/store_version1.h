// A store as the first layout made it, for the upgrade tests: the tables of
// version 1, made by that version's own statements, with rows written the
// way that version wrote them.
#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <string>

#include "station/store_location.h"

namespace orvane::station {

inline constexpr const char* kVersion1Schema[] = {
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

// A connection of the test's own to the store at `location`, beside the
// store's; statements on it run as they are.
class RawStore {
 public:
  explicit RawStore(const std::string& location) {
    static int counter = 0;
    name_ = QStringLiteral("orvane-raw-store-%1").arg(counter++);
    const auto parsed = ParseStoreLocation(location);
    if (!parsed) {
      error_ = parsed.error;
      return;
    }
    const StoreLocation& l = *parsed.value;
    const bool sqlite = l.kind == StoreLocation::Kind::kSqlite;
    QSqlDatabase db = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", name_);
    if (sqlite) {
      db.setDatabaseName(QString::fromStdString(l.file));
    } else {
      db.setHostName(QString::fromStdString(l.host));
      if (l.port > 0) db.setPort(l.port);
      db.setUserName(QString::fromStdString(l.user));
      db.setPassword(QString::fromStdString(l.password));
      db.setDatabaseName(QString::fromStdString(l.database));
      QStringList options;
      for (const auto& [key, value] : l.options) {
        options << QString::fromStdString(key) + "='" + QString::fromStdString(value) + "'";
      }
      db.setConnectOptions(options.join(';'));
    }
    if (!db.open()) error_ = db.lastError().text().toStdString();
  }
  ~RawStore() {
    {
      QSqlDatabase db = QSqlDatabase::database(name_, false);
      db.close();
    }
    QSqlDatabase::removeDatabase(name_);
  }
  RawStore(const RawStore&) = delete;
  RawStore& operator=(const RawStore&) = delete;

  bool Execute(const std::string& sql) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (query.exec(QString::fromStdString(sql))) return true;
    error_ = sql + ": " + query.lastError().text().toStdString();
    return false;
  }

  // The first column of the first row, as text; empty when there is none.
  std::string Value(const std::string& sql) {
    QSqlQuery query(QSqlDatabase::database(name_, false));
    if (!query.exec(QString::fromStdString(sql))) {
      error_ = sql + ": " + query.lastError().text().toStdString();
      return {};
    }
    return query.next() ? query.value(0).toString().toStdString() : std::string();
  }

  // The version 1 tables with three runs: 1 done with 100, 2 failed with
  // 101, 3 given 101 again and still running.
  bool MakeVersion1() {
    for (const char* statement : kVersion1Schema) {
      if (!Execute(statement)) return false;
    }
    const char* rows[] = {
        "INSERT INTO station_runs VALUES (1, '2026-01-01T10:00:00.000Z', '2026-01-01T10:01:00.000Z', 'COM5', 'A1',"
        " 'aa', '[{\"name\":\"p.yp1\",\"sha256\":\"bb\"}]', '{\"tz\":180}', 'done', '', '0.9')",
        "INSERT INTO station_runs VALUES (2, '2026-01-01T11:00:00.000Z', '2026-01-01T11:01:00.000Z', 'COM6', '',"
        " 'aa', '[]', '{}', 'failed', 'plan 1 (p.yp1): no answer', '0.9')",
        "INSERT INTO station_runs VALUES (3, '2026-01-01T12:00:00.000Z', NULL, 'COM6', '', 'aa', '[]', '{}',"
        " 'running', '', '0.9')",
        "INSERT INTO station_serials VALUES (100, 0, 1, '2026-01-01T10:00:30.000Z')",
        "INSERT INTO station_serials VALUES (101, 0, 2, '2026-01-01T11:00:30.000Z')",
        "INSERT INTO station_serials VALUES (101, 1, 3, '2026-01-01T12:00:30.000Z')",
    };
    for (const char* row : rows) {
      if (!Execute(row)) return false;
    }
    return true;
  }

  const std::string& error() const { return error_; }

 private:
  QString name_;
  std::string error_;
};

}  // namespace orvane::station
