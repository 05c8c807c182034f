#include "station/record_json.h"

#include <QJsonDocument>

namespace orvane::station {
namespace {

struct NumberKey {
  const char* key;
  std::optional<std::int32_t> Constants::*field;
};
constexpr NumberKey kNumberKeys[] = {{"tz", &Constants::time_zone},
                                     {"summer", &Constants::summer},
                                     {"local", &Constants::local_address},
                                     {"global", &Constants::global_address}};

}  // namespace

QJsonObject ConstantsToJson(const Constants& constants) {
  QJsonObject object;
  if (constants.identifier) object["id"] = QString::fromStdString(*constants.identifier);
  for (const NumberKey& number : kNumberKeys) {
    if (const auto& value = constants.*number.field) object[number.key] = *value;
  }
  return object;
}

Constants ConstantsFromJson(const QJsonObject& object) {
  Constants constants;
  if (object["id"].isString()) constants.identifier = object["id"].toString().toStdString();
  for (const NumberKey& number : kNumberKeys) {
    if (object[number.key].isDouble()) constants.*number.field = object[number.key].toInt();
  }
  return constants;
}

QJsonArray PlansToJson(const std::vector<PlanRecord>& plans) {
  QJsonArray array;
  for (const PlanRecord& plan : plans) {
    array.append(
        QJsonObject{{"name", QString::fromStdString(plan.name)}, {"sha256", QString::fromStdString(plan.sha256)}});
  }
  return array;
}

std::vector<PlanRecord> PlansFromJson(const QJsonArray& array) {
  std::vector<PlanRecord> plans;
  for (const QJsonValue& value : array) {
    plans.push_back({value["name"].toString().toStdString(), value["sha256"].toString().toStdString()});
  }
  return plans;
}

QString CompactJson(const QJsonObject& object) {
  return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}
QString CompactJson(const QJsonArray& array) {
  return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}
QJsonObject ObjectFromText(const QString& text) { return QJsonDocument::fromJson(text.toUtf8()).object(); }
QJsonArray ArrayFromText(const QString& text) { return QJsonDocument::fromJson(text.toUtf8()).array(); }

}  // namespace orvane::station
