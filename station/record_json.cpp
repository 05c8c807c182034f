#include "station/record_json.h"

#include <QJsonDocument>

#include "station/records_words.h"

namespace orvane::station {
QJsonObject ConstantsToJson(const Constants& constants) {
  QJsonObject object;
  for (const device::FieldDescription& field : device::kConstantsFields) {
    if (field.is_text()) {
      if (constants.identifier) object[field.key] = QString::fromStdString(*constants.identifier);
    } else if (const auto& value = constants.*field.number_change) {
      object[field.key] = *value;
    }
  }
  return object;
}

Constants ConstantsFromJson(const QJsonObject& object) {
  Constants constants;
  for (const device::FieldDescription& field : device::kConstantsFields) {
    const QJsonValue value = object[field.key];
    if (field.is_text()) {
      if (value.isString()) constants.identifier = value.toString().toStdString();
    } else if (value.isDouble()) {
      constants.*field.number_change = value.toInt();
    }
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

QJsonArray NamesToJson(const std::vector<std::string>& names) {
  QJsonArray array;
  for (const std::string& name : names) array.append(QString::fromStdString(name));
  return array;
}

std::vector<std::string> NamesFromJson(const QJsonArray& array) {
  std::vector<std::string> names;
  for (const QJsonValue& value : array) names.push_back(value.toString().toStdString());
  return names;
}

QJsonObject RunEndToJson(const RunEnd& end) {
  auto text = [](const std::string& value) { return QString::fromStdString(value); };
  return QJsonObject{{"result", RunResultText(end.result)},
                     {"reason", text(end.reason)},
                     {"failed_step", StepKindText(end.failed_step)},
                     {"failed_plan", end.failed_plan},
                     {"image_action", ImageActionText(end.image_action)},
                     {"holds", text(end.holds_json)},
                     {"lease_until", text(end.lease_until)},
                     {"finished", text(end.finished)}};
}

std::optional<RunEnd> RunEndFromJson(const QJsonObject& object) {
  auto text = [&](const char* key) { return object[key].toString().toStdString(); };
  const auto result = RunResultFromText(text("result"));
  const auto step = ValueOf(kStepKindWords, text("failed_step"));
  const auto image = ValueOf(kImageActionWords, text("image_action"));
  if (!result || !step || !image || text("finished").empty()) return std::nullopt;
  RunEnd end{*result, text("reason")};
  end.failed_step = *step;
  end.failed_plan = object["failed_plan"].toInt();
  end.image_action = *image;
  end.holds_json = object["holds"].toString("{}").toStdString();
  end.lease_until = text("lease_until");
  end.finished = text("finished");
  return end;
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
