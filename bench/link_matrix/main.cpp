// The link matrix as a benchmark and a soak: every device behaviour × line
// condition × transfer, run with several fault seeds. For each cell: how many
// runs completed with exact content, how many ended with exit 0 and wrong
// content (must be none), the mean, median and 90th percentile of the time
// (over all runs of the cell), exchanges per second and the time projected
// for a real 1 000 000 baud line. Exits 1 when a run ended with exit 0 and
// wrong content, or a run of an apply cell did not end exact.
//
//   orvane_bench_link_matrix [--seeds N] [--first-seed N] [--cells TEXT]
//                            [--cli PATH] [--sim PATH] [--runs-log FILE]
//                            [--limit SECONDS] [--baseline PATH]
//                            [--device-option WORD]...
//
// --baseline runs another build of orvane-cli on the same seeds, each run
// right after ours, and adds its completion, its silent corruptions, its
// mean time and the ratio of our time to its time over the seeds where both
// completed correctly. --device-option adds one word to every cell's
// orvane-sim options (given twice for an option and its value), for device
// behaviours outside the matrix, e.g. --copies apply.
//
// --cells keeps the cells whose name (behaviour/condition/transfer) contains
// TEXT; --cli runs another build of orvane-cli against the same simulator.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/e2e/link_matrix.h"

