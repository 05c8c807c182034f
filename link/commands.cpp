#include "link/commands.h"

namespace orvane::link {

// Smallest data part of a response that carries every field the configurator
// reads from it; a shorter response counts as damaged and is left unanswered
// (the head goes out again at the next poll):
//   1, 3   byte 0 (echoed offset or block number) for the pop check
//   2, 4   bytes 0 and 2 (echo and status): a missing status is never "equal"
//   5      the whole 34-byte block
//   16     byte 0, the file count
//   17     bytes 0 to 6, and the n name bytes that byte 6 announces
//   18     bytes 0 and 1, the free space
//   19-22  nothing is read
bool ResponseComplete(const FrameView& frame) {
  switch (frame.command()) {
    case kFirmwareWrite:
    case kConstantsWrite:
    case kDirectory:
      return frame.has_data(1);
    case kFirmwareVerify:
    case kConstantsVerify:
      return frame.has_data(3);
    case kConstantsRead:
      return frame.has_data(kConstantsBlockSize);
    case kFileDetails:
      return frame.has_data(7) && frame.has_data(7 + std::size_t{frame.data(6)});
    case kFreeSpace:
      return frame.has_data(2);
    default:
      return true;
  }
}

}  // namespace orvane::link
