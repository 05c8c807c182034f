// What the console does with one frame from the PC: apply the command to its
// stored content and build the answer. No timing, no port: the simulator's
// thread feeds it frames and writes out what it returns.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "link/frame.h"
#include "sim/simulator.h"

namespace orvane::sim {

// A header is type (2), total length (2), name length (1), the name and the
// data length (2).
inline constexpr std::size_t kHeaderFixedBytes = 7;
// The directory count is one byte, so the console holds at most 255 files.
inline constexpr std::size_t kMaxFiles = 255;
// A file-details answer carries 7 bytes and the name in one frame.
inline constexpr std::size_t kMaxAnsweredName = link::kMaxLength - 1 - 7;

class Kv80Device {
 public:
  Kv80Device(DeviceState initial, std::size_t capacity, int fail_verify,
             CopyMode copies = CopyMode::kSkip);

  // The whole answer frame, or nothing for a code the console does not know.
  //
  // Resends: when the PC's answer to a poll is lost it sends the same frame at
  // the next poll. With CopyMode::kSkip a frame identical in every byte to the
  // last frame taken up is taken for a resend: it gets the same answer again
  // and is not applied a second time, so nothing is created, deleted, erased
  // or counted twice. Unknown codes are not taken up and leave that memory
  // alone. With CopyMode::kApply the console has no such memory and applies
  // every frame as it comes.
  std::optional<std::vector<std::uint8_t>> Answer(const link::FrameView& frame);

  const DeviceState& state() const { return state_; }
  // Capacity minus header and data of every file, never below 0 (not capped).
  std::size_t FreeBytes() const;

 private:
  std::vector<std::uint8_t> Apply(const link::FrameView& frame);
  std::vector<std::uint8_t> WriteFirmware(const link::FrameView& frame);
  std::vector<std::uint8_t> VerifyFirmware(const link::FrameView& frame);
  std::vector<std::uint8_t> WriteConstants(const link::FrameView& frame);
  std::vector<std::uint8_t> VerifyConstants(const link::FrameView& frame);
  std::vector<std::uint8_t> FileDetails(const link::FrameView& frame) const;
  std::vector<std::uint8_t> FreeSpace() const;
  void EraseAll();
  void DeleteFile(const link::FrameView& frame);
  void CreateFile(const link::FrameView& frame);
  void WriteFileChunk(const link::FrameView& frame);

  DeviceState state_;
  std::size_t capacity_;
  int fail_verify_;
  CopyMode copies_;
  long verify_chunks_ = 0;
  std::optional<std::size_t> created_file_;  // target of the data chunks
  std::vector<std::uint8_t> last_frame_;
  std::vector<std::uint8_t> last_answer_;
};

// Header and data of one stored file.
std::size_t StoredSize(const SimFile& file);

}  // namespace orvane::sim
