// Feeds arbitrary bytes through the receive path of a whole session: frame
// scanner, link control and every response handler. The input is cut into
// deliveries of varying size; before each delivery a command is queued and
// the head sent, so answers find a matching head and the handlers run on
// hostile data; polls in the input drive the sending rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "device/session.h"
#include "tests/support/recording_host.h"

namespace {

using orvane::link::Command;

constexpr Command kHeads[] = {
    orvane::link::kFirmwareWrite, orvane::link::kFirmwareVerify, orvane::link::kConstantsWrite,
    orvane::link::kConstantsVerify, orvane::link::kConstantsRead, orvane::link::kDirectory,
    orvane::link::kFileDetails, orvane::link::kFreeSpace, orvane::link::kEraseAll,
    orvane::link::kDeleteFile, orvane::link::kCreateFile, orvane::link::kFileChunk,
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  orvane::testing::RecordingHost host;
  orvane::device::Session session(host);
  host.session = &session;
  session.ResetFileTable();
  auto& link = session.link();

  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t control = data[at++];
    const Command head = kHeads[control % std::size(kHeads)];
    const std::uint8_t first = static_cast<std::uint8_t>(control & 0xE0);
    link.Enqueue(head, std::vector<std::uint8_t>(34, first), head <= 5 ? 35 : 2);
    if (control & 0x10) session.DeleteFileAtRow(control & 0x07);
    link.SendHead();  // the head goes out, so answers can be taken for it
    const std::size_t piece = std::min<std::size_t>(size - at, 1u + (control & 0x0F) * 300u);
    link.ReceiveData(data + at, piece);
    at += piece;

    const auto table = orvane::device::DisplayTable(session.model().directory);
    Check(table.row_count() >= 1 && table.row_count() <= 257);
    Check(session.model().free_space >= 0 && session.model().free_space <= 65535);
    Check(host.progress_position == static_cast<int>(link.queue().size()));
    Check(session.model().fields.identifier.size() <= 20 * 3);
    for (const auto& frame : host.written) Check(frame.size() >= 7 && frame.size() <= 256);
    Check(link.frames_in_flight() <= orvane::link::InFlightFrames::kCapacity);
    Check(link.retransmit_timer().Timeout() >= orvane::link::RetransmitTimer::kFloor &&
          link.retransmit_timer().Timeout() <= orvane::link::RetransmitTimer::kCeiling);
    host.written.clear();
  }
  return 0;
}
