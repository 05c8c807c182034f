#include "station/record_json.h"

#include <cmath>
#include <limits>

#include "station/records_words.h"

namespace orvane::station {
namespace {

std::optional<std::int32_t> Int32Of(const Json& value) {
  const auto number = IntegerOf(value);
  if (!number || *number < std::numeric_limits<std::int32_t>::min() ||
      *number > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(*number);
}

Json ParsedOrEmpty(std::string_view text, Json empty, bool (Json::*wanted)() const noexcept) {
  Json parsed = Json::parse(text, nullptr, false);
  return (parsed.*wanted)() ? parsed : empty;
}

}  // namespace

const Json& MemberOf(const Json& object, const char* key) {
  static const Json kNull;
  if (!object.is_object()) return kNull;
  const auto found = object.find(key);
  return found == object.end() ? kNull : *found;
}

std::string TextOf(const Json& value, const std::string& fallback) {
  return value.is_string() ? value.get<std::string>() : fallback;
}

std::optional<std::int64_t> IntegerOf(const Json& value) {
  if (value.is_number_integer()) {
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > std::numeric_limits<std::int64_t>::max()) {
      return std::nullopt;
    }
    return value.get<std::int64_t>();
  }
  if (!value.is_number_float()) return std::nullopt;
  const double number = value.get<double>();
  if (number != std::trunc(number) || std::abs(number) >= 9.2e18) return std::nullopt;
  return static_cast<std::int64_t>(number);
}

Json ConstantsToJson(const Constants& constants) {
  Json object = Json::object();
  for (const device::FieldDescription& field : device::kConstantsFields) {
    if (field.is_text()) {
      if (constants.identifier) object[field.key] = *constants.identifier;
    } else if (const auto& value = constants.*field.number_change) {
      object[field.key] = *value;
    }
  }
  return object;
}

Constants ConstantsFromJson(const Json& object) {
  Constants constants;
  for (const device::FieldDescription& field : device::kConstantsFields) {
    const Json& value = MemberOf(object, field.key);
    if (field.is_text()) {
      if (value.is_string()) constants.identifier = value.get<std::string>();
    } else if (value.is_number()) {
      // A number that is not a whole int reads as 0, as the column has always been read.
      constants.*field.number_change = Int32Of(value).value_or(0);
    }
  }
  return constants;
}

Json PlansToJson(const std::vector<PlanRecord>& plans) {
  Json array = Json::array();
  for (const PlanRecord& plan : plans) array.push_back(Json{{"name", plan.name}, {"sha256", plan.sha256}});
  return array;
}

std::vector<PlanRecord> PlansFromJson(const Json& array) {
  std::vector<PlanRecord> plans;
  if (!array.is_array()) return plans;
  for (const Json& value : array) {
    plans.push_back({TextOf(MemberOf(value, "name")), TextOf(MemberOf(value, "sha256"))});
  }
  return plans;
}

Json NamesToJson(const std::vector<std::string>& names) {
  Json array = Json::array();
  for (const std::string& name : names) array.push_back(name);
  return array;
}

std::vector<std::string> NamesFromJson(const Json& array) {
  std::vector<std::string> names;
  if (!array.is_array()) return names;
  for (const Json& value : array) names.push_back(TextOf(value));
  return names;
}

Json RunEndToJson(const RunEnd& end) {
  return Json{{"result", RunResultText(end.result)},
              {"reason", end.reason},
              {"failed_step", StepKindText(end.failed_step)},
              {"failed_plan", end.failed_plan},
              {"image_action", ImageActionText(end.image_action)},
              {"holds", end.holds_json},
              {"lease_until", end.lease_until},
              {"finished", end.finished}};
}

std::optional<RunEnd> RunEndFromJson(const Json& object) {
  auto text = [&](const char* key) { return TextOf(MemberOf(object, key)); };
  const auto result = RunResultFromText(text("result"));
  const auto step = ValueOf(kStepKindWords, text("failed_step"));
  const auto image = ValueOf(kImageActionWords, text("image_action"));
  if (!result || !step || !image || text("finished").empty()) return std::nullopt;
  RunEnd end{*result, text("reason")};
  end.failed_step = *step;
  end.failed_plan = Int32Of(MemberOf(object, "failed_plan")).value_or(0);
  end.image_action = *image;
  end.holds_json = TextOf(MemberOf(object, "holds"), "{}");
  end.lease_until = text("lease_until");
  end.finished = text("finished");
  return end;
}

std::string CompactJson(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }
Json ObjectFromText(std::string_view text) { return ParsedOrEmpty(text, Json::object(), &Json::is_object); }
Json ArrayFromText(std::string_view text) { return ParsedOrEmpty(text, Json::array(), &Json::is_array); }

}  // namespace orvane::station
