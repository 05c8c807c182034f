#include "cli/report.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <string_view>

#include "l10n/l10n.h"
#include "link/cp1251.h"
#include "device/session.h"

namespace orvane::cli {
namespace {

// Where the constants' values start in the table, after their labels.
constexpr std::size_t kValueColumn = 26;

std::string PadRight(const std::string& text, std::size_t width) {
  const std::size_t length = link::Utf8Length(text);
  return length >= width ? text : text + std::string(width - length, ' ');
}

std::string PadLeft(const std::string& text, std::size_t width) {
  const std::size_t length = link::Utf8Length(text);
  return length >= width ? text : std::string(width - length, ' ') + text;
}

}  // namespace

std::vector<FileEntry> FileEntries(const device::Directory& directory) {
  std::vector<FileEntry> entries;
  for (const auto& file : directory.files) {
    if (!file) continue;
    entries.push_back({file->number, file->name, file->type, device::FileTypeName(file->type), file->size});
  }
  return entries;
}

std::string FormatTable(const device::DeviceModel& model) {
  const device::FileTable table = device::DisplayTable(model.directory);
  const std::vector<FileEntry> entries = FileEntries(model.directory);
  std::size_t name_width = link::Utf8Length(table.cell(0, 1));
  std::size_t type_width = link::Utf8Length(table.cell(0, 2));
  for (const FileEntry& entry : entries) {
    name_width = std::max(name_width, link::Utf8Length(entry.name));
    type_width = std::max(type_width, link::Utf8Length(entry.type_name));
  }
  auto row = [&](const std::string& number, const std::string& name, const std::string& type,
                 const std::string& size) {
    return PadLeft(number, 3) + "  " + PadRight(name, name_width) + "  " + PadRight(type, type_width) + "  " +
           PadLeft(size, 10) + "\n";
  };
  std::string out = row(table.cell(0, 0), table.cell(0, 1), table.cell(0, 2), table.cell(0, 3));
  for (const FileEntry& entry : entries) {
    out += row(std::to_string(entry.number), entry.name, entry.type_name, device::SizeText(entry.size));
  }
  out += "Свободно - " + std::to_string(model.free_space) + " байт\n\n";

  for (const device::FieldDescription& field : device::kConstantsFields) {
    out += PadRight(field.label, kValueColumn) + device::ShownText(field, model.fields) + "\n";
  }
  return out;
}

std::string DumpJson(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json ModelJson(const device::DeviceModel& model) {
  Json files = Json::array();
  for (const FileEntry& entry : FileEntries(model.directory)) {
    files.push_back({{"number", entry.number},
                     {"name", entry.name},
                     {"type", entry.type},
                     {"type_name", entry.type_name},
                     {"size", entry.size}});
  }
  Json constants = Json::object();
  for (const device::FieldDescription& field : device::kConstantsFields) {
    constants[field.key] = field.is_text() ? Json(model.fields.identifier) : Json(model.fields.*field.number);
  }
  return {{"files", std::move(files)}, {"free", model.free_space}, {"constants", constants}};
}

std::string FormatJson(const device::DeviceModel& model) { return DumpJson(ModelJson(model)) + "\n"; }

device::DeviceModel ModelFromJson(const Json& json) {
  device::DeviceModel model;
  for (const Json& file : json.at("files")) {
    model.directory.files.push_back(device::FileRecord{file.at("number").get<int>(), file.at("name").get<std::string>(),
                                                       file.at("type").get<std::uint16_t>(),
                                                       file.at("size").get<std::uint16_t>()});
  }
  model.free_space = json.at("free").get<std::int32_t>();
  model.directory.free = static_cast<std::uint16_t>(model.free_space);
  const Json& c = json.at("constants");
  for (const device::FieldDescription& field : device::kConstantsFields) {
    if (field.is_text()) {
      model.fields.identifier = c.at(field.key).get<std::string>();
    } else {
      model.fields.*field.number = c.at(field.key).get<std::int32_t>();
    }
  }
  return model;
}

std::string FormatVerify(const VerifyResult& result) {
  using l10n::Format;
  const char* image = result.image.c_str();
  if (result.equal()) {
    return Format(l10n::TrN("verify: the console's firmware equals \"%1$s\" (%2$ju byte)\n",
                            "verify: the console's firmware equals \"%1$s\" (%2$ju bytes)\n", result.bytes),
                  image, result.bytes);
  }
  if (!result.difference) {
    return Format(l10n::Tr("verify: the console's firmware differs from \"%s\"; its answer names no chunk that was "
                           "sent\n"),
                  image);
  }
  return Format(l10n::Tr("verify: the console's firmware differs from \"%1$s\" at offset %2$u (0x%2$04X)\n"), image,
                unsigned{*result.difference});
}

Json VerifyJson(const VerifyResult& result) {
  return {{"image", result.image},
          {"bytes", result.bytes},
          {"equal", result.equal()},
          {"offset", result.difference ? Json(*result.difference) : Json(nullptr)}};
}

VerifyResult VerifyFromJson(const Json& json) {
  VerifyResult result;
  result.image = json.at("image").get<std::string>();
  result.bytes = json.at("bytes").get<std::uintmax_t>();
  const Json& offset = json.at("offset");
  if (!offset.is_null()) result.difference = offset.get<std::uint16_t>();
  result.unexplained = !json.at("equal").get<bool>() && !result.difference;
  return result;
}

// -v: fixed columns (name, device, socket, maker, product, serial), "-" for
// what is not known, so that the columns can be cut.
std::string FormatPorts(const std::vector<serial::PortInfo>& ports, bool verbose) {
  std::string out;
  for (const serial::PortInfo& port : ports) {
    out += port.name;
    if (verbose) {
      for (const std::string* detail : {&port.device, &port.socket, &port.maker, &port.product, &port.serial}) {
        out += "\t" + (detail->empty() ? std::string("-") : *detail);
      }
    }
    out += "\n";
  }
  return out;
}

std::string FormatPortsJson(const std::vector<serial::PortInfo>& ports) {
  Json list = Json::array();
  for (const serial::PortInfo& p : ports) {
    list.push_back(
        {{"name", p.name},
         {"device", p.device},
         {"socket", p.socket},
         {"maker", p.maker},
         {"product", p.product},
         {"serial", p.serial}});
  }
  return DumpJson(list) + "\n";
}

}  // namespace orvane::cli
