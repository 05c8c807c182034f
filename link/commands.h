// Command codes of the device link and what the link knows of each. The
// device answers every request with a frame of the same code; the poll (0)
// is the only frame it sends unasked.
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

// The properties of one request code, in one table (commands.cpp) that the
// link control and the record of frames in flight read.
struct CommandInfo {
  std::uint8_t code = 0;
  const char* name = "unknown";
  // The answer repeats the request's first data byte (a chunk's offset, a
  // block number), so answers are matched by code and that byte.
  bool echoes_first_byte = false;
  // Several copies may be in flight at once without waiting for the resend
  // time-out: successive entries of the code have different answer keys, so
  // a copy left behind holds nothing back.
  bool quick_copies = false;
  // The answer carries a verification status in data byte 2 (0: equal).
  bool verifies = false;
  // Applying the request changes the number of files on the device.
  bool changes_directory = false;
  // Applying the request a second time changes nothing more. A create or a
  // delete applied twice makes a second file or deletes another one.
  bool safe_to_repeat = true;
  // The request that settles copies in flight ahead of this code: one that
  // reads and changes nothing, with another answer key.
  std::uint8_t barrier = kFreeSpace;
  // Smallest data part of an answer that holds every field the configurator
  // reads from it; a shorter answer counts as damaged. The file details add
  // the name bytes that their byte 6 announces (see ResponseComplete).
  std::size_t answer_data = 0;
};

// The entry of a code that the link sends or answers; nullptr for the poll
// and for unused codes.
const CommandInfo* FindCommand(std::uint8_t code);
// "directory", "firmware-verify", ...; "poll" for 0 and "unknown" for
// unused codes.
const char* CommandName(std::uint8_t code);

// True when a response holds every field its handler reads (answer_data).
// Polls and unused codes need nothing.
bool ResponseComplete(const FrameView& frame);

}  // namespace orvane::link
