// The constants block (block 2): read at the end of every refresh, saved with
// a write and a verify.
#include <cstring>
#include <ctime>

#include "link/cp1251.h"
#include "link/payloads.h"
#include "device/session.h"

namespace orvane::device {
namespace {

constexpr std::size_t kIdentifierMax = 20;

}  // namespace

std::int32_t SystemTimeZoneMinutes() {
  tzset();
  return static_cast<std::int32_t>(-timezone / 60);
}

void Session::FillTimeZoneFromSystem() {
  model_.fields.time_zone = SystemTimeZoneMinutes();
  host_.ModelChanged(ModelPart::kFields);
}

void Session::StartAfresh() {
  FillTimeZoneFromSystem();
  ResetFileTable();
}

void Session::QueueReadConstants() {
  link::ConstantsBlock::SetHeader(model_.constants_block);
  link_.Enqueue(link::kConstantsRead, model_.constants_block, kBlockSize + 1);
}

// Response 5. The link control has already checked that the whole block is
// there. The fields change only for block 2 of length 31; the block itself
// keeps what the configurator last wrote into it. Whatever the header said,
// the queue is cleared: the read ends every refresh.
void Session::HandleConstants(const link::FrameView& frame) {
  const auto block = link::ConstantsBlock::Decode(frame.data_bytes());
  if (block && block->IsConstants()) {
    ConstantsFields& f = model_.fields;
    // A length byte above 20 shows the 20 characters the block holds.
    f.identifier = link::Cp1251ToUtf8(block->Identifier());
    f.time_zone = block->time_zone;
    f.summer_index = block->summer <= 1 ? block->summer : -1;  // the combo box has two entries
    f.local_address = block->local_address;
    f.global_address = block->global_address;
    f.serial_number = block->serial_number;
    host_.ModelChanged(ModelPart::kFields);
  }
  link_.ClearQueue(link::EndCause::kClearedByAnswer);
}

// Bytes of the identifier beyond the new length keep what the block held, as
// the device has always received them.
void Session::FillBlockFromFields() {
  const ConstantsFields& f = model_.fields;
  link::ConstantsBlock block;
  block.number = link::ConstantsBlock::kNumber;
  block.data_length = link::ConstantsBlock::kDataLength;
  block.local_address = static_cast<std::uint8_t>(f.local_address);
  block.global_address = static_cast<std::uint16_t>(f.global_address);
  block.serial_number = f.serial_number;
  const std::vector<std::uint8_t> identifier =
      link::Utf8ToCp1251(link::Utf8Prefix(f.identifier, kIdentifierMax));
  block.identifier_length = static_cast<std::uint8_t>(identifier.size());
  std::copy(identifier.begin(), identifier.end(), block.identifier.begin());
  block.time_zone = static_cast<std::int16_t>(f.time_zone);
  block.summer = static_cast<std::uint8_t>(f.summer_index);
  block.EncodeInto(model_.constants_block);
}

void Session::SaveConstants() {
  BeginAction();
  FillBlockFromFields();
  host_.OpenLinkPort();
  link_.Enqueue(link::kConstantsWrite, model_.constants_block, kBlockSize + 1);
  link_.Enqueue(link::kConstantsVerify, model_.constants_block, kBlockSize + 1);
  link_.QueueRefresh();
}

}  // namespace orvane::device
