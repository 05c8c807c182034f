// How a run's constants and plans are written as JSON: in the store's text
// columns and in the history's JSON and CSV. The keys of the constants are
// those of `orvane-cli --json status`.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "station/job.h"
#include "station/record_store.h"

namespace orvane::station {

using Json = nlohmann::json;

Json ConstantsToJson(const Constants& constants);
// Keys that are missing or of another type stay empty.
Constants ConstantsFromJson(const Json& object);

Json PlansToJson(const std::vector<PlanRecord>& plans);
std::vector<PlanRecord> PlansFromJson(const Json& array);

Json NamesToJson(const std::vector<std::string>& names);
std::vector<std::string> NamesFromJson(const Json& array);

// A run's end as a spool line keeps it; nothing for an object that is not one.
Json RunEndToJson(const RunEnd& end);
std::optional<RunEnd> RunEndFromJson(const Json& object);

// Compact JSON text (keys in byte order, text that is not UTF-8 replaced),
// and back (an empty object or array for broken text).
std::string CompactJson(const Json& value);
Json ObjectFromText(std::string_view text);
Json ArrayFromText(std::string_view text);

// Reading a member leniently: a missing key or a value of another type
// gives the fallback, as for a store row written by an older program.
const Json& MemberOf(const Json& object, const char* key);  // null when missing
std::string TextOf(const Json& value, const std::string& fallback = {});
// A whole number that fits, or nothing.
std::optional<std::int64_t> IntegerOf(const Json& value);

}  // namespace orvane::station
