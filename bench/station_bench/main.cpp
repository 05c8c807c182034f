// The station engine in this process on sixteen simulated modems, each on a
// port that stays (the adapter) while its modem comes and goes.
//
//   orvane_bench_station [--rounds N] [--positions N] [--spacing-ms MS] [--idle-seconds S]
//                        [--tick-ms MS] [--idle-only 1]
//
// The job: a 64 KiB image (65 535 bytes, written and verified), two plans
// of 4 096 bytes, constants and a serial number from an SQLite counter in
// /dev/shm. The consoles poll with the simulator's default pause (1 000 us).
// Each round runs, in this order:
//   alone:    one position, one fresh modem;
//   together: sixteen positions, sixteen fresh modems plugged at once;
//   arrivals: sixteen positions whose adapters hold no modem (idle CPU),
//             then a modem plugged every --spacing-ms, then the finished
//             units polling on (CPU again);
//   rework:   one position, one modem that already holds the image.
// The tool's CPU is that of this process less that of the consoles'
// threads, which start before the engine and are told apart by that.
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "link/operation_end.h"
#include "link/payloads.h"
#include "sim/simulator.h"
#include "station/job_snapshot.h"
#include "station/record_store.h"
#include "station/station_engine.h"

namespace {

using namespace orvane;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kImageSize = 65535;
constexpr std::size_t kPlanSize = 4096;

struct Options {
  int rounds = 3;
  std::size_t positions = 16;
  std::chrono::milliseconds spacing{300};
  std::chrono::seconds idle{10};
  std::chrono::milliseconds tick{station::EngineOptions{}.tick};  // the positions' line-rule timer
  bool idle_only = false;  // only the sixteen adapters without a modem
};

double Since(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

Bytes Pattern(std::size_t size, unsigned seed) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + seed * 17 + 7);
  return bytes;
}

// CPU time in seconds: the process, and threads by their kernel ids.
double ProcessCpu() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

std::set<long> Threads() {
  std::set<long> ids;
  for (const auto& entry : fs::directory_iterator("/proc/self/task")) ids.insert(std::stol(entry.path().filename()));
  return ids;
}

double ThreadCpu(long id) {
  std::ifstream in("/proc/self/task/" + std::to_string(id) + "/schedstat");
  double ns = 0;
  in >> ns;
  return ns / 1e9;
}

// The consoles' threads: those that came with them.
class Consoles {
 public:
  Consoles(std::size_t count, const sim::DeviceState& content, bool plugged) {
    const std::set<long> before = Threads();
    sim::SimOptions options;  // polls every 1 000 us, as the simulator does by default
    for (std::size_t i = 0; i < count; ++i) {
      modems_.push_back(std::make_unique<sim::Simulator>(options, content));
      if (!plugged) modems_.back()->Unplug();
      ports_.push_back(modems_.back()->Start());
    }
    for (long id : Threads()) {
      if (!before.count(id)) threads_.push_back(id);
    }
  }
  double Cpu() const {
    double sum = 0;
    for (long id : threads_) sum += ThreadCpu(id);
    return sum;
  }
  sim::Simulator& operator[](std::size_t i) { return *modems_[i]; }
  const std::vector<std::string>& ports() const { return ports_; }

 private:
  std::vector<std::unique_ptr<sim::Simulator>> modems_;
  std::vector<std::string> ports_;
  std::vector<long> threads_;
};

struct CpuMark {
  double process = 0, consoles = 0;
};

CpuMark Mark(const Consoles& consoles) { return {ProcessCpu(), consoles.Cpu()}; }
double ToolCpu(const CpuMark& from, const CpuMark& to) { return (to.process - from.process) - (to.consoles - from.consoles); }

// What one position saw, in this thread's clock.
struct Line {
  std::optional<Clock::time_point> arrived, running, last_done_log, ended;
  station::LineState end = station::LineState::kNoModem;
  double took = 0;
  std::string reason;
};

class Session {
 public:
  Session(const Consoles& consoles, std::shared_ptr<const station::JobSnapshot> snapshot, const std::string& store,
          std::chrono::milliseconds tick)
      : lines_(consoles.ports().size()) {
    using station::StationEngine;
    QObject::connect(&engine_, &StationEngine::PositionChanged, [this](const station::PositionEvent& e) { Seen(e); });
    QObject::connect(&engine_, &StationEngine::LogLine, [this](std::size_t position, const std::string& line) {
      if (position < lines_.size() && line == link::kLogDone) lines_[position].last_done_log = Clock::now();
    });
    QObject::connect(&engine_, &StationEngine::UnitEnded, [this](const station::UnitEnd& end) {
      lines_[end.position].reason = end.reason;
      ++ended_;
    });
    std::vector<station::StationPosition> positions;
    for (const std::string& port : consoles.ports()) positions.push_back({port, ""});
    station::EngineOptions options;
    options.version = "bench";
    options.tick = tick;
    engine_.Start(std::move(positions), std::move(snapshot), store, options);
    waker_.start(50);
  }
  ~Session() {
    engine_.StopNewJobs();
    Wait([this] { return engine_.ended(); }, 10s);
  }

