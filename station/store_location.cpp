#include "station/store_location.h"

#include "l10n/l10n.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace orvane::station {

using l10n::Format;
using l10n::Tr;
namespace {

using Parsed = Outcome<StoreLocation>;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Undoes %XX escapes; false for a broken one.
bool PercentDecode(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexDigit(text[i + 1]);
    const int low = HexDigit(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return true;
}

bool ParsePort(std::string_view text, int& port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  port = value;
  return true;
}

// Errors never echo the URL whole: it may hold a password.
Parsed ParsePostgres(std::string_view rest) {
  auto refused = [](const std::string& why) { return Parsed::Failed(Format(Tr("the PostgreSQL URL %s"), why.c_str())); };
  StoreLocation location;
  location.kind = StoreLocation::Kind::kPostgres;
  if (const auto hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);
  std::string_view query;
  if (const auto mark = rest.find('?'); mark != std::string_view::npos) {
    query = rest.substr(mark + 1);
    rest = rest.substr(0, mark);
  }
  std::string_view authority = rest;
  std::string_view database;
  if (const auto slash = rest.find('/'); slash != std::string_view::npos) {
    authority = rest.substr(0, slash);
    database = rest.substr(slash + 1);
  }
  if (!PercentDecode(database, location.database)) return refused(Tr("has a broken percent escape in the database name"));
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userinfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const auto colon = userinfo.find(':');
    if (!PercentDecode(userinfo.substr(0, colon), location.user)) return refused(Tr("has a broken percent escape in the user"));
    if (colon != std::string_view::npos && !PercentDecode(userinfo.substr(colon + 1), location.password)) {
      return refused(Tr("has a broken percent escape in the password"));
    }
  }
  std::string_view host = authority;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    const auto close = host.find(']');
    if (close == std::string_view::npos) return refused(Tr("has a '[' without ']' around its host"));
    port = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!port.empty() && port.front() != ':') return refused(Tr("has something other than :port after its host"));
    if (!port.empty()) port.remove_prefix(1);
  } else if (const auto colon = host.find(':'); colon != std::string_view::npos) {
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (!PercentDecode(host, location.host)) return refused(Tr("has a broken percent escape in the host"));
  if (!port.empty() && !ParsePort(port, location.port)) {
    return refused(Format(Tr("has the port \"%s\", not a number from 1 to 65535"), std::string(port).c_str()));
  }
  bool timeout_given = false;
  while (!query.empty()) {
    const auto amp = query.find('&');
    const std::string_view pair = query.substr(0, amp);
    query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    if (pair.empty()) continue;
    const auto equals = pair.find('=');
    std::string key, value;
    if (equals == std::string_view::npos || !PercentDecode(pair.substr(0, equals), key) ||
        !PercentDecode(pair.substr(equals + 1), value) || key.empty()) {
      return refused(Format(Tr("has a query part that is not key=value: \"%s\""), std::string(pair).c_str()));
    }
    if (key == "host") {
      location.host = value;
    } else if (key == "port") {
      if (!ParsePort(value, location.port)) {
        return refused(Format(Tr("has the port \"%s\", not a number from 1 to 65535"), value.c_str()));
      }
    } else if (key == "user") {
      location.user = value;
    } else if (key == "password") {
      location.password = value;
    } else if (key == "dbname") {
      location.database = value;
    } else {
      if (value.find(';') != std::string::npos) return refused(Format(Tr("option %s holds a ';'"), key.c_str()));
      timeout_given = timeout_given || key == "connect_timeout";
      location.options.emplace_back(key, value);
    }
  }
  if (!timeout_given) location.options.emplace_back("connect_timeout", "10");
  // The server's notices ("relation ... already exists, skipping") would
  // land on the tool's stderr.
  bool options_given = false;
  for (auto& [key, value] : location.options) {
    if (key != "options") continue;
    value = "-c client_min_messages=warning " + value;
    options_given = true;
  }
  if (!options_given) location.options.emplace_back("options", "-c client_min_messages=warning");
  return Parsed::Done(std::move(location));
}

}  // namespace

std::string StoreLocation::Describe() const {
  if (kind == Kind::kSqlite) return "\"" + file + "\"";
  const bool socket = !host.empty() && host.front() == '/';
  std::string text = "postgresql://";
  if (!user.empty()) text += user + "@";
  if (!socket) text += host.find(':') != std::string::npos ? "[" + host + "]" : host;
  if (port > 0) text += ":" + std::to_string(port);
  text += "/" + database;
  if (socket) text += "?host=" + host;
  return text;
}

Outcome<StoreLocation> ParseStoreLocation(const std::string& text) {
  if (text.empty()) return Parsed::Failed("no location given for the station records");
  for (std::string_view scheme : {"postgresql://", "postgres://"}) {
    if (std::string_view(text).substr(0, scheme.size()) == scheme) {
      return ParsePostgres(std::string_view(text).substr(scheme.size()));
    }
  }
  if (const auto scheme_end = text.find("://"); scheme_end != std::string::npos) {
    return Parsed::Failed("\"" + text.substr(0, scheme_end + 3) +
                          "...\" is neither a file path nor a postgresql:// URL");
  }
  StoreLocation location;
  location.file = text;
  return Parsed::Done(std::move(location));
}

Outcome<std::string> DefaultStorePath() {
  std::filesystem::path base;
  const char* data_home = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  if (data_home && std::filesystem::path(data_home).is_absolute()) {
    base = data_home;
  } else if (home && *home) {
    base = std::filesystem::path(home) / ".local" / "share";
  } else {
    return Outcome<std::string>::Failed(
        "neither XDG_DATA_HOME nor HOME is set, so there is no default place for the "
        "station records");
  }
  const std::filesystem::path folder = base / "orvane";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    return Outcome<std::string>::Failed("cannot create the folder \"" + folder.string() + "\": " + error.message());
  }
  return Outcome<std::string>::Done((folder / "station.sqlite").string());
}

}  // namespace orvane::station
