#include "cli/history.h"

#include "cli/port_result.h"
#include "cli/store_open.h"
#include "station/record_store.h"

namespace orvane::cli {

int RunHistory(const Options& options, const Console& console) {
  auto refuse = [&](const std::string& text) { return Refuse(console, options.json, text, kExitRefused); };
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
  auto runs = (*store.value)->History(filter);
  if (!runs) return Refuse(console, options.json, runs.error, kExitLinkFailed);
  const std::string text = options.json  ? station::FormatHistoryJson(*runs.value)
                           : options.csv ? station::FormatHistoryCsv(*runs.value)
                                         : station::FormatHistoryTable(*runs.value);
  std::fputs(text.c_str(), console.out);
  std::fflush(console.out);
  return kExitDone;
}

}  // namespace orvane::cli
