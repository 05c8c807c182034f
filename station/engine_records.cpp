#include "station/engine_records.h"

namespace orvane::station {

Outcome<std::vector<RunRecord>> RunsWithSerial(RecordStore& store, std::int64_t serial) {
  return store.History({.serial = serial, .since = {}});
}

Outcome<SerialGrant> KeepSerial(RecordStore&, std::int64_t, std::int64_t serial) {
  return Outcome<SerialGrant>::Done({static_cast<std::int32_t>(serial), false});
}

}  // namespace orvane::station
