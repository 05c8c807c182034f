// The result of a run as the user reads it: the files, the free space and
// the constants after the last refresh, as a table or as one JSON object.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "device/model.h"
#include "serial/port_names.h"

namespace orvane::cli {

struct FileEntry {
  int number = 0;
  std::string name;       // UTF-8, as the device stores it (padding space included)
  std::uint16_t type = 0;
  std::string type_name;
  long size = 0;
};

// The files of the directory; a file whose details the refresh did not
// bring is skipped.
std::vector<FileEntry> FileEntries(const device::Directory& directory);

// Members keep the order they are written in.
using Json = nlohmann::ordered_json;

std::string FormatTable(const device::DeviceModel& model);
// {"files":[...],"free":N,"constants":{...}}
Json ModelJson(const device::DeviceModel& model);
std::string FormatJson(const device::DeviceModel& model);  // one line
// The model back from ModelJson (files, free space and constants); throws
// Json::exception when a member is missing or of the wrong kind.
device::DeviceModel ModelFromJson(const Json& json);

// The outcome of `verify`: equal, or the offset of the first chunk the
// console reported as different.
struct VerifyResult {
  std::string image;
  std::uintmax_t bytes = 0;
  std::optional<std::uint16_t> difference;
  bool unexplained = false;  // a difference about no chunk that was sent

  bool equal() const { return !difference && !unexplained; }
};
std::string FormatVerify(const VerifyResult& result);  // one line
// {"image":...,"bytes":N,"equal":bool,"offset":N or null}
Json VerifyJson(const VerifyResult& result);
VerifyResult VerifyFromJson(const Json& json);

std::string FormatPorts(const std::vector<serial::PortInfo>& ports, bool verbose);
std::string FormatPortsJson(const std::vector<serial::PortInfo>& ports);

// One line of JSON. Texts that are not valid UTF-8 (a file name is only
// bytes) get U+FFFD for each bad byte instead of stopping the output.
std::string DumpJson(const Json& value);

}  // namespace orvane::cli
