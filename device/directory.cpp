// The file directory: the refresh chain that fills the file table, the type
// names, the free space, and the two destructive actions.
#include <cstdio>

#include "link/cp1251.h"
#include "link/payloads.h"
#include "device/file_rules.h"
#include "device/session.h"

namespace orvane::device {
namespace {

std::string Format(const char* format, long value) {
  char text[128];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

std::string FileTypeName(std::uint16_t type) {
  switch (type) {
    case kTelvariPlanType: return "Годовой план ларвена-7 \"ТЕЛВАРИ\"";
    case kYearlyPlanType: return "Годовой план АСУДД";
    case kRingPlanType: return "Организация перекрестка РВМ-8";
    case kProgramType: return "Программа";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Неизвестный тип %Xh", unsigned{type});
      return text;
    }
  }
}

void Session::Refresh() {
  BeginAction();
  host_.OpenLinkPort();
  link_.QueueRefresh();
  host_.AppendLog(kLogRefresh);
}

std::string SizeText(std::uint16_t size) { return Format("%ld б.", size); }

FileTable DisplayTable(const Directory& directory) {
  FileTable table;
  table.SetRowCount(directory.count() + 2);
  table.SetCell(0, 0, "№№");
  table.SetCell(0, 1, "Исходное местоположение файла");
  table.SetCell(0, 2, "Тип файла");
  table.SetCell(0, 3, "Размер");
  for (const auto& file : directory.files) {
    if (!file) continue;
    table.SetCell(file->number, 0, Format("%ld", file->number));
    table.SetCell(file->number, 1, file->name);
    table.SetCell(file->number, 2, FileTypeName(file->type));
    table.SetCell(file->number, 3, SizeText(file->size));
  }
  if (directory.free) table.SetCell(directory.count() + 1, 1, Format("Свободно - %ld байт", *directory.free));
  return table;
}

void Session::ResetFileTable() {
  model_.directory = {};
  host_.ModelChanged(ModelPart::kTable);
}

// Response 16 (byte 0 present, checked by the link control): n file slots
// and the free-space row, all empty; then the details of every file, the
// free space and the constants are asked for.
void Session::HandleDirectory(const link::FrameView& frame) {
  const int files = frame.data(0);
  model_.directory.files.assign(static_cast<std::size_t>(files), std::nullopt);
  model_.directory.free.reset();
  host_.ModelChanged(ModelPart::kTable);
  for (int i = 0; i < files; ++i) {
    const std::uint8_t index = static_cast<std::uint8_t>(i);
    link_.Enqueue(link::kFileDetails, {&index, 1}, 2);
  }
  link_.Enqueue(link::kFreeSpace, {}, 1);
  QueueReadConstants();
}

// Response 17 (bytes 0 to 6 and the whole name present, checked by the link
// control). An index beyond the files of the last directory answer (it would
// land on the free-space row or past the end) is not shown.
void Session::HandleFileDetails(const link::FrameView& frame) {
  const auto details = link::FileDetails::Decode(frame.data_bytes());
  if (!details || details->index >= model_.directory.files.size()) return;
  model_.directory.files[details->index] =
      FileRecord{details->index + 1, link::Cp1251ToUtf8(details->name), details->type, details->size};
  host_.ModelChanged(ModelPart::kTable);
}

// Response 18 (bytes 0 and 1 present, checked by the link control).
void Session::HandleFreeSpace(const link::FrameView& frame) {
  if (!frame.has_data(2)) return;
  const std::uint16_t free = frame.data_u16(0);
  model_.directory.free = free;
  model_.free_space = free;
  host_.ModelChanged(ModelPart::kTable);
}

void Session::DeleteFileAtRow(int row) {
  if (row <= 0 || row > model_.directory.count()) return;
  BeginAction();
  host_.OpenLinkPort();
  const std::uint8_t index = static_cast<std::uint8_t>(row - 1);
  link_.Enqueue(link::kDeleteFile, {&index, 1}, 2);
  link_.QueueRefresh();
}

void Session::EraseAll() {
  BeginAction();
  if (!host_.ConfirmWarning(kEraseWarning)) return;
  host_.OpenLinkPort();
  link_.Enqueue(link::kEraseAll, {}, 1);
  host_.AppendLog(kLogErasing);
}

const char* RefusalText(link::Refusal refusal) {
  switch (refusal) {
    case link::Refusal::kPlanTooBig: return kStatusFileTooBig;
    case link::Refusal::kFirmwareTooBig: return kStatusFirmwareTooBig;
    case link::Refusal::kPlanTooShort: return kStatusPlanTooShort;
    case link::Refusal::kNameTooLong: return kStatusNameTooLong;
  }
  return kStatusFileTooBig;
}

// The status bar and the log show why; the host hears of it as the action's
// end.
void Session::Refuse(link::Refusal refusal, const std::string& path) {
  SetStatus(RefusalText(refusal));
  host_.AppendLog(RefusalText(refusal));
  host_.OperationEnded(link::OperationEnd::Refused(refusal, path));
}

// A message of an earlier action no longer stands once the next one starts.
void Session::BeginAction() {
  if (!model_.status_panel.empty()) SetStatus("");
}

void Session::SetStatus(const std::string& text) {
  model_.status_panel = text;
  host_.ModelChanged(ModelPart::kStatus);
}

}  // namespace orvane::device
