// The data layouts inside frames: the device-file header of a create
// command, the offset and count of a chunk, the file details of a directory
// answer and the 34-byte constants block. Everything that builds or reads
// these bytes (the device operations, the trace, the simulator's tests) goes
// through here. All fields are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvane::link {

using ByteSpan = std::span<const std::uint8_t>;

inline std::uint16_t GetU16(ByteSpan bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}
inline void PutU16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

// The header at the start of every device file: type, total length (header
// and data), name length n, the n name bytes (code page 1251), data length.
struct DeviceFileHeader {
  static constexpr std::size_t kFixedSize = 7;  // everything but the name

  std::uint16_t type = 0;
  std::uint16_t total = 0;
  std::vector<std::uint8_t> name;
  std::uint16_t data_length = 0;

  static DeviceFileHeader For(std::uint16_t type, std::vector<std::uint8_t> name, std::size_t data_length);
  std::size_t size() const { return kFixedSize + name.size(); }
  std::vector<std::uint8_t> Encode() const;
  // Nothing when the bytes are shorter than the header they announce.
  static std::optional<DeviceFileHeader> Decode(ByteSpan bytes);
};

// The first three data bytes of a firmware chunk (1, 2) or a file chunk (22).
struct ChunkHead {
  std::uint16_t offset = 0;
  std::uint8_t count = 0;
  static std::optional<ChunkHead> Decode(ByteSpan data);
};

// The answer to a file-details request (17): index, a byte not read, type,
// size, name length n and n name bytes.
struct FileDetails {
  std::uint8_t index = 0;
  std::uint16_t type = 0;
  std::uint16_t size = 0;
  ByteSpan name;  // into the decoded bytes
  // Nothing when the answer is shorter than the name it announces.
  static std::optional<FileDetails> Decode(ByteSpan data);
};

inline constexpr std::size_t kConstantsBlockBytes = 34;
using ConstantsBlockBytes = std::array<std::uint8_t, kConstantsBlockBytes>;

// The constants block, block number 2 with 31 data bytes.
struct ConstantsBlock {
  static constexpr std::uint16_t kNumber = 2;
  static constexpr std::uint8_t kDataLength = 31;
  static constexpr std::size_t kIdentifierBytes = 20;
  // Where each field starts.
  static constexpr std::size_t kNumberAt = 0;
  static constexpr std::size_t kDataLengthAt = 2;
  static constexpr std::size_t kLocalAt = 3;
  static constexpr std::size_t kGlobalAt = 4;
  static constexpr std::size_t kSerialAt = 6;
  static constexpr std::size_t kTimeZoneAt = 10;
  static constexpr std::size_t kSummerAt = 12;
  static constexpr std::size_t kIdentifierLengthAt = 13;
  static constexpr std::size_t kIdentifierAt = 14;

  std::uint16_t number = 0;
  std::uint8_t data_length = 0;
  std::uint8_t local_address = 0;
  std::uint16_t global_address = 0;
  std::int32_t serial_number = 0;
  std::int16_t time_zone = 0;
  std::uint8_t summer = 0;
  std::uint8_t identifier_length = 0;  // as stored; may exceed 20
  std::array<std::uint8_t, kIdentifierBytes> identifier{};

  bool IsConstants() const { return number == kNumber && data_length == kDataLength; }
  // The identifier's characters, at most the 20 the block holds.
  ByteSpan Identifier() const;

  static std::optional<ConstantsBlock> Decode(ByteSpan data);
  // Writes every field into the block; identifier bytes beyond the new
  // length keep what the block held.
  void EncodeInto(ConstantsBlockBytes& block) const;
  // The header alone: block number 2, data length 31.
  static void SetHeader(ConstantsBlockBytes& block);
};
static_assert(ConstantsBlock::kIdentifierAt + ConstantsBlock::kIdentifierBytes == kConstantsBlockBytes);

}  // namespace orvane::link
