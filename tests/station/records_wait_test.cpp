#include "station/records_wait.h"

#include <gtest/gtest.h>

namespace orvane::station {
namespace {

using namespace std::chrono_literals;
using Next = RecordsWait::Next;

const RecordsWait::Clock::time_point kStart{};

TEST(RecordsWait, GoesOnWhenTheStoreAnswersAndGivesUpOnlyPastItsBound) {
  struct Case {
    const char* name;
    std::optional<RecordsWait::Duration> bound;
    RecordsWait::Duration at;
    bool answered;
    Next next;
  };
  const Case cases[] = {
      {"answered at once", 30s, 0s, true, Next::kGoOn},
      {"silent within the bound", 30s, 29999ms, false, Next::kWait},
      {"silent for the whole bound", 30s, 30s, false, Next::kGiveUp},
      {"silent past the bound", 30s, 45s, false, Next::kGiveUp},
      {"answered past the bound: the answer wins", 30s, 45s, true, Next::kGoOn},
      {"no bound, silent for an hour", std::nullopt, 1h, false, Next::kWait},
      {"no bound, answered", std::nullopt, 1h, true, Next::kGoOn},
  };
  for (const Case& c : cases) {
    const RecordsWait wait(kStart, c.bound, 1s);
    EXPECT_EQ(wait.After(kStart + c.at, c.answered), c.next) << c.name;
  }
}

// A late tick does not bunch the asks: the next one counts from it.
TEST(RecordsWait, AsksTheStoreOnceEveryRetry) {
  RecordsWait wait(kStart, 30s, 1s);
  const std::pair<RecordsWait::Duration, bool> ticks[] = {
      {0ms, false}, {999ms, false}, {1000ms, true}, {1500ms, false}, {2000ms, true}, {3700ms, true}, {4000ms, false},
      {4700ms, true},
  };
  for (const auto& [at, asks] : ticks) EXPECT_EQ(wait.AskNow(kStart + at), asks) << at.count() << " ns";
}

}  // namespace
}  // namespace orvane::station
