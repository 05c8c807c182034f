// Checks of what a command is given, made before the port is opened: a file
// to send that is missing, unreadable, too big for the console or named with
// a character the console cannot store is refused at once, without reading
// it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/options.h"

namespace orvane::cli {

// The largest file `put` can ever send: its device file (7 header bytes, a
// name of at least one byte, the data) and 20 bytes of margin must fit the
// free space, which the device reports in 16 bits.
inline constexpr std::uintmax_t kPlanFileLimit = 65535 - 7 - 1 - 20;
// A ring plan is read from offset 1024 for at most 65535 bytes, wrapping at
// the end of the file; a longer file holds bytes that are never sent.
inline constexpr std::uintmax_t kRingPlanFileLimit = 1024 + 65535;

// Why the file of put, flash or verify is refused, or nothing. An image for
// flash or verify must hold something and be named *.mts, unless forced: an
// empty file or another kind of file would leave the console without its
// main program.
std::optional<std::string> CheckFileToSend(const Options& options);

}  // namespace orvane::cli
