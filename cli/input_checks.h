// Checks of what a command is given, made before the port is opened: a file
// to send that is missing, unreadable, too big for the console or named with
// a character the console cannot store is refused at once, without reading
// it. The rules are device/file_rules.h; the words are the tool's.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"
#include "device/file_rules.h"

namespace orvane::cli {

// Why the file of put, flash or verify is refused, or nothing. An image for
// flash or verify must hold something and be named *.mts, unless forced: an
// empty file or another kind of file would leave the console without its
// main program.
std::optional<std::string> CheckFileToSend(const Options& options);

// The tool's words for a file refused: one that cannot be read, an image, a
// plan (too big or with a name the console cannot store).
std::string RefusalText(const std::string& path, const device::FileLook& look);
std::string RefusalText(const std::string& path, const device::ImageVerdict& verdict);
std::string RefusalText(const std::string& path, const device::PlanVerdict& verdict);

}  // namespace orvane::cli
