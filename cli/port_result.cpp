#include "cli/port_result.h"

#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

Json DeviceJson(const PortResult& result) {
  Json json = ModelJson(*result.device);
  if (result.verify) json["verify"] = VerifyJson(*result.verify);
  return json;
}

Json PortJson(const PortResult& result) {
  Json json = {{"port", result.port}, {"exit", ExitStatusOf(result)}};
  if (result.device) {
    const Json device = DeviceJson(result);
    for (const auto& [key, value] : device.items()) json[key] = value;
  }
  if (result.end != PortResult::End::kDone && !result.error.empty()) json["error"] = result.error;
  return json;
}

PortResult::End EndOf(int status) {
  if (status == kExitDone) return PortResult::End::kDone;
  if (status > kExitSignal) return PortResult::End::kStopped;
  return status == kExitRefused ? PortResult::End::kRefused : PortResult::End::kLinkFailed;
}

}  // namespace

int ExitStatusOf(const PortResult& result) {
  switch (result.end) {
    case PortResult::End::kDone: return kExitDone;
    case PortResult::End::kLinkFailed: return kExitLinkFailed;
    case PortResult::End::kRefused: return kExitRefused;
    case PortResult::End::kStopped: return kExitSignal + result.signal;
  }
  return kExitLinkFailed;
}

std::string FormatResult(const PortResult& result, bool json) {
  if (json) return DumpJson(result.end == PortResult::End::kDone ? DeviceJson(result) : PortJson(result)) + "\n";
  if (!result.device) return "";
  std::string text = FormatTable(*result.device);
  if (result.verify) text += "\n" + FormatVerify(*result.verify);
  return text;
}

std::string FormatPortResult(const PortResult& result, bool json) {
  if (json) return DumpJson(PortJson(result)) + "\n";
  std::string heading = "== " + result.port;
  if (result.end != PortResult::End::kDone) {
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

int Refuse(const Console& console, bool json, const std::string& text, int status) {
  PrintError(console, text);
  if (json) {
    std::fputs((DumpJson({{"exit", status}, {"error", text}}) + "\n").c_str(), console.out);
    std::fflush(console.out);
  }
  return status;
}

std::string ResultLine(const PortResult& result) { return DumpJson(PortJson(result)) + "\n"; }

std::optional<PortResult> ParseResultLine(std::string_view line) {
  const Json json = Json::parse(line, nullptr, false);
  if (!json.is_object() || !json.contains("port") || !json.contains("exit")) return std::nullopt;
  try {
    PortResult result;
    result.port = json.at("port").get<std::string>();
    const int status = json.at("exit").get<int>();
    result.end = EndOf(status);
    if (result.end == PortResult::End::kStopped) result.signal = status - kExitSignal;
    if (json.contains("error")) result.error = json.at("error").get<std::string>();
    if (json.contains("files")) result.device = ModelFromJson(json);
    if (json.contains("verify")) result.verify = VerifyFromJson(json.at("verify"));
    return result;
  } catch (const Json::exception&) {
    return std::nullopt;
  }
}

}  // namespace orvane::cli
