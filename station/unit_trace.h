// A unit's own trace: every frame of its run, kept beside the records, one
// file per run that no later session overwrites. The modem's polls that
// carry nothing are counted, not written: one "N polls" line when
// something else happens, or once a second.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "station/frame_trace.h"
#include "station/outcome.h"

namespace orvane::station {

// When the empty polls counted so far are to be written as one line.
class PollTally {
 public:
  using Clock = std::chrono::steady_clock;
  explicit PollTally(Clock::duration period = std::chrono::seconds(1)) : period_(period) {}
  // Counts a poll; the count to write now (0: nothing yet).
  std::size_t Poll(Clock::time_point now);
  // Before another line: the polls counted and not yet written.
  std::size_t Take();

 private:
  Clock::duration period_;
  std::size_t count_ = 0;
  Clock::time_point first_{};
};

class UnitTrace final : public link::LinkTracer {
 public:
  // Creates `folder`/<UTC time>-<position>.trace, never an existing file.
  static Outcome<std::unique_ptr<UnitTrace>> Create(const std::string& folder, const std::string& position);
  ~UnitTrace() override;

  const std::string& path() const { return path_; }
  void FrameSent(std::span<const std::uint8_t> frame) override;
  void FrameReceived(const link::FrameView& frame) override;
  void Decision(link::LinkDecision decision, const link::QueueEntry* head) override;
  void Log(const std::string& line);
  void Note(const std::string& line);

 private:
  UnitTrace(std::unique_ptr<TraceWriter> writer, std::string path)
      : writer_(std::move(writer)), path_(std::move(path)) {}
  void WritePolls(std::size_t count);

  std::unique_ptr<TraceWriter> writer_;
  std::string path_;
  PollTally polls_;
};

// Where the traces of a record store live: `traces/` beside an SQLite file,
// for PostgreSQL the default data folder's `traces/`.
Outcome<std::string> TraceFolderFor(const std::string& store_location);

// Traces are kept for 90 days and 1 GiB in all: older ones, then the oldest
// beyond the size, are deleted. Returns how many were deleted.
struct TraceRetention {
  std::chrono::hours max_age{24 * 90};
  std::uintmax_t max_total = std::uintmax_t{1} << 30;
};
std::size_t PruneTraces(const std::string& folder, const TraceRetention& retention = {},
                        std::filesystem::file_time_type now = std::filesystem::file_time_type::clock::now());

}  // namespace orvane::station
