// Command codes of the device link. The device answers every request with a
// frame of the same code; the poll (0) is the only frame it sends unasked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/frame.h"

namespace orvane::link {

enum Command : std::uint8_t {
  kPoll = 0,
  kFirmwareWrite = 1,
  kFirmwareVerify = 2,
  kConstantsWrite = 3,
  kConstantsVerify = 4,
  kConstantsRead = 5,
  kDirectory = 16,
  kFileDetails = 17,
  kFreeSpace = 18,
  kEraseAll = 19,
  kDeleteFile = 20,
  kCreateFile = 21,
  kFileChunk = 22,
};

inline constexpr std::size_t kConstantsBlockSize = 34;

// True when a response holds every field its handler reads (see the table in
// commands.cpp). Polls and unused codes need nothing.
bool ResponseComplete(const FrameView& frame);

}  // namespace orvane::link