  // Sleeps in the event loop, as the tool's own thread does; the waker's
  // 50 ms turns are all this thread adds.
  bool Wait(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done() && Clock::now() < deadline) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
  }
  bool WaitEnded(std::size_t count, std::chrono::milliseconds limit = 120s) {
    return Wait([this, count] { return ended_ >= count; }, limit);
  }
  void Run(std::chrono::milliseconds time) { Wait([] { return false; }, time); }
  const std::vector<Line>& lines() const { return lines_; }
  std::size_t done() const {
    return static_cast<std::size_t>(std::count_if(lines_.begin(), lines_.end(), [](const Line& l) {
      return l.end == station::LineState::kDone;
    }));
  }

 private:
  void Seen(const station::PositionEvent& e) {
    Line& line = lines_[e.position];
    const auto now = Clock::now();
    if (e.state == station::LineState::kArrived && !line.arrived) line.arrived = now;
    if (e.state == station::LineState::kRunning && !line.running) line.running = now;
    const bool end = e.state == station::LineState::kDone || e.state == station::LineState::kFailed ||
                     e.state == station::LineState::kAlreadyDone;
    if (end && !line.ended) {
      line.ended = now;
      line.end = e.state;
      line.took = std::chrono::duration<double>(e.took).count();
    }
  }

  station::StationEngine engine_;
  QTimer waker_;
  std::vector<Line> lines_;
  std::size_t ended_ = 0;
};

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
double Max(const std::vector<double>& values) { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }

class Bench {
 public:
  explicit Bench(Options options) : options_(options) {
    folder_ = fs::path(fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path()) /
              ("orvane-station-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder_);
    image_ = Pattern(kImageSize, 1);
    station::Job job;
    job.file = Write("job.toml", Bytes{'#'});
    job.image = Write("kv80.mts", image_);
    job.plans = {Write("plan 12.yp1", Pattern(kPlanSize, 2)), Write("ring.l7q", Pattern(kPlanSize, 3))};
    job.constants.identifier = "Pult-7";
    job.constants.time_zone = 180;
    job.serial = station::SerialRange{100000, 199999};
    auto snapshot = station::JobSnapshot::Read(job);
    if (!snapshot) throw std::runtime_error(snapshot.error);
    snapshot_ = std::make_shared<station::JobSnapshot>(std::move(*snapshot.value));
  }
  ~Bench() { fs::remove_all(folder_); }

  // Every unit done and holding the image, or a message saying what was not.
  std::string Check(const Session& session, Consoles& consoles, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const Line& line = session.lines()[i];
      if (line.end != station::LineState::kDone) return "position " + std::to_string(i + 1) + ": " + line.reason;
      const sim::DeviceState state = consoles[i].State();
      if (state.firmware.size() < image_.size() || !std::equal(image_.begin(), image_.end(), state.firmware.begin()) ||
          state.files.size() != 2) {
        return "position " + std::to_string(i + 1) + " lacks the image or the plans";
      }
    }
    return "";
  }

  struct Single {
    double wall = 0, cpu = 0, start = 0;
    std::string error;
  };
  Single RunOne(const sim::DeviceState& content) {
    Consoles consoles(1, content, true);
    const std::string store = NewStore();
    const CpuMark from = Mark(consoles);
    Session session(consoles, snapshot_, store, options_.tick);
    if (!session.WaitEnded(1)) return {.error = "no end"};
    const CpuMark to = Mark(consoles);
    const Line& line = session.lines()[0];
    return {line.took, ToolCpu(from, to), Since(*line.arrived, *line.running), Check(session, consoles, 1)};
  }

  struct Together {
    double wall_median = 0, cpu_per_unit = 0, all = 0;
    std::string error;
  };
  Together RunTogether() {
    Consoles consoles(options_.positions, {}, true);
    const std::string store = NewStore();
    const CpuMark from = Mark(consoles);
    const auto began = Clock::now();
    Session session(consoles, snapshot_, store, options_.tick);
    if (!session.WaitEnded(options_.positions)) return {.error = "not every unit ended"};
    const CpuMark to = Mark(consoles);
    std::vector<double> took;
    for (const Line& line : session.lines()) took.push_back(line.took);
    return {Median(took), ToolCpu(from, to) / static_cast<double>(options_.positions), Since(began, Clock::now()),
            Check(session, consoles, options_.positions)};
  }

