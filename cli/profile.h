// Constants profiles: the "constants" object of a file in the format of
// `status --json` ({"id":...,"tz":...,"summer":...,"local":...,"global":...,
// "serial":...}) applied by `constants --from FILE`. Every field it holds is
// checked as the matching option would be; fields given on the command line
// win over the file's. The serial number is never taken from a profile: it
// belongs to the one console the file was read from.
#pragma once

#include <optional>
#include <string>

#include "cli/options.h"

namespace orvane::cli {

// Profiles are small; a larger file is refused before it is read.
inline constexpr std::uintmax_t kProfileLimit = 1 << 20;

// Fills the fields of `change` that are still empty from the profile. Why
// the file is refused, or nothing.
std::optional<std::string> ApplyProfile(const std::string& path, ConstantsChange& change);
// The same for a profile already read.
std::optional<std::string> ApplyProfileText(const std::string& text, ConstantsChange& change);

}  // namespace orvane::cli
