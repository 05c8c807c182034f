// Add file: a plan file from disk becomes a device file (header and data),
// queued as one create command and 32-byte data chunks.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "link/cp1251.h"
#include "link/payloads.h"
#include "device/file_rules.h"
#include "device/session.h"

namespace orvane::device {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\' || c == ':'; }

std::size_t NamePartStart(const std::string& path) {
  const auto last = std::find_if(path.rbegin(), path.rend(), IsSeparator);
  return static_cast<std::size_t>(path.rend() - last);
}

}  // namespace

std::string PathExtension(const std::string& path) {
  const std::size_t name_start = NamePartStart(path);
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < name_start) return "";
  std::string extension = path.substr(dot);
  for (char& c : extension) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return extension;
}

std::uint16_t FileTypeForPath(const std::string& path) {
  const std::string extension = PathExtension(path);
  if (extension == ".RVP") return kProgramType;
  if (extension == ".R0" || extension == ".R1") return kRingPlanType;
  if (extension == ".L7Q") return kTelvariPlanType;
  if (extension == ".YP1") return kYearlyPlanType;
  return kOtherFileType;
}

// Lengths count characters; in code page 1251 each is one byte, so the cuts
// are made on the encoded name.
std::string DeviceFileNameText(const std::string& path) {
  return link::Utf8ToCp1251(path).size() > kPathLimit ? path.substr(NamePartStart(path)) : path;
}

std::vector<std::uint8_t> DeviceFileName(const std::string& path) {
  std::vector<std::uint8_t> name = link::Utf8ToCp1251(DeviceFileNameText(path));
  if (name.size() > kNameLimit) name.resize(kNameLimit);
  if (name.size() % 2 == 0) name.push_back(' ');
  return name;
}

std::vector<std::uint8_t> ConvertCircularPlan(std::span<const std::uint8_t> file) {
  const std::size_t size = file.size();
  const std::size_t count = file[kCircularPlanLength] | (file[kCircularPlanLength + 1] << 8);
  std::vector<std::uint8_t> data;
  data.reserve(count);
  std::size_t at = kCircularPlanStart;
  for (std::size_t i = 0; i < count; ++i) {
    data.push_back(file[at]);
    at = (at + 1 == size) ? 0 : at + 1;
  }
  return data;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0;
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileError("Не удается открыть файл \"" + path + "\": " + std::strerror(errno));
  std::vector<std::uint8_t> bytes;
  std::uint8_t block[65536];
  for (;;) {
    const ssize_t got = ::read(fd, block, sizeof block);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      ::close(fd);
      throw FileError("Ошибка чтения файла \"" + path + "\": " + std::strerror(error));
    }
    bytes.insert(bytes.end(), block, block + got);
  }
  ::close(fd);
  return bytes;
}

// A refused file says so in the log instead of "Добавление файла...".
std::optional<QueuedFile> Session::AddFileAction() {
  BeginAction();
  const std::optional<std::string> path = host_.ChooseFile({kPlanFilter, ""});
  if (!path || !FileExists(*path)) return std::nullopt;
  host_.OpenLinkPort();
  auto queued = AddFile(*path);
  if (queued) host_.AppendLog(kLogAddingFile);
  return queued;
}

std::optional<QueuedFile> Session::AddFile(const std::string& path) { return AddFileBytes(path, ReadWholeFile(path)); }

std::optional<QueuedFile> Session::AddFileBytes(const std::string& path, std::vector<std::uint8_t> data) {
  switch (CheckPlanUpload(path, data, model_.free_space).rule) {
    case PlanRule::kRingTooShort: Refuse(link::Refusal::kPlanTooShort, path); return std::nullopt;
    case PlanRule::kNameTooLong: Refuse(link::Refusal::kNameTooLong, path); return std::nullopt;
    case PlanRule::kNoRoom: Refuse(link::Refusal::kPlanTooBig, path); return std::nullopt;
    default: break;
  }
  const std::uint16_t type = FileTypeForPath(path);
  if (type == kRingPlanType) data = ConvertCircularPlan(data);
  std::vector<std::uint8_t> name = DeviceFileName(path);
  const QueuedFile queued{link::Cp1251ToUtf8(name), type, data.size()};
  const std::vector<std::uint8_t> header = link::DeviceFileHeader::For(type, std::move(name), data.size()).Encode();
  link_.Enqueue(link::kCreateFile, header, static_cast<std::uint8_t>(header.size() + 1));
  std::size_t offset = header.size();
  for (std::size_t p = 0; p < data.size(); p += kChunkSize, offset += kChunkSize) {
    const std::size_t count = std::min(kChunkSize, data.size() - p);
    std::uint8_t chunk[3 + kChunkSize];
    chunk[0] = static_cast<std::uint8_t>(offset);
    chunk[1] = static_cast<std::uint8_t>(offset >> 8);
    chunk[2] = static_cast<std::uint8_t>(count);
    std::memcpy(chunk + 3, data.data() + p, count);
    link_.Enqueue(link::kFileChunk, {chunk, 3 + count}, static_cast<std::uint8_t>(count + 4));
  }
  return queued;
}

}  // namespace orvane::device
