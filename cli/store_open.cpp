#include "cli/store_open.h"

#include "l10n/l10n.h"

namespace orvane::cli {

using station::RecordStore;
using station::StoreMode;

station::Outcome<std::string> StoreLocationOf(const Options& options) {
  return station::StoreLocationOrDefault(options.db.value_or(""));
}

station::Outcome<std::unique_ptr<RecordStore>> OpenStationStore(Options& options, const Console& console) {
  using Opened = station::Outcome<std::unique_ptr<RecordStore>>;
  auto location = StoreLocationOf(options);
  if (!location) return Opened::Failed(location.error);
  options.db = *location.value;
  if (options.new_records) return RecordStore::Open(*options.db, StoreMode::kCreate);
  auto opened = RecordStore::Open(*options.db, StoreMode::kExisting);
  const bool may_ask = console.in_is_terminal && !options.result_fd;
  if (opened || !may_ask) return opened;
  const auto exists = RecordStore::Exists(*options.db);
  if (!exists || *exists.value) return opened;
  const auto described = station::ParseStoreLocation(*options.db).value->Describe();
  if (!AskQuestionOnTerminal(l10n::Format(l10n::Tr("create a new record store at %s?"), described.c_str()), console)) {
    return opened;
  }
  return RecordStore::Open(*options.db, StoreMode::kCreate);
}

}  // namespace orvane::cli
