#include "cli/station_view.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>

#include "l10n/l10n.h"
#include "link/operation_end.h"

namespace orvane::cli {
namespace {

using namespace std::chrono;
using station::LineState;
using station::PositionEvent;

// 2026-12-09 14:49:03 UTC.
const system_clock::time_point kMoment = sys_days{year{2026} / 12 / 9} + 14h + 49min + 3s;

// The local time zone for one test.
struct LocalZone {
  explicit LocalZone(const char* zone) { Set(zone); }
  ~LocalZone() { Set(was.empty() ? nullptr : was.c_str()); }
  static void Set(const char* zone) {
    zone ? ::setenv("TZ", zone, 1) : ::unsetenv("TZ");
    ::tzset();
  }
  std::string was = std::getenv("TZ") ? std::getenv("TZ") : "";
};

TEST(StationView, TimeStampsAreLocalWithTheirOffset) {
  const std::pair<const char*, const char*> cases[] = {
      {"UTC0", "2026-12-09T14:49:03+00:00"},
      {"MSK-3", "2026-12-09T17:49:03+03:00"},
      {"NST3:30", "2026-12-09T11:19:03-03:30"},
      {"ACST-9:30", "2026-12-10T00:19:03+09:30"},
  };
  for (const auto& [zone, stamp] : cases) {
    const LocalZone local(zone);
    EXPECT_EQ(LocalTimeStamp(kMoment), stamp) << zone;
  }
}

// Without a terminal every event is one line with its time and position;
// what a library said (a log line, a store's error over several lines) is
// joined onto it.
TEST(StationView, WithoutATerminalEachEventIsOneLine) {
  l10n::SetUpFor(nullptr, "en");
  const LocalZone local("MSK-3");
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&buffer, &size);
  ASSERT_NE(out, nullptr);
  {
    StationView view(out, out, {"COM3", "COM5"}, false, false, false);
    view.SetClock([] { return kMoment; });
    auto event = [](std::size_t position, LineState state) {
      PositionEvent e;
      e.position = position;
      e.state = state;
      return e;
    };
    auto step = [&](int index, station::JobStep kind, int percent) {
      PositionEvent e = event(0, LineState::kRunning);
      e.step = kind;
      e.step_index = index;
      e.steps = 3;
      e.percent = percent;
      return e;
    };
    PositionEvent done = event(0, LineState::kDone);
    done.serial = 100000;
    PositionEvent waiting = event(1, LineState::kWaitingRecords);
    waiting.detail = "the station records at db cannot be used now: server closed the connection\nunexpectedly";
    PositionEvent still_waiting = waiting;
    still_waiting.detail = "the station records at db cannot be used now: connection refused";
    PositionEvent changed = done;
    changed.job_changed = "/jobs/a.yp1";
    const std::string t = "2026-12-09T17:49:03+03:00 ";
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { view.Event(event(0, LineState::kNoPort)); }, ""},
        {[&] { view.Event(event(0, LineState::kNoModem)); }, t + "COM3: waiting\n"},
        {[&] { view.Event(event(0, LineState::kNoModem)); }, ""},
        {[&] { view.Event(event(0, LineState::kArrived)); }, t + "COM3: modem arrived: reading it\n"},
        {[&] { view.Event(event(0, LineState::kRunning)); }, t + "COM3: started\n"},
        {[&] { view.Event(step(1, station::JobStep::kImage, 0)); }, t + "COM3: step 1/3 flash\n"},
        {[&] { view.Event(step(1, station::JobStep::kImage, 40)); }, ""},
        {[&] { view.Event(step(2, station::JobStep::kPlan, 0)); }, t + "COM3: step 2/3 put\n"},
        {[&] { view.Log(0, link::kLogNotConnected); }, t + "COM3: " + link::kLogNotConnected + "\n"},
        {[&] { view.Log(1, "first\r\n\r\nsecond\n"); }, t + "COM5: first; second\n"},
        {[&] { view.Event(waiting); },
         t + "COM5: waiting for the records: the station records at db cannot be used now: server closed the "
             "connection; unexpectedly\n"},
        {[&] { view.Event(still_waiting); }, ""},
        {[&] { view.Event(event(1, LineState::kFailed)); }, ""},
        {[&] {
           view.Event(event(1, LineState::kFailed),
                      "failed (exit 1): constants: ERROR:  could not extend file\nHINT:  Check free disk space.");
         },
         t + "COM5: failed (exit 1): constants: ERROR:  could not extend file; HINT:  Check free disk space.\n"},
        {[&] { view.Event(done); }, t + "COM3: done, serial 100000\n"},
        {[&] { view.Event(changed); },
         t + "COM3: /jobs/a.yp1 changed on disk; this session goes on with the files it read\n"},
        {[&] { view.Say("stopping:\nno new job starts"); }, t + "stopping:; no new job starts\n"},
    };
    std::size_t seen = 0;
    for (const auto& [call, lines] : cases) {
      call();
      std::fflush(out);
      EXPECT_EQ(std::string(buffer + seen, size - seen), lines);
      seen = size;
    }
  }
  std::fclose(out);
  std::free(buffer);
}

}  // namespace
}  // namespace orvane::cli
