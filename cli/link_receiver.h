// Hands the received bytes to the link control frame by frame, keeping from
// it the answers that cannot belong to its head.
//
// Answers of codes 16 to 22 carry nothing that ties them to one request, so
// the link control has to tell a late copy from the answer to its head. It
// counts every extra send of a head as an answer still owed and ignores that
// many answers of the same code after the pop. That count is wrong whenever
// an answer was lost on the line instead of being late: no copy comes, the
// next genuine answer is ignored, the head goes out again and is counted as
// owed once more, and with every further loss the debt grows until the
// transfer stalls.
//
// The rule used instead: an answer can only answer a frame that was sent.
// An answer of codes 16 to 22 that arrives while the head has not been sent
// yet is a late copy and is kept back; any other is the head's answer. Every
// head popped this way has gone out at least once, so the console has it
// even when the answer taken was a copy. The link control's own count is
// settled at each pop with copies of the answer just taken, which it
// ignores as the ones it waits for.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/frame.h"
#include "link/link_control.h"

namespace orvane::cli {

class LinkReceiver {
 public:
  explicit LinkReceiver(link::LinkControl& link) : link_(link) {}

  // The serial port's received bytes.
  void Receive(const std::uint8_t* bytes, std::size_t count);
  std::size_t held_back() const { return held_back_; }

 private:
  void Pass(const link::FrameView& frame);

  link::LinkControl& link_;
  link::ReceiveBuffer scanner_;
  std::size_t held_back_ = 0;
};

}  // namespace orvane::cli
