// The console's end of the cable: the master side of a pseudo-terminal pair.
// The PC opens the other side (the path Open returns) as its serial port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace orvane::sim {

class PtyPort {
 public:
  enum class ReadResult { kData, kNothing, kPeerGone };

  PtyPort() = default;
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  // Opens a raw, non-blocking master and returns the port-side path; throws
  // std::system_error on failure.
  std::string Open();
  // Closing the master is pulling the cable: the PC's side reads a hang-up.
  void Close();
  bool IsOpen() const { return master_ >= 0; }
  int fd() const { return master_; }

  // True while some process holds the port side open.
  bool PeerOpen() const;
  // True when some process other than this port closed the port side since
  // the last call, even if it opened it again at once (a hang-up is not seen
  // then). Readable when there is something new: the descriptor to wait on,
  // -1 when the system gives no way to watch (then this is always false).
  bool ClosedSinceLastLook();
  int close_watch() const { return close_watch_; }
  // Writes the whole frame, or drops it when the PC does not take it (its
  // input is full because it does not read); false then.
  bool Write(std::span<const std::uint8_t> bytes);
  // Reads what has arrived, up to buffer.size() bytes, into buffer.
  ReadResult Read(std::span<std::uint8_t> buffer, std::size_t& count);
  // Throws away what the console wrote and the PC has not read.
  void Discard();

 private:
  void WatchCloses();

  int master_ = -1;
  int close_watch_ = -1;
  long own_closes_ = 0;  // closes by Discard still to come through the watch
  std::string port_path_;
};

}  // namespace orvane::sim
