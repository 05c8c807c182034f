// Ends of runs the record store could not take when they happened (a store
// that went away), kept on the station's disk, one JSON line each, until
// the store takes them. Each line names its store, so ends are written only
// to the store their run is in. Several positions and processes may share
// one spool: a lock file beside it orders them, and the spool is replaced
// whole, never rewritten in place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "station/outcome.h"
#include "station/record_store.h"

namespace orvane::station {

// Where a run's end went.
struct EndWriting {
  enum class Where { kStore, kSpool, kNowhere };
  Where where = Where::kStore;
  std::string text;  // kSpool: that the end waits to be written; kNowhere: why
};

struct SpoolFlush {
  int written = 0;
  int left = 0;       // the store's ends it could not take yet
  std::string error;  // the first reason one was left, or the spool unreadable
};

class EndSpool {
 public:
  explicit EndSpool(std::string path) : path_(std::move(path)) {}
  // pending-ends.jsonl in the folder of the default store.
  static Outcome<std::string> DefaultPath();

  // Ends the run in the store, or keeps its end (with the time it ended)
  // when the store cannot take it.
  EndWriting Record(RecordStore& store, std::int64_t run, const RunEnd& end);
  // Writes the kept ends of this store to it, oldest first.
  SpoolFlush Flush(RecordStore& store);
  // Flush, and a line for the log when it wrote or left any end.
  std::optional<std::string> FlushAndTell(RecordStore& store);

  const std::string& path() const { return path_; }

 private:
  std::optional<std::string> Keep(const std::string& store, std::int64_t run, const RunEnd& end);

  std::string path_;
};

}  // namespace orvane::station
