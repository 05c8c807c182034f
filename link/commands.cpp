#include "link/commands.h"

#include <algorithm>
#include <array>

#include "link/payloads.h"

namespace orvane::link {
namespace {

// What the configurator reads from each answer (answer_data):
//   1, 3   byte 0 (echoed offset or block number) for the pop check
//   2, 4   bytes 0 and 2 (echo and status): a missing status is never "equal"
//   5      the whole 34-byte block
//   16     byte 0, the file count
//   17     bytes 0 to 6, and the n name bytes that byte 6 announces
//   18     bytes 0 and 1, the free space
//   19-22  nothing
constexpr std::array<CommandInfo, 12> kCommands{{
    {.code = kFirmwareWrite, .name = "firmware-write", .echoes_first_byte = true, .quick_copies = true,
     .answer_data = 1},
    {.code = kFirmwareVerify, .name = "firmware-verify", .echoes_first_byte = true, .quick_copies = true,
     .verifies = true, .answer_data = 3},
    {.code = kConstantsWrite, .name = "constants-write", .echoes_first_byte = true, .answer_data = 1},
    {.code = kConstantsVerify, .name = "constants-verify", .echoes_first_byte = true, .verifies = true,
     .answer_data = 3},
    {.code = kConstantsRead, .name = "constants-read", .echoes_first_byte = true,
     .answer_data = kConstantsBlockBytes},
    {.code = kDirectory, .name = "directory", .answer_data = 1},
    {.code = kFileDetails, .name = "file-details", .answer_data = 7},
    {.code = kFreeSpace, .name = "free-space", .barrier = kDirectory, .answer_data = 2},
    {.code = kEraseAll, .name = "erase-all", .changes_directory = true},
    {.code = kDeleteFile, .name = "delete-file", .changes_directory = true, .safe_to_repeat = false},
    {.code = kCreateFile, .name = "create-file", .changes_directory = true, .safe_to_repeat = false},
    {.code = kFileChunk, .name = "file-chunk"},
}};

}  // namespace

const CommandInfo* FindCommand(std::uint8_t code) {
  const auto it =
      std::find_if(kCommands.begin(), kCommands.end(), [code](const CommandInfo& c) { return c.code == code; });
  return it == kCommands.end() ? nullptr : &*it;
}

const char* CommandName(std::uint8_t code) {
  if (code == kPoll) return "poll";
  const CommandInfo* info = FindCommand(code);
  return info ? info->name : "unknown";
}

bool ResponseComplete(const FrameView& frame) {
  const CommandInfo* info = FindCommand(frame.command());
  if (!info || !frame.has_data(info->answer_data)) return !info;
  if (frame.command() == kFileDetails) return frame.has_data(7 + std::size_t{frame.data(6)});
  return true;
}

}  // namespace orvane::link
