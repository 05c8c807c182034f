// The link matrix as a benchmark and a soak: every device behaviour × line
// condition × transfer, run with several fault seeds. For each cell: how many
// runs completed with exact content, how many ended with exit 0 and wrong
// content (must be none), the mean time, exchanges per second and the time
// projected for a real 1 000 000 baud line.
//
//   orvane_bench_link_matrix [--seeds N] [--first-seed N] [--cells TEXT]
//                            [--cli PATH] [--sim PATH] [--runs-log FILE]
//                            [--limit SECONDS]
//
// --cells keeps the cells whose name (behaviour/condition/transfer) contains
// TEXT; --cli runs another build of orvane-cli against the same simulator.
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
};

void Add(Totals& t, const CellRun& run) {
  ++t.runs;
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

void PrintRow(const std::string& name, const Totals& t) {
  const double mean = t.completed ? t.completed_seconds / t.completed : 0;
  const double exchanges = t.seconds > 0 ? t.answers / t.seconds : 0;
  const double wire = (t.polls * kPollBytes + t.answers * (kFrameBytes + kAnswerBytes)) * kSecondsPerByte / t.runs;
  std::printf("%-22s %5u %9u %8.0f%% %9u %7u %9.3f %9.0f %10.3f\n", name.c_str(), t.runs, t.completed,
              100.0 * t.completed / t.runs, t.corrupted, t.failed, mean, exchanges, t.seconds / t.runs + wire);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fprintf(stderr, "usage: %s [--seeds N] [--first-seed N] [--cells TEXT] [--cli PATH] [--sim PATH] "
                         "[--runs-log FILE] [--limit SECONDS]\n", argv[0]);
    return 2;
  }
  std::FILE* runs_log = options.runs_log.empty() ? nullptr : std::fopen(options.runs_log.c_str(), "w");
  std::printf("cli: %s\n%-22s %5s %9s %9s %9s %7s %9s %9s %10s\n", options.programs.cli.c_str(), "cell", "runs",
              "completed", "rate", "corrupted", "failed", "mean s", "exch/s", "1Mbaud s");
  Totals all;
  for (const MatrixCell& cell : orvane::e2e::LinkMatrix()) {
    if (!options.cells.empty() && cell.Name().find(options.cells) == std::string::npos) continue;
    Totals totals;
    for (unsigned seed = options.first_seed; seed < options.first_seed + options.seeds; ++seed) {
      const CellRun run = orvane::e2e::RunCell(options.programs, cell, seed, options.limit);
      Add(totals, run);
      Add(all, run);
      if (runs_log) {
        std::fprintf(runs_log, "%s seed %u exit %d %s %.3f s %s\n", cell.Name().c_str(), seed, run.exit_status,
                     run.content_exact ? "exact" : "WRONG", run.seconds, run.mismatch.c_str());
        std::fflush(runs_log);
      }
    }
    PrintRow(cell.Name(), totals);
  }
  PrintRow("all cells", all);
  if (runs_log) std::fclose(runs_log);
  return all.corrupted == 0 ? 0 : 1;
}
