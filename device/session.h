// A configurator session: the command queue and link control, the model of
// the device, and every device action. It answers the link's responses; the
// link reaches the program through the same Host the actions use.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "device/host.h"
#include "device/model.h"
#include "link/link_control.h"

namespace orvane::device {

// A file to be sent cannot be opened or read; its text is shown to the user.
class FileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kLogStart = "Запуск программы";
inline constexpr const char* kLogRefresh = "Запрос текущего состояния...";
inline constexpr const char* kLogErasing = "Удаление файлов...";
inline constexpr const char* kLogAddingFile = "Добавление файла...";
inline constexpr const char* kLogFlashing = "Идет прошивка основной программы...";
inline constexpr const char* kStatusFileTooBig = "Файл слишком большой";
inline constexpr const char* kStatusFirmwareTooBig = "Файл слишком большой!";
inline constexpr const char* kStatusPlanTooShort = "Файл кольцевого плана слишком короткий";
inline constexpr const char* kStatusNameTooLong = "Слишком длинное имя файла";
inline constexpr const char* kEraseWarning =
    "Вы собираетесь удалить все файлы из памяти пульта!\n\rПодтвердите Ваше желание:";
inline constexpr const char* kReflashWarning =
    "Все данные в пульте будут утеряны!\n\rПодтвердите операцию";
inline constexpr const char* kEmptyImageWarning =
    "Файл прошивки пуст: основная программа пульта будет стерта!\n\rПодтвердите операцию";
inline constexpr const char* kPlanFilter = "Годовой план АСУДД (версия 1)|*.yp1";
inline constexpr const char* kFirmwareFilter = "Зашифрованные прошивки|*.mts";
inline constexpr const char* kFirmwareExtension = "*.mts";

inline constexpr std::size_t kChunkSize = 32;
inline constexpr std::size_t kFirmwareLimit = 65536;  // images must be shorter
inline constexpr std::size_t kCircularPlanStart = 1024;
inline constexpr std::size_t kCircularPlanLength = 1029;
inline constexpr std::size_t kNameLimit = 255;
inline constexpr std::size_t kNameFrameLimit = 241;  // L = 7 + n + 1 must stay within 250
inline constexpr std::size_t kPathLimit = 200;
// The free space a file needs: its header, stored name and data, and 20
// bytes the device keeps free.
constexpr std::int64_t FileSpaceNeeded(std::size_t name_bytes, std::size_t data_bytes) {
  return static_cast<std::int64_t>(7 + name_bytes + data_bytes) + 20;
}
// Filler of the bytes beyond the end of an image in its last chunk when no
// earlier chunk left bytes there (an image shorter than 32 bytes).
inline constexpr std::uint8_t kFirmwareFiller = 0xFF;

// The status-bar text of a refused file or image.
const char* RefusalText(link::Refusal refusal);

// One 32-byte firmware chunk as queued: offset (2 bytes), length, data.
using FirmwareChunk = std::array<std::uint8_t, 3 + kChunkSize>;

// What an upload queued: the file as the device is to store it.
struct QueuedFile {
  std::string name;        // UTF-8 of the stored name (padding included)
  std::uint16_t type = 0;
  std::size_t size = 0;    // data bytes
};

// "Неизвестный тип %Xh" for codes outside the table.
std::string FileTypeName(std::uint16_t type);
// Type code by extension: ".RVP", ".R0", ".R1", ".L7Q", ".YP1", else 0.
std::uint16_t FileTypeForPath(const std::string& path);
// The extension of a path after upper-casing, "" when none; separators are
// "/", "\" and ":".
std::string PathExtension(const std::string& path);
// The name the device stores, in code page 1251: the path (or its file-name
// part when longer than 200 characters), cut to 255 characters, padded with
// one space to an odd length.
std::vector<std::uint8_t> DeviceFileName(const std::string& path);
// The part of the path that name is made of, in UTF-8: a character there
// that code page 1251 lacks would be stored as '?'.
std::string DeviceFileNameText(const std::string& path);
// The ring payload of a circular plan file held in memory: D[i] =
// file[(1024 + i) mod size] for i below the u16 length at 1029. Callers make
// sure the file holds at least 1031 bytes.
std::vector<std::uint8_t> ConvertCircularPlan(std::span<const std::uint8_t> file);
// Reads a whole file; FileError when it cannot be opened or read.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);
// Minus the C library's standard-time bias, in minutes (UTC+3 gives 180).
std::int32_t SystemTimeZoneMinutes();

class Session : public link::ResponseHandlers {
 public:
  explicit Session(Host& host) : host_(host), link_(host, *this) {}

  link::LinkControl& link() { return link_; }
  const link::LinkControl& link() const { return link_; }
  DeviceModel& model() { return model_; }
  const DeviceModel& model() const { return model_; }

  // Actions of the window (tool buttons and menu items).
  void Refresh() override;           // ToolButton1Click; also the first poll
  void Reflash();                    // ToolButton4Click
  // ToolButton6Click; what it queued, if anything.
  std::optional<QueuedFile> AddFileAction();
  void EraseAll();                   // ToolButton8Click
  void SaveConstants();              // ToolButton13Click
  void DeleteFileAtRow(int row);     // StringGrid1DblClick on the given row
  void FillTimeZoneFromSystem();
  void ResetFileTable();
  // What the window does as it is shown, before the first poll: the time
  // zone from the system, the file table empty. Every connection starts so.
  void StartAfresh();

  void QueueReadConstants();
  // Queues the file, or refuses it (status bar, and a refusal reported to the
  // host) and returns nothing.
  std::optional<QueuedFile> AddFile(const std::string& path);
  // The same for a file already read: `path` names it (stored name, type,
  // refusals); its bytes are what is sent.
  std::optional<QueuedFile> AddFileBytes(const std::string& path, std::vector<std::uint8_t> data);
  // Queues both passes; false when the image was refused.
  bool UploadFirmware(const std::string& path);
  bool UploadFirmwareBytes(const std::vector<std::uint8_t>& image, const std::string& path);
  // Only the verify pass of UploadFirmware (command 2, the same chunks and
  // size rule): the device compares the image with what it holds and
  // nothing is written.
  bool VerifyFirmware(const std::string& path);
  bool VerifyFirmwareBytes(const std::vector<std::uint8_t>& image, const std::string& path);

  // link::ResponseHandlers
  void HandleConstants(const link::FrameView& frame) override;
  void HandleDirectory(const link::FrameView& frame) override;
  void HandleFileDetails(const link::FrameView& frame) override;
  void HandleFreeSpace(const link::FrameView& frame) override;

 private:
  void SetStatus(const std::string& text);
  void BeginAction();
  void Refuse(link::Refusal refusal, const std::string& path);
  void FillBlockFromFields();
  bool QueueFirmware(const std::optional<std::vector<FirmwareChunk>>& chunks, const std::string& path);
  bool QueueVerify(const std::optional<std::vector<FirmwareChunk>>& chunks, const std::string& path);

  Host& host_;
  DeviceModel model_;
  link::LinkControl link_;
};

}  // namespace orvane::device
