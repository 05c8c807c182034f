#include "station/store_location.h"

#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "l10n/l10n.h"

namespace orvane::station {

using l10n::Format;
using l10n::Tr;
namespace {

using Parsed = Outcome<StoreLocation>;

std::string S(const QString& text) { return text.toStdString(); }

// A '%' without two hex digits after it.
bool BrokenEscape(std::string_view text) {
  for (std::size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 1)) {
    if (at + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[at + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[at + 2]))) {
      return true;
    }
  }
  return false;
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

std::string PortRefused(std::string_view port) {
  return Format(Tr("has the port \"%s\", not a number from 1 to 65535"), std::string(port).c_str());
}

// What is wrong with an address QUrl will not take, or with a broken
// escape that it would mend: the part at fault, never the whole address,
// which may hold a password.
std::string Diagnosis(std::string_view rest) {
  rest = rest.substr(0, rest.find_first_of("?#"));
  const auto slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  if (slash != std::string_view::npos && BrokenEscape(rest.substr(slash + 1))) {
    return Tr("has a broken percent escape in the database name");
  }
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    const std::string_view userinfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const auto colon = userinfo.find(':');
    if (BrokenEscape(userinfo.substr(0, colon))) return Tr("has a broken percent escape in the user");
    if (colon != std::string_view::npos && BrokenEscape(userinfo.substr(colon + 1))) {
      return Tr("has a broken percent escape in the password");
    }
  }
  std::string_view host = authority, port;
  if (!host.empty() && host.front() == '[') {
    const auto close = host.find(']');
    if (close == std::string_view::npos) return Tr("has a '[' without ']' around its host");
    port = host.substr(close + 1);
    if (!port.empty() && port.front() != ':') return Tr("has something other than :port after its host");
    if (!port.empty()) port.remove_prefix(1);
  } else if (const auto colon = host.find(':'); colon != std::string_view::npos) {
    port = host.substr(colon + 1);
    host = host.substr(0, colon);
  }
  if (BrokenEscape(host)) return Tr("has a broken percent escape in the host");
  int ignored = 0;
  if (!port.empty() && !ParsePort(port, ignored)) return PortRefused(port);
  return Tr("is not an address that can be read");
}

// Query parameters: host, port, user, password and dbname as in the
// address, the others handed to the client.
std::optional<std::string> TakeQuery(std::string_view raw, StoreLocation& location) {
  const QString query = QString::fromStdString(std::string(raw));
  for (const QString& pair : query.split('&', Qt::SkipEmptyParts)) {
    if (!pair.contains('=') || pair.startsWith('=') || BrokenEscape(S(pair))) {
      return Format(Tr("has a query part that is not key=value: \"%s\""), S(pair).c_str());
    }
  }
  bool timeout_given = false;
  for (const auto& [name, text] : QUrlQuery(query).queryItems(QUrl::FullyDecoded)) {
    const std::string key = S(name), value = S(text);
    if (key == "host") {
      location.host = value;
    } else if (key == "port") {
      if (!ParsePort(value, location.port)) return PortRefused(value);
    } else if (key == "user") {
      location.user = value;
    } else if (key == "password") {
      location.password = value;
    } else if (key == "dbname") {
      location.database = value;
    } else {
      if (value.find(';') != std::string::npos) return Format(Tr("option %s holds a ';'"), key.c_str());
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
  return std::nullopt;
}

// Errors never echo the URL whole: it may hold a password.
Parsed ParsePostgres(const std::string& text, std::string_view rest) {
  auto refused = [](const std::string& why) { return Parsed::Failed(Format(Tr("the PostgreSQL URL %s"), why.c_str())); };
  // QUrl mends a broken escape in its tolerant mode; such an address is
  // refused instead.
  if (BrokenEscape(rest.substr(0, rest.find_first_of("?#")))) return refused(Diagnosis(rest));
  const QUrl url(QString::fromStdString(text), QUrl::TolerantMode);
  if (!url.isValid()) return refused(Diagnosis(rest));
  StoreLocation location;
  location.kind = StoreLocation::Kind::kPostgres;
  location.user = S(url.userName(QUrl::FullyDecoded));
  location.password = S(url.password(QUrl::FullyDecoded));
  location.host = S(url.host(QUrl::FullyDecoded));
  location.database = S(url.path(QUrl::FullyDecoded)).substr(url.path().startsWith('/') ? 1 : 0);
  if (url.port() != -1 && !ParsePort(std::to_string(url.port()), location.port)) {
    return refused(PortRefused(std::to_string(url.port())));
  }
  const auto mark = rest.find('?');
  const std::string_view query =
      mark == std::string_view::npos ? std::string_view() : rest.substr(mark + 1, rest.find('#', mark) - mark - 1);
  if (auto error = TakeQuery(query, location)) return refused(*error);
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
      return ParsePostgres(text, std::string_view(text).substr(scheme.size()));
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

namespace {

// Qt's data folder, but a relative XDG_DATA_HOME is ignored, as the XDG
// rules say (Qt takes it as it is), and without HOME there is none (Qt
// would take the root folder).
std::string DataHome() {
  const char* data_home = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const bool home_set = home && *home;
  if (data_home && *data_home && !std::filesystem::path(data_home).is_absolute()) {
    return home_set ? std::string(home) + "/.local/share" : std::string();
  }
  if (!(data_home && *data_home) && !home_set) return {};
  return S(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
}

}  // namespace

Outcome<std::string> DefaultStorePath() {
  const std::string base = DataHome();
  if (base.empty()) {
    return Outcome<std::string>::Failed(
        "neither XDG_DATA_HOME nor HOME is set, so there is no default place for the "
        "station records");
  }
  const std::filesystem::path folder = std::filesystem::path(base) / "orvane";
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    return Outcome<std::string>::Failed("cannot create the folder \"" + folder.string() + "\": " + error.message());
  }
  return Outcome<std::string>::Done((folder / "station.sqlite").string());
}

Outcome<std::string> StoreLocationOrDefault(const std::string& given) {
  return given.empty() ? DefaultStorePath() : Outcome<std::string>::Done(given);
}

}  // namespace orvane::station
