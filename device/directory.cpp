// The file directory: the refresh chain that fills the file table, the type
// names, the free space, and the two destructive actions.
#include <cstdio>

#include "link/cp1251.h"
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
    case 0x0001: return "Годовой план ларвена-7 \"ТЕЛВАРИ\"";
    case 0x0002: return "Годовой план АСУДД";
    case 0x5256: return "Организация перекрестка РВМ-8";
    case 0x8000: return "Программа";
    default: {
      char text[64];
      std::snprintf(text, sizeof text, "Неизвестный тип %Xh", unsigned{type});
      return text;
    }
  }
}

void Session::Refresh() {
  host_.OpenLinkPort();
  link_.QueueRefresh();
  host_.AppendLog(kLogRefresh);
}

void Session::ResetFileTable() {
  FileTable& table = model_.table;
  table.SetRowCount(2);
  table.SetCell(0, 0, "№№");
  table.SetCell(0, 1, "Исходное местоположение файла");
  table.SetCell(0, 2, "Тип файла");
  table.SetCell(0, 3, "Размер");
  table.ClearRow(1);
  host_.ModelChanged(ModelPart::kTable);
}

// Response 16 (byte 0 present, checked by the link control): n file rows and
// the free-space row, all emptied; then the details of every file, the free
// space and the constants are asked for.
void Session::HandleDirectory(const link::FrameView& frame) {
  const int files = frame.data(0);
  FileTable& table = model_.table;
  table.SetRowCount(files + 2);
  for (int row = 1; row <= files + 1; ++row) table.ClearRow(row);
  host_.ModelChanged(ModelPart::kTable);
  for (int i = 0; i < files; ++i) {
    const std::uint8_t index = static_cast<std::uint8_t>(i);
    link_.Enqueue(link::kFileDetails, {&index, 1}, 2);
  }
  link_.Enqueue(link::kFreeSpace, {}, 1);
  QueueReadConstants();
}

// Response 17 (bytes 0 to 6 and the whole name present, checked by the link
// control). A file index whose row is not a file row of the current table
// (it would land on the free-space row or past the end) is not shown.
void Session::HandleFileDetails(const link::FrameView& frame) {
  const int row = frame.data(0) + 1;
  FileTable& table = model_.table;
  if (row > table.row_count() - 2) return;
  const std::size_t name_length = frame.data(6);
  if (!frame.has_data(7 + name_length)) return;
  table.SetCell(row, 0, Format("%ld", row));
  table.SetCell(row, 1, link::Cp1251ToUtf8(frame.data_bytes().subspan(7, name_length)));
  table.SetCell(row, 2, FileTypeName(frame.data_u16(2)));
  table.SetCell(row, 3, Format("%ld б.", frame.data_u16(4)));
  host_.ModelChanged(ModelPart::kTable);
}

// Response 18 (bytes 0 and 1 present, checked by the link control).
void Session::HandleFreeSpace(const link::FrameView& frame) {
  if (!frame.has_data(2)) return;
  const std::uint16_t free = frame.data_u16(0);
  FileTable& table = model_.table;
  table.SetCell(table.row_count() - 1, 1, Format("Свободно - %ld байт", free));
  model_.free_space = free;
  host_.ModelChanged(ModelPart::kTable);
}

void Session::DeleteFileAtRow(int row) {
  if (row <= 0 || row >= model_.table.row_count() - 1) return;
  host_.OpenLinkPort();
  const std::uint8_t index = static_cast<std::uint8_t>(row - 1);
  link_.Enqueue(link::kDeleteFile, {&index, 1}, 2);
  link_.QueueRefresh();
}

void Session::EraseAll() {
  if (!host_.ConfirmWarning(kEraseWarning)) return;
  host_.OpenLinkPort();
  link_.Enqueue(link::kEraseAll, {}, 1);
  host_.AppendLog(kLogErasing);
}

void Session::SetStatus(const std::string& text) {
  model_.status_panel = text;
  host_.ModelChanged(ModelPart::kStatus);
}

}  // namespace orvane::device
