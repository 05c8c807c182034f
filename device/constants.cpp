// The constants block (block 2): read at the end of every refresh, saved with
// a write and a verify.
#include <cstring>
#include <ctime>

#include "link/cp1251.h"
#include "device/session.h"

namespace orvane::device {
namespace {

constexpr std::uint8_t kBlockNumber = 2;
constexpr std::uint8_t kBlockDataLength = 31;
constexpr std::size_t kIdentifierMax = 20;

enum BlockOffset : std::size_t {
  kNumber = 0,
  kDataLength = 2,
  kLocal = 3,
  kGlobal = 4,
  kSerial = 6,
  kTimeZone = 10,
  kSummer = 12,
  kIdentifierLength = 13,
  kIdentifier = 14,
};

void PutU16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void SetHeader(std::array<std::uint8_t, kBlockSize>& block) {
  PutU16(&block[kNumber], kBlockNumber);
  block[kDataLength] = kBlockDataLength;
}

}  // namespace

std::int32_t SystemTimeZoneMinutes() {
  tzset();
  return static_cast<std::int32_t>(-timezone / 60);
}

void Session::FillTimeZoneFromSystem() {
  model_.fields.time_zone = SystemTimeZoneMinutes();
  host_.ModelChanged(ModelPart::kFields);
}

void Session::QueueReadConstants() {
  SetHeader(model_.constants_block);
  link_.Enqueue(link::kConstantsRead, model_.constants_block, kBlockSize + 1);
}

// Response 5. The link control has already checked that the whole block is
// there. The fields change only for block 2 of length 31; the block itself
// keeps what the configurator last wrote into it. Whatever the header said,
// the queue is cleared: the read ends every refresh.
void Session::HandleConstants(const link::FrameView& frame) {
  if (frame.has_data(kBlockSize) && frame.data_u16(kNumber) == kBlockNumber &&
      frame.data(kDataLength) == kBlockDataLength) {
    ConstantsFields& f = model_.fields;
    // A length byte above 20 shows the 20 characters the block holds.
    const std::size_t length = std::min<std::size_t>(frame.data(kIdentifierLength), kIdentifierMax);
    f.identifier = link::Cp1251ToUtf8(frame.data_bytes().subspan(kIdentifier, length));
    f.time_zone = static_cast<std::int16_t>(frame.data_u16(kTimeZone));
    const std::uint8_t summer = frame.data(kSummer);
    f.summer_index = summer <= 1 ? summer : -1;  // the combo box has two entries
    f.local_address = frame.data(kLocal);
    f.global_address = frame.data_u16(kGlobal);
    std::uint32_t serial = 0;
    for (int i = 3; i >= 0; --i) serial = (serial << 8) | frame.data(kSerial + i);
    f.serial_number = static_cast<std::int32_t>(serial);
    host_.ModelChanged(ModelPart::kFields);
  }
  link_.ClearQueue();
}

// Bytes of the identifier beyond the new length keep what the block held, as
// the device has always received them.
void Session::FillBlockFromFields() {
  auto& block = model_.constants_block;
  const ConstantsFields& f = model_.fields;
  SetHeader(block);
  block[kLocal] = static_cast<std::uint8_t>(f.local_address);
  PutU16(&block[kGlobal], static_cast<std::uint32_t>(f.global_address));
  const auto serial = static_cast<std::uint32_t>(f.serial_number);
  for (int i = 0; i < 4; ++i) block[kSerial + i] = static_cast<std::uint8_t>(serial >> (8 * i));
  const std::vector<std::uint8_t> identifier =
      link::Utf8ToCp1251(link::Utf8Prefix(f.identifier, kIdentifierMax));
  block[kIdentifierLength] = static_cast<std::uint8_t>(identifier.size());
  std::copy(identifier.begin(), identifier.end(), block.begin() + kIdentifier);
  PutU16(&block[kTimeZone], static_cast<std::uint32_t>(f.time_zone));
  block[kSummer] = static_cast<std::uint8_t>(f.summer_index);
}

void Session::SaveConstants() {
  FillBlockFromFields();
  host_.OpenLinkPort();
  link_.Enqueue(link::kConstantsWrite, model_.constants_block, kBlockSize + 1);
  link_.Enqueue(link::kConstantsVerify, model_.constants_block, kBlockSize + 1);
  link_.QueueRefresh();
}

}  // namespace orvane::device
