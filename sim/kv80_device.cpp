#include "sim/kv80_device.h"

#include <algorithm>
#include <utility>

#include "link/commands.h"

namespace orvane::sim {
namespace {

using link::FrameView;
using Bytes = std::vector<std::uint8_t>;

// Bytes of a file that no chunk has written read as erased flash.
constexpr std::uint8_t kErased = 0xFF;
constexpr std::uint8_t kEqual = 0;
constexpr std::uint8_t kDiffer = 1;
constexpr std::size_t kChunkHeader = 3;  // u16 offset, u8 count

std::uint8_t Low(std::uint16_t value) { return static_cast<std::uint8_t>(value & 0xFF); }
std::uint8_t High(std::uint16_t value) { return static_cast<std::uint8_t>(value >> 8); }

std::uint16_t U16At(const FrameView& frame, std::size_t i) {
  return frame.has_data(i + 2) ? frame.data_u16(i) : std::uint16_t{0};
}

// The bytes a chunk (firmware or file data) carries: as many as its count
// says, cut to what the frame really holds.
std::span<const std::uint8_t> ChunkBytes(const FrameView& frame) {
  if (!frame.has_data(kChunkHeader)) return {};
  const std::size_t held = frame.data_size() - kChunkHeader;
  return frame.data_bytes().subspan(kChunkHeader, std::min<std::size_t>(frame.data(2), held));
}

Bytes StatusAnswer(std::uint16_t echoed, std::uint8_t status) {
  return {Low(echoed), High(echoed), status};
}

bool IsKnown(std::uint8_t command) {
  switch (command) {
    case link::kFirmwareWrite:
    case link::kFirmwareVerify:
    case link::kConstantsWrite:
    case link::kConstantsVerify:
    case link::kConstantsRead:
    case link::kDirectory:
    case link::kFileDetails:
    case link::kFreeSpace:
    case link::kEraseAll:
    case link::kDeleteFile:
    case link::kCreateFile:
    case link::kFileChunk:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::size_t StoredSize(const SimFile& file) {
  return kHeaderFixedBytes + file.name.size() + file.data.size();
}

Kv80Device::Kv80Device(DeviceState initial, std::size_t capacity, int fail_verify, CopyMode copies)
    : state_(std::move(initial)), capacity_(capacity), fail_verify_(fail_verify), copies_(copies) {}

std::size_t Kv80Device::FreeBytes() const {
  std::size_t used = 0;
  for (const SimFile& file : state_.files) used += StoredSize(file);
  return used >= capacity_ ? 0 : capacity_ - used;
}

std::optional<Bytes> Kv80Device::Answer(const FrameView& frame) {
  if (!IsKnown(frame.command())) return std::nullopt;
  const Bytes received(frame.bytes().begin(), frame.bytes().end());
  if (copies_ == CopyMode::kSkip && received == last_frame_) return last_answer_;
  last_answer_ = link::BuildFrame(frame.command(), Apply(frame));
  last_frame_ = received;
  return last_answer_;
}

// Commands 19 to 22 are answered with the bare code whatever they did: a
// refused create or an out-of-range delete changes nothing, and the PC learns
// the outcome from the directory it reads next.
Bytes Kv80Device::Apply(const FrameView& frame) {
  switch (frame.command()) {
    case link::kFirmwareWrite: return WriteFirmware(frame);
    case link::kFirmwareVerify: return VerifyFirmware(frame);
    case link::kConstantsWrite: return WriteConstants(frame);
    case link::kConstantsVerify: return VerifyConstants(frame);
    case link::kConstantsRead: return Bytes(state_.constants.begin(), state_.constants.end());
    case link::kDirectory: return {static_cast<std::uint8_t>(state_.files.size())};
    case link::kFileDetails: return FileDetails(frame);
    case link::kFreeSpace: return FreeSpace();
    case link::kEraseAll: EraseAll(); return {};
    case link::kDeleteFile: DeleteFile(frame); return {};
    case link::kCreateFile: CreateFile(frame); return {};
    case link::kFileChunk: WriteFileChunk(frame); return {};
    default: return {};
  }
}

// A write pass always starts at offset 0, so a chunk there erases the old
// program first: a shorter image leaves nothing of a longer one behind. The
// image ends at the highest offset + count written, filler included.
Bytes Kv80Device::WriteFirmware(const FrameView& frame) {
  const std::uint16_t offset = U16At(frame, 0);
  const auto bytes = ChunkBytes(frame);
  if (frame.has_data(kChunkHeader)) {
    if (offset == 0) state_.firmware.clear();
    const std::size_t end = std::size_t{offset} + bytes.size();
    if (state_.firmware.size() < end) state_.firmware.resize(end, kErased);
    std::copy(bytes.begin(), bytes.end(), state_.firmware.begin() + offset);
  }
  return {Low(offset)};
}

// Status 0 only when every byte the chunk carries equals the stored byte at
// its place; an empty chunk or one reaching past the image differs. The
// fail-verify count runs over the chunks applied: distinct chunks when
// resends are skipped, every one when copies are applied.
Bytes Kv80Device::VerifyFirmware(const FrameView& frame) {
  const std::uint16_t offset = U16At(frame, 0);
  const auto bytes = ChunkBytes(frame);
  const std::size_t end = std::size_t{offset} + bytes.size();
  const bool equal = !bytes.empty() && end <= state_.firmware.size() &&
                     std::equal(bytes.begin(), bytes.end(), state_.firmware.begin() + offset);
  ++verify_chunks_;
  const bool forced_failure = fail_verify_ > 0 && verify_chunks_ == fail_verify_;
  return StatusAnswer(offset, equal && !forced_failure ? kEqual : kDiffer);
}

// The console holds block 2 only: a block with another number or length is
// not stored, and verifying it then reports a difference.
Bytes Kv80Device::WriteConstants(const FrameView& frame) {
  const auto block = frame.data_bytes();
  if (block.size() >= state_.constants.size() && block[0] == 2 && block[1] == 0 && block[2] == 31) {
    std::copy_n(block.begin(), state_.constants.size(), state_.constants.begin());
  }
  return {frame.has_data(1) ? frame.data(0) : std::uint8_t{0}};
}

Bytes Kv80Device::VerifyConstants(const FrameView& frame) {
  const auto block = frame.data_bytes();
  const bool equal = block.size() >= state_.constants.size() &&
                     std::equal(state_.constants.begin(), state_.constants.end(), block.begin());
  return StatusAnswer(U16At(frame, 0), equal ? kEqual : kDiffer);
}

// An index past the last file is answered with an empty record (type 0,
// size 0, no name) so that the PC's queue moves on instead of asking forever.
Bytes Kv80Device::FileDetails(const FrameView& frame) const {
  const std::uint8_t index = frame.has_data(1) ? frame.data(0) : 0;
  if (index >= state_.files.size()) return {index, 0, 0, 0, 0, 0, 0};
  const SimFile& file = state_.files[index];
  const auto length = static_cast<std::uint16_t>(file.data.size());
  const std::size_t shown = std::min(file.name.size(), kMaxAnsweredName);
  Bytes answer(7 + shown);
  answer[0] = index;
  answer[2] = Low(file.type);
  answer[3] = High(file.type);
  answer[4] = Low(length);
  answer[5] = High(length);
  answer[6] = static_cast<std::uint8_t>(shown);
  std::copy_n(file.name.begin(), shown, answer.begin() + 7);
  return answer;
}

Bytes Kv80Device::FreeSpace() const {
  const auto reported = static_cast<std::uint16_t>(std::min<std::size_t>(FreeBytes(), 0xFFFF));
  return {Low(reported), High(reported)};
}

void Kv80Device::EraseAll() {
  state_.files.clear();
  created_file_.reset();
}

void Kv80Device::DeleteFile(const FrameView& frame) {
  if (!frame.has_data(1)) return;
  const std::size_t index = frame.data(0);
  if (index >= state_.files.size()) return;
  state_.files.erase(state_.files.begin() + static_cast<long>(index));
  if (created_file_ == index) {
    created_file_.reset();
  } else if (created_file_ && *created_file_ > index) {
    --*created_file_;
  }
}

// The header must be complete and its total length must be exactly header
// plus data; the file must fit the free space and the directory must have
// room. Otherwise nothing is created and later chunks go nowhere.
void Kv80Device::CreateFile(const FrameView& frame) {
  created_file_.reset();
  if (!frame.has_data(5)) return;
  const std::size_t name_length = frame.data(4);
  if (!frame.has_data(kHeaderFixedBytes + name_length)) return;
  const std::size_t total = frame.data_u16(2);
  const std::size_t data_length = frame.data_u16(5 + name_length);
  if (total != kHeaderFixedBytes + name_length + data_length) return;
  if (total > FreeBytes() || state_.files.size() >= kMaxFiles) return;

  SimFile file;
  file.type = frame.data_u16(0);
  const auto name = frame.data_bytes().subspan(5, name_length);
  file.name.assign(name.begin(), name.end());
  file.data.assign(data_length, kErased);
  state_.files.push_back(std::move(file));
  created_file_ = state_.files.size() - 1;
}

// Offsets count from the header's first byte. Bytes that would land in the
// header or past the file's end are left out: a chunk never changes the
// type, the name or the size the header gave.
void Kv80Device::WriteFileChunk(const FrameView& frame) {
  if (!created_file_ || !frame.has_data(kChunkHeader)) return;
  SimFile& file = state_.files[*created_file_];
  const std::size_t data_start = kHeaderFixedBytes + file.name.size();
  std::size_t position = frame.data_u16(0);
  for (std::uint8_t byte : ChunkBytes(frame)) {
    if (position >= data_start && position - data_start < file.data.size()) {
      file.data[position - data_start] = byte;
    }
    ++position;
  }
}

}  // namespace orvane::sim
