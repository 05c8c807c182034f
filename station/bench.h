// The bench of a station: its name and its positions, each a socket of the
// hub or one USB adapter, read from a TOML file. A job says what a modem
// gets; the bench says where it happens.
//
//   station = "Стенд 2"                               # default: the host name
//   [[position]]
//   name = "Место 1"
//   socket = "pci-0000:00:14.0-usb-0:1.1:1.0-port0"   # a /dev/serial/by-path name
//   [[position]]
//   name = "Место 2"
//   adapter = "A50285BI"                               # the adapter's USB serial number
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "serial/adapters.h"
#include "serial/port_names.h"
#include "station/outcome.h"

namespace orvane::station {

// A bench file's position is found by its socket or by its adapter's serial
// number (the other stays empty); device is where it is now, empty while
// unplugged.
struct Position {
  std::string name, socket, adapter_serial, device;
  bool operator==(const Position&) const = default;
};

struct Bench {
  std::string station;
  std::vector<Position> positions;  // as the file lists them; devices empty
};

// Reads and checks a bench file. The error names the file and the line: a
// syntax error, an unknown key, a position without a name, with neither or
// both of socket and adapter, a name, socket or adapter given twice, a bench
// without positions.
Outcome<Bench> ReadBench(const std::string& path);
Outcome<Bench> ParseBench(std::string_view text, const std::string& path);

// The positions with the devices of the adapters present now.
std::vector<Position> ResolvePositions(const Bench& bench, const std::vector<serial::PortInfo>& adapters);

// Without a bench file: one position for each adapter, named "1", "2", ...
// in the order of the sockets (then of the device names).
std::vector<Position> DefaultPositions(std::vector<serial::PortInfo> adapters);

// The bench a session runs, with the devices of the adapters present now:
// the bench file's (when `bench_file` is not empty), or one position per
// adapter with the station unnamed (the engine names it by the host).
Outcome<Bench> BenchFor(const std::string& bench_file, const std::vector<serial::PortInfo>& adapters);

struct StationPosition;
// The line a position's worker holds: its hub socket's by-path link, which
// names whatever adapter is plugged into that socket, else its device.
StationPosition LineOf(const Position& position, const serial::DeviceFolders& folders);

}  // namespace orvane::station
