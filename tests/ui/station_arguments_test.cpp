#include "app/arguments.h"

#include <gtest/gtest.h>

namespace orvane::app {
namespace {

TEST(StationArgumentsTest, CommandLinesAreReadOrRefused) {
  const struct {
    std::vector<std::string> words;
    int exit_status;  // -1: the window runs
    bool station;
    std::string job;
    bool start;
  } cases[] = {
      {{}, -1, false, "", false},
      {{"--demo"}, -1, false, "", false},
      {{"--demo", "--screenshots", "pics"}, -1, false, "", false},
      {{"--station"}, -1, true, "", false},
      {{"--station", "batch.toml"}, -1, true, "batch.toml", false},
      {{"--station", "batch.toml", "--start", "--db", "s.sqlite", "--new-records", "--bench", "b.toml"}, -1, true,
       "batch.toml", true},
      {{"--start", "--station", "batch.toml"}, -1, true, "batch.toml", true},
      {{"--station", "--start"}, 2, false, "", false},        // nothing to start
      {{"--start"}, 2, false, "", false},                     // station options need --station
      {{"--db", "s.sqlite"}, 2, false, "", false},
      {{"--screenshots", "pics"}, 2, false, "", false},       // pictures need the demo
      {{"--demo", "--screenshot", "a.png", "--station"}, 2, false, "", false},
      {{"--station", "a.toml", "b.toml"}, 2, false, "", false},
      {{"--unknown"}, 2, false, "", false},
      {{"--help"}, 0, false, "", false},
      {{"--version"}, 0, false, "", false},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const auto& word : c.words) line += word + " ";
    SCOPED_TRACE(line);
    const ParsedArguments parsed = ParseArguments(c.words);
    if (c.exit_status >= 0) {
      EXPECT_FALSE(parsed.run);
      EXPECT_EQ(parsed.exit_status, c.exit_status);
      EXPECT_FALSE(parsed.output.empty());
      continue;
    }
    ASSERT_TRUE(parsed.run) << parsed.output;
    EXPECT_EQ(parsed.run->station.has_value(), c.station);
    if (!parsed.run->station) continue;
    EXPECT_EQ(parsed.run->station->job, c.job);
    EXPECT_EQ(parsed.run->station->start, c.start);
  }
  const ParsedArguments full = ParseArguments({"--station", "j.toml", "--db", "s.sqlite", "--new-records", "--bench", "b.toml"});
  ASSERT_TRUE(full.run && full.run->station);
  EXPECT_EQ(full.run->station->db, "s.sqlite");
  EXPECT_TRUE(full.run->station->new_records);
  EXPECT_EQ(full.run->station->bench, "b.toml");
  const ParsedArguments help = ParseArguments({"--help"});
  for (const char* option : {"--station", "--start", "--db", "--new-records", "--bench", "--demo", "--screenshots"}) {
    EXPECT_NE(help.output.find(option), std::string::npos) << option;
  }
}

}  // namespace
}  // namespace orvane::app
