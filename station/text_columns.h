// A table of text for a terminal: each column as wide as its widest cell (in
// characters, not bytes), two spaces between columns, no trailing blanks.
#pragma once

#include <string>
#include <vector>

namespace orvane::station {

std::string AlignColumns(const std::vector<std::vector<std::string>>& lines);

}  // namespace orvane::station
