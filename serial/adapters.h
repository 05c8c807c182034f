// The lines of a bench: every USB serial adapter present (any number, not
// only those of the COMn table) with the hub socket it sits in, and the
// ports a station may run on.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_names.h"

namespace orvane::serial {

// Where the listing looks. FromEnvironment: $ORVANE_PORT_DIR or /dev for the
// ttyUSB* and ttyACM* devices, $ORVANE_BY_PATH_DIR or /dev/serial/by-path for
// the sockets, /sys for the USB details.
struct DeviceFolders {
  std::string devices, by_path, sysfs;
  static DeviceFolders FromEnvironment();
};

// a < b with runs of digits compared as numbers: ttyUSB2 before ttyUSB10,
// usb-0:1.2 before usb-0:1.10.
bool NaturalLess(std::string_view a, std::string_view b);

// The order of a bench: adapters in a socket by socket name, then the others
// by device name.
bool BenchOrder(const PortInfo& a, const PortInfo& b);

// Every ttyUSB* and ttyACM* device in the folder, in bench order; each has
// its device path as name and device, its socket and its USB details where
// they are known.
std::vector<PortInfo> ListAdapters(const DeviceFolders& folders = DeviceFolders::FromEnvironment());

// Whether a port can carry the link: it opens as the serial component opens
// it and keeps the link's settings (1000000 baud, 8 data bits, odd parity).
enum class LineCheck { kTakesSettings, kCannotOpen, kNotSerial, kRefusesSettings };
LineCheck CheckLineSettings(const std::string& device);
using LineProbe = std::function<LineCheck(const std::string& device)>;

// A port left out of a station and why.
struct LeftOut {
  PortInfo port;
  LineCheck why;
};

struct StationLines {
  std::vector<PortInfo> lines;
  std::vector<LeftOut> left_out;  // those that exist and open but refuse the settings
};

// The lines a station can use: every adapter (ListAdapters), then each name
// of the COMn table whose device is no adapter and takes the settings, under
// its COMn name. Adapters are not opened: one in use is still a line.
StationLines FindStationLines(const LineProbe& probe = CheckLineSettings,
                              const DeviceFolders& folders = DeviceFolders::FromEnvironment());

}  // namespace orvane::serial
