#include "cli/port_result.h"

#include <signal.h>

#include <algorithm>
#include <iterator>

#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

Json DeviceJson(const PortResult& result) {
  Json json = ModelJson(*result.device);
  if (result.verify) json["verify"] = VerifyJson(*result.verify);
  return json;
}

Json PortJson(const PortResult& result) {
  Json json = {{"port", result.port}};
  json.update(EndJson(result.end, result.error, result.device ? DeviceJson(result) : Json::object()));
  return json;
}

// How the result line names an end's kind; read back by the same table.
struct EndName {
  RunEnding::Kind kind;
  const char* name;
};
constexpr EndName kEndNames[] = {{RunEnding::Kind::kDone, "done"},       {RunEnding::Kind::kFailed, "failed"},
                                 {RunEnding::Kind::kRefused, "refused"}, {RunEnding::Kind::kInterrupted, "stopped"},
                                 {RunEnding::Kind::kRunning, "running"}, {RunEnding::Kind::kAbandoned, "abandoned"}};

Json EndingJson(const RunEnding& end) {
  Json json = Json::object();
  for (const EndName& name : kEndNames) {
    if (name.kind == end.kind) json["kind"] = name.name;
  }
  json["modem"] = end.failure == RunEnding::Failure::kModem;
  json["signal"] = end.signal;
  return json;
}

// Throws Json::exception for a member that is missing or of the wrong kind.
std::optional<RunEnding> EndingFromJson(const Json& json) {
  const std::string kind = json.at("kind").get<std::string>();
  const auto known = std::find_if(std::begin(kEndNames), std::end(kEndNames),
                                  [&kind](const EndName& name) { return kind == name.name; });
  if (known == std::end(kEndNames)) return std::nullopt;
  RunEnding end;
  end.kind = known->kind;
  end.failure = json.at("modem").get<bool>() ? RunEnding::Failure::kModem : RunEnding::Failure::kLink;
  end.signal = json.at("signal").get<int>();
  return end;
}

}  // namespace

int ExitStatusOf(const RunEnding& end) {
  switch (end.kind) {
    case RunEnding::Kind::kDone: return kExitDone;
    case RunEnding::Kind::kRefused: return kExitRefused;
    case RunEnding::Kind::kInterrupted: return kExitSignal + (end.signal ? end.signal : SIGINT);
    case RunEnding::Kind::kFailed:
    case RunEnding::Kind::kRunning:
    case RunEnding::Kind::kAbandoned: return kExitLinkFailed;
  }
  return kExitLinkFailed;
}

Json EndJson(const RunEnding& end, const std::string& error, const Json& between) {
  Json json = {{"exit", ExitStatusOf(end)}};
  json.update(between);
  if (!end.done() && !error.empty()) json["error"] = error;
  return json;
}

std::string FormatResult(const PortResult& result, bool json) {
  if (json) return DumpJson(result.end.done() ? DeviceJson(result) : PortJson(result)) + "\n";
  if (!result.device) return "";
  std::string text = FormatTable(*result.device);
  if (result.verify) text += "\n" + FormatVerify(*result.verify);
  return text;
}

std::string FormatPortResult(const PortResult& result, bool json) {
  if (json) return DumpJson(PortJson(result)) + "\n";
  std::string heading = "== " + result.port;
  if (!result.end.done()) {
    heading += ": exit " + std::to_string(ExitStatusOf(result)) + (result.error.empty() ? "" : ", " + result.error);
  }
  return heading + " ==\n" + FormatResult(result, false);
}

namespace {

const char* KindName(Step::Kind kind) {
  switch (kind) {
    case Step::Kind::kStatus: return N_("status");
    case Step::Kind::kPut: return N_("put");
    case Step::Kind::kDelete: return N_("delete");
    case Step::Kind::kErase: return N_("erase");
    case Step::Kind::kFlash: return N_("flash");
    case Step::Kind::kVerify: return N_("verify");
    case Step::Kind::kConstants: return N_("constants");
  }
  return N_("status");
}

}  // namespace

std::string ProgressMessage(const RunProgress& progress) {
  const Json line = {{"progress",
                      {{"step", progress.step},
                       {"steps", progress.steps},
                       {"kind", KindName(progress.kind)},
                       {"done", progress.maximum - progress.position},
                       {"of", progress.maximum}}}};
  return DumpJson(line) + "\n";
}

std::optional<ChildProgress> ParseProgressMessage(std::string_view line) {
  const Json json = Json::parse(line, nullptr, false);
  if (!json.is_object() || !json.contains("progress")) return std::nullopt;
  try {
    const Json& p = json.at("progress");
    return ChildProgress{p.at("step").get<std::size_t>(), p.at("steps").get<std::size_t>(),
                         p.at("kind").get<std::string>(), p.at("done").get<int>(), p.at("of").get<int>()};
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

int Refuse(const Console& console, bool json, const std::string& text, const RunEnding& end) {
  PrintError(console, text);
  if (json) {
    std::fputs((DumpJson(EndJson(end, text)) + "\n").c_str(), console.out);
    std::fflush(console.out);
  }
  return ExitStatusOf(end);
}

std::string ResultLine(const PortResult& result) {
  Json json = PortJson(result);
  json["end"] = EndingJson(result.end);
  return DumpJson(json) + "\n";
}

std::optional<PortResult> ParseResultLine(std::string_view line) {
  const Json json = Json::parse(line, nullptr, false);
  if (!json.is_object() || !json.contains("port") || !json.contains("end")) return std::nullopt;
  try {
    PortResult result;
    result.port = json.at("port").get<std::string>();
    const auto end = EndingFromJson(json.at("end"));
    if (!end) return std::nullopt;
    result.end = *end;
    if (json.contains("error")) result.error = json.at("error").get<std::string>();
    if (json.contains("files")) result.device = ModelFromJson(json);
    if (json.contains("verify")) result.verify = VerifyFromJson(json.at("verify"));
    return result;
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

}  // namespace orvane::cli
