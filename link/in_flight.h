// The frames the PC has sent whose answers may still come.
//
// No answer carries a sequence number; most carry nothing that ties them to
// one request. What makes them attributable is the order: the device answers
// the frames it takes in the order it reads them (dropping some, perhaps, but
// never answering an older frame after a newer one), and both directions of
// the line keep their order. So:
//   - an answer with a given key answers one of the frames in flight with that
//     key, and every frame sent before the oldest of them has been answered or
//     will never be; those are settled;
//   - as long as every frame in flight with one key belongs to the same entry
//     (copies of one entry are byte for byte the same request), every answer
//     with that key is an answer to that entry, whichever copy it answers.
// The link control keeps the second condition by never sending an entry while
// frames of another entry with the same key are still in flight.
//
// Records are kept as long as an answer is possible, within two guards: an
// age (kLifetime) and a count (kCapacity). A record dropped by either is not
// settled: it is forgotten, and its key becomes unknown. Forgotten frames are
// always the oldest ones sent, older than every record. An answer with an
// unknown key may belong to one of them, so it is taken as the answer to the
// oldest forgotten frame of its key and settles nothing else; an answer to a
// recorded frame of a known key settles every forgotten frame. The link
// control sends no entry with an unknown key until a barrier has done so.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "link/frame.h"

namespace orvane::link {

// What an answer is matched by: its command code and, for the codes that echo
// the request's first data byte (1 to 5: the chunk's offset or the block
// number), that byte. The other codes name nothing (echo = -1).
struct AnswerKey {
  std::uint8_t command = 0;
  int echo = -1;
  bool operator==(const AnswerKey&) const = default;
};

AnswerKey RequestKey(const QueueEntry& entry);
// Call only for a response that ResponseComplete accepts.
AnswerKey ResponseKey(const FrameView& frame);

class InFlightFrames {
 public:
  using Clock = std::chrono::steady_clock;

  // A record this old is forgotten: a device answers within a few of its
  // poll cycles of reading a frame, so only a device that never answers again
  // (or a frame held somewhere for half a minute) leaves one this long.
  static constexpr Clock::duration kLifetime = std::chrono::seconds(30);
  // Memory guard: beyond this many records the oldest are forgotten.
  static constexpr std::size_t kCapacity = 1024;

  struct Sent {
    std::uint64_t serial = 0;
    AnswerKey key;
    std::uint64_t owner = 0;      // the queue entry (or barrier) the frame carried
    std::uint64_t operation = 0;  // the operation it was sent in
    std::uint64_t poll = 0;       // the device's polls seen when it was sent
    std::uint16_t offset = 0;     // a firmware chunk's offset (its first two data bytes)
    Clock::time_point at;
  };

  // Adds a frame just sent and returns the serial it is given.
  std::uint64_t Record(Sent frame);

  // Takes an answer with this key: the oldest frame in flight with the key
  // counts as answered and is returned; the frames sent before it are settled.
  // Nothing when no frame with the key is in flight, or when the key is
  // unknown (the answer is then taken as a forgotten frame's).
  std::optional<Sent> TakeAnswer(AnswerKey key);

  // True when a frame with this key that belongs to another owner is in flight.
  bool HeldByOther(AnswerKey key, std::uint64_t owner) const;
  // True when a forgotten frame with this key may still be answered.
  bool Unknown(AnswerKey key) const;
  std::size_t CountOf(std::uint64_t owner) const;
  // The owner's newest frame in flight, if any.
  std::optional<Sent> NewestOf(std::uint64_t owner) const;

  void Expire(Clock::time_point now);
  std::size_t size() const { return frames_.size(); }
  // Forgotten frames that may still be answered, of every key.
  std::size_t forgotten() const;

 private:
  void ForgetOldest();

  std::deque<Sent> frames_;  // oldest first
  // Per unknown key, how many of its forgotten frames may still be answered.
  std::vector<std::pair<AnswerKey, std::size_t>> forgotten_;
  std::uint64_t next_serial_ = 1;
};

}  // namespace orvane::link
