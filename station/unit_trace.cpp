#include "station/unit_trace.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <utility>
#include <ctime>
#include <filesystem>
#include <vector>

#include "link/commands.h"
#include "station/store_location.h"

namespace orvane::station {
namespace {

namespace fs = std::filesystem;

// A position's name as a part of a file name: letters and digits stay
// (UTF-8 included), anything else becomes "_".
std::string FilePart(const std::string& name) {
  std::string part;
  for (unsigned char c : name) part += (std::isalnum(c) || c >= 0x80 || c == '-') ? static_cast<char>(c) : '_';
  return part.empty() ? "_" : part;
}

std::string UtcStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%S", &utc);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() % 1000000;
  char fraction[16];
  std::snprintf(fraction, sizeof fraction, ".%06lldZ", static_cast<long long>(micros));
  return std::string(text) + fraction;
}

}  // namespace

std::size_t PollTally::Poll(Clock::time_point now) {
  if (count_++ == 0) first_ = now;
  if (now - first_ < period_) return 0;
  return Take();
}

std::size_t PollTally::Take() { return std::exchange(count_, 0); }

Outcome<std::unique_ptr<UnitTrace>> UnitTrace::Create(const std::string& folder, const std::string& position) {
  using Made = Outcome<std::unique_ptr<UnitTrace>>;
  std::error_code error;
  fs::create_directories(folder, error);
  const std::string base = (fs::path(folder) / (UtcStamp() + "-" + FilePart(position))).string();
  std::string why;
  for (int attempt = 1; attempt <= 100; ++attempt) {
    const std::string path = base + (attempt == 1 ? "" : "-" + std::to_string(attempt)) + ".trace";
    if (auto writer = TraceWriter::Create(path, &why)) return Made::Done(std::unique_ptr<UnitTrace>(new UnitTrace(std::move(writer), path)));
    if (!fs::exists(path, error)) break;
  }
  return Made::Failed(why);
}

UnitTrace::~UnitTrace() { WritePolls(polls_.Take()); }

void UnitTrace::WritePolls(std::size_t count) {
  if (count > 0) writer_->Note(std::to_string(count) + (count == 1 ? " poll" : " polls"));
}

void UnitTrace::FrameSent(std::span<const std::uint8_t> frame) {
  WritePolls(polls_.Take());
  writer_->FrameSent(frame);
}

void UnitTrace::FrameReceived(const link::FrameView& frame) {
  if (frame.command() == link::kPoll && frame.data_size() == 0) return WritePolls(polls_.Poll(PollTally::Clock::now()));
  WritePolls(polls_.Take());
  writer_->FrameReceived(frame);
}

void UnitTrace::Decision(link::LinkDecision decision, const link::QueueEntry* head) {
  WritePolls(polls_.Take());
  writer_->Decision(decision, head);
}

void UnitTrace::Log(const std::string& line) {
  WritePolls(polls_.Take());
  writer_->Log(line);
}

void UnitTrace::Note(const std::string& line) {
  WritePolls(polls_.Take());
  writer_->Note(line);
}

Outcome<std::string> TraceFolderFor(const std::string& store_location) {
  auto location = ParseStoreLocation(store_location);
  if (!location) return Outcome<std::string>::Failed(location.error);
  if (location.value->kind == StoreLocation::Kind::kSqlite) {
    return Outcome<std::string>::Done((fs::absolute(location.value->file).parent_path() / "traces").string());
  }
  auto data = DefaultStorePath();
  if (!data) return Outcome<std::string>::Failed(data.error);
  return Outcome<std::string>::Done((fs::path(*data.value).parent_path() / "traces").string());
}

std::size_t PruneTraces(const std::string& folder, const TraceRetention& retention, fs::file_time_type now) {
  struct Trace {
    fs::path path;
    fs::file_time_type written;
    std::uintmax_t size;
  };
  std::vector<Trace> traces;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error) || entry.path().extension() != ".trace") continue;
    traces.push_back({entry.path(), entry.last_write_time(error), entry.file_size(error)});
  }
  std::sort(traces.begin(), traces.end(), [](const Trace& a, const Trace& b) { return a.written > b.written; });
  std::size_t deleted = 0;
  std::uintmax_t kept = 0;
  for (const Trace& trace : traces) {
    const bool old = now - trace.written > retention.max_age;
    if (old || kept + trace.size > retention.max_total) {
      deleted += fs::remove(trace.path, error) ? 1 : 0;
    } else {
      kept += trace.size;
    }
  }
  return deleted;
}

}  // namespace orvane::station
