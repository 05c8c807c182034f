// The trace of a run for support: every frame in and out with its decoded
// fields and its bytes, the link control's own decisions and the log, one
// line each, written to the file as it happens so that a crash or a pulled
// cable still leaves everything up to that moment.
//
//     1234 out 17 file-details index=0 | 5D 59 54 57 02 11 00 8B
//     1301 in  18 free-space free=16200 | 5D 59 54 57 03 12 48 3F 0A
//     1399 link resend 02 firmware-verify offset=0x0120 count=32
//     1400 log Операция успешно завершена.
//
// The first number is microseconds since the trace was opened.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "link/link_control.h"

namespace orvane::station {

// The fields of a frame's data as "name=value" words: a request when sent,
// the answer when received. Empty when the frame carries none.
std::string DescribeData(bool sent, std::uint8_t code, std::span<const std::uint8_t> data);
// Bytes as upper-case hex pairs separated by spaces.
std::string HexBytes(std::span<const std::uint8_t> bytes);

class TraceWriter final : public link::LinkTracer {
 public:
  // Creates or empties the file; nothing and *error when it cannot.
  static std::unique_ptr<TraceWriter> Open(const std::string& path, std::string* error);
  // Creates the file only when there is none; nothing and *error otherwise.
  static std::unique_ptr<TraceWriter> Create(const std::string& path, std::string* error);
  ~TraceWriter() override;
  TraceWriter(const TraceWriter&) = delete;
  TraceWriter& operator=(const TraceWriter&) = delete;

  void FrameSent(std::span<const std::uint8_t> frame) override;
  void FrameReceived(const link::FrameView& frame) override;
  void Decision(link::LinkDecision decision, const link::QueueEntry* head) override;
  void Log(const std::string& line);
  void Note(const std::string& line);  // a line of the trace's own

 private:
  explicit TraceWriter(int fd) : fd_(fd) {}
  static std::unique_ptr<TraceWriter> OpenWith(const std::string& path, int flags, std::string* error);
  void Write(const std::string& what);

  int fd_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace orvane::station
