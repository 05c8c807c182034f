// Where provision and history find the station's record store (--db, or the
// default place), and how provision opens it: a store that is not there is
// made only when the operator says so, with --new-records or a yes on the
// terminal, never because of a mistyped path.
#pragma once

#include <memory>
#include <string>

#include "cli/console.h"
#include "cli/options.h"
#include "station/record_store.h"

namespace orvane::cli {

// --db, or the default store's path; an error when there is no default
// place.
station::Outcome<std::string> StoreLocationOf(const Options& options);

// Opens provision's store and sets options.db to its location, so that the
// children of a run on several ports open the same one. A missing store is
// made with --new-records, or after a yes to its own question on a terminal
// (--yes does not answer it; a child never asks); otherwise the error names
// it and --new-records.
station::Outcome<std::unique_ptr<station::RecordStore>> OpenStationStore(Options& options, const Console& console);

}  // namespace orvane::cli
