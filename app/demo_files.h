// Files for trying every action in the demo: two plan files and a firmware
// image, made up here and written into a folder of the run.
#pragma once

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <vector>

#include "link/payloads.h"

namespace orvane::app {

// A yearly plan of the traffic control system: a day-plan number for every
// day of a leap year, then four day plans of switch points.
std::vector<std::uint8_t> DemoYearlyPlan();
// A ring plan file: a 1024-byte preamble, then the ring payload whose length
// stands at offset 1029; the payload runs past the end of the file and
// continues at its start.
std::vector<std::uint8_t> DemoRingPlan();
// An image of the given size in the form the device takes it: opaque bytes.
std::vector<std::uint8_t> DemoFirmware(std::size_t size);

// The constants block of the demo console: an identifier, Moscow time,
// summer time on, and made-up addresses and serial number.
link::ConstantsBlockBytes DemoConstants();

// Writes the demo files into the folder; returns their paths, or an empty
// list when a file cannot be written.
QStringList WriteDemoFiles(const QString& folder);

}  // namespace orvane::app
