// A PostgreSQL server of a test's own (scripts/pg_test_cluster.sh), which
// the test may stop and start again, unlike the shared one ORVANE_TEST_PG
// names.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "station/store_location.h"

namespace orvane::station {

namespace own_server_detail {
inline std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
    if (::pclose(pipe) != 0) return {};
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace own_server_detail

// A PostgreSQL server of the test's own, stopped and started again with
// its data on the same port.
class OwnServer {
 public:
  OwnServer() {
    const char* bin_env = std::getenv("PG_BIN");
    bin_ = bin_env && *bin_env ? bin_env : "/usr/lib/postgresql/15/bin";
    if (!std::filesystem::exists(std::filesystem::path(bin_) / "pg_ctl")) {
      skipped_ = "no pg_ctl in " + bin_ + ", so the PostgreSQL outage is not tested";
      return;
    }
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-pg-outage-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
      skipped_ = "cannot make a folder for the server";
      return;
    }
    dir_ = pattern;
    std::filesystem::remove(dir_);  // the script makes it, and removes only what it made
    url_ = own_server_detail::Shell(std::string(ORVANE_PG_CLUSTER_SCRIPT) + " start " + dir_ + " 2>/dev/null");
    const auto parsed = ParseStoreLocation(url_);
    if (url_.empty() || !parsed) {
      skipped_ = "scripts/pg_test_cluster.sh could not start a server here";
      return;
    }
    port_ = parsed.value->port;
  }
  ~OwnServer() {
    if (!dir_.empty()) own_server_detail::Shell(std::string(ORVANE_PG_CLUSTER_SCRIPT) + " stop " + dir_);
  }
  OwnServer(const OwnServer&) = delete;
  OwnServer& operator=(const OwnServer&) = delete;

  const std::string& url() const { return url_; }
  const std::string& skipped() const { return skipped_; }  // why there is no server, or empty
  bool Stop() const { return Control("stop"); }
  bool Start() const { return Control("start"); }

 private:
  bool Control(const std::string& action) const {
    const std::string as = ::getuid() == 0 ? "runuser -u postgres -- " : "";
    const std::string options = " -o '-p " + std::to_string(port_) + " -k " + dir_ +
                                " -c listen_addresses=127.0.0.1 -c fsync=off'";
    const std::string command = as + bin_ + "/pg_ctl -D " + dir_ + "/data -l " + dir_ + "/server.log -w -t 30" +
                                (action == "start" ? options : " -m fast") + " " + action + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
  }

  std::string bin_, dir_, url_, skipped_;
  int port_ = -1;
};

}  // namespace orvane::station
