// How a run's constants and plans are written as JSON: in the store's text
// columns and in the history's JSON and CSV. The keys of the constants are
// those of `orvane-cli --json status`.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <string>
#include <vector>

#include "station/job.h"
#include "station/record_store.h"

namespace orvane::station {

QJsonObject ConstantsToJson(const Constants& constants);
// Keys that are missing or of another type stay empty.
Constants ConstantsFromJson(const QJsonObject& object);

QJsonArray PlansToJson(const std::vector<PlanRecord>& plans);
std::vector<PlanRecord> PlansFromJson(const QJsonArray& array);

QJsonArray NamesToJson(const std::vector<std::string>& names);
std::vector<std::string> NamesFromJson(const QJsonArray& array);

// A run's end as a spool line keeps it; nothing for an object that is not one.
QJsonObject RunEndToJson(const RunEnd& end);
std::optional<RunEnd> RunEndFromJson(const QJsonObject& object);

// Compact JSON text, and back (an empty object or array for broken text).
QString CompactJson(const QJsonObject& object);
QString CompactJson(const QJsonArray& array);
QJsonObject ObjectFromText(const QString& text);
QJsonArray ArrayFromText(const QString& text);

}  // namespace orvane::station
