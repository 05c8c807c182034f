#include "cli/history.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/port_result.h"
#include "l10n/l10n.h"
#include "cli/store_open.h"
#include "station/record_store.h"

namespace orvane::cli {
namespace {

using l10n::Format;
using l10n::Tr;

// --trace RUN: the run's trace as it was written, or where it was kept
// when it is not on this machine.
int PrintTrace(const Options& options, const Console& console, station::RecordStore& store) {
  auto refuse = [&](const std::string& text) { return Refuse(console, options.json, text, RunEnding::Refused()); };
  const std::string& word = *options.trace_path;
  char* end = nullptr;
  const long long id = std::strtoll(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0' || id <= 0) return refuse(Format(Tr("--trace needs a run number, not \"%s\""), word.c_str()));
  auto runs = store.History({});
  if (!runs) return Refuse(console, options.json, runs.error, RunEnding::Failed());
  const auto run = std::find_if(runs.value->begin(), runs.value->end(),
                                [id](const station::RunRecord& r) { return r.id == id; });
  if (run == runs.value->end()) return refuse(Format(Tr("no run %lld in the records"), id));
  if (run->trace.empty()) return refuse(Format(Tr("run %lld has no trace"), id));
  std::ifstream file(run->trace, std::ios::binary);
  if (!file) {
    return refuse(Format(Tr("the trace of run %1$lld is not on this machine: it was kept at %2$s on station %3$s"), id,
                         run->trace.c_str(), run->station.c_str()));
  }
  std::ostringstream text;
  text << file.rdbuf();
  std::fputs(text.str().c_str(), console.out);
  std::fflush(console.out);
  return kExitDone;
}

}  // namespace

int RunHistory(const Options& options, const Console& console) {
  auto refuse = [&](const std::string& text) { return Refuse(console, options.json, text, RunEnding::Refused()); };
  station::HistoryFilter filter;
  filter.serial = options.history_serial;
  if (options.since) {
    if (auto since = station::SinceToUtc(*options.since); !since) {
      return refuse("--" + since.error);
    }
    filter.since = *options.since;
  }
  if (options.until) {
    if (auto until = station::UntilToUtc(*options.until); !until) {
      return refuse("--" + until.error);
    }
    filter.until = *options.until;
  }
  filter.station = options.station_name.value_or("");
  filter.position = options.position_name.value_or("");
  if (options.result_word) filter.result = station::RunResultFromText(*options.result_word);
  auto location = StoreLocationOf(options);
  if (!location) return refuse(location.error);
  auto store = station::RecordStore::Open(*location.value, station::StoreMode::kExisting);
  if (!store) return refuse(store.error);
  if (options.trace_path) return PrintTrace(options, console, **store.value);
  auto runs = (*store.value)->History(filter);
  if (!runs) return Refuse(console, options.json, runs.error, RunEnding::Failed());
  const std::string text = options.json  ? station::FormatHistoryJson(*runs.value)
                           : options.csv ? station::FormatHistoryCsv(*runs.value)
                                         : station::FormatHistoryTable(*runs.value);
  std::fputs(text.c_str(), console.out);
  std::fflush(console.out);
  return kExitDone;
}

}  // namespace orvane::cli
