#include "station/end_spool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDateTime>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "l10n/l10n.h"
#include "station/record_json.h"
#include "station/records_words.h"

namespace orvane::station {
namespace {

using l10n::Format;
using l10n::Tr;

// Holds the spool's lock file while it lives.
class SpoolLock {
 public:
  explicit SpoolLock(const std::string& spool) : fd_(::open((spool + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~SpoolLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  SpoolLock(const SpoolLock&) = delete;
  SpoolLock& operator=(const SpoolLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

struct KeptEnd {
  std::string store;
  std::int64_t run = 0;
  RunEnd end;
};

std::string LineOf(const KeptEnd& kept) {
  Json object = RunEndToJson(kept.end);
  object["store"] = kept.store;
  object["run"] = kept.run;
  return CompactJson(object) + "\n";
}

std::optional<KeptEnd> KeptEndOf(const std::string& line) {
  const Json object = ObjectFromText(line);
  auto end = RunEndFromJson(object);
  const Json& run = MemberOf(object, "run");
  if (!end || !run.is_number()) return std::nullopt;
  return KeptEnd{TextOf(MemberOf(object, "store")), IntegerOf(run).value_or(0), std::move(*end)};
}

std::optional<std::string> WriteWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.flush();
    if (!out) return Format(Tr("cannot write \"%s\""), temporary.c_str());
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) return Format(Tr("cannot write \"%1$s\": %2$s"), path.c_str(), error.message().c_str());
  return std::nullopt;
}

}  // namespace

Outcome<std::string> EndSpool::DefaultPath() {
  auto store = DefaultStorePath();
  if (!store) return store;
  return Outcome<std::string>::Done((std::filesystem::path(*store.value).parent_path() / "pending-ends.jsonl").string());
}

EndWriting EndSpool::Record(RecordStore& store, std::int64_t run, const RunEnd& end) {
  RunEnd timed = end;
  if (timed.finished.empty()) timed.finished = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
  const auto refused = store.FinishRun(run, timed);
  if (!refused) return {};
  if (auto error = Keep(store.Location().Describe(), run, timed)) {
    return {EndWriting::Where::kNowhere, *refused + "; " + *error};
  }
  return {EndWriting::Where::kSpool,
          Format(Tr("%1$s; the end is kept in \"%2$s\" and waits to be written"), refused->c_str(), path_.c_str())};
}

std::optional<std::string> EndSpool::Keep(const std::string& store, std::int64_t run, const RunEnd& end) {
  const SpoolLock lock(path_);
  if (!lock.held()) return Format(Tr("cannot lock \"%1$s.lock\": %2$s"), path_.c_str(), std::strerror(errno));
  const std::string line = LineOf({store, run, end});
  const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  bool written = fd >= 0 && ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
  const std::string reason = std::strerror(errno);
  if (fd >= 0) written = ::close(fd) == 0 && written;
  if (!written) return Format(Tr("cannot write \"%1$s\": %2$s"), path_.c_str(), reason.c_str());
  return std::nullopt;
}

SpoolFlush EndSpool::Flush(RecordStore& store) {
  SpoolFlush flush;
  std::error_code missing;
  if (!std::filesystem::exists(path_, missing)) return flush;
  const SpoolLock lock(path_);
  if (!lock.held()) {
    flush.error = Format(Tr("cannot lock \"%1$s.lock\": %2$s"), path_.c_str(), std::strerror(errno));
    return flush;
  }
  std::ifstream in(path_, std::ios::binary);
  const std::string here = store.Location().Describe();
  std::string kept;
  std::string line;
  while (std::getline(in, line)) {
    const auto end = KeptEndOf(line);
    // A line of another store, or one this program cannot read, stays.
    if (!end || end->store != here) {
      if (!line.empty()) kept += line + "\n";
      continue;
    }
    if (auto error = store.FinishRun(end->run, end->end)) {
      if (flush.error.empty()) flush.error = *error;
      ++flush.left;
      kept += line + "\n";
      continue;
    }
    ++flush.written;
  }
  if (flush.written == 0) return flush;
  if (auto error = WriteWhole(path_, kept)) {
    // The store has the ends now; written again later they are refused as ended.
    flush.error = *error;
  }
  return flush;
}

std::optional<std::string> EndSpool::FlushAndTell(RecordStore& store) {
  const SpoolFlush flush = Flush(store);
  if (flush.left > 0 || (flush.written == 0 && !flush.error.empty())) {
    return Format(Tr("%1$d ends kept in \"%2$s\" still wait to be written: %3$s"), flush.left, path_.c_str(),
                  flush.error.c_str());
  }
  if (flush.written > 0) {
    return Format(Tr("%1$d ends kept in \"%2$s\" are written to the records"), flush.written, path_.c_str());
  }
  return std::nullopt;
}

}  // namespace orvane::station