  struct Arrivals {
    std::vector<double> start, remove;  // per unit: first poll to job start, last refresh to "remove"
    double idle_cpu = 0, polling_cpu = 0, polling_consoles = 0;  // share of one core
    std::string error;
  };
  Arrivals RunArrivals() {
    Arrivals figures;
    Consoles consoles(options_.positions, {}, false);
    const std::string store = NewStore();
    Session session(consoles, snapshot_, store, options_.tick);
    session.Run(1s);
    const double idle = static_cast<double>(options_.idle.count());
    CpuMark from = Mark(consoles);
    session.Run(options_.idle);
    figures.idle_cpu = ToolCpu(from, Mark(consoles)) / idle;
    if (options_.idle_only) return figures;
    for (std::size_t i = 0; i < options_.positions; ++i) {
      consoles[i].Plug();
      session.Run(options_.spacing);
    }
    if (!session.WaitEnded(options_.positions)) figures.error = "not every unit ended";
    if (figures.error.empty()) figures.error = Check(session, consoles, options_.positions);
    for (const Line& line : session.lines()) {
      if (line.arrived && line.running) figures.start.push_back(Since(*line.arrived, *line.running));
      if (line.last_done_log && line.ended) figures.remove.push_back(Since(*line.last_done_log, *line.ended));
    }
    session.Run(1s);
    from = Mark(consoles);
    session.Run(options_.idle);
    const CpuMark to = Mark(consoles);
    figures.polling_cpu = ToolCpu(from, to) / idle;
    figures.polling_consoles = (to.consoles - from.consoles) / idle;
    return figures;
  }

  // The firmware a written image leaves: its last chunk, when the image ends
  // inside one, is filled from the chunk before it (what the link sends).
  sim::DeviceState HoldingTheImage() const {
    sim::DeviceState state;
    state.firmware = image_;
    const std::size_t rest = image_.size() % 32;
    for (std::size_t i = rest; rest != 0 && i < 32; ++i) {
      state.firmware.push_back(image_.size() > 32 ? image_[image_.size() - rest - 32 + i] : 0xFF);
    }
    return state;
  }

 private:
  std::string Write(const std::string& name, const Bytes& bytes) {
    std::ofstream(folder_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return (folder_ / name).string();
  }
  std::string NewStore() {
    const std::string location = (folder_ / ("station-" + std::to_string(stores_++) + ".sqlite")).string();
    auto store = station::RecordStore::Open(location, station::StoreMode::kCreate);
    if (!store) throw std::runtime_error(store.error);
    return location;
  }

  Options options_;
  fs::path folder_;
  Bytes image_;
  std::shared_ptr<const station::JobSnapshot> snapshot_;
  int stores_ = 0;
};

Options Parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const long value = std::strtol(argv[i + 1], nullptr, 10);
    if (name == "--rounds") options.rounds = static_cast<int>(value);
    else if (name == "--positions") options.positions = static_cast<std::size_t>(value);
    else if (name == "--spacing-ms") options.spacing = std::chrono::milliseconds(value);
    else if (name == "--idle-seconds") options.idle = std::chrono::seconds(value);
    else if (name == "--tick-ms") options.tick = std::chrono::milliseconds(value);
    else if (name == "--idle-only") options.idle_only = value != 0;
    else {
      std::fprintf(stderr, "unknown option %s\n", name.c_str());
      std::exit(2);
    }
  }
  return options;
}

void Load() {
  double load[3] = {};
  if (::getloadavg(load, 3) > 0) std::printf("(load average %.2f)\n", load[0]);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const Options options = Parse(argc, argv);
  Bench bench(options);
  if (options.idle_only) {
    for (int round = 1; round <= options.rounds; ++round) {
      std::printf("round %d: idle CPU %.2f %% of one core ", round, 100 * bench.RunArrivals().idle_cpu);
      Load();
    }
    return 0;
  }
  bool ok = true;
  auto report = [&ok](const std::string& what, const std::string& error) {
    if (error.empty()) return;
    ok = false;
    std::printf("  %s FAILED: %s\n", what.c_str(), error.c_str());
  };
  std::printf("| round | alone wall | alone CPU | N wall/unit | N CPU/unit | wall ratio | CPU ratio | N all done |"
              " start median | start max | remove median | remove max | idle CPU | polling CPU | consoles |"
              " full | rework | rework/full |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
  for (int round = 1; round <= options.rounds; ++round) {
    Load();
    const auto alone = bench.RunOne({});
    report("alone", alone.error);
    const auto together = bench.RunTogether();
    report("together", together.error);
    const auto arrivals = bench.RunArrivals();
    report("arrivals", arrivals.error);
    const auto full = bench.RunOne({});
    report("full", full.error);
    const auto rework = bench.RunOne(bench.HoldingTheImage());
    report("rework", rework.error);
    std::printf("| %d | %.2f s | %.3f s | %.2f s | %.3f s | %.2f | %.2f | %.2f s | %.0f ms | %.0f ms | %.1f ms |"
                " %.1f ms | %.2f %% | %.2f %% | %.1f %% | %.2f s | %.2f s | %.2f |\n",
                round, alone.wall, alone.cpu, together.wall_median, together.cpu_per_unit,
                together.wall_median / alone.wall, together.cpu_per_unit / alone.cpu, together.all,
                1000 * Median(arrivals.start), 1000 * Max(arrivals.start), 1000 * Median(arrivals.remove),
                1000 * Max(arrivals.remove), 100 * arrivals.idle_cpu, 100 * arrivals.polling_cpu,
                100 * arrivals.polling_consoles, full.wall, rework.wall, rework.wall / full.wall);
    std::fflush(stdout);
  }
  Load();
  return ok ? 0 : 1;
}
