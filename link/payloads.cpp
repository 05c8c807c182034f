#include "link/payloads.h"

#include <algorithm>

namespace orvane::link {
DeviceFileHeader DeviceFileHeader::For(std::uint16_t type, std::vector<std::uint8_t> name, std::size_t data_length) {
  DeviceFileHeader header;
  header.type = type;
  header.total = static_cast<std::uint16_t>(kFixedSize + name.size() + data_length);
  header.name = std::move(name);
  header.data_length = static_cast<std::uint16_t>(data_length);
  return header;
}

std::vector<std::uint8_t> DeviceFileHeader::Encode() const {
  std::vector<std::uint8_t> bytes(size());
  PutU16(&bytes[0], type);
  PutU16(&bytes[2], total);
  bytes[4] = static_cast<std::uint8_t>(name.size());
  std::copy(name.begin(), name.end(), bytes.begin() + 5);
  PutU16(&bytes[5 + name.size()], data_length);
  return bytes;
}

std::optional<DeviceFileHeader> DeviceFileHeader::Decode(ByteSpan bytes) {
  if (bytes.size() < kFixedSize || bytes.size() < kFixedSize + bytes[4]) return std::nullopt;
  const std::size_t name_length = bytes[4];
  DeviceFileHeader header;
  header.type = GetU16(bytes, 0);
  header.total = GetU16(bytes, 2);
  header.name.assign(bytes.begin() + 5, bytes.begin() + 5 + static_cast<std::ptrdiff_t>(name_length));
  header.data_length = GetU16(bytes, 5 + name_length);
  return header;
}

std::optional<ChunkHead> ChunkHead::Decode(ByteSpan data) {
  if (data.size() < 3) return std::nullopt;
  return ChunkHead{GetU16(data, 0), data[2]};
}

std::optional<FileDetails> FileDetails::Decode(ByteSpan data) {
  if (data.size() < 7 || data.size() < 7u + data[6]) return std::nullopt;
  return FileDetails{data[0], GetU16(data, 2), GetU16(data, 4), data.subspan(7, data[6])};
}

ByteSpan ConstantsBlock::Identifier() const {
  return ByteSpan(identifier).first(std::min<std::size_t>(identifier_length, kIdentifierBytes));
}

std::optional<ConstantsBlock> ConstantsBlock::Decode(ByteSpan data) {
  if (data.size() < kConstantsBlockBytes) return std::nullopt;
  ConstantsBlock block;
  block.number = GetU16(data, kNumberAt);
  block.data_length = data[kDataLengthAt];
  block.local_address = data[kLocalAt];
  block.global_address = GetU16(data, kGlobalAt);
  block.serial_number =
      static_cast<std::int32_t>(GetU16(data, kSerialAt) | (std::uint32_t{GetU16(data, kSerialAt + 2)} << 16));
  block.time_zone = static_cast<std::int16_t>(GetU16(data, kTimeZoneAt));
  block.summer = data[kSummerAt];
  block.identifier_length = data[kIdentifierLengthAt];
  std::copy_n(data.begin() + kIdentifierAt, kIdentifierBytes, block.identifier.begin());
  return block;
}

void ConstantsBlock::EncodeInto(ConstantsBlockBytes& block) const {
  PutU16(&block[kNumberAt], number);
  block[kDataLengthAt] = data_length;
  block[kLocalAt] = local_address;
  PutU16(&block[kGlobalAt], global_address);
  const auto serial = static_cast<std::uint32_t>(serial_number);
  PutU16(&block[kSerialAt], serial);
  PutU16(&block[kSerialAt + 2], serial >> 16);
  PutU16(&block[kTimeZoneAt], static_cast<std::uint16_t>(time_zone));
  block[kSummerAt] = summer;
  block[kIdentifierLengthAt] = identifier_length;
  const ByteSpan characters = Identifier();
  std::copy(characters.begin(), characters.end(), block.begin() + kIdentifierAt);
}

void ConstantsBlock::SetHeader(ConstantsBlockBytes& block) {
  PutU16(&block[kNumberAt], kNumber);
  block[kDataLengthAt] = kDataLength;
}

}  // namespace orvane::link
