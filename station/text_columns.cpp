#include "station/text_columns.h"

#include <algorithm>

#include "link/cp1251.h"

namespace orvane::station {

std::string AlignColumns(const std::vector<std::vector<std::string>>& lines) {
  std::vector<std::size_t> width;
  for (const auto& line : lines) {
    if (line.size() > width.size()) width.resize(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) width[i] = std::max(width[i], link::Utf8Length(line[i]));
  }
  std::string out;
  for (const auto& line : lines) {
    std::string text;
    for (std::size_t i = 0; i < line.size(); ++i) {
      text += line[i];
      if (i + 1 < line.size()) text += std::string(width[i] - link::Utf8Length(line[i]) + 2, ' ');
    }
    text.erase(text.find_last_not_of(' ') + 1);
    out += text + '\n';
  }
  return out;
}

}  // namespace orvane::station
