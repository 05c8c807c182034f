// Fresh, empty stores for the tests: an SQLite file in a folder of its own,
// or a schema of its own in the PostgreSQL database that ORVANE_TEST_PG
// names, so tests running at the same time never meet.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>

#include "station/store_location.h"

namespace orvane::station {

enum class Backend { kSqlite, kPostgres };

inline const char* BackendName(Backend backend) { return backend == Backend::kSqlite ? "SQLite" : "PostgreSQL"; }
inline void PrintTo(Backend backend, std::ostream* out) { *out << BackendName(backend); }

// Why the backend cannot be tested here, or nothing.
inline std::string BackendMissing(Backend backend) {
  const char* url = std::getenv("ORVANE_TEST_PG");
  if (backend == Backend::kPostgres && (!url || !*url)) {
    return "ORVANE_TEST_PG is not set, so there is no PostgreSQL server to test against "
           "(scripts/test.sh starts one with scripts/pg_test_cluster.sh)";
  }
  return {};
}

class TestDatabase {
 public:
  explicit TestDatabase(Backend backend) : backend_(backend) {
    static std::atomic<int> counter{0};
    const int number = counter++;
    if (backend == Backend::kSqlite) {
      // In memory where the machine has it: every commit of the store waits
      // for the disk, which only slows the tests down.
      std::error_code error;
      const std::filesystem::path base =
          std::filesystem::is_directory("/dev/shm", error) ? "/dev/shm" : std::filesystem::temp_directory_path();
      std::string pattern = (base / "orvane-station-XXXXXX").string();
      if (const char* made = ::mkdtemp(pattern.data())) {
        folder_ = made;
        location_ = folder_ + "/station.sqlite";
      } else {
        error_ = "cannot make a folder in " + base.string();
      }
      return;
    }
    const std::string url = std::getenv("ORVANE_TEST_PG");
    admin_ = QStringLiteral("orvane-test-admin-%1").arg(number);
    schema_ = "orvane_test_" + std::to_string(::getpid()) + "_" + std::to_string(number);
    const auto parsed = ParseStoreLocation(url);
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", admin_);
    if (parsed) {
      const StoreLocation& l = *parsed.value;
      db.setHostName(QString::fromStdString(l.host));
      if (l.port > 0) db.setPort(l.port);
      db.setUserName(QString::fromStdString(l.user));
      db.setPassword(QString::fromStdString(l.password));
      db.setDatabaseName(QString::fromStdString(l.database));
      db.setConnectOptions("options='-c client_min_messages=warning'");
    }
    if (!db.open()) {
      error_ = "cannot reach ORVANE_TEST_PG: " + db.lastError().text().toStdString();
      return;
    }
    if (!Execute("CREATE SCHEMA " + schema_)) return;
    location_ = url + (url.find('?') == std::string::npos ? "?" : "&") + "options=-csearch_path%3D" + schema_;
  }

  ~TestDatabase() {
    if (backend_ == Backend::kSqlite) {
      std::error_code ignored;
      std::filesystem::remove_all(folder_, ignored);
      return;
    }
    if (!location_.empty()) Execute("DROP SCHEMA " + schema_ + " CASCADE");
    {
      QSqlDatabase db = QSqlDatabase::database(admin_, false);
      db.close();
    }
    QSqlDatabase::removeDatabase(admin_);
  }

  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const std::string& location() const { return location_; }
  const std::string& error() const { return error_; }  // why the database could not be set up
  const std::string& folder() const { return folder_; }

  // A statement on the test's own PostgreSQL connection, beside the store's.
  bool Execute(const std::string& sql) {
    QSqlQuery query(QSqlDatabase::database(admin_, false));
    if (query.exec(QString::fromStdString(sql))) return true;
    error_ = sql + ": " + query.lastError().text().toStdString();
    return false;
  }

 private:
  Backend backend_;
  std::string folder_, location_, schema_, error_;
  QString admin_;
};

}  // namespace orvane::station
