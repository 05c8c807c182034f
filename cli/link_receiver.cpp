#include "cli/link_receiver.h"

#include <vector>

#include "link/commands.h"

namespace orvane::cli {
namespace {

bool MatchedByCodeAlone(std::uint8_t code) { return code >= link::kDirectory && code <= link::kFileChunk; }

}  // namespace

void LinkReceiver::Receive(const std::uint8_t* bytes, std::size_t count) {
  scanner_.Deliver(bytes, count, [this](const link::FrameView& frame) { Pass(frame); });
}

void LinkReceiver::Pass(const link::FrameView& frame) {
  if (frame.length() == 0) return;  // carries no command; the link control ignores it as well
  const std::uint8_t code = frame.command();
  const std::vector<std::uint8_t> whole = link::BuildFrame(code, frame.data_bytes());
  if (!MatchedByCodeAlone(code)) {
    link_.ReceiveData(whole.data(), whole.size());
    return;
  }
  const std::size_t sends = link_.head_sends();
  if (sends == 0) {
    ++held_back_;
    return;
  }
  link_.ReceiveData(whole.data(), whole.size());
  if (link_.head_sends() != 0) return;  // not popped
  for (std::size_t owed = sends - 1; owed > 0; --owed) link_.ReceiveData(whole.data(), whole.size());
}

}  // namespace orvane::cli
