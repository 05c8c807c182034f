// Reflash: the firmware image is queued as a write pass and a verify pass of
// 32-byte chunks, followed by a directory refresh.
#include <cstring>
#include <optional>

#include "device/file_rules.h"
#include "device/session.h"

namespace orvane::device {
namespace {

using Chunk = FirmwareChunk;

// One chunk buffer serves every chunk: the bytes past the end of a short last
// chunk repeat what the chunk before it carried there (or the filler value
// for an image shorter than one chunk). Both passes send the same chunks.
std::vector<Chunk> ChunksOf(const std::vector<std::uint8_t>& image) {
  std::vector<Chunk> chunks;
  Chunk buffer;
  buffer.fill(kFirmwareFiller);
  std::size_t offset = 0;
  do {
    const std::size_t count = std::min(kChunkSize, image.size() - std::min(offset, image.size()));
    buffer[0] = static_cast<std::uint8_t>(offset);
    buffer[1] = static_cast<std::uint8_t>(offset >> 8);
    buffer[2] = static_cast<std::uint8_t>(kChunkSize);
    if (count) std::memcpy(buffer.data() + 3, image.data() + offset, count);
    chunks.push_back(buffer);
    offset += kChunkSize;
  } while (offset < image.size());
  return chunks;
}

// The operator has answered for an empty image by then.
bool TooBig(const std::string& path, std::uintmax_t size) {
  return CheckImage(path, size, /*forced=*/true).rule == ImageRule::kTooBig;
}

std::optional<std::vector<Chunk>> ChunksOfImage(const std::vector<std::uint8_t>& image, const std::string& path) {
  if (TooBig(path, image.size())) return std::nullopt;
  return ChunksOf(image);
}

// The image is read whole; its length decides before anything is queued.
// Nothing for an image too big for 16-bit offsets.
std::optional<std::vector<Chunk>> ImageChunks(const std::string& path) {
  const FileLook look = LookAtFile(path);
  if (look.Regular() && TooBig(path, look.size)) return std::nullopt;
  return ChunksOfImage(ReadWholeFile(path), path);
}

}  // namespace

// An empty image would leave the console without a main program, so it is
// asked about once more. A refused image queues nothing, not even the
// refresh, so no success line follows its refusal.
void Session::Reflash() {
  BeginAction();
  if (!host_.ConfirmWarning(kReflashWarning)) return;
  const std::optional<std::string> path = host_.ChooseFile({kFirmwareFilter, kFirmwareExtension});
  if (!path) return;
  const FileLook look = LookAtFile(*path);
  const bool empty = look.Regular() && CheckImage(*path, look.size, /*forced=*/false).rule == ImageRule::kEmpty;
  if (empty && !host_.ConfirmWarning(kEmptyImageWarning)) return;
  host_.OpenLinkPort();
  if (!UploadFirmware(*path)) return;
  link_.QueueRefresh();
  host_.AppendLog(kLogFlashing);
}

bool Session::UploadFirmware(const std::string& path) { return QueueFirmware(ImageChunks(path), path); }

bool Session::UploadFirmwareBytes(const std::vector<std::uint8_t>& image, const std::string& path) {
  return QueueFirmware(ChunksOfImage(image, path), path);
}

bool Session::QueueFirmware(const std::optional<std::vector<FirmwareChunk>>& chunks, const std::string& path) {
  if (!chunks) {
    Refuse(link::Refusal::kFirmwareTooBig, path);
    return false;
  }
  for (std::uint8_t command : {link::kFirmwareWrite, link::kFirmwareVerify}) {
    for (const Chunk& chunk : *chunks) link_.Enqueue(command, chunk, chunk.size() + 1);
  }
  return true;
}

bool Session::VerifyFirmware(const std::string& path) { return QueueVerify(ImageChunks(path), path); }

bool Session::VerifyFirmwareBytes(const std::vector<std::uint8_t>& image, const std::string& path) {
  return QueueVerify(ChunksOfImage(image, path), path);
}

bool Session::QueueVerify(const std::optional<std::vector<FirmwareChunk>>& chunks, const std::string& path) {
  if (!chunks) {
    Refuse(link::Refusal::kFirmwareTooBig, path);
    return false;
  }
  for (const Chunk& chunk : *chunks) link_.Enqueue(link::kFirmwareVerify, chunk, chunk.size() + 1);
  return true;
}

}  // namespace orvane::device
