// A station process for the concurrency tests: takes COUNT serial numbers
// from RANGE one run at a time, as the tool does for each modem, and prints
// "serial run" for each as soon as it is stored (and " again" when it is the
// number the modem reported, given once more).
//
//   orvane_station_taker LOCATION FIRST LAST COUNT [REPORTED]
//
// With ORVANE_TAKER_GATE set, it writes "ready" to stderr once its first run
// is recorded and waits for that file to exist before it takes a number,
// so that several takers can be let go at the same moment.
#include <unistd.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "station/record_store.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s LOCATION FIRST LAST COUNT [REPORTED]\n", argv[0]);
    return 2;
  }
  using namespace orvane::station;
  const SerialRange range{std::atoi(argv[2]), std::atoi(argv[3])};
  const int count = std::atoi(argv[4]);
  const std::optional<std::int64_t> reported =
      argc == 6 ? std::optional<std::int64_t>(std::atoll(argv[5])) : std::nullopt;
  auto store = RecordStore::Open(argv[1], StoreMode::kCreate);
  if (!store) {
    std::fprintf(stderr, "%s\n", store.error.c_str());
    return 1;
  }
  RunStart start;
  start.port = "taker-" + std::to_string(::getpid());
  start.version = "test";
  for (int i = 0; i < count; ++i) {
    const auto run = (*store.value)->StartRun(start);
    if (!run) {
      std::fprintf(stderr, "%s\n", run.error.c_str());
      return 1;
    }
    if (const char* gate = std::getenv("ORVANE_TAKER_GATE"); gate && i == 0) {
      std::fprintf(stderr, "ready\n");
      std::fflush(stderr);
      while (::access(gate, F_OK) != 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto grant = (*store.value)->TakeSerial(*run.value, range, reported);
    if (!grant) {
      std::fprintf(stderr, "%s\n", grant.error.c_str());
      return 1;
    }
    std::printf("%d %lld%s\n", grant.value->serial, static_cast<long long>(*run.value),
                grant.value->again ? " again" : "");
    std::fflush(stdout);
    if (auto error = (*store.value)->FinishRun(*run.value, RunResult::kDone, "")) {
      std::fprintf(stderr, "%s\n", error->c_str());
      return 1;
    }
  }
  return 0;
}
