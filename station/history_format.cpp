// The three forms of the run history: a table for people, JSON lines and CSV
// for programs and spreadsheets.
#include <algorithm>

#include "station/record_json.h"
#include "station/record_store.h"
#include "station/text_columns.h"
#include "station/unit_holds.h"
#include "l10n/l10n.h"

namespace orvane::station {
namespace {

// One line of the table per run, whatever the reason holds.
std::string OnOneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::string SerialText(const RunRecord& run) { return run.serial ? std::to_string(*run.serial) : std::string(); }

std::string SerialKindSuffix(SerialKind kind) {
  switch (kind) {
    case SerialKind::kAgain: return l10n::Tr(" again");
    case SerialKind::kKept: return l10n::Tr(" kept");
    case SerialKind::kFresh: break;
  }
  return "";
}

std::string OrDash(const std::string& text) { return text.empty() ? "-" : text; }

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

}  // namespace

std::string FormatHistoryTable(const std::vector<RunRecord>& runs) {
  using l10n::Tr;
  std::vector<std::vector<std::string>> lines = {{Tr("run"), Tr("started"), Tr("finished"), Tr("port"),
                                                  Tr("usb serial"), Tr("serial"), Tr("result"), Tr("reason"),
                                                  Tr("station"), Tr("position"), Tr("holds")}};
  for (const RunRecord& run : runs) {
    std::string serial = run.serial ? SerialText(run) + SerialKindSuffix(run.serial_kind) : "-";
    lines.push_back({std::to_string(run.id), run.started, run.finished.empty() ? "-" : run.finished, run.port,
                     run.usb_serial.empty() ? "-" : run.usb_serial, serial, ResultWords(RunEnding{run.result}),
                     OnOneLine(run.reason), OrDash(run.station), OrDash(run.position),
                     HoldsShortText(HoldsFromJson(run.holds_json))});
  }
  return AlignColumns(lines);
}

std::string FormatHistoryJson(const std::vector<RunRecord>& runs) {
  std::string out;
  for (const RunRecord& run : runs) {
    const Json object{
        {"run", run.id},
        {"started", run.started},
        {"finished", run.finished.empty() ? Json() : Json(run.finished)},
        {"port", run.port},
        {"usb_serial", run.usb_serial},
        {"serial", run.serial ? Json(*run.serial) : Json()},
        {"serial_again", run.serial_again},
        {"image_sha256", run.image_sha256},
        {"plans", PlansToJson(run.plans)},
        {"constants", ConstantsToJson(run.constants)},
        {"result", RunResultText(run.result)},
        {"reason", run.reason},
        {"version", run.version},
        {"station", run.station},
        {"position", run.position},
        {"socket", run.socket},
        {"trace", run.trace},
        {"image_action", ImageActionText(run.image_action)},
        {"failed_step", StepKindText(run.failed_step)},
        {"failed_plan", run.failed_plan},
        {"holds", ObjectFromText(run.holds_json)},
        {"lease_until", run.lease_until},
        {"serial_kind", run.serial ? Json(SerialKindText(run.serial_kind)) : Json()},
    };
    out += CompactJson(object) + '\n';
  }
  return out;
}

std::string FormatHistoryCsv(const std::vector<RunRecord>& runs) {
  std::string out =
      "run,started,finished,port,usb_serial,serial,serial_again,result,reason,image_sha256,plans,constants,version,"
      "station,position,socket,trace,image_action,failed_step,failed_plan,holds,lease_until,serial_kind,"
      "main_program,files,files_plan,constants_written,serial_written,must_come_back\r\n";
  for (const RunRecord& run : runs) {
    const std::string fields[] = {std::to_string(run.id),
                                  run.started,
                                  run.finished,
                                  run.port,
                                  run.usb_serial,
                                  SerialText(run),
                                  run.serial_again ? "true" : "false",
                                  RunResultText(run.result),
                                  run.reason,
                                  run.image_sha256,
                                  CompactJson(PlansToJson(run.plans)),
                                  CompactJson(ConstantsToJson(run.constants)),
                                  run.version,
                                  run.station,
                                  run.position,
                                  run.socket,
                                  run.trace,
                                  ImageActionText(run.image_action),
                                  StepKindText(run.failed_step),
                                  std::to_string(run.failed_plan),
                                  run.holds_json,
                                  run.lease_until,
                                  run.serial ? SerialKindText(run.serial_kind) : ""};
    for (std::size_t i = 0; i < std::size(fields); ++i) out += (i > 0 ? "," : "") + CsvField(fields[i]);
    for (const std::string& field : HoldsCsvFields(HoldsFromJson(run.holds_json))) out += "," + CsvField(field);
    out += "\r\n";
  }
  return out;
}

}  // namespace orvane::station
