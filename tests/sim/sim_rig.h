// A simulator with the test's PC on its port, and builders of request data.
#pragma once

#include <string_view>

#include "sim/simulator.h"
#include "tests/sim/pc_port.h"

namespace orvane::testing {

// A long reply window: the test's answers always land in it, however slow
// the machine; the short pause keeps exchanges quick.
inline sim::SimOptions Responsive() {
  sim::SimOptions options;
  options.reply_window_us = 2'000'000;
  options.poll_interval_us = 200;
  return options;
}

struct Rig {
  explicit Rig(sim::SimOptions options = Responsive(), sim::DeviceState state = {})
      : simulator(options, std::move(state)), pc(simulator.Start()) {}
  sim::Simulator simulator;
  PcPort pc;
};

inline Bytes Ascii(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline void PutU16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

// The data of a create command: type, total length, name, data length.
inline Bytes FileHeader(std::uint16_t type, const Bytes& name, std::uint16_t data_length) {
  Bytes header;
  PutU16(header, type);
  PutU16(header, static_cast<std::uint16_t>(7 + name.size() + data_length));
  header.push_back(static_cast<std::uint8_t>(name.size()));
  header.insert(header.end(), name.begin(), name.end());
  PutU16(header, data_length);
  return header;
}

// A file data chunk or a firmware chunk: u16 offset, u8 count, the bytes.
inline Bytes Chunk(std::uint16_t offset, const Bytes& bytes) {
  Bytes chunk;
  PutU16(chunk, offset);
  chunk.push_back(static_cast<std::uint8_t>(bytes.size()));
  chunk.insert(chunk.end(), bytes.begin(), bytes.end());
  return chunk;
}

inline Bytes Pattern(std::size_t size, std::uint8_t start) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(start + i * 7);
  return bytes;
}

}  // namespace orvane::testing
