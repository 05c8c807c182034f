#include "cli/progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "l10n/l10n.h"

namespace orvane::cli {
namespace {

using Clock = ProgressLine::Clock;
using std::chrono::milliseconds;

struct ProgressCase {
  const char* name;
  int maximum;        // queued at the start of the run
  int position;       // left in the queue now
  std::size_t bytes;  // sent and received since the start
  milliseconds elapsed;
  const char* line;
};

class ProgressLineTest : public ::testing::TestWithParam<ProgressCase> {
 protected:
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> terminal{std::tmpfile(), &std::fclose};
};

// The calls the link makes: a new maximum, position and counter for each
// command queued, then a position and counter for each one answered. The
// line is read the given time after the last command was queued.
TEST_P(ProgressLineTest, ReadsInRussian) {
  const ProgressCase& c = GetParam();
  ASSERT_TRUE(terminal);
  l10n::SetUpFor(nullptr, "ru");
  ProgressLine progress(terminal.get());
  for (int length = 1; length <= c.maximum; ++length) {
    progress.SetMaximum(length);
    progress.SetPosition(length);
  }
  const Clock::time_point start = Clock::now();
  progress.CountBytes(c.bytes);
  progress.SetPosition(c.position);
  EXPECT_EQ(progress.Text(start + c.elapsed), c.line);
  l10n::SetUpFor(nullptr, "en");
}

TEST(ProgressLine, ReadsInEnglishUnderAnotherLocale) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> terminal{std::tmpfile(), &std::fclose};
  l10n::SetUpFor(nullptr, "en");
  ProgressLine progress(terminal.get());
  for (int length = 1; length <= 100; ++length) {
    progress.SetMaximum(length);
    progress.SetPosition(length);
  }
  const Clock::time_point start = Clock::now();
  progress.CountBytes(1000);
  progress.SetPosition(99);
  EXPECT_EQ(progress.Text(start + milliseconds(1000)), "[------------------------------] queue: 99  1 000 B/s, 1:39 left");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ProgressLineTest,
    ::testing::Values(
        ProgressCase{"JustStarted", 4097, 4097, 0, milliseconds(100),
                     "[------------------------------] Очередь команд: 4097."},
        ProgressCase{"Reflashing", 4097, 2908, 230510, milliseconds(10000),
                     "[########----------------------] Очередь команд: 2908.  23 051 Б/с, осталось 0:24"},
        ProgressCase{"NothingAnsweredYet", 10, 10, 5000, milliseconds(10000),
                     "[------------------------------] Очередь команд: 10.  500 Б/с"},
        ProgressCase{"FastLine", 4, 1, 12345670, milliseconds(10000),
                     "[######################--------] Очередь команд: 1.  1 234 567 Б/с, осталось 0:03"},
        ProgressCase{"Done", 6, 0, 900, milliseconds(1000),
                     "[##############################] Очередь команд: 0.  900 Б/с"},
        ProgressCase{"MinutesLeft", 100, 99, 1000, milliseconds(1000),
                     "[------------------------------] Очередь команд: 99.  1 000 Б/с, осталось 1:39"}),
    [](const ::testing::TestParamInfo<ProgressCase>& info) { return info.param.name; });

}  // namespace
}  // namespace orvane::cli