namespace {

using orvane::e2e::CellRun;
using orvane::e2e::MatrixCell;

// Bytes on the wire per exchange: a poll (7), our frame (a 42-byte chunk) and
// the answer (7 to 10 bytes); 11 bits a byte at 1 000 000 baud.
constexpr double kPollBytes = 7, kFrameBytes = 42, kAnswerBytes = 9;
constexpr double kSecondsPerByte = 11.0 / 1'000'000;

struct Options {
  unsigned seeds = 1, first_seed = 1;
  std::string cells;
  orvane::e2e::MatrixPrograms programs{ORVANE_CLI_PROGRAM, ORVANE_SIM_PROGRAM};
  std::string runs_log;
  std::string baseline;  // another orvane-cli, run on the same seeds for comparison
  std::vector<std::string> extra;  // further device options for every cell
  std::chrono::seconds limit{120};  // a run still going then counts as failed
};

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i], value = argv[i + 1];
    if (name == "--seeds") {
      o.seeds = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (name == "--first-seed") {
      o.first_seed = static_cast<unsigned>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (name == "--cells") {
      o.cells = value;
    } else if (name == "--cli") {
      o.programs.cli = value;
    } else if (name == "--sim") {
      o.programs.sim = value;
    } else if (name == "--limit") {
      o.limit = std::chrono::seconds(std::strtol(value.c_str(), nullptr, 10));
    } else if (name == "--device-option") {
      o.extra.push_back(value);
    } else if (name == "--baseline") {
      o.baseline = value;
    } else if (name == "--runs-log") {
      o.runs_log = value;
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && o.seeds > 0;
}

struct Totals {
  unsigned runs = 0, completed = 0, corrupted = 0, failed = 0;
  double seconds = 0, completed_seconds = 0;
  long polls = 0, answers = 0;
  std::vector<double> times;  // every run's, for the median and the 90th percentile
};

// The value below which the given share of the times lies (nearest rank).
double Percentile(std::vector<double> times, double share) {
  if (times.empty()) return 0;
  std::sort(times.begin(), times.end());
  const auto rank = static_cast<std::size_t>(share * static_cast<double>(times.size()) + 0.999999);
  return times[std::clamp<std::size_t>(rank, 1, times.size()) - 1];
}

void Add(Totals& t, const CellRun& run) {
  ++t.runs;
  t.times.push_back(run.seconds);
  t.seconds += run.seconds;
  t.polls += run.polls;
  t.answers += run.answers;
  if (run.Success()) {
    ++t.completed;
    t.completed_seconds += run.seconds;
  } else if (run.SilentCorruption()) {
    ++t.corrupted;
  } else {
    ++t.failed;
  }
}

// Ours against the baseline on the seeds where both completed correctly.
struct Comparison {
  Totals baseline;
  double ours_seconds = 0, baseline_seconds = 0;
  void Add(const CellRun& ours, const CellRun& base) {
    ::Add(baseline, base);
    if (!ours.Success() || !base.Success()) return;
    ours_seconds += ours.seconds;
    baseline_seconds += base.seconds;
  }
};

void PrintHeader(const Options& o) {
  std::printf("cli: %s\n", o.programs.cli.c_str());
  if (!o.baseline.empty()) std::printf("baseline: %s\n", o.baseline.c_str());
  std::printf("%-22s %5s %9s %6s %9s %6s %8s %8s %8s %8s %9s", "cell", "runs", "completed", "rate", "corrupted",
              "failed", "mean s", "median s", "p90 s", "exch/s", "1Mbaud s");
  if (!o.baseline.empty()) {
    std::printf(" | %7s %9s %8s %8s %8s %6s", "base ok", "base corr", "base s", "base med", "base p90", "ratio");
  }
  std::printf("\n");
}

void PrintRow(const std::string& name, const Totals& t, const Comparison* c) {
  const double mean = t.completed ? t.completed_seconds / t.completed : 0;
  const double exchanges = t.seconds > 0 ? t.answers / t.seconds : 0;
  const double wire = (t.polls * kPollBytes + t.answers * (kFrameBytes + kAnswerBytes)) * kSecondsPerByte / t.runs;
  std::printf("%-22s %5u %9u %5.0f%% %9u %6u %8.3f %8.3f %8.3f %8.0f %9.3f", name.c_str(), t.runs, t.completed,
              100.0 * t.completed / t.runs, t.corrupted, t.failed, mean, Percentile(t.times, 0.5),
              Percentile(t.times, 0.9), exchanges, t.seconds / t.runs + wire);
  if (c) {
    const Totals& b = c->baseline;
    const double base_mean = b.completed ? b.completed_seconds / b.completed : 0;
    const double ratio = c->baseline_seconds > 0 ? c->ours_seconds / c->baseline_seconds : 0;
    std::printf(" | %7u %9u %8.3f %8.3f %8.3f %6.2f", b.completed, b.corrupted, base_mean, Percentile(b.times, 0.5),
                Percentile(b.times, 0.9), ratio);
  }
  std::printf("\n");
  std::fflush(stdout);
}

void LogRun(std::FILE* log, const std::string& who, const MatrixCell& cell, unsigned seed, const CellRun& run) {
  if (!log) return;
  std::fprintf(log, "%s %s seed %u exit %d %s %.3f s cpu %.3f s polls %ld answers %ld %s\n", who.c_str(),
               cell.Name().c_str(), seed, run.exit_status, run.content_exact ? "exact" : "WRONG", run.seconds,
               run.cpu_seconds, run.polls, run.answers, run.mismatch.c_str());
  std::fflush(log);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--seeds N] [--first-seed N] [--cells TEXT] [--cli PATH] [--sim PATH] "
                         "[--baseline PATH] [--runs-log FILE] [--limit SECONDS] [--device-option WORD]...\n", argv[0]);
    return 2;
  }
  std::FILE* runs_log = options.runs_log.empty() ? nullptr : std::fopen(options.runs_log.c_str(), "w");
  const bool compare = !options.baseline.empty();
  orvane::e2e::MatrixPrograms baseline = options.programs;
  baseline.cli = options.baseline;
  PrintHeader(options);
  Totals all;
  Comparison all_compared;
  // A console that applies every repeated frame must end with exact content
  // in every run: a create or a delete sent twice would show here.
  unsigned apply_incomplete = 0;
  for (MatrixCell cell : orvane::e2e::LinkMatrix()) {
    if (!options.cells.empty() && cell.Name().find(options.cells) == std::string::npos) continue;
    cell.device_options.insert(cell.device_options.end(), options.extra.begin(), options.extra.end());
    Totals totals;
    Comparison compared;
    for (unsigned seed = options.first_seed; seed < options.first_seed + options.seeds; ++seed) {
      const CellRun run = orvane::e2e::RunCell(options.programs, cell, seed, options.limit);
      if (cell.condition == "apply" && !run.Success()) ++apply_incomplete;
      Add(totals, run);
      Add(all, run);
      LogRun(runs_log, "ours", cell, seed, run);
      if (!compare) continue;
      const CellRun base = orvane::e2e::RunCell(baseline, cell, seed, options.limit);
      compared.Add(run, base);
      all_compared.Add(run, base);
      LogRun(runs_log, "base", cell, seed, base);
    }
    PrintRow(cell.Name(), totals, compare ? &compared : nullptr);
  }
  PrintRow("all cells", all, compare ? &all_compared : nullptr);
  if (runs_log) std::fclose(runs_log);
  if (apply_incomplete > 0) std::printf("%u runs of the apply cells did not end exact\n", apply_incomplete);
  return all.corrupted == 0 && apply_incomplete == 0 ? 0 : 1;
}
