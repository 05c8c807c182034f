#include "cli/profile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

using Json = nlohmann::json;
using l10n::Format;
using l10n::Tr;

std::optional<std::string> ApplyNumber(const device::FieldDescription& field, const Json& value,
                                       ConstantsChange& change) {
  const double number = value.is_number() ? value.get<double>() : NAN;
  if (!(number >= static_cast<double>(field.low) && number <= static_cast<double>(field.high)) ||
      std::floor(number) != number) {
    return Format(Tr("constants.%1$s must be a whole number from %2$lld to %3$lld, not %4$s"), field.key,
                  static_cast<long long>(field.low), static_cast<long long>(field.high),
                  value.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
  }
  std::optional<std::int32_t>& target = change.*field.number_change;
  if (!target) target = static_cast<std::int32_t>(number);
  return std::nullopt;
}

std::optional<std::string> ApplyIdentifier(const Json& value, ConstantsChange& change) {
  if (!value.is_string()) return std::string(Tr("constants.id must be a text"));
  const std::string& text = value.get_ref<const std::string&>();
  if (auto error = CheckIdentifier("constants.id", text)) return error;
  if (!change.identifier) change.identifier = text;
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ApplyProfileText(const std::string& text, ConstantsChange& change) {
  const Json root = Json::parse(text, nullptr, false);
  if (root.is_discarded()) return std::string(Tr("not JSON"));
  const auto constants = root.is_object() ? root.find("constants") : root.end();
  if (!root.is_object() || constants == root.end() || !constants->is_object()) {
    return std::string(Tr("no \"constants\" object, as `orvane-cli --json status` writes it"));
  }
  ConstantsChange taken = change;
  bool any = false;
  for (const device::FieldDescription& field : device::kConstantsFields) {
    // A cabinet's serial number is its own: it never travels in a profile.
    if (field.per_console) continue;
    const auto value = constants->find(field.key);
    if (value == constants->end()) continue;
    if (auto error = field.is_text() ? ApplyIdentifier(*value, taken) : ApplyNumber(field, *value, taken)) return error;
    any = true;
  }
  if (!any) {
    return std::string(
        Tr("\"constants\" holds none of id, tz, summer, local, global (a serial number is never taken from a file)"));
  }
  change = std::move(taken);
  return std::nullopt;
}

std::optional<std::string> ApplyProfile(const std::string& path, ConstantsChange& change) {
  struct stat info{};
  if (::stat(path.c_str(), &info) != 0) return Format(Tr("cannot read \"%s\": %s"), path.c_str(), std::strerror(errno));
  if (static_cast<std::uintmax_t>(info.st_size) > kProfileLimit) {
    return Format(Tr("\"%s\" is too big for a constants profile"), path.c_str());
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return Format(Tr("cannot read \"%s\": %s"), path.c_str(), std::strerror(errno));
  std::ostringstream text;
  text << in.rdbuf();
  if (auto error = ApplyProfileText(text.str(), change)) return Format("\"%s\": %s", path.c_str(), error->c_str());
  return std::nullopt;
}

}  // namespace orvane::cli
